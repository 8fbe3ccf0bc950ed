#include "app/CD.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QStringList>

#include "batch/dialogs.h"
#include "core/interfaces.h"

namespace velindra::CD {

namespace {

QStringList NameFilters(const std::string& filter) {
    QStringList filters;
    for (const QString& entry :
         QString::fromStdString(filter).split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        const qsizetype bar = entry.indexOf(QLatin1Char('|'));
        const QString description = bar < 0 ? entry : entry.left(bar);
        const QString pattern = bar < 0 ? QString() : entry.mid(bar + 1);
        // The descriptions already name their patterns in parentheses, which is the form the
        // dialog reads its patterns from; otherwise add them.
        if (description.endsWith(QLatin1Char(')')) && description.contains(QLatin1Char('('))) {
            filters << description;
        } else {
            filters << description + QStringLiteral(" (") + pattern + QLatin1Char(')');
        }
    }
    return filters;
}

}  // namespace

bool ShowSaveDialog(QWidget* owner, std::string& fileName, const std::string& title,
                    const std::string& filter, int filterIndex, const std::string& initialFolder,
                    int flags) {
    QFileDialog dialog(owner, QString::fromStdString(title));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    const QStringList filters = NameFilters(filter);
    dialog.setNameFilters(filters);
    if (!filters.isEmpty()) {
        dialog.selectNameFilter(filters.value(filterIndex > 0 ? filterIndex - 1 : 0));
    }
    if (!initialFolder.empty()) {
        dialog.setDirectory(QString::fromStdString(initialFolder));
    }
    dialog.setOption(QFileDialog::DontConfirmOverwrite, (flags & kSaveOverwritePromptFlag) == 0);
    dialog.setDefaultSuffix(QString());  // a typed name is taken as typed
    dialog.selectFile(QString::fromStdString(fileName));
    if (dialog.exec() != QDialog::Accepted) {
        return false;
    }
    const QStringList chosen = dialog.selectedFiles();
    if (chosen.isEmpty() || chosen.first().isEmpty()) {
        return false;
    }
    fileName = QDir::toNativeSeparators(chosen.first()).toStdString();
    return true;
}

bool BrowseForFolder(QWidget* owner, std::string& path, const std::string& prompt, int flags) {
    QFileDialog dialog(owner, QString::fromStdString(prompt));
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly, true);
    dialog.setLabelText(QFileDialog::LookIn, QString::fromStdString(prompt));
    dialog.setDirectory(QDir::homePath());  // its own starting point, never the caller's text
    if (dialog.exec() != QDialog::Accepted) {
        return false;
    }
    const QStringList chosen = dialog.selectedFiles();
    if (chosen.isEmpty()) {
        return false;
    }
    const QFileInfo folder(chosen.first());
    if ((flags & kOnlyFileSystemFolders) && !folder.isDir()) {
        return false;
    }
    path = QDir::toNativeSeparators(folder.absoluteFilePath()).toStdString();
    return true;
}

}  // namespace velindra::CD
