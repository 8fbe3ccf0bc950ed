#include "save_folder.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

#include "CD.h"
#include "file_reading.h"
#include "user_folders.h"

namespace velindra {

namespace {

const QString kSaveFolderKey = QStringLiteral("saveFolder");

}  // namespace

// Far more than the one folder it keeps.
constexpr size_t kMaxStateBytes = 64 * 1024;

QString StateFile() {
    return QString::fromStdString(InUserFolder(UserStateFolder(), "state.ini"));
}

// The state file when it may be opened: a regular file of sensible size, or none yet.
static bool StateUsable() {
    return !StateFile().isEmpty() && SafeToRead(StateFile().toStdString(), kMaxStateBytes);
}

QString SaveDialogStartFolder() {
    const QString last =
        !StateUsable()
            ? QString()
            : QSettings(StateFile(), QSettings::IniFormat).value(kSaveFolderKey).toString();
    if (!last.isEmpty() && QFileInfo(last).isDir())
        return last;
    const QString downloads = QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
    return QFileInfo(downloads).isDir() ? downloads : QDir::homePath();
}

void RememberSavedFile(const QString& path) {
    if (!StateUsable())
        return;  // no home to remember it in, or something else in the state file's place
    QSettings state(StateFile(), QSettings::IniFormat);
    state.setValue(kSaveFolderKey, QFileInfo(path).absolutePath());
    state.sync();
}

bool SaveAsFromLastFolder(QWidget* owner, std::string& fileName, const SaveDialogRequest& r) {
    const std::string start = r.initialFolder.empty()
                                  ? QDir::toNativeSeparators(SaveDialogStartFolder()).toStdString()
                                  : r.initialFolder;
    if (!CD::ShowSaveDialog(owner, fileName, r.title, r.filter, r.filterIndex, start, r.flags))
        return false;
    RememberSavedFile(QString::fromStdString(fileName));
    return true;
}

}  // namespace velindra
