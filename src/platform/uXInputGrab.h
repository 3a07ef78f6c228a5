#pragma once

// Whether this program could take the pointer and keyboard grab now. A pop-up menu
// needs both; a shell that still holds its own grab (GNOME Shell while it handles a
// click on its notification) makes Qt's grab fail silently, and the menu then keeps
// neither keyboard nor pointer and cannot be closed. True when not on X11.
bool CanGrabInputNow();
