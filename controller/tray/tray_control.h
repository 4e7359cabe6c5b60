// The tray-icon control: puts the program icon in the notification area and
// tells its host when the user activates it. A COM object driven through
// IDispatch by fixed DISPIDs, with one event raised through a connection
// point.
//
// Activation is a left click on the icon (NIN_SELECT) or choosing it with the
// keyboard (NIN_KEYSELECT); a double-click is a click as well.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <memory>

#include "notify_shell.h"

namespace nightjar::tray {

enum TrayDispid : DISPID {
    // Property `icon`: the icon to show, as a 32-bit icon handle (VT_I4). The
    // control keeps its own copy; put it before ShowIcon.
    kDispIcon = 0x68030000,
    // Method ShowIcon, no arguments: adds the icon to the notification area.
    kDispShowIcon = 0x6003000E,
};

enum TrayEventDispid : DISPID {
    // Activated(message): the notification that activated the icon, as VT_I4.
    kDispActivated = 1,
};

// The control's event interface, a dispinterface.
// {BA1BCD0C-91D2-46E6-AF91-5704FE3BD7F0}
inline constexpr GUID DIID_TrayEvents = {0xBA1BCD0C, 0x91D2, 0x46E6, {0xAF, 0x91, 0x57, 0x04, 0xFE, 0x3B, 0xD7, 0xF0}};

// The icon belongs to a hidden top-level window of this class; broadcasts
// such as "TaskbarCreated" reach only top-level windows.
inline constexpr wchar_t kOwnerClass[] = L"NightjarTrayOwner";
inline constexpr wchar_t kOwnerTitle[] = L"Nightjar tray";
inline constexpr UINT kIconId = 1;
// The shell's notifications for the icon.
inline constexpr UINT kCallbackMessage = WM_APP + 1;

// Creates a tray control with no icon shown, talking to the system's shell.
HRESULT CreateTrayControl(REFIID riid, void** ppv) noexcept;
// The same, putting its icon up through `shell`.
HRESULT CreateTrayControl(std::shared_ptr<NotifyShell> shell, REFIID riid, void** ppv) noexcept;

}  // namespace nightjar::tray
