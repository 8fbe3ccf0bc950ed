// The per-user settings store on QSettings.
#pragma once

#include <string>
#include <string_view>

#include "settings_keys.h"

namespace velindra {

// Stores the options under application "Tessmir", section "Velindra". On Linux that is the
// [Velindra] group of $XDG_CONFIG_HOME/Tessmir.conf (~/.config/Tessmir.conf); on Windows the
// per-user registry key under which earlier Windows releases kept the same four values, so
// that a user's stored options carry over. Every Read goes to the store afresh.
class QtSettingsStore : public SettingsStore {
  public:
    std::string Read(std::string_view key, std::string_view defaultValue) override;
    void Write(std::string_view key, std::string_view value) override;

    // Where the values live, for the README and for diagnostics.
    static std::string Location();
};

}  // namespace velindra
