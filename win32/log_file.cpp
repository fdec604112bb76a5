#include "services.h"
#include "platform/log.h"

#include <cstdint>
#include <cwchar>

#include "locations.h"

namespace win32 {

namespace {

// One name for every process that writes this file, whatever case its path came in; Local\ as the
// user's Offices run in one session.
std::wstring lockName(std::wstring path) {
  CharUpperBuffW(path.data(), static_cast<DWORD>(path.size()));
  uint64_t hash = 14695981039346656037ull;  // FNV-1a
  for (wchar_t c : path) hash = (hash ^ static_cast<uint16_t>(c)) * 1099511628211ull;
  wchar_t name[64];
  std::swprintf(name, 64, L"Local\\vbaTessary.log.%016llx", static_cast<unsigned long long>(hash));
  return name;
}

}  // namespace

HANDLE FileLog::open() const noexcept {
  // Others may read, append and rotate meanwhile: another Office writes the same log.
  return CreateFileW(path_.c_str(), FILE_APPEND_DATA | FILE_READ_ATTRIBUTES,
                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

void FileLog::closeLock() noexcept {
  if (lock_) CloseHandle(lock_);
  lock_ = nullptr;
}

void FileLog::start(bool on) noexcept {
  on_ = false;
  rotationFailed_ = false;
  failures_ = 0;
  closeLock();
  if (!on) return;
  try {
    const LogLocation at = folder_.empty() ? logLocation() : logLocationIn(folder_);
    if (at.folder.empty()) return;
    CreateDirectoryW(at.folder.c_str(), nullptr);  // already there is fine
    const DWORD folder = GetFileAttributesW(at.folder.c_str());
    if (folder == INVALID_FILE_ATTRIBUTES || !(folder & FILE_ATTRIBUTE_DIRECTORY)) return;
    path_ = at.file;
    rotated_ = at.rotated;
    // Read-only is the user's word even where the file system would let this process write
    // through it (a process of root under Wine).
    const DWORD attributes = GetFileAttributesW(path_.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) return;
    lock_ = CreateMutexW(nullptr, FALSE, lockName(path_).c_str());
    on_ = true;
    // Made now, so that a session leaves its file; held by someone for a moment, it costs one try.
    HANDLE h = open();
    if (h == INVALID_HANDLE_VALUE)
      failed();
    else
      CloseHandle(h);
  } catch (...) {
    on_ = false;
  }
}

void FileLog::failed() noexcept {
  // One line lost to a scanner or a reader that holds the file a moment; a run of them means the
  // file is gone for good, and trying on would only cost each click.
  if (++failures_ >= FailuresToStop) on_ = false;
}

// Every writer of this path takes the named mutex for its line. Two writers past 1 MiB at once
// would otherwise each measure the file and then rename it by its path, the second rename putting
// the fresh file over the first one's .1; under the mutex the second finds the fresh file small.
// It also keeps two processes' lines whole under Wine, whose appends are a seek to the end and a
// write, not one step as on Windows. Renaming the measured handle itself (FileRenameInfo) would
// mend the rotation only, and need DELETE access on each line's open, which a reader sharing
// only reading and writing refuses.
void FileLog::append(Level level, std::string_view line) noexcept {
  try {
    SYSTEMTIME t;
    GetLocalTime(&t);
    std::string text = platform::logline::format(
        {t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond, t.wMilliseconds},
        GetCurrentProcessId(), level, line);
    text += "\r\n";
    // A writer takes well under a millisecond; one that holds the mutex longer is stuck (suspended
    // in a debugger), and this line goes as one lost. Abandoned by a writer that ended, it is ours.
    // Without a mutex at all (created by an elevated Office this process may not open) the lines
    // go unguarded.
    const DWORD waited = lock_ ? WaitForSingleObject(lock_, LockWaitMs) : WAIT_OBJECT_0;
    if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) {
      failed();
      return;
    }
    HANDLE h = open();
    LARGE_INTEGER size{};
    if (h != INVALID_HANDLE_VALUE && !rotationFailed_ && GetFileSizeEx(h, &size) &&
        static_cast<unsigned long long>(size.QuadPart) >= RotateAt) {
      CloseHandle(h);
      // A rename that fails (the file held by someone who does not share its deletion) leaves the
      // log growing until the next connection tries again.
      if (!MoveFileExW(path_.c_str(), rotated_.c_str(), MOVEFILE_REPLACE_EXISTING))
        rotationFailed_ = true;
      h = open();
    }
    DWORD written = 0;
    const bool ok = h != INVALID_HANDLE_VALUE &&
                    WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
                    written == text.size();
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    if (lock_) ReleaseMutex(lock_);
    if (ok)
      failures_ = 0;
    else
      failed();
  } catch (...) {
    failed();
  }
}

}  // namespace win32
