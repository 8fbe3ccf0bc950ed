// Where the persisted options live, and their names; each is declared, with its defaults and
// texts, in the table of run_options.cpp.
#pragma once

#include <string>
#include <string_view>

namespace velindra {

inline constexpr const char* kSettingsApplication = "Tessmir";
inline constexpr const char* kSettingsSection = "Velindra";

namespace keys {
inline constexpr const char* kOnFinish = "onFinish";
inline constexpr const char* kOnError = "onError";
inline constexpr const char* kOnStart = "onStart";
inline constexpr const char* kFileName = "fileName";
}  // namespace keys

// The per-user store of text values under application "Tessmir", section "Velindra". A
// missing or unreadable value yields the default; Write says whether the value was stored.
class SettingsStore {
  public:
    virtual ~SettingsStore() = default;
    virtual std::string Read(std::string_view key, std::string_view defaultValue) = 0;
    virtual bool Write(std::string_view key, std::string_view value) = 0;
    // Where the values live, for a message about them.
    virtual std::string Where() { return {}; }
};

}  // namespace velindra
