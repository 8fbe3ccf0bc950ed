#include "atomic_file.h"

#include <fcntl.h>

#include <cerrno>
#include <cstring>
#include <random>

#ifdef _WIN32
#include <io.h>
#include <windows.h>

#include <chrono>
#include <filesystem>
#include <thread>
#else
#include <unistd.h>
#endif

namespace velindra {

namespace {

std::string RandomSuffix() {
    static constexpr char kAlphabet[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    thread_local std::mt19937_64 engine{std::random_device{}()};
    std::string s;
    for (int k = 0; k < 10; ++k) {
        s.push_back(kAlphabet[engine() % (sizeof kAlphabet - 1)]);
    }
    return s;
}

std::string Describe(const char* what, int err) {
    return std::string(what) + ": " + std::strerror(err);
}

bool IsSeparator(char c) {
#ifdef _WIN32
    return c == '/' || c == '\\';
#else
    return c == '/';
#endif
}

}  // namespace

std::string ParentFolder(const std::string& path) {
    size_t end = path.size();
    while (end > 0 && !IsSeparator(path[end - 1]))
        --end;
    if (end == 0)
        return ".";
    return path.substr(0, end);  // keeps the trailing separator, so "/" stays "/"
}

AtomicFile::AtomicFile(std::string destination) : destination_(std::move(destination)) {}

AtomicFile::~AtomicFile() {
    Discard();
}

bool AtomicFile::Open() {
    const std::string folder = ParentFolder(destination_);
    const std::string prefix = folder == "." ? std::string() : folder;
    for (int attempt = 0; attempt < 16; ++attempt) {
        // Short, hidden, and not ending in ".torrent".
        std::string candidate = prefix + ".velindra-" + RandomSuffix() + ".part";
#ifdef _WIN32
        const int fd = _open(candidate.c_str(), _O_CREAT | _O_EXCL | _O_WRONLY | _O_BINARY,
                             _S_IREAD | _S_IWRITE);
#else
        const int fd = ::open(candidate.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0666);
#endif
        if (fd >= 0) {
            fd_ = fd;
            tempPath_ = std::move(candidate);
            return true;
        }
        if (errno != EEXIST) {
            error_ = Describe("cannot create a file in the folder", errno);
            return false;
        }
    }
    error_ = "cannot create a file in the folder: too many name clashes";
    return false;
}

bool AtomicFile::Commit(std::string_view data) {
    if (fd_ < 0) {
        error_ = "the file was not opened";
        return false;
    }
    size_t done = 0;
    while (done < data.size()) {
#ifdef _WIN32
        const int chunk = static_cast<int>(std::min<size_t>(data.size() - done, 1 << 20));
        const auto written = _write(fd_, data.data() + done, chunk);
#else
        const ssize_t written = ::write(fd_, data.data() + done, data.size() - done);
#endif
        if (written < 0) {
            if (errno == EINTR)
                continue;
            error_ = Describe("cannot write the file", errno);
            Discard();
            return false;
        }
        done += static_cast<size_t>(written);
    }
#ifdef _WIN32
    const bool flushed = _commit(fd_) == 0;
    const int closed = _close(fd_);
#else
    const bool flushed = ::fsync(fd_) == 0;
    const int closed = ::close(fd_);
#endif
    const int flushError = errno;
    fd_ = -1;
    if (!flushed || closed != 0) {
        error_ = Describe("cannot flush the file to disk", flushError);
        Discard();
        return false;
    }
#ifdef _WIN32
    // Another program (a virus scanner, a torrent client) may hold the old file for a moment.
    std::error_code ec;
    for (int attempt = 0; attempt < 10; ++attempt) {
        std::filesystem::rename(std::filesystem::u8path(tempPath_),
                                std::filesystem::u8path(destination_), ec);
        if (!ec)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    if (ec) {
        error_ = "cannot replace the file: " + ec.message();
        Discard();
        return false;
    }
#else
    if (::rename(tempPath_.c_str(), destination_.c_str()) != 0) {
        error_ = Describe("cannot replace the file", errno);
        Discard();
        return false;
    }
    // Make the new name itself durable.
    const int dir = ::open(ParentFolder(destination_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
#endif
    tempPath_.clear();
    return true;
}

void AtomicFile::Discard() {
    if (fd_ >= 0) {
#ifdef _WIN32
        _close(fd_);
#else
        ::close(fd_);
#endif
        fd_ = -1;
    }
    if (!tempPath_.empty()) {
#ifdef _WIN32
        _unlink(tempPath_.c_str());
#else
        ::unlink(tempPath_.c_str());
#endif
        tempPath_.clear();
    }
}

}  // namespace velindra
