// --dll: the add-in from vbatessary.dll, driven through COM as the editor's add-in manager does,
// with its keys, message boxes, settings and host lookups going to the real Windows services.
#include <objbase.h>
#include <windows.h>

#include <cstdio>
#include <map>

#include "addin/identity.h"
#include "dll_addin.h"
#include "input_error.h"
#include "locations.h"
#include "services.h"
#include "testbed.h"
#include "text.h"

namespace sim {

namespace {

using Answer = platform::MessageBoxes::Answer;

std::string hex(HRESULT hr) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%08lX", static_cast<unsigned long>(hr));
  return buf;
}

std::wstring fullPath(const std::string& path) {
  std::wstring wide = win32::widen(path);
  DWORD n = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
  if (n == 0) return wide;
  std::wstring full(n, L'\0');
  full.resize(GetFullPathNameW(wide.c_str(), n, full.data(), nullptr));
  return full;
}

struct Apartment {
  HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  ~Apartment() {
    if (SUCCEEDED(hr)) CoUninitialize();
  }
};

// The add-in's settings where VB's SaveSetting keeps them: "section\key" → value.
class SettingsKey {
 public:
  SettingsKey()
      : path_(win32::widen(addin::identity::SettingsRoot) + L"\\" +
              win32::widen(addin::identity::ApplicationTitle)) {}

  std::map<std::string, std::string> read() const {
    std::map<std::string, std::string> out;
    HKEY app = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, path_.c_str(), 0, KEY_READ, &app) != ERROR_SUCCESS)
      return out;
    wchar_t section[256];
    for (DWORD i = 0;; ++i) {
      DWORD sectionLength = 256;
      if (RegEnumKeyExW(app, i, section, &sectionLength, nullptr, nullptr, nullptr, nullptr) !=
          ERROR_SUCCESS)
        break;
      HKEY k = nullptr;
      if (RegOpenKeyExW(app, section, 0, KEY_READ, &k) != ERROR_SUCCESS) continue;
      wchar_t name[256];
      for (DWORD j = 0;; ++j) {
        DWORD nameLength = 256, type = 0, bytes = 0;
        if (RegEnumValueW(k, j, name, &nameLength, nullptr, &type, nullptr, &bytes) !=
            ERROR_SUCCESS)
          break;
        if (type != REG_SZ) continue;
        std::wstring data(bytes / sizeof(wchar_t) + 1, L'\0');
        DWORD size = static_cast<DWORD>(data.size() * sizeof(wchar_t));
        nameLength = 256;
        if (RegEnumValueW(k, j, name, &nameLength, nullptr, &type,
                          reinterpret_cast<BYTE*>(data.data()), &size) != ERROR_SUCCESS)
          continue;
        data.resize(wcslen(data.c_str()));
        out[win32::narrow(section) + "\\" + win32::narrow(name)] = win32::narrow(data);
      }
      RegCloseKey(k);
    }
    RegCloseKey(app);
    return out;
  }

  void clear() const { RegDeleteTreeW(HKEY_CURRENT_USER, path_.c_str()); }

  void write(const std::map<std::string, std::string>& values) const {
    win32::RegistrySettings settings;
    for (const auto& [name, value] : values) {
      auto slash = name.find('\\');
      try {
        settings.save(addin::identity::ApplicationTitle, name.substr(0, slash),
                      name.substr(slash + 1), value);
      } catch (const automation::Failure&) {
        // Nothing to do about a value that cannot be put back.
      }
    }
  }

 private:
  std::wstring path_;
};

class DllAddin : public Addin {
 public:
  explicit DllAddin(testbed::Addin& dll) : dll_(dll) {
    HRESULT hr = dll_.create();
    if (FAILED(hr))
      throw InputError("the add-in cannot be created from the DLL: CoCreateInstance failed with " +
                       hex(hr));
  }
  ~DllAddin() override { dll_.release(); }
  void OnConnection(const automation::Object& application, int32_t mode) override {
    HRESULT hr = dll_.connect(application, mode);
    if (FAILED(hr)) throw InputError("the add-in's OnConnection failed with " + hex(hr));
  }
  void OnDisconnection(int32_t removeMode) override {
    HRESULT hr = dll_.disconnect(removeMode);
    if (FAILED(hr)) throw InputError("the add-in's OnDisconnection failed with " + hex(hr));
  }

 private:
  testbed::Addin& dll_;
};

std::deque<int> buttonsFor(const std::vector<Answer>& answers) {
  std::deque<int> out;
  for (auto a : answers)
    out.push_back(a == Answer::Yes ? IDYES : a == Answer::No ? IDNO : IDCANCEL);
  return out;
}

// The session registers the DLL and unregisters it at the end, which would also remove an
// installation of the add-in for this user: refused then, before anything is touched.
struct NotInstalled {
  explicit NotInstalled(const std::string& path) {
    std::wstring key = L"Software\\Classes\\CLSID\\" + win32::widen(addin::identity::ConnectClsid);
    HKEY k = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS) return;
    RegCloseKey(k);
    throw InputError("--dll " + path + ": " + addin::identity::ProgId +
                     " is registered for this user; a session would unregister it when it ends. Run "
                     "tessary-sim --dll as another user, or unregister the add-in first (regsvr32 /u)");
  }
};

