#include "platform/atomic_file.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <random>
#include <set>

#include "platform/atomic_file_system.h"

namespace velindra {

namespace sys = atomic_file_system;

namespace {

constexpr std::string_view kTempPrefix = ".velindra-";
constexpr std::string_view kTempSuffix = ".part";
constexpr size_t kTempRandomLength = 10;
constexpr char kAlphabet[] = "abcdefghijklmnopqrstuvwxyz0123456789";

std::string RandomSuffix() {
    thread_local std::mt19937_64 engine{std::random_device{}()};
    std::string s;
    for (size_t k = 0; k < kTempRandomLength; ++k) {
        s.push_back(kAlphabet[engine() % (sizeof kAlphabet - 1)]);
    }
    return s;
}

// A killed run (SIGKILL, power loss) leaves its temporary file behind: cleaned up once per
// folder and process.
void RemoveStaleTemporaries(const std::string& folder) {
    static std::mutex lock;
    static std::set<std::string> cleaned;
    {
        std::lock_guard<std::mutex> guard(lock);
        if (!cleaned.insert(folder).second)
            return;
    }
    sys::RemoveOldTemporaries(folder);
}

}  // namespace

bool FolderIgnoresCase(const std::string& folder) {
    std::string existing = folder.empty() ? "." : folder;
    for (int up = 0; up < 64 && !sys::IsFolder(existing); ++up) {
        const std::string parent = ParentFolder(existing);
        if (parent == existing)
            break;
        existing = parent;
    }
    const std::string name = std::string(kTempPrefix) + RandomSuffix() + std::string(kTempSuffix);
    std::string upper = name;
    for (char& c : upper)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    const auto in = [&](const std::string& n) {
        return existing + (sys::IsSeparator(existing.back()) ? "" : "/") + n;
    };
    const int fd = sys::CreateExclusive(in(name));
    if (fd < 0)
        return sys::IgnoresCaseByDefault();
    sys::Close(fd);
    const bool ignores = sys::Exists(in(upper));
    sys::Remove(in(name));
    return ignores;
}

std::optional<std::pair<uint64_t, uint64_t>> FileIdentity(const std::string& path) {
    return sys::Identity(path);
}

bool IsTemporaryName(std::string_view name) {
    if (name.size() != kTempPrefix.size() + kTempRandomLength + kTempSuffix.size() ||
        !name.starts_with(kTempPrefix) || !name.ends_with(kTempSuffix)) {
        return false;
    }
    const std::string_view random = name.substr(kTempPrefix.size(), kTempRandomLength);
    return random.find_first_not_of(kAlphabet) == std::string_view::npos;
}

std::string ParentFolder(const std::string& path) {
    size_t end = path.size();
    while (end > 0 && !sys::IsSeparator(path[end - 1]))
        --end;
    if (end == 0)
        return ".";
    return path.substr(0, end);  // keeps the trailing separator, so "/" stays "/"
}

AtomicFile::AtomicFile(std::string destination) : destination_(std::move(destination)) {}

AtomicFile::~AtomicFile() {
    Discard();
}

FetchResult AtomicFile::Fail(const char* what, int err) {
    Discard();
    return FetchResult::Failed(FetchError::CannotWrite,
                               std::string(what) + ": " + std::strerror(err), err);
}

FetchResult AtomicFile::Open() {
    // A folder of that name could never be replaced: say so before anything is downloaded.
    if (sys::IsFolder(destination_))
        return Fail("a folder has that name", EISDIR);
    const std::string folder = ParentFolder(destination_);
    const std::string prefix = folder == "." ? std::string() : folder;
    RemoveStaleTemporaries(folder);
    for (int attempt = 0; attempt < 16; ++attempt) {
        // Short, hidden, and not ending in ".torrent".
        std::string candidate =
            prefix + std::string(kTempPrefix) + RandomSuffix() + std::string(kTempSuffix);
        const int fd = sys::CreateExclusive(candidate);
        if (fd >= 0) {
            fd_ = fd;
            tempPath_ = std::move(candidate);
            return FetchResult::Done();
        }
        if (errno != EEXIST)
            return Fail("cannot create a file in the folder", errno);
    }
    return FetchResult::Failed(FetchError::CannotWrite,
                               "cannot create a file in the folder: too many name clashes");
}

FetchResult AtomicFile::Write(std::string_view data) {
    if (fd_ < 0)
        return FetchResult::Failed(FetchError::CannotWrite, "the file was not opened");
    size_t done = 0;
    while (done < data.size()) {
        const size_t chunk = std::min<size_t>(data.size() - done, 1 << 20);
        const long long written = sys::WriteSome(fd_, data.data() + done, chunk);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return Fail("cannot write the file", errno);
        }
        done += static_cast<size_t>(written);
    }
    return FetchResult::Done();
}

