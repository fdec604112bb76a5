#pragma once

// The Wine tests' assertions: no test framework builds for mingw here.
#include <windows.h>

#include <cstdio>
#include <string>

namespace check {

inline int& failures() {
  static int n = 0;
  return n;
}

inline bool expect(bool ok, const char* what, const char* file, int line) {
  if (!ok) {
    ++failures();
    std::printf("%s:%d: FAILED: %s\n", file, line, what);
    std::fflush(stdout);
  }
  return ok;
}

// Exit status of a test program.
inline int finish(const char* name) {
  std::printf("%s: %s (%d failure%s)\n", name, failures() ? "FAILED" : "passed", failures(),
              failures() == 1 ? "" : "s");
  return failures() ? 1 : 0;
}

// A file next to the running test program (the DLL, the stand-in type libraries).
inline std::wstring besideProgram(const wchar_t* name) {
  wchar_t path[MAX_PATH];
  DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring dir(path, n);
  return dir.substr(0, dir.find_last_of(L"\\/") + 1) + name;
}

}  // namespace check

#define CHECK(cond) ::check::expect(static_cast<bool>(cond), #cond, __FILE__, __LINE__)
#define CHECK_EQ(a, b) ::check::expect((a) == (b), #a " == " #b, __FILE__, __LINE__)
#define CHECK_HR(expr, expected)                                                              \
  do {                                                                                        \
    HRESULT hr_ = (expr);                                                                     \
    if (!::check::expect(hr_ == static_cast<HRESULT>(expected), #expr " == " #expected, __FILE__, \
                         __LINE__))                                                           \
      std::printf("    got 0x%08lX\n", static_cast<unsigned long>(hr_));                      \
  } while (0)
// Runs a block that must throw automation::Failure with the given code.
#define CHECK_FAILS(code_, ...)                                                   \
  do {                                                                            \
    bool thrown_ = false;                                                         \
    try {                                                                         \
      __VA_ARGS__;                                                                \
    } catch (const automation::Failure& f_) {                                     \
      thrown_ = true;                                                             \
      if (!::check::expect(f_.code() == (code_), "failure code " #code_, __FILE__, __LINE__)) \
        std::printf("    got %ld: %s\n", static_cast<long>(f_.code()), f_.description().c_str()); \
    }                                                                             \
    ::check::expect(thrown_, "throws: " #__VA_ARGS__, __FILE__, __LINE__);        \
  } while (0)
