#include <windows.h>
#include <oleauto.h>

#include "dispatch_server.h"
#include "testbed.h"
#include "text.h"

namespace testbed {

namespace {

const wchar_t* const SettingsKey = L"Software\\VB and VBA Program Settings\\vbatessary\\Settings";

bool setDefault(const std::wstring& key, const std::wstring& value) {
  HKEY k = nullptr;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &k, nullptr) !=
      ERROR_SUCCESS)
    return false;
  LSTATUS s = RegSetValueExW(k, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                             static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
  RegCloseKey(k);
  return s == ERROR_SUCCESS;
}

}  // namespace

ProgIdClass::ProgIdClass(std::string progId) : progId_(std::move(progId)) {
  std::wstring id = win32::widen(progId_);
  // Already known (a real host in this prefix): use it and leave it alone.
  if (SUCCEEDED(CLSIDFromProgID(id.c_str(), &clsid_))) {
    ready_ = true;
    return;
  }
  if (FAILED(CoCreateGuid(&clsid_))) return;
  created_ = true;
  std::wstring clsid = win32::guidText(clsid_);
  ready_ = setDefault(L"Software\\Classes\\" + id, id) &&
           setDefault(L"Software\\Classes\\" + id + L"\\CLSID", clsid) &&
           setDefault(L"Software\\Classes\\CLSID\\" + clsid, id) &&
           setDefault(L"Software\\Classes\\CLSID\\" + clsid + L"\\ProgID", id);
}

ProgIdClass::~ProgIdClass() {
  if (!created_) return;
  RegDeleteTreeW(HKEY_LOCAL_MACHINE, (L"Software\\Classes\\" + win32::widen(progId_)).c_str());
  RegDeleteTreeW(HKEY_LOCAL_MACHINE, (L"Software\\Classes\\CLSID\\" + win32::guidText(clsid_)).c_str());
}

RunningObject::RunningObject(std::string progId, const automation::Object& object) : class_(std::move(progId)) {
  if (!class_.ready()) return;
  server_ = win32::makeDispatchServer(object);
  if (!server_) return;
  status_ = RegisterActiveObject(server_.get(), class_.clsid(), ACTIVEOBJECT_STRONG, &cookie_);
}

RunningObject::~RunningObject() {
  if (SUCCEEDED(status_)) RevokeActiveObject(cookie_, nullptr);
  server_.reset();
}

std::optional<std::string> displayOnConnect() {
  DWORD bytes = 0;
  if (RegGetValueW(HKEY_CURRENT_USER, SettingsKey, L"DisplayOnConnect", RRF_RT_REG_SZ, nullptr, nullptr, &bytes) !=
      ERROR_SUCCESS)
    return std::nullopt;
  std::wstring data(bytes / sizeof(wchar_t) + 1, L'\0');
  bytes = static_cast<DWORD>(data.size() * sizeof(wchar_t));
  if (RegGetValueW(HKEY_CURRENT_USER, SettingsKey, L"DisplayOnConnect", RRF_RT_REG_SZ, nullptr, data.data(),
                   &bytes) != ERROR_SUCCESS)
    return std::nullopt;
  data.resize(wcslen(data.c_str()));
  return win32::narrow(data);
}

void clearSettings() { RegDeleteTreeW(HKEY_CURRENT_USER, SettingsKey); }

}  // namespace testbed
