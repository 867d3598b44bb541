#pragma once
// The tray entries that this process has added and not yet removed, so that they can be
// given back to a restarted shell and taken away when the program ends early.

#include <windows.h>

namespace platform {

// The shell broadcasts this registered message when it (re)starts with an empty tray.
UINT TaskbarCreatedMessage();

// Adds again every live entry of `window`.
void ReAddTrayEntries(HWND window);

// Removes every live entry; the shell would otherwise show them until the mouse passes over.
void RemoveTrayEntries();

}  // namespace platform
