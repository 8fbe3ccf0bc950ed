// Writing a file so that it appears complete or not at all.
#pragma once

#include <string>
#include <string_view>

namespace velindra {

// A temporary file in the destination's folder, named so that nothing watching the folder for
// ".torrent" files picks it up. Creating it first tells at once whether the folder can take
// the file at all. Data is written as it arrives; Commit flushes it to disk and atomically
// replaces the destination, whose permission bits (and owner and group, where allowed) the new
// file takes over. A temporary file that was not committed is removed.
class AtomicFile {
  public:
    explicit AtomicFile(std::string destination);
    ~AtomicFile();
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    // False with error() set when the folder cannot take a new file. The first time a process
    // writes into a folder, it also removes its own temporary files there that are older than
    // a day (left by a run that was killed).
    bool Open();
    // Appends to the temporary file; false with error() set when that failed.
    bool Write(std::string_view data);
    // Everything written so far, read back from the file.
    bool ReadBack(std::string& data);
    // Keeps only the first `length` bytes.
    bool Truncate(size_t length);
    // False with error() set when flushing or replacing failed; the destination is then
    // untouched and the temporary file gone.
    bool Commit();
    bool Commit(std::string_view data) { return Write(data) && Commit(); }

    const std::string& error() const { return error_; }
    const std::string& temporaryPath() const { return tempPath_; }

  private:
    bool Fail(const char* what, int err);
    void Discard();

    std::string destination_;
    std::string tempPath_;
    std::string error_;
    int fd_ = -1;
};

// The folder part of a path ("." when it has none).
std::string ParentFolder(const std::string& path);

// Whether a file name is one of the temporary names AtomicFile makes.
bool IsTemporaryName(std::string_view name);

}  // namespace velindra
