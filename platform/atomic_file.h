// Writing a file so that it appears complete or not at all.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "core/result.h"

namespace velindra {

// A temporary file in the destination's folder, named so that nothing watching the folder for
// ".torrent" files picks it up. Creating it first tells at once whether the folder can take
// the file at all. Data is written as it arrives; Commit flushes it to disk and atomically
// replaces the destination, whose permission bits (and owner and group, where allowed) the new
// file takes over. A temporary file that was not committed is removed. Every failure is
// FetchError::CannotWrite with the reason. Checked and written, it is what a source hands
// over (a StagedFile) until a committer puts it in its place.
class AtomicFile : public StagedFile {
  public:
    explicit AtomicFile(std::string destination);
    ~AtomicFile() override;
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    // Fails when the folder cannot take a new file. The first time a process writes into a
    // folder, it also removes its own temporary files there that are older than a day (left by
    // a run that was killed).
    FetchResult Open();
    // Appends to the temporary file.
    FetchResult Write(std::string_view data);
    // Everything written so far, read back from the file.
    FetchResult ReadBack(std::string& data);
    // Keeps only the first `length` bytes.
    FetchResult Truncate(size_t length);
    // Flush, Replace and the folder's sync in one. On failure the destination is untouched
    // (or, when only the folder could not be synced, holds the whole new file) and the
    // temporary file is gone.
    FetchResult Commit();
    FetchResult Commit(std::string_view data);

    // The steps of Commit, for a committer that makes many files durable together: Flush puts
    // the content on disk and closes the file, Replace puts it in the destination's place (with
    // `replace` false only where nothing is there: an existing file fails it with systemError
    // EEXIST and stays as it is). On failure the temporary file is gone.
    FetchResult Flush();
    FetchResult Replace(bool replace = true);
    const std::string& destination() const { return destination_; }

    // Makes another path the destination: in the same folder the temporary file stays where
    // it is; in another one it is written anew there (and this one removed). On failure the
    // file is gone.
    FetchResult MoveTo(const std::string& destination);

  private:
    FetchResult Fail(const char* what, int err);
    void Discard();

    std::string destination_;
    std::string tempPath_;
    int fd_ = -1;
};

// Makes a folder's entries, a replaced file's name among them, durable.
FetchResult SyncFolder(const std::string& folder);

// The folder part of a path ("." when it has none).
std::string ParentFolder(const std::string& path);

// Whether the file system of a folder (or of its nearest existing parent, for one still to be
// made) takes names that differ only in case for one name: found out by creating a temporary
// file there and asking for it by its upper-case name. Where nothing can be created, the
// system's custom (Windows ignores case).
bool FolderIgnoresCase(const std::string& folder);

// Which file a path names (device and file number), to tell two names of one file from two
// files; none when nothing is there.
std::optional<std::pair<uint64_t, uint64_t>> FileIdentity(const std::string& path);

// Whether a file name is one of the temporary names AtomicFile makes.
bool IsTemporaryName(std::string_view name);

}  // namespace velindra
