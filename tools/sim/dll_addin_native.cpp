#include "dll_addin.h"

#include "input_error.h"

namespace sim {

AddinFactory dllAddin(const std::string& path) {
  throw InputError("--dll " + path +
                   ": this tessary-sim is the native build; the DLL is loaded by the Windows build "
                   "(build/win32/tools/sim/tessary-sim.exe, run under Wine)");
}

}  // namespace sim
