// Names, stored values and defaults of the four persisted options.
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

namespace values {
inline constexpr const char* kSelect = "select";
inline constexpr const char* kOpen = "open";
inline constexpr const char* kReveal = "poi";
inline constexpr const char* kNothing = "none";
inline constexpr const char* kMessage = "msg";
inline constexpr const char* kIgnore = "ignore";
inline constexpr const char* kDisplayName = "dn";
inline constexpr const char* kInfoHash = "btih";
}  // namespace values

// What each reader assumes when a key is missing. The batch run and the settings window
// differ for onError only; both treat everything but "ignore" as "report failures".
struct SettingsDefaults {
    const char* onFinish;
    const char* onError;
    const char* onStart;
    const char* fileName;
};
inline constexpr SettingsDefaults kBatchDefaults{"select", "msg", "", "dn"};
inline constexpr SettingsDefaults kWindowDefaults{"select", "", "", "dn"};

// The per-user store of text values under application "Tessmir", section "Velindra".
// Implementations never fail towards their callers: a missing or unreadable value
// yields the default.
class SettingsStore {
  public:
    virtual ~SettingsStore() = default;
    virtual std::string Read(std::string_view key, std::string_view defaultValue) = 0;
    virtual void Write(std::string_view key, std::string_view value) = 0;
};

}  // namespace velindra
