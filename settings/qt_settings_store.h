// The per-user settings store on QSettings.
#pragma once

#include <string>
#include <string_view>

#include "core/settings_keys.h"

namespace velindra {

// Stores the options under application "Tessmir", section "Velindra": on Linux the [Velindra]
// group of $XDG_CONFIG_HOME/Tessmir.conf (~/.config/Tessmir.conf), on Windows the per-user
// registry key Software\Tessmir\Velindra. Every Read goes to the store afresh.
class QtSettingsStore : public SettingsStore {
  public:
    // A settings file that is not a regular file of sensible size is never opened: it reads
    // as the defaults and takes no value.
    std::string Read(std::string_view key, std::string_view defaultValue) override;
    bool Write(std::string_view key, std::string_view value) override;
    std::string Where() override;

    // Where the values live, for the README and for diagnostics.
    static std::string Location();
};

}  // namespace velindra
