#include "console.h"

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "console_system.h"
#include "utf16.h"

namespace velindra {

namespace sys = console_system;

FetchResult ReadWholeFile(const std::string& name, std::string& text, size_t maxBytes,
                          const std::atomic<bool>& stop) {
    const int fd = sys::OpenInput(name);
    if (fd < 0)
        return FetchResult::Failed(FetchError::Other, std::strerror(errno));
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
            return FetchResult::Failed(FetchError::Other, std::strerror(errno));
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

bool MakeFolders(const std::string& path) {
    std::error_code ignored;
    std::filesystem::create_directories(PathFromUtf8(path), ignored);
    return std::filesystem::is_directory(PathFromUtf8(path), ignored);
}

}  // namespace velindra
