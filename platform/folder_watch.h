// A folder watched for files that another program has finished writing: on Linux the names of
// files closed after writing or moved in (inotify), on Windows the names that changed
// (ReadDirectoryChangesW). Network folders (NFS, SMB, container volumes) send no events, so a
// caller looks the folder over as well.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace velindra {

// A file the folder's events named: being written, or done (closed after writing, moved in;
// on Windows, which tells of no close, every event is done and NobodyWrites decides).
struct FolderEvent {
    std::string name;
    bool done = false;
};

// Whether no other program has the file open for writing (on Windows, where the folder's events
// do not say when a writer closed a file); true where the system cannot tell.
bool NobodyWrites(const std::string& path);

class FolderWatch {
  public:
    explicit FolderWatch(const std::string& folder);
    ~FolderWatch();
    FolderWatch(const FolderWatch&) = delete;
    FolderWatch& operator=(const FolderWatch&) = delete;

    // Waits at most `wait` for the folder's events, or until Wake; the files they named (a file
    // may come more than once). Idle, it takes no CPU.
    std::vector<FolderEvent> Wait(std::chrono::milliseconds wait);
    // Ends every Wait, now and later, at once (the program is stopping): safe in a signal
    // handler and from another thread.
    static void Wake();
    // Whether the folder sends events (when not, a look-over alone finds its files).
    bool watching() const;
    // Watches the folder again (after it was removed and made anew).
    void Rewatch();

  private:
    struct System;
    std::string folder_;
    std::unique_ptr<System> system_;
};

}  // namespace velindra
