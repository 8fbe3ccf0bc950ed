// Names and defaults of the four persisted options; what their stored texts mean is read in
// finish_action.cpp and run_options.cpp.
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

// What each reader assumes when a key is missing (stored texts, as finish_action.cpp and
// run_options.cpp read them). The batch run and the settings window differ for onError only;
// both treat everything but "ignore" as "report failures".
struct SettingsDefaults {
    const char* onFinish;
    const char* onError;
    const char* onStart;
    const char* fileName;
};
inline constexpr SettingsDefaults kBatchDefaults{"select", "msg", "", "dn"};
inline constexpr SettingsDefaults kWindowDefaults{"select", "", "", "dn"};

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
