// Where the Save-as dialog starts: in the folder of the file last saved through it (kept for
// the user across runs in the program's own state file, not in the shared settings), or in the
// user's download folder before the first save.
#pragma once

#include <QString>
#include <QWidget>
#include <string>

#include "batch/dialogs.h"
#include "core/interfaces.h"

namespace velindra {

// state.ini in the user's state folder (normally ~/.local/state/velindra/state.ini); empty
// when the user has no home.
QString StateFile();

QString SaveDialogStartFolder();
void RememberSavedFile(const QString& path);

// The Save-as dialog of the CD module, started in that folder, remembering where the user saved.
bool SaveAsFromLastFolder(QWidget* owner, std::string& fileName, const SaveDialogRequest& request);

}  // namespace velindra
