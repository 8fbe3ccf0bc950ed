// One value of a file in the toolkit's INI format, read and written as text (see ini_text.h):
// nothing is decoded into an object, and writing leaves every other byte of the file as it was.
#pragma once

#include <QByteArrayView>
#include <QString>
#include <cstddef>
#include <optional>

namespace velindra::ini {

// The text of `key` in `section` ("General" for the keys outside any section), the last one
// when the file has several; nothing when the file or the key is missing, or when the file is
// not a regular file of at most `maxBytes`.
std::optional<QString> ReadValue(const QString& path, QByteArrayView section, QByteArrayView key,
                                 size_t maxBytes);

// Sets `key` in `section`, the file replaced whole once the new one is written (its folder made
// when missing); false when it could not be, or when what is there is not a regular file of at
// most `maxBytes`.
bool WriteValue(const QString& path, QByteArrayView section, QByteArrayView key,
                const QString& value, size_t maxBytes);

}  // namespace velindra::ini
