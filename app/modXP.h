// Start-up: initialise the toolkit's look and show the main window.
#pragma once

namespace velindra::modXP {

// True when the toolkit's look could be set up without an error; start-up goes on either way.
bool InitVisualStyles();

// Shows the main window modelessly, without an owner, centred on the screen, and returns at
// once; the event loop keeps the program running until the main window closes. Needs a
// QApplication.
void Main();

}  // namespace velindra::modXP
