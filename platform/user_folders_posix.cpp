#include <cstdlib>

#include "platform/host_paths.h"
#include "platform/user_folders.h"

namespace velindra {

namespace {

// $variable when it is absolute, else the fallback under an absolute home other than "/".
std::string XdgFolder(const char* variable, const char* underHome) {
    if (const char* xdg = std::getenv(variable); xdg && xdg[0] == '/')
        return std::string(xdg) + "/velindra";
    if (const char* home = std::getenv("HOME"); home && home[0] == '/' && home[1])
        return std::string(home) + underHome + "/velindra";
    return {};
}

}  // namespace

std::string UserCacheFolder() {
    return XdgFolder("XDG_CACHE_HOME", "/.cache");
}

std::string UserStateFolder() {
    return XdgFolder("XDG_STATE_HOME", "/.local/state");
}

std::string InUserFolder(const std::string& folder, const char* name) {
    return folder.empty() ? std::string() : folder + "/" + name;
}

// "/" separates, and case matters (a folder that ignores it is found out as a batch starts).
PathRules HostPathRules() {
    return PathRules{false};
}

}  // namespace velindra
