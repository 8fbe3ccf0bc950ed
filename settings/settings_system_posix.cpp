#include <QStandardPaths>
#include <optional>

#include "core/settings_keys.h"
#include "settings/ini_file.h"
#include "settings/settings_system.h"

namespace velindra::settings_system {

namespace {

QString StoreFile() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QLatin1Char('/') + QString::fromUtf8(kSettingsApplication) + QStringLiteral(".conf");
}

// Far more than four short values.
constexpr size_t kMaxStoreBytes = 1u << 20;

// Without a configuration folder or a home of the user's own, the toolkit would fall back to
// the root of the file system; nothing is written there.
bool HasOwnConfigFolder() {
    const QByteArray config = qgetenv("XDG_CONFIG_HOME");
    const QByteArray home = qgetenv("HOME");
    return config.startsWith('/') || (home.startsWith('/') && home != "/");
}

}  // namespace

// The file is read and written as the toolkit's INI files are, but as text: every value is the
// plain text it holds (nothing is ever decoded into an object), and writing a value changes
// that value's line alone, leaving every other byte of the file as it was.
std::optional<std::string> ReadText(std::string_view key) {
    const std::optional<QString> value =
        ini::ReadValue(StoreFile(), kSettingsSection, QByteArrayView(key), kMaxStoreBytes);
    return value ? std::optional<std::string>(value->toStdString()) : std::nullopt;
}

bool WriteText(std::string_view key, std::string_view value) {
    return HasOwnConfigFolder() &&
           ini::WriteValue(StoreFile(), kSettingsSection, QByteArrayView(key), ToQString(value),
                           kMaxStoreBytes);
}

std::string Location() {
    return StoreFile().toStdString();
}

}  // namespace velindra::settings_system
