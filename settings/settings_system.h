// Where the settings live on each system, one implementation per system: a file in the user's
// configuration folder (settings_system_posix.cpp), the user's registry (settings_system_win.cpp).
// Every value is read as the plain text it is.
#pragma once

#include <QString>
#include <optional>
#include <string>
#include <string_view>

namespace velindra::settings_system {

// The text stored under the key in section "Velindra" of application "Tessmir"; nothing when
// there is none, or none that can be read as a text.
std::optional<std::string> ReadText(std::string_view key);
// Whether the text was stored.
bool WriteText(std::string_view key, std::string_view value);
std::string Location();

inline QString ToQString(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace velindra::settings_system
