#include "settings/qt_settings_store.h"

#include "settings/settings_system.h"

namespace velindra {

std::string QtSettingsStore::Read(std::string_view key, std::string_view defaultValue) {
    return settings_system::ReadText(key).value_or(std::string(defaultValue));
}

bool QtSettingsStore::Write(std::string_view key, std::string_view value) {
    return settings_system::WriteText(key, value);
}

std::string QtSettingsStore::Location() {
    return settings_system::Location();
}

std::string QtSettingsStore::Where() {
    return Location();
}

}  // namespace velindra
