#pragma once

#include "uTUpdateVersion.h"

// Shows the software update window for State. ForceButton offers the installer
// even when the program is up to date (Shift held at the click).
void ShowUpdates(UpdateState State, bool ForceButton);
