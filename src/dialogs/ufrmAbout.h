#pragma once

// Shows the info window.
void ShowInfo();
