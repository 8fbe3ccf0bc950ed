// The one place that knows where a user's own files of ours go.
#pragma once

#include <string>

namespace velindra {

// Velindra's folder for data that may be rebuilt ($XDG_CACHE_HOME/velindra or
// ~/.cache/velindra; %LOCALAPPDATA%\Velindra on Windows), and for state that should last
// ($XDG_STATE_HOME/velindra or ~/.local/state/velindra; the same folder on Windows). Empty
// when the user has no home to put them in. Neither is created here.
std::string UserCacheFolder();
std::string UserStateFolder();

// Joins a file name to one of those folders with the system's separator.
std::string InUserFolder(const std::string& folder, const char* name);

}  // namespace velindra
