#include "dll_addin.h"

#include "input_error.h"

namespace sim {

RuntimeFactory dllRuntime(const std::string& path) {
  throw InputError("--dll " + path +
                   ": this tessary-sim is the native build, which runs the add-in's core in-process; "
                   "loading the DLL needs the Windows build of tessary-sim (run under Wine on Linux)");
}

}  // namespace sim
