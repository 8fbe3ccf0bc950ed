#include "platform/file_reading.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "platform/file_reading_system.h"
#include "platform/utf16.h"

namespace velindra {

namespace sys = file_reading_system;

FetchResult ReadWholeFile(const std::string& name, std::string& text, size_t maxBytes,
                          const std::atomic<bool>& stop) {
    const int fd = sys::OpenInput(name);
    if (fd < 0)
        return FetchResult::Failed(FetchError::Other, std::strerror(errno), errno);
    struct Closer {
        int fd;
        bool keep;
        ~Closer() {
            if (!keep)
                sys::CloseInput(fd);
        }
    } closer{fd, name == "-"};
    char buffer[1 << 16];
    for (;;) {
        const long long n = sys::ReadSome(fd, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR && !stop)
                continue;
            return FetchResult::Failed(FetchError::Other, std::strerror(errno), errno);
        }
        if (n == 0)
            return FetchResult::Done();
        if (text.size() + static_cast<size_t>(n) > maxBytes) {
            return FetchResult::Failed(FetchError::TooLarge,
                                       "输入超过 " + std::to_string(maxBytes >> 20) + " MiB");
        }
        text.append(buffer, static_cast<size_t>(n));
    }
}

bool SafeToRead(const std::string& path, size_t maxBytes) {
    if (sys::Absent(path))
        return true;
    long long size = 0;
    const int fd = sys::OpenRegular(path, size);
    if (fd < 0)
        return false;
    sys::CloseInput(fd);
    return size >= 0 && static_cast<size_t>(size) <= maxBytes;
}

FetchResult ReadRegularFile(const std::string& path, size_t maxBytes, std::string& text) {
    long long size = 0;
    const int fd = sys::OpenRegular(path, size);
    if (fd < 0)
        return FetchResult::Failed(FetchError::Other, std::strerror(errno), errno);
    text.clear();
    char buffer[1 << 16];
    long long n = 0;
    while (text.size() <= maxBytes &&
           (n = sys::ReadSome(fd, buffer, std::min(sizeof buffer, maxBytes + 1 - text.size()))) > 0)
        text.append(buffer, static_cast<size_t>(n));
    const int error = errno;
    sys::CloseInput(fd);
    if (n < 0)
        return FetchResult::Failed(FetchError::Other, std::strerror(error), error);
    if (text.size() > maxBytes)
        return FetchResult::Failed(FetchError::TooLarge, "larger than " + std::to_string(maxBytes));
    return FetchResult::Done();
}

bool MakeFolders(const std::string& path) {
    std::error_code ignored;
    std::filesystem::create_directories(PathFromUtf8(path), ignored);
    return std::filesystem::is_directory(PathFromUtf8(path), ignored);
}

}  // namespace velindra
