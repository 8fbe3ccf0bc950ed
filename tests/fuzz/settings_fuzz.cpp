// libFuzzer target for the settings file: any file is read without crashing, and a value
// written into it reads back as that value, every other value as it was.
#include <QByteArray>
#include <QString>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "settings/ini_text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    // The first line is the value to write, the rest the file it goes into.
    const size_t cut = input.find('\n');
    const std::string_view valueBytes = input.substr(0, cut);
    const std::string_view fileBytes = cut == std::string_view::npos ? "" : input.substr(cut + 1);
    const QByteArray file(fileBytes.data(), static_cast<qsizetype>(fileBytes.size()));
    const QString value =
        QString::fromUtf8(valueBytes.data(), static_cast<qsizetype>(valueBytes.size()));
    const std::vector<velindra::ini::Entry> before = velindra::ini::Read(file);
    for (const velindra::ini::Entry& entry : before)
        velindra::ini::Text(entry.value);
    const auto updated =
        velindra::ini::WithValue(file, "Velindra", "onStart", velindra::ini::Escaped(value));
    if (!updated)
        return 0;
    int found = 0;
    for (const velindra::ini::Entry& entry : velindra::ini::Read(*updated)) {
        if (entry.section == "Velindra" && entry.key == "onStart" &&
            (++found, velindra::ini::Text(entry.value) != value))
            std::abort();
    }
    if (found == 0)
        std::abort();
    return 0;
}
