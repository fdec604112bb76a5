#pragma once

// Identity of the add-in: names, texts and ids that the editor, the registry and the type library
// know it by. Change nothing here without changing the type library and the registration with it.
namespace addin::identity {

inline constexpr const char* LibraryName = "VBATessary";
inline constexpr const char* ApplicationTitle = "vbatessary";  // settings application name
inline constexpr const char* ModuleFileName = "vbatessary.dll";
inline constexpr const char* ProgId = "VBATessary.Connect";
inline constexpr const char* LibraryHelpString = "VBATessary Ver. 1.01";

inline constexpr const char* LibId = "{C6A25868-C2E3-4C90-8A26-254259120AEE}";
inline constexpr const char* ConnectIid = "{F3ADD325-79DF-4B43-985E-A38B4E1257C8}";
inline constexpr const char* ConnectClsid = "{BF58B135-96A1-4809-BA5C-8B9637E56DAB}";

inline constexpr const char* AddinsRoot = "Software\\Microsoft\\VBA\\VBE\\6.0";
inline constexpr const char* FriendlyName = "vba Tessary Ver. 1.01";
// Three lines joined by CR LF, none after the last; the backslashes are literal.
inline constexpr const char* Description =
    "for advance vba functionality - adds buttons for open\\close of modules\\projects.\r\n"
    "by Brenwick \r\n"
    "vba Tessary project";
// The editor's list reads LoadBehavior as Office's bit set: 1 alone is "loaded, never loaded
// automatically"; 3 (connected | load at startup) is what every VBE add-in that loads at startup
// writes.
inline constexpr unsigned LoadBehavior = 3;

inline constexpr const char* SettingsSection = "Settings";
// Where VB's SaveSetting keeps every application's values, under HKCU.
inline constexpr const char* SettingsRoot = "Software\\VB and VBA Program Settings";
inline constexpr const char* DisplayOnConnectKey = "DisplayOnConnect";
// "1" turns the log on (read at each connection); anything else, or nothing, leaves it off.
inline constexpr const char* LogKey = "Log";

// The log: %LOCALAPPDATA%\<LogFolder>\<LogFile>, past 1 MiB renamed to <LogFile><RotatedSuffix>.
inline constexpr const char* LogFolder = "vbaTessary";
inline constexpr const char* LogFile = "vbatessary.log";
inline constexpr const char* RotatedSuffix = ".1";

// The installers': one upgrade code for every per-user MSI (the check program repairs the product
// it finds by it) and one for every MSI for all users; the Active Setup entry that writes each
// user's record, and the one a removal leaves behind.
inline constexpr const char* PerUserUpgradeCode = "{6F1D5A0E-2C47-4B8E-9A53-7E0C4D2B9A61}";
inline constexpr const char* AllUsersUpgradeCode = "{A4C7E913-5B2D-4F86-9E1A-3D8B6F0C2E75}";
inline constexpr const char* ActiveSetupId = "{9C3E5A71-2B84-4D6F-A1E9-5F7B3C2D8E40}";
inline constexpr const char* RemovalSetupId = "{9C3E5A71-2B84-4D6F-A1E9-5F7B3C2D8E41}";

inline constexpr const char* BarName = "Tessary Ver. 1.01";

}  // namespace addin::identity
