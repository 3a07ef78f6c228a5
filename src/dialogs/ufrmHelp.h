#pragma once

// Shows the help window with the document of the current language.
void ShowHelp();
