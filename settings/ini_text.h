// The settings file's text, read and written the way the toolkit's own INI files are, except
// that a value is never more than the text it holds: "@Variant(...)" and the like are not
// decoded into objects, which a hand-made value could make the decoder crash on.
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <optional>
#include <vector>

namespace velindra::ini {

// One "key=value" line as the file has it: the section's and the key's names as written
// (trimmed; "" for the General section), and the value's text still escaped.
struct Entry {
    QByteArray section;
    QByteArray key;
    QByteArray value;
};

// Every entry of the file, in the order written. Lines, quotes, comments and continuations are
// told apart as the toolkit's own reader does.
std::vector<Entry> Read(QByteArrayView data);

// A stored string as the toolkit reads it back: a leading "@@" is "@", "@String(x)" is x, and
// nothing else is decoded (the registry holds texts this way too).
QString Plain(const QString& text);

// The plain text an escaped value stands for: quotes and backslash escapes undone, a list of
// several texts joined with ",", a leading "@@" read as "@" and "@String(...)" as what it
// holds (Plain). Any other text, "@Variant(...)" included, is the text as it stands.
QString Text(QByteArrayView value);

// The file with one key of one section ("General" or "" for the keys outside any) set to
// `escaped` and every other byte as it was: comments, blank lines, the order of sections and
// keys, other sections' values. The file is taken apart as Read takes it: a key the section has
// is replaced where it stands (every time it appears); a new one goes after the section's last
// line, and a section the file lacks at its end. Nothing when the result would not read back
// as this value with every other value as it was.
std::optional<QByteArray> WithValue(QByteArrayView file, QByteArrayView section, QByteArrayView key,
                                    QByteArrayView escaped);

// A text as the toolkit writes a string value: escaped, quoted where it must be, and with a
// leading "@" doubled, so that the toolkit reads back exactly this text.
QByteArray Escaped(const QString& text);

}  // namespace velindra::ini
