#pragma once

#include <string>

namespace win32 {

// Where the add-in keeps what a user may want to find: read here by the DLL and by
// vbatessary-check alike, so the check names the very key and file the add-in uses.

// HKCU\Software\VB and VBA Program Settings\vbatessary\Settings (DisplayOnConnect, Log).
std::wstring settingsKey();

struct LogLocation {
  std::wstring folder;   // %LOCALAPPDATA%\vbaTessary; empty when it cannot be formed
  std::wstring file;     // folder\vbatessary.log
  std::wstring rotated;  // file.1
  std::string why;       // when there is none: what is wrong with LOCALAPPDATA
};

// From LOCALAPPDATA as this process has it. Unset, empty, not a full path, or so long that the
// rotated file's path would not fit in MAX_PATH: no log, and `why` says so.
LogLocation logLocation();
// The same for a given folder (tests, and LOCALAPPDATA's own value).
LogLocation logLocationIn(const std::wstring& folder);

}  // namespace win32
