// Start-up: initialise the toolkit's look and show the main window.
#pragma once

#include <QStringList>

namespace velindra {
class Form1;
}

namespace velindra::modXP {

// Loads the toolkit's own Chinese (Simplified) texts for its standard dialogs and buttons, and
// makes the program's icons available. Needs a QApplication.
void InstallTranslations();

// True when the toolkit's look could be set up without an error; start-up goes on either way.
bool InitVisualStyles();

// Shows the main window modelessly, without an owner, centred on the screen, and returns at
// once; the event loop keeps the program running until the main window closes. Needs a
// QApplication. Links given are put into the links box, ready to be fetched. The addresses a
// link names itself may be on this machine or a private network only when allowed.
void Main(const QStringList& links = {}, bool allowPrivateAddresses = false);

// The main window while it is open, else nullptr.
Form1* MainWindow();

}  // namespace velindra::modXP
