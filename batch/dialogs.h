// What the windows' batch asks of the user through the windows: its message boxes, the Save-as
// dialog and the completion prompt.
#pragma once

#include <string>

namespace velindra {

// A message box with an OK button only, no icon and the title "Velindra".
class MessageSink {
  public:
    virtual ~MessageSink() = default;
    virtual void ShowMessage(const std::string& text) = 0;
    // A link's failure while more links of the batch are to come: the same box, which also
    // offers to stop the batch ("确定", continuing, stays the default). True to stop.
    virtual bool ShowFailure(const std::string& text) {
        ShowMessage(text);
        return false;
    }
};

// What the Save-as dialog may be asked to do, as bits of SaveDialogRequest::flags.
enum SaveDialogFlag : int {
    kSaveOverwritePromptFlag = 2,  // ask before an existing file is replaced
    kSaveHideReadOnlyFlag = 4,     // no "open as read-only" box
};

struct SaveDialogRequest {
    std::string title;
    std::string filter;  // entries "description|pattern" separated by ";"
    int filterIndex = 0;
    std::string initialFolder;
    int flags = 0;  // SaveDialogFlag bits
};

// The Save-as dialog: true and the chosen full path in fileName when the user confirmed,
// false with fileName unchanged otherwise.
class SaveDialog {
  public:
    virtual ~SaveDialog() = default;
    virtual bool ShowSaveDialog(std::string& fileName, const SaveDialogRequest& request) = 0;
};

struct RunOptions;

// The completion prompt, shown modally. A button press writes the answer (open, reveal or
// nothing) into options.selection (and, when asked to remember, into the store); closing it
// any other way leaves options.selection as it was.
class CompletionPrompt {
  public:
    virtual ~CompletionPrompt() = default;
    virtual void ShowCompletionPrompt(RunOptions& options) = 0;
};

}  // namespace velindra
