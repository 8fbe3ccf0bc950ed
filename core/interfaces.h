// The small interfaces through which the conversion logic reaches the outside world.
#pragma once

#include <atomic>
#include <string>

#include "result.h"

namespace velindra {

// Which kind of source a request is for.
enum class SourceKind {
    Mirror,       // a torrent cache at `url`
    LinkAddress,  // an address of the .torrent file that the link itself names (xs=, as=)
    Network,      // the BitTorrent network, asked with the whole link
};

// Which link of the batch this is (1-based), and of how many.
struct LinkPosition {
    int link = 0;
    int links = 0;
};

struct FetchRequest {
    SourceKind source = SourceKind::Mirror;
    std::string url;          // mirrors and link addresses
    std::string link;         // the whole magnet link, "magnet:?" included
    std::string destination;  // where the complete file must end up
    std::string infoHash;     // what the delivered torrent must describe: the v1 hash, and
    std::string v2Hash;       // the v2 hash; either may be empty, not both
    int sourceIndex = 0;      // 1-based position of the source among those of its kind
    LinkPosition position;
    // When set, the download gives up with FetchError::Cancelled as soon as it becomes true.
    const std::atomic<bool>* cancel = nullptr;
    // Where the network source reports how many peers are connected, and how many DHT nodes
    // it knows.
    std::atomic<int>* peers = nullptr;
    std::atomic<int>* nodes = nullptr;
};

// One blocking download of one URL into the destination. The file appears there complete
// and checked, or the destination is left as it was.
class Downloader {
  public:
    virtual ~Downloader() = default;
    virtual FetchResult Fetch(const FetchRequest& request) = 0;
};

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

// Opening a saved file with its associated program, and showing it selected in its folder.
// Neither waits for the launched program; false when nothing could be started for the file.
class Launcher {
  public:
    virtual ~Launcher() = default;
    virtual bool OpenFile(const std::string& path) = 0;
    virtual bool RevealFile(const std::string& path) = 0;
};

}  // namespace velindra
