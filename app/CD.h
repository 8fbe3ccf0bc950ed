// The save dialog and the folder picker, as small functions with one result contract: true
// and the chosen path in the in/out argument when the user confirmed a choice, false with the
// argument unchanged otherwise.
#pragma once

#include <string>

class QWidget;

namespace velindra::CD {

// Save-as: the suggested name in fileName, the title, and a filter written as entries
// "description|pattern" separated by ";", the entry at filterIndex (0 = the first) selected.
// kSaveOverwritePromptFlag asks before an existing file is accepted. No extension is ever appended
// to a typed name.
bool ShowSaveDialog(QWidget* owner, std::string& fileName, const std::string& title,
                    const std::string& filter, int filterIndex, const std::string& initialFolder,
                    int flags);

// What the folder picker may be asked to do, as bits of its flags.
enum BrowseFolderFlag : int {
    kOnlyFileSystemFolders = 1,
};

// Folder picker: shows the prompt, offers file-system folders only when asked, and does not
// start at the incoming path.
bool BrowseForFolder(QWidget* owner, std::string& path, const std::string& prompt, int flags);

}  // namespace velindra::CD
