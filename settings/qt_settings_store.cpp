#include "qt_settings_store.h"

#include <QSettings>
#include <QStandardPaths>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <memory>

#include "console.h"

namespace velindra {

namespace {

std::unique_ptr<QSettings> OpenStore() {
#ifdef _WIN32
    auto settings = std::make_unique<QSettings>(
        QStringLiteral("HKEY_CURRENT_USER\\Software\\") + QString::fromUtf8(kSettingsApplication),
        QSettings::NativeFormat);
#else
    auto settings = std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                                QString::fromUtf8(kSettingsApplication));
#endif
    settings->beginGroup(QString::fromUtf8(kSettingsSection));
    return settings;
}

QString ToQString(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// The settings file, when the store is one; it is looked at before QSettings opens it.
QString StoreFile() {
#ifdef _WIN32
    return {};  // the registry
#else
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QLatin1Char('/') + QString::fromUtf8(kSettingsApplication) + QStringLiteral(".conf");
#endif
}

// Far more than four short values.
constexpr size_t kMaxStoreBytes = 1u << 20;

bool StoreUsable() {
    const QString file = StoreFile();
    return file.isEmpty() || SafeToRead(file.toStdString(), kMaxStoreBytes);
}

}  // namespace

std::string QtSettingsStore::Read(std::string_view key, std::string_view defaultValue) {
    if (!StoreUsable())
        return std::string(defaultValue);
    const std::unique_ptr<QSettings> settings = OpenStore();
    const QVariant value = settings->value(ToQString(key));
    if (!value.isValid()) {
        return std::string(defaultValue);
    }
    if (value.typeId() == QMetaType::QStringList) {
        // An unquoted comma in a hand-edited file splits the text; put it back together.
        return value.toStringList().join(QLatin1Char(',')).toStdString();
    }
    if (!value.canConvert<QString>()) {
        return std::string(defaultValue);
    }
    return value.toString().toStdString();
}

// Without a configuration folder or a home of the user's own, Qt would fall back to the root
// of the file system; nothing is written there.
static bool HasOwnConfigFolder() {
#ifdef _WIN32
    return true;
#else
    const QByteArray config = qgetenv("XDG_CONFIG_HOME");
    const QByteArray home = qgetenv("HOME");
    return config.startsWith('/') || (home.startsWith('/') && home != "/");
#endif
}

bool QtSettingsStore::Write(std::string_view key, std::string_view value) {
    if (!HasOwnConfigFolder() || !StoreUsable())
        return false;
    const std::unique_ptr<QSettings> settings = OpenStore();
    settings->setValue(ToQString(key), ToQString(value));
    settings->sync();
    return settings->status() == QSettings::NoError;
}

std::string QtSettingsStore::Location() {
    if (const QString file = StoreFile(); !file.isEmpty())
        return file.toStdString();
    const std::unique_ptr<QSettings> settings = OpenStore();
    return settings->fileName().toStdString();
}

std::string QtSettingsStore::Where() {
    return Location();
}

}  // namespace velindra
