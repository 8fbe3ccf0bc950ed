#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QLocalSocket>
#include <cerrno>
#include <cstdlib>

#include "app/single_instance.h"
#include "platform/user_folders.h"

namespace velindra {

namespace {

// A folder of this user's that nobody else can enter or write to.
bool IsPrivateFolder(const std::string& folder) {
    struct stat st {};
    return ::lstat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::getuid() &&
           (st.st_mode & 077) == 0;
}

}  // namespace

QString PrivateSocketFolder() {
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR");
        runtime && runtime[0] == '/' && IsPrivateFolder(runtime))
        return QString::fromUtf8(runtime);
    // Never a shared name in /tmp: the user's own cache, where velindra's folder is made 0700.
    const std::string folder = UserCacheFolder();
    if (folder.empty())
        return {};
    const std::string parent = folder.substr(0, folder.rfind('/'));
    ::mkdir(parent.c_str(), 0700);  // ~/.cache, when it is not there yet
    if (::mkdir(folder.c_str(), 0700) != 0 && errno == EEXIST) {
        struct stat st {};
        if (::lstat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::getuid())
            ::chmod(folder.c_str(), 0700);  // ours, but made open by someone: close it
    }
    return IsPrivateFolder(folder) ? QString::fromStdString(folder) : QString();
}

bool PeerIsThisUser(const QLocalSocket& socket) {
    ucred peer{};
    socklen_t size = sizeof peer;
    const auto fd = static_cast<int>(socket.socketDescriptor());
    return fd >= 0 && ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0 &&
           peer.uid == ::getuid();
}

}  // namespace velindra
