#pragma once

#include <windows.h>

#include <string>

#include "checker.h"

namespace check {

// The machine as this process sees it: the registry in both views, files, processes, tokens.
class WindowsMachine : public Machine {
 public:
  Bits own() const override;
  bool windows64() const override;
  RegValue value(Hive hive, Bits view, const std::string& key, const std::string& name) override;
  bool keyExists(Hive hive, Bits view, const std::string& key) override;
  std::string expand(const std::string& text) override;
  bool fileExists(const std::string& path) override;
  std::optional<std::string> zoneIdentifier(const std::string& path) override;
  std::optional<std::uint16_t> peMachine(const std::string& path) override;
  Creation create(Bits bits, const std::string& path) override;
  std::vector<Process> offices() override;
  std::optional<bool> elevated() override;
  bool setValue(Hive hive, Bits view, const std::string& key, const std::string& name, const RegValue& v) override;
  bool deleteKey(Hive hive, Bits view, const std::string& key) override;

 private:
  HKEY open(Hive hive, Bits view, const std::string& key) const;
  REGSAM viewFlag(Bits view) const;
};

std::wstring folderOf(const std::wstring& path);  // with its final backslash

// What COM does to create an in-process class, step by step, so that each step's failure is
// its own HRESULT; the object is released and the module freed again.
HRESULT createFrom(const std::wstring& dll);
// The DLL's own DllRegisterServer, as regsvr32 of this bitness calls it.
HRESULT registerBeside(const std::wstring& dll);

// The account this process runs as, and the desktop's user: the owner of the shell's process
// (nullopt when there is no shell window or its process cannot be read).
std::optional<Account> processAccount();
std::optional<Account> desktopAccount();
// Has Windows Installer repair the per-user MSI's product, found by its upgrade code, with no UI:
// missing files and older ones, HKCU and HKLM rows, shortcuts. A Windows Installer error code;
// `product` is its product code when one was found.
unsigned repairMsi(std::string& product);

}  // namespace check
