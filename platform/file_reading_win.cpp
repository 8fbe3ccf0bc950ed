// clang-format off
#include <io.h>
#include <windows.h>
// clang-format on
#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>

#include "platform/file_reading_system.h"
#include "platform/utf16.h"

namespace velindra {

namespace file_reading_system {

int OpenInput(const std::string& name) {
    if (name == "-")
        return 0;
    const std::wstring wide = Utf16(name);
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        errno = EISDIR;
        return -1;
    }
    return _wopen(wide.c_str(), _O_RDONLY | _O_BINARY | _O_NOINHERIT);
}

long long ReadSome(int fd, char* buffer, size_t size) {
    return _read(fd, buffer, static_cast<unsigned>(size));
}

void CloseInput(int fd) {
    _close(fd);
}

int OpenRegular(const std::string& path, long long& size) {
    const std::wstring wide = Utf16(path);
    struct _stat64 st {};
    if (_wstat64(wide.c_str(), &st) != 0)
        return -1;
    if (!(st.st_mode & _S_IFREG)) {
        errno = EINVAL;
        return -1;
    }
    size = st.st_size;
    return _wopen(wide.c_str(), _O_RDONLY | _O_BINARY | _O_NOINHERIT);
}

bool Absent(const std::string& path) {
    return GetFileAttributesW(Utf16(path).c_str()) == INVALID_FILE_ATTRIBUTES &&
           (GetLastError() == ERROR_FILE_NOT_FOUND || GetLastError() == ERROR_PATH_NOT_FOUND);
}

}  // namespace file_reading_system

}  // namespace velindra
