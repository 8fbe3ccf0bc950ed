#include <cstdlib>

#include "platform/host_paths.h"
#include "platform/user_folders.h"
#include "platform/utf16.h"

namespace velindra {

// %LOCALAPPDATA%, read as UTF-16 so that a Chinese user name survives.
std::string UserCacheFolder() {
    if (const wchar_t* local = _wgetenv(L"LOCALAPPDATA"); local && local[0])
        return Utf8(local) + "\\Velindra";
    return {};
}

std::string UserStateFolder() {
    return UserCacheFolder();
}

std::string InUserFolder(const std::string& folder, const char* name) {
    return folder.empty() ? std::string() : folder + "\\" + name;
}

// Windows names: "\\" separates, and names that differ only in case are one.
PathRules HostPathRules() {
    return PathRules{true};
}

}  // namespace velindra
