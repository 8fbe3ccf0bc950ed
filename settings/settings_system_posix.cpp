#include <QIODevice>
#include <QMap>
#include <QSettings>
#include <QStandardPaths>
#include <memory>

#include "file_reading.h"
#include "ini_text.h"
#include "settings_keys.h"
#include "settings_system.h"

namespace velindra::settings_system {

namespace {

// The file as the toolkit's INI files are, but with every value kept as the bytes the file
// holds (a QByteArray) until it is read as plain text, and written back unchanged: nothing in
// the file is ever decoded into an object.
bool ReadFile(QIODevice& device, QSettings::SettingsMap& map) {
    for (const ini::Entry& entry : ini::Read(device.readAll())) {
        const QString key = QString::fromUtf8(entry.key);
        map.insert(entry.section.isEmpty() ? key : QString::fromUtf8(entry.section) + u'/' + key,
                   entry.value);
    }
    return true;
}

bool WriteFile(QIODevice& device, const QSettings::SettingsMap& map) {
    QMap<QString, QByteArray> sections;  // the General section, "", first
    for (auto it = map.constBegin(); it != map.constEnd(); ++it) {
        const qsizetype slash = it.key().indexOf(u'/');
        const QString section = slash < 0 ? QString() : it.key().left(slash);
        const QString key = it.key().mid(slash + 1);
        const QVariant& value = it.value();
        const QByteArray text = value.typeId() == QMetaType::QByteArray
                                    ? value.toByteArray()
                                    : ini::Escaped(value.toString());
        sections[section] += key.toUtf8() + '=' + text + '\n';
    }
    QByteArray file;
    for (auto it = sections.constBegin(); it != sections.constEnd(); ++it) {
        if (!file.isEmpty())
            file += '\n';
        file += '[' + (it.key().isEmpty() ? QByteArray("General") : it.key().toUtf8()) + "]\n";
        file += it.value();
    }
    return device.write(file) == file.size();
}

QSettings::Format PlainTextFormat() {
    static const QSettings::Format format =
        QSettings::registerFormat(QStringLiteral("conf"), ReadFile, WriteFile);
    return format;
}

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

std::unique_ptr<QSettings> OpenStore() {
    auto settings = std::make_unique<QSettings>(StoreFile(), PlainTextFormat());
    settings->beginGroup(QString::fromUtf8(kSettingsSection));
    return settings;
}

// Without a configuration folder or a home of the user's own, the toolkit would fall back to
// the root of the file system; nothing is written there.
bool HasOwnConfigFolder() {
    const QByteArray config = qgetenv("XDG_CONFIG_HOME");
    const QByteArray home = qgetenv("HOME");
    return config.startsWith('/') || (home.startsWith('/') && home != "/");
}

}  // namespace

std::optional<std::string> ReadText(std::string_view key) {
    if (!StoreUsable())
        return std::nullopt;
    const QVariant value = OpenStore()->value(ToQString(key));
    if (value.typeId() == QMetaType::QByteArray)
        return ini::Text(value.toByteArray()).toStdString();
    if (value.typeId() == QMetaType::QString)  // written by this program a moment ago
        return value.toString().toStdString();
    return std::nullopt;
}

bool WriteText(std::string_view key, std::string_view value) {
    if (!HasOwnConfigFolder() || !StoreUsable())
        return false;
    const std::unique_ptr<QSettings> settings = OpenStore();
    settings->setValue(ToQString(key), ToQString(value));
    settings->sync();
    return settings->status() == QSettings::NoError;
}

std::string Location() {
    return StoreFile().toStdString();
}

}  // namespace velindra::settings_system
