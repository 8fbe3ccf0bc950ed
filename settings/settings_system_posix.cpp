#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>
#include <optional>

#include "file_reading.h"
#include "ini_text.h"
#include "settings_keys.h"
#include "settings_system.h"

namespace velindra::settings_system {

namespace {

QString StoreFile() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QLatin1Char('/') + QString::fromUtf8(kSettingsApplication) + QStringLiteral(".conf");
}

// Far more than four short values.
constexpr size_t kMaxStoreBytes = 1u << 20;

// A settings file that is not a regular file of sensible size is never opened.
bool StoreUsable() {
    return SafeToRead(StoreFile().toStdString(), kMaxStoreBytes);
}

// The file's bytes; empty when there is none yet. Nothing when it cannot be read.
std::optional<QByteArray> ReadStore() {
    std::string bytes;
    if (!ReadRegularFile(StoreFile().toStdString(), kMaxStoreBytes, bytes).ok())
        return QFile::exists(StoreFile()) ? std::nullopt : std::optional<QByteArray>(QByteArray());
    return QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

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
    if (!StoreUsable())
        return std::nullopt;
    const std::optional<QByteArray> file = ReadStore();
    if (!file)
        return std::nullopt;
    std::optional<std::string> value;
    for (const ini::Entry& entry : ini::Read(*file)) {
        if (entry.section == kSettingsSection && entry.key == QByteArrayView(key))
            value = ini::Text(entry.value).toStdString();  // the last one counts
    }
    return value;
}

bool WriteText(std::string_view key, std::string_view value) {
    if (!HasOwnConfigFolder() || !StoreUsable())
        return false;
    const std::optional<QByteArray> file = ReadStore();
    if (!file)
        return false;
    const QByteArray updated = ini::WithValue(*file, kSettingsSection, QByteArrayView(key),
                                              ini::Escaped(ToQString(value)));
    QDir().mkpath(QFileInfo(StoreFile()).path());
    QSaveFile out(StoreFile());
    return out.open(QIODevice::WriteOnly) && out.write(updated) == updated.size() && out.commit();
}

std::string Location() {
    return StoreFile().toStdString();
}

}  // namespace velindra::settings_system
