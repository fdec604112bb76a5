#include "addin/identity.h"
#include "com_ptr.h"
#include "services.h"
#include "text.h"

namespace win32 {

namespace {
std::wstring keyPath(const std::string& app, const std::string& section) {
  return widen(addin::identity::SettingsRoot) + L"\\" + widen(app) + L"\\" + widen(section);
}
}  // namespace

void RegistrySettings::save(const std::string& app, const std::string& section,
                            const std::string& key, const std::string& value) {
  if (app.empty() || section.empty() || key.empty())
    automation::fail("Invalid procedure call or argument", automation::errors::InvalidCall);
  HKEY k = nullptr;
  LSTATUS s = RegCreateKeyExW(HKEY_CURRENT_USER, keyPath(app, section).c_str(), 0, nullptr, 0,
                              KEY_SET_VALUE, nullptr, &k, nullptr);
  if (s == ERROR_SUCCESS) {
    std::wstring data = widen(value);
    s = RegSetValueExW(k, widen(key).c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                       static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(k);
  }
  if (s != ERROR_SUCCESS)
    automation::fail("Cannot save the setting " + app + "\\" + section + "\\" + key,
                     automation::errors::InvalidCall);
}

std::string RegistrySettings::get(const std::string& app, const std::string& section,
                                  const std::string& key, const std::string& defaultValue) {
  std::wstring path = keyPath(app, section), name = widen(key);
  DWORD bytes = 0;
  if (RegGetValueW(HKEY_CURRENT_USER, path.c_str(), name.c_str(), RRF_RT_REG_SZ, nullptr, nullptr,
                   &bytes) != ERROR_SUCCESS)
    return defaultValue;
  std::wstring data(bytes / sizeof(wchar_t) + 1, L'\0');
  bytes = static_cast<DWORD>(data.size() * sizeof(wchar_t));
  if (RegGetValueW(HKEY_CURRENT_USER, path.c_str(), name.c_str(), RRF_RT_REG_SZ, nullptr,
                   data.data(), &bytes) != ERROR_SUCCESS)
    return defaultValue;
  data.resize(wcslen(data.c_str()));
  return narrow(data);
}

}  // namespace win32
