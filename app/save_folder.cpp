#include "app/save_folder.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include "app/CD.h"
#include "platform/user_folders.h"
#include "settings/ini_file.h"

namespace velindra {

namespace {

constexpr QByteArrayView kSaveFolderKey = "saveFolder";

}  // namespace

// Far more than the one folder it keeps.
constexpr size_t kMaxStateBytes = 64 * 1024;

QString StateFile() {
    return QString::fromStdString(InUserFolder(UserStateFolder(), "state.ini"));
}

// Read and written as text, like the settings: no value is ever decoded into an object.
QString SaveDialogStartFolder() {
    const QString state = StateFile();
    const QString last =
        state.isEmpty()
            ? QString()
            : ini::ReadValue(state, "General", kSaveFolderKey, kMaxStateBytes).value_or(QString());
    if (!last.isEmpty() && QFileInfo(last).isDir())
        return last;
    const QString downloads = QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
    return QFileInfo(downloads).isDir() ? downloads : QDir::homePath();
}

void RememberSavedFile(const QString& path) {
    // Without a home to remember it in, or with something else in the state file's place,
    // nothing is kept.
    if (!StateFile().isEmpty())
        ini::WriteValue(StateFile(), "General", kSaveFolderKey, QFileInfo(path).absolutePath(),
                        kMaxStateBytes);
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
