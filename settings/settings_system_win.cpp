// clang-format off
#include <windows.h>
// clang-format on

#include <QSettings>
#include <memory>

#include "core/settings_keys.h"
#include "platform/utf16.h"
#include "settings/ini_text.h"
#include "settings/settings_system.h"

namespace velindra::settings_system {

namespace {

std::wstring KeyPath() {
    return L"Software\\" + Utf16(kSettingsApplication) + L"\\" + Utf16(kSettingsSection);
}

}  // namespace

// The registry's text value as it is: the toolkit would decode an "@Variant(...)" text into an
// object, which a hand-made value could make it crash on.
std::optional<std::string> ReadText(std::string_view key) {
    const std::wstring path = KeyPath(), name = Utf16(key);
    DWORD bytes = 0;
    if (RegGetValueW(HKEY_CURRENT_USER, path.c_str(), name.c_str(), RRF_RT_REG_SZ, nullptr, nullptr,
                     &bytes) != ERROR_SUCCESS)
        return std::nullopt;
    std::wstring text(bytes / sizeof(wchar_t) + 1, L'\0');
    bytes = static_cast<DWORD>(text.size() * sizeof(wchar_t));
    if (RegGetValueW(HKEY_CURRENT_USER, path.c_str(), name.c_str(), RRF_RT_REG_SZ, nullptr,
                     text.data(), &bytes) != ERROR_SUCCESS)
        return std::nullopt;
    text.resize(wcsnlen(text.c_str(), text.size()));
    return ini::Plain(QString::fromStdWString(text)).toStdString();
}

bool WriteText(std::string_view key, std::string_view value) {
    QSettings settings(
        QStringLiteral("HKEY_CURRENT_USER\\Software\\") + QString::fromUtf8(kSettingsApplication),
        QSettings::NativeFormat);
    settings.beginGroup(QString::fromUtf8(kSettingsSection));
    settings.setValue(ToQString(key), ToQString(value));
    settings.sync();
    return settings.status() == QSettings::NoError;
}

std::string Location() {
    return "\\HKEY_CURRENT_USER\\Software\\" + std::string(kSettingsApplication);
}

}  // namespace velindra::settings_system