// The lines the DLL appends to its log file, read as they come: from where the file ended when the
// session began (the user's earlier lines are left alone), from its start after a rotation.
class LogReader {
 public:
  LogReader() : path_(win32::logLocation().file), offset_(size()) {}
  std::vector<std::string> take() {
    std::vector<std::string> out;
    if (size() < offset_) offset_ = 0;
    HANDLE h = CreateFileW(path_.c_str(), GENERIC_READ,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return out;
    LARGE_INTEGER at{};
    at.QuadPart = static_cast<LONGLONG>(offset_);
    std::string text;
    char buf[4096];
    DWORD got = 0;
    if (SetFilePointerEx(h, at, nullptr, FILE_BEGIN))
      while (ReadFile(h, buf, sizeof buf, &got, nullptr) && got) text.append(buf, got);
    CloseHandle(h);
    // Whole lines only; the time (two fields) and the process go.
    for (size_t start = 0, end; (end = text.find("\r\n", start)) != std::string::npos;
         start = end + 2) {
      offset_ += end + 2 - start;
      std::string line = text.substr(start, end - start);
      size_t cut = 0;
      for (int field = 0; field < 3 && cut != std::string::npos; ++field)
        cut = line.find(' ', cut + (field > 0));
      out.push_back(cut == std::string::npos ? line : line.substr(cut + 1));
    }
    return out;
  }

 private:
  unsigned long long size() const {
    WIN32_FILE_ATTRIBUTE_DATA a{};
    if (!GetFileAttributesExW(path_.c_str(), GetFileExInfoStandard, &a)) return 0;
    return (static_cast<unsigned long long>(a.nFileSizeHigh) << 32) | a.nFileSizeLow;
  }
  std::wstring path_;
  unsigned long long offset_;
};

const std::string LogSetting =
    std::string(addin::identity::SettingsSection) + "\\" + addin::identity::LogKey;

class DllRuntime : public Runtime {
 public:
  DllRuntime(Workspace& ws, const std::string& path)
      : log_(ws.log),
        notInstalled_(path),
        original_(settings_.read()),
        target_(ws.editor),
        boxes_(buttonsFor(ws.answers)),
        dll_(fullPath(path)) {
    if (FAILED(apartment_.hr)) throw InputError("COM cannot be initialised: " + hex(apartment_.hr));
    if (!dll_.ready()) throw InputError("--dll " + path + ": " + dll_.problem());
    if (!target_.ready())
      throw InputError("cannot create the window that stands in for the Immediate window");
    if (ws.otherHost) {
      other_.emplace(ws.otherHost->kind(), ws.otherHost->state().files.empty() ? std::string("Book1.xlsx")
                                                                               : ws.otherHost->state().files.front().name);
      if (!other_->ready()) throw InputError("cannot start another instance of " + ws.otherHost->progId());
    }
    if (ws.host && ws.host->state().running && ws.host->state().inTable) {
      host_.emplace(ws.host->progId(), ws.host->application());
      if (!host_->ready())
        throw InputError("cannot put the model " + ws.host->progId() +
                         " in the Running Object Table: " + hex(host_->status()));
    }
    // The session starts with no setting, as the native one does; the user's are put back at the
    // end.
    settings_.clear();
    turnLog();
  }
  ~DllRuntime() override {
    host_.reset();
    if (other_) other_->finish();
    settings_.clear();
    settings_.write(original_);
  }

  std::unique_ptr<Addin> create() override { return std::make_unique<DllAddin>(dll_); }
  void settle() override { target_.collect(); }
  void begin() override {
    // Each command starts from no stored value, so that every value it writes can be seen.
    kept_ = settings_.read();
    settings_.clear();
    turnLog();
  }

  std::vector<ShownBox> boxes() const override {
    std::vector<ShownBox> out;
    for (const auto& b : boxes_.seen()) {
      ShownBox s;
      s.text = win32::narrow(b.text);
      for (int id : b.buttons) s.question = s.question || id == IDYES;
      s.answer = b.answer == IDYES ? Answer::Yes : b.answer == IDNO ? Answer::No : Answer::Cancel;
      out.push_back(s);
    }
    return out;
  }

  std::vector<std::string> takeSettingsWritten() override {
    auto written = settings_.read();
    std::map<std::string, std::string> untouched;
    for (const auto& [name, value] : kept_)
      if (!written.count(name) && name != LogSetting) untouched[name] = value;
    if (log_) written.erase(LogSetting);
    settings_.write(untouched);
    kept_.clear();
    std::vector<std::string> out;
    for (const auto& [name, value] : written)
      out.push_back(std::string(addin::identity::ApplicationTitle) + "\\" + name + "=" + value);
    return out;
  }
  std::vector<std::string> takeLog() override { return reader_.take(); }

 private:
  // The add-in reads its setting at connection, as the native session's does.
  void turnLog() const {
    if (log_) settings_.write({{LogSetting, "1"}});
  }

  bool log_;
  LogReader reader_;
  Apartment apartment_;
  NotInstalled notInstalled_;
  SettingsKey settings_;
  std::map<std::string, std::string> original_, kept_;
  testbed::KeystrokeTarget target_;
  testbed::MessageBoxes boxes_;
  testbed::Addin dll_;
  std::optional<testbed::RunningObject> host_;
  std::optional<testbed::HostInAnotherProcess> other_;
};

}  // namespace

RuntimeFactory dllRuntime(const std::string& path) {
  return [path](Workspace& ws) { return std::make_unique<DllRuntime>(ws, path); };
}

}  // namespace sim
