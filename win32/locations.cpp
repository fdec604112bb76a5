#include "locations.h"

#include <windows.h>

#include "addin/identity.h"
#include "text.h"

namespace win32 {

namespace id = addin::identity;

std::wstring settingsKey() {
  return widen(std::string(id::SettingsRoot) + "\\" + id::ApplicationTitle + "\\" +
               id::SettingsSection);
}

LogLocation logLocationIn(const std::wstring& folder) {
  LogLocation at;
  at.folder = folder;
  at.file = folder + L"\\" + widen(id::LogFile);
  at.rotated = at.file + widen(id::RotatedSuffix);
  return at;
}

LogLocation logLocation() {
  LogLocation none;
  // Any length: a value too long is told as such, not as unset.
  SetLastError(ERROR_SUCCESS);
  DWORD n = GetEnvironmentVariableW(L"LOCALAPPDATA", nullptr, 0);
  if (n == 0) {
    none.why = GetLastError() == ERROR_ENVVAR_NOT_FOUND ? "LOCALAPPDATA is not set"
                                                        : "LOCALAPPDATA is empty";
    return none;
  }
  std::wstring base(n, L'\0');
  n = GetEnvironmentVariableW(L"LOCALAPPDATA", base.data(), n);
  base.resize(n < base.size() ? n : 0);
  if (base.empty()) {
    none.why = "LOCALAPPDATA is empty";
    return none;
  }
  // Relative, the log would land wherever the host's current folder happens to be.
  const bool full =
      (base.size() >= 3 && base[1] == L':' && (base[2] == L'\\' || base[2] == L'/')) ||
      base.compare(0, 2, L"\\\\") == 0;
  if (!full) {
    none.why = "LOCALAPPDATA is not a full path (\"" + narrow(base) + "\")";
    return none;
  }
  while (base.size() > 2 && (base.back() == L'\\' || base.back() == L'/')) base.pop_back();
  LogLocation at = logLocationIn(base + L"\\" + widen(id::LogFolder));
  // The DLL opens plain paths, which stop at MAX_PATH.
  if (at.rotated.size() >= MAX_PATH) {
    none.why = "LOCALAPPDATA is too long for the log's path (" + std::to_string(base.size()) +
               " characters)";
    return none;
  }
  return at;
}

}  // namespace win32
