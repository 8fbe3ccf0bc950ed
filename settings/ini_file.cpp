#include "settings/ini_file.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <string>

#include "platform/atomic_file.h"
#include "platform/file_reading.h"
#include "settings/ini_text.h"

namespace velindra::ini {

namespace {

// The file's bytes; empty when there is none yet. Nothing when it cannot be read, or is not a
// regular file of sensible size.
std::optional<QByteArray> ReadFile(const QString& path, size_t maxBytes) {
    if (!SafeToRead(path.toStdString(), maxBytes))
        return std::nullopt;
    std::string bytes;
    if (!ReadRegularFile(path.toStdString(), maxBytes, bytes).ok())
        return QFile::exists(path) ? std::nullopt : std::optional<QByteArray>(QByteArray());
    return QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

}  // namespace

std::optional<QString> ReadValue(const QString& path, QByteArrayView section, QByteArrayView key,
                                 size_t maxBytes) {
    const std::optional<QByteArray> file = ReadFile(path, maxBytes);
    if (!file)
        return std::nullopt;
    // The reader calls the keys outside any section "".
    const QByteArrayView wanted =
        section.compare("General", Qt::CaseInsensitive) == 0 ? QByteArrayView() : section;
    std::optional<QString> value;
    for (const Entry& entry : Read(*file)) {
        if (entry.section == wanted && entry.key == key)
            value = Text(entry.value);  // the last one counts
    }
    return value;
}

bool WriteValue(const QString& path, QByteArrayView section, QByteArrayView key,
                const QString& value, size_t maxBytes) {
    const std::optional<QByteArray> file = ReadFile(path, maxBytes);
    if (!file)
        return false;
    const std::optional<QByteArray> updated = WithValue(*file, section, key, Escaped(value));
    if (!updated)
        return false;  // the file would not read back as this value
    QDir().mkpath(QFileInfo(path).path());
    // Every write and the flush to disk are checked before the new file takes the old one's
    // place: on a full disk the old file stays as it was, byte for byte.
    AtomicFile out(path.toStdString());
    return out.Open().ok() &&
           out.Commit(std::string_view(updated->constData(), static_cast<size_t>(updated->size())))
               .ok();
}

}  // namespace velindra::ini
