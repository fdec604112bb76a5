#include "dll_addin.h"

#include "input_error.h"

namespace sim {

AddinFactory dllAddin(const std::string& path) {
  throw InputError("--dll " + path +
                   ": this tessary-sim is the native build, which runs the add-in's core in-process; "
                   "loading the DLL needs a Windows build of tessary-sim, which is not made yet");
}

}  // namespace sim
