// Stands in for whoami.exe in the test prefix: Wine's own ignores /groups, so it cannot show
// whether a token is elevated. Prints the groups of an administrator's token the way Windows
// does, with the mandatory label of an elevated one (High), or of a normal one when
// TESSARY_INTEGRITY is "medium".
#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
  if (argc < 2 || std::strcmp(argv[1], "/groups") != 0) {
    std::puts("tessary\\user");
    return 0;
  }
  const char* level = std::getenv("TESSARY_INTEGRITY");
  bool medium = level && std::strcmp(level, "medium") == 0;
  std::puts("");
  std::puts("GROUP INFORMATION");
  std::puts("-----------------");
  std::puts("");
  std::puts("Group Name                             Type             SID          Attributes");
  std::puts("====================================== ================ ============ ==================================================");
  std::puts("Everyone                               Well-known group S-1-1-0      Mandatory group, Enabled by default, Enabled group");
  std::puts(medium ? "BUILTIN\\Administrators                 Alias            S-1-5-32-544 Group used for deny only"
                   : "BUILTIN\\Administrators                 Alias            S-1-5-32-544 Mandatory group, Enabled by default, Enabled group, Group owner");
  std::puts("BUILTIN\\Users                          Alias            S-1-5-32-545 Mandatory group, Enabled by default, Enabled group");
  std::puts(medium ? "Mandatory Label\\Medium Mandatory Level Label            S-1-16-8192"
                   : "Mandatory Label\\High Mandatory Level   Label            S-1-16-12288");
  return 0;
}
