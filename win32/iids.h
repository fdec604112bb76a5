#pragma once

#include <windows.h>

#include "automation/object.h"

// Interfaces of the editor and Office that are queried by IID (everything else is late-bound).
namespace win32::iids {

inline const IID VBE = {0x0002E166, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
// _CommandBarControlEvents, the default interface of the CommandBarEvents class.
inline const IID CommandBarEvents = {0x0002E130, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
// _dispCommandBarControlEvents: Click(CommandBarControl, handled, CancelDefault).
inline const IID CommandBarEventsSource = {0x0002E131, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
// Office's _CommandBarButtonEvents, raised by a CommandBarButton itself: Click(Ctrl, CancelDefault).
inline const IID CommandBarButtonEvents = {0x000C0351, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
// The source interface of each kind of click events.
inline const IID& eventsOf(automation::ClickEvents events) {
  return events == automation::ClickEvents::OfficeButton ? CommandBarButtonEvents : CommandBarEventsSource;
}
inline const IID CommandBarControl = {0x000C0308, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline const IID IDTExtensibility2 = {0xB65AD801, 0xABAF, 0x11D0, {0xBB, 0x8B, 0x00, 0xA0, 0xC9, 0x0F, 0x27, 0x44}};

inline const IID Connect = {0xF3ADD325, 0x79DF, 0x4B43, {0x98, 0x5E, 0xA3, 0x8B, 0x4E, 0x12, 0x57, 0xC8}};
inline const CLSID ConnectClass = {0xBF58B135, 0x96A1, 0x4809, {0xBA, 0x5C, 0x8B, 0x96, 0x37, 0xE5, 0x6D, 0xAB}};
inline const GUID Library = {0xC6A25868, 0xC2E3, 0x4C90, {0x8A, 0x26, 0x25, 0x42, 0x59, 0x12, 0x0A, 0xEE}};

// IID of an interface name the core asks about through Object::implements; null if unknown.
inline const IID* byName(const char* name, size_t length) {
  auto is = [&](const char* n) { return strlen(n) == length && _strnicmp(n, name, length) == 0; };
  if (is("VBE")) return &VBE;
  if (is("CommandBarControl")) return &CommandBarControl;
  if (is("CommandBarEvents")) return &CommandBarEvents;
  return nullptr;
}

}  // namespace win32::iids