FetchResult AtomicFile::ReadBack(std::string& data) {
    data.clear();
    if (fd_ < 0)
        return FetchResult::Failed(FetchError::CannotWrite, "the file was not opened");
    if (!sys::ReadAll(fd_, data))
        return Fail("cannot read the file back", errno);
    return FetchResult::Done();
}

FetchResult AtomicFile::Truncate(size_t length) {
    if (!sys::TruncateTo(fd_, length))
        return Fail("cannot shorten the file", errno);
    return FetchResult::Done();
}

FetchResult AtomicFile::Commit(std::string_view data) {
    FetchResult written = Write(data);
    return written.ok() ? Commit() : written;
}

FetchResult AtomicFile::Commit() {
    FetchResult step = Flush();
    if (step.ok())
        step = Replace();
    if (step.ok())
        step = SyncFolder(ParentFolder(destination_));
    return step;
}

FetchResult AtomicFile::Flush() {
    if (fd_ < 0)
        return FetchResult::Failed(FetchError::CannotWrite, "the file was not opened");
    // A replaced file keeps who may read it: a private torrent stays private.
    sys::KeepPermissionsOf(fd_, destination_);
    if (!sys::SyncFile(fd_))
        return Fail("cannot flush the file to disk", errno);
    const bool closed = sys::Close(fd_);
    fd_ = -1;
    if (!closed)
        return Fail("cannot flush the file to disk", errno);
    return FetchResult::Done();
}

FetchResult AtomicFile::Replace(bool replace) {
    if (tempPath_.empty())
        return FetchResult::Failed(FetchError::CannotWrite, "the file was not opened");
    FetchResult replaced =
        replace ? sys::Replace(tempPath_, destination_) : sys::PlaceNew(tempPath_, destination_);
    if (replaced.ok())
        tempPath_.clear();  // it is the destination now
    else
        Discard();
    return replaced;
}

FetchResult AtomicFile::MoveTo(const std::string& destination) {
    if (ParentFolder(destination) == ParentFolder(destination_)) {
        if (sys::IsFolder(destination))
            return Fail("a folder has that name", EISDIR);
        destination_ = destination;
        return FetchResult::Done();
    }
    std::string data;
    if (FetchResult read = ReadBack(data); !read.ok())
        return read;
    AtomicFile moved(destination);
    FetchResult written = moved.Open();
    if (written.ok())
        written = moved.Write(data);
    Discard();
    if (!written.ok())
        return written;
    std::swap(destination_, moved.destination_);
    std::swap(tempPath_, moved.tempPath_);
    std::swap(fd_, moved.fd_);
    return FetchResult::Done();
}

FetchResult SyncFolder(const std::string& folder) {
    if (!sys::SyncFolder(folder)) {
        return FetchResult::Failed(
            FetchError::CannotWrite,
            std::string("cannot flush the folder to disk: ") + std::strerror(errno));
    }
    return FetchResult::Done();
}

void AtomicFile::Discard() {
    if (fd_ >= 0) {
        sys::Close(fd_);
        fd_ = -1;
    }
    if (!tempPath_.empty()) {
        sys::Remove(tempPath_);
        tempPath_.clear();
    }
}

}  // namespace velindra
