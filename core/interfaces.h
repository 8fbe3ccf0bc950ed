// The small interfaces through which the conversion logic reaches the outside world.
#pragma once

#include <atomic>
#include <string>

#include "run_options.h"

namespace velindra {

// Why a download did not deliver a torrent file for the link.
enum class FetchError {
    None,
    NoConnection,  // name lookup or connection failed
    Timeout,       // no connection in time, or the transfer stalled
    HttpStatus,    // the server answered with an error status
    Redirect,      // too many redirects, a loop, or a redirect to another scheme
    NotHttp,       // the server did not answer in HTTP at all
    TooLarge,      // the body exceeded the size bound
    NotATorrent,   // the body is not a well-formed torrent file
    WrongTorrent,  // a torrent, but not the one the link names
    CannotWrite,   // the destination folder cannot take the file; no other source can help
    InvalidHash,  // the link's info-hash has no form that a delivered file could be checked against
    Cancelled,    // the user skipped the link
    Other,
};

const char* Describe(FetchError error);

struct FetchResult {
    FetchError error = FetchError::Other;
    std::string detail;  // plain words for the command line and for tests
    bool ok() const { return error == FetchError::None; }
};

struct FetchRequest {
    std::string url;
    std::string destination;  // where the complete file must end up
    std::string infoHash;     // what the delivered torrent must describe
    int mirror = 0;           // 1-based position of the source in the chain
    int link = 0;             // which link of the batch this is (1-based), and of how many
    int links = 0;
    // When set, the download gives up with FetchError::Cancelled as soon as it becomes true.
    const std::atomic<bool>* cancel = nullptr;
    // For the network source only (url empty): the whole magnet link, and where to report how
    // many peers are connected.
    std::string magnet;
    std::atomic<int>* peers = nullptr;
    bool network() const { return url.empty() && !magnet.empty(); }
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
};

struct SaveDialogRequest {
    std::string title;
    std::string filter;  // entries "description|pattern" separated by ";"
    int filterIndex = 0;
    std::string initialFolder;
    int flags = 0;
};

// The Save-as dialog: true and the chosen full path in fileName when the user confirmed,
// false with fileName unchanged otherwise.
class SaveDialog {
  public:
    virtual ~SaveDialog() = default;
    virtual bool ShowSaveDialog(std::string& fileName, const SaveDialogRequest& request) = 0;
};

// The completion prompt, shown modally. A button press writes the answer ("open", "poi" or
// "none") into options.selection (and, when asked to remember, into the store); closing
// it any other way leaves options.selection as it was.
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
