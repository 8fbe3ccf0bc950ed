// Writing a file so that it appears complete or not at all.
#pragma once

#include <string>
#include <string_view>

namespace velindra {

// A temporary file in the destination's folder, named so that nothing watching the folder for
// ".torrent" files picks it up. Creating it first tells at once whether the folder can take
// the file at all. Commit writes the data, flushes it to disk and atomically replaces the
// destination; a temporary file that was not committed is removed.
class AtomicFile {
  public:
    explicit AtomicFile(std::string destination);
    ~AtomicFile();
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    // False with error() set when the folder cannot take a new file.
    bool Open();
    // False with error() set when writing, flushing or replacing failed; the destination is
    // then untouched and the temporary file gone.
    bool Commit(std::string_view data);

    const std::string& error() const { return error_; }
    const std::string& temporaryPath() const { return tempPath_; }

  private:
    void Discard();

    std::string destination_;
    std::string tempPath_;
    std::string error_;
    int fd_ = -1;
};

// The folder part of a path ("." when it has none).
std::string ParentFolder(const std::string& path);

}  // namespace velindra
