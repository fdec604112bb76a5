#include "services.h"
// After windows.h, as everywhere in win32/: its MessageBox macro renames the service alike.
#include "platform/log.h"

namespace win32 {

// %LOCALAPPDATA% as the process has it (every process of a user since Vista): the DLL imports
// nothing beyond the system's core libraries for it.
std::wstring FileLog::defaultFolder() {
  wchar_t base[MAX_PATH] = {};
  const DWORD n = GetEnvironmentVariableW(L"LOCALAPPDATA", base, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return {};
  return std::wstring(base, n) + L"\\vbaTessary";
}

HANDLE FileLog::open() const noexcept {
  // Others may read, append and rotate meanwhile: another Office writes the same log.
  return CreateFileW(path_.c_str(), FILE_APPEND_DATA | FILE_READ_ATTRIBUTES,
                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

void FileLog::start(bool on) noexcept {
  on_ = false;
  rotationFailed_ = false;
  if (!on) return;
  try {
    std::wstring folder = folder_.empty() ? defaultFolder() : folder_;
    if (folder.empty()) return;
    CreateDirectoryW(folder.c_str(), nullptr);  // already there is fine; a file there fails below
    path_ = folder + L"\\vbatessary.log";
    // Read-only is the user's word even where the file system would let this process write
    // through it (a process of root under Wine).
    const DWORD attributes = GetFileAttributesW(path_.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) return;
    HANDLE h = open();
    if (h == INVALID_HANDLE_VALUE) return;
    CloseHandle(h);
    on_ = true;
  } catch (...) {
  }
}

void FileLog::append(Level level, std::string_view line) noexcept {
  try {
    SYSTEMTIME t;
    GetLocalTime(&t);
    std::string text = platform::logline::format(
        {t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond, t.wMilliseconds},
        GetCurrentProcessId(), level, line);
    text += "\r\n";
    HANDLE h = open();
    LARGE_INTEGER size{};
    if (h != INVALID_HANDLE_VALUE && !rotationFailed_ && GetFileSizeEx(h, &size) &&
        static_cast<unsigned long long>(size.QuadPart) >= RotateAt) {
      CloseHandle(h);
      // A rotation that fails (the file held by someone who does not share its deletion) leaves
      // the log growing until the next connection tries again.
      if (!MoveFileExW(path_.c_str(), (path_ + L".1").c_str(), MOVEFILE_REPLACE_EXISTING))
        rotationFailed_ = true;
      h = open();
    }
    DWORD written = 0;
    const bool ok = h != INVALID_HANDLE_VALUE &&
                    WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
                    written == text.size();
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    if (!ok) on_ = false;
  } catch (...) {
    on_ = false;
  }
}

}  // namespace win32
