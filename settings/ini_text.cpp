#include "settings/ini_text.h"

#include <QStringList>
#include <iterator>
#include <tuple>

#include "core/links.h"

namespace velindra::ini {

namespace {

enum Trait { kSpace = 1, kSpecial = 2 };

int Traits(char c) {
    switch (c) {
        case '\t':
        case ' ':
            return kSpace;
        case '\n':
        case '\r':
            return kSpace | kSpecial;
        case '"':
        case ';':
        case '=':
        case '\\':
            return kSpecial;
        default:
            return 0;
    }
}

// The next line from `pos`: where it starts, how long it is, and where its first "=" outside
// quotes is (-1 for none). A quoted value may span lines, a backslash continues one, and a
// line that starts with ";" is a comment. False once no line is left.
bool NextLine(QByteArrayView data, qsizetype& pos, qsizetype& start, qsizetype& length,
              qsizetype& equals) {
    const qsizetype n = data.size();
    bool inQuotes = false;
    equals = -1;
    start = pos;
    while (start < n && (Traits(data[start]) & kSpace))
        ++start;
    qsizetype i = start;
    while (i < n) {
        char ch = data[i];
        while (!(Traits(ch) & kSpecial)) {
            if (++i == n)
                goto done;
            ch = data[i];
        }
        ++i;
        if (ch == '=') {
            if (!inQuotes && equals == -1)
                equals = i - 1;
        } else if (ch == '\n' || ch == '\r') {
            if (i == start + 1) {
                ++start;
            } else if (!inQuotes) {
                --i;
                goto done;
            }
        } else if (ch == '\\') {
            if (i < n) {
                const char next = data[i++];
                if (i < n) {
                    const char after = data[i];
                    if ((next == '\n' && after == '\r') || (next == '\r' && after == '\n'))
                        ++i;
                }
            }
        } else if (ch == '"') {
            inQuotes = !inQuotes;
        } else {  // ';'
            if (i == start + 1) {
                while (i < n && data[i] != '\n' && data[i] != '\r')
                    ++i;
                while (i < n && (Traits(data[i]) & kSpace))
                    ++i;
                start = i;
            } else if (!inQuotes) {
                --i;
                goto done;
            }
        }
    }
done:
    pos = i;
    length = i - start;
    return length > 0;
}

void ChopTrailingSpaces(QString& text, qsizetype limit) {
    while (text.size() > limit && (text.back() == u' ' || text.back() == u'\t'))
        text.chop(1);
}

bool IsHex(char c) {
    return HexDigitValue(c) >= 0;
}

// The one-letter escapes, and the characters they stand for; the last two are read, never
// written.
constexpr char kEscapes[][2] = {{'a', '\a'},  {'b', '\b'}, {'f', '\f'}, {'n', '\n'},
                                {'r', '\r'},  {'t', '\t'}, {'v', '\v'}, {'"', '"'},
                                {'\\', '\\'}, {'?', '?'},  {'\'', '\''}};

// The letter that escapes a character when it is written; none for most.
char EscapeLetter(char16_t ch) {
    for (size_t k = 0; k + 2 < std::size(kEscapes); ++k) {
        if (ch == static_cast<unsigned char>(kEscapes[k][1]))
            return kEscapes[k][0];
    }
    return 0;
}

// What the escape after a backslash stands for (i at the character after it, moved past the
// escape): a character, or nothing for a line continued.
QString Escape(QByteArrayView s, qsizetype& i) {
    const qsizetype n = s.size();
    const char e = s[i++];
    for (const auto& [code, value] : kEscapes) {
        if (e == code)
            return QString(QLatin1Char(value));
    }
    if (e == 'x' && i < n && IsHex(s[i])) {
        char16_t value = 0;
        while (i < n && IsHex(s[i]))
            value = static_cast<char16_t>((value << 4) + HexDigitValue(s[i++]));
        return QString(QChar(value));
    }
    if (e >= '0' && e <= '7') {
        char16_t value = static_cast<char16_t>(e - '0');
        while (i < n && s[i] >= '0' && s[i] <= '7')
            value = static_cast<char16_t>((value << 3) + (s[i++] - '0'));
        return QString(QChar(value));
    }
    if ((e == '\n' || e == '\r') && i < n && (s[i] == '\n' || s[i] == '\r') && s[i] != e)
        ++i;  // a continued line
    return {};
}

// The texts an escaped value holds: one, or several separated by unquoted commas.
QStringList Unescaped(QByteArrayView s) {
    const qsizetype n = s.size();
    QStringList list;
    QString text;
    bool inQuotes = false;
    bool quoted = false;  // the current text had quotes: its trailing spaces are its own
    qsizetype i = 0;
    const auto skipSpaces = [&] {
        while (i < n && (s[i] == ' ' || s[i] == '\t'))
            ++i;
    };
    skipSpaces();
    qsizetype chopLimit = 0;
    bool chop = true;  // a value that ends in a backslash keeps its spaces
    while (i < n) {
        const char c = s[i];
        if (c == '\\') {
            if (++i >= n) {
                chop = false;
                break;
            }
            text += Escape(s, i);
            chopLimit = text.size();
        } else if (c == '"') {
            ++i;
            quoted = true;
            inQuotes = !inQuotes;
            if (!inQuotes) {
                skipSpaces();
                chopLimit = text.size();
            }
        } else if (c == ',' && !inQuotes) {
            if (!quoted)
                ChopTrailingSpaces(text, chopLimit);
            list.append(text);
            text.clear();
            quoted = false;
            ++i;
            skipSpaces();
            chopLimit = 0;
        } else {
            qsizetype j = i + 1;
            while (j < n && s[j] != '\\' && s[j] != '"' && s[j] != ',')
                ++j;
            text += QString::fromUtf8(s.sliced(i, j - i));
            i = j;
        }
    }
    if (!quoted && chop)
        ChopTrailingSpaces(text, chopLimit);
    list.append(text);
    return list;
}

}  // namespace

QString Plain(const QString& text) {
    if (text.startsWith(QLatin1String("@@")))
        return text.mid(1);
    if (text.startsWith(QLatin1String("@String(")) && text.endsWith(u')'))
        return text.mid(8, text.size() - 9);
    return text;
}

namespace {

// One line of the file as the reader takes it: a section's header or a "key=value" entry, with
// where it lies in the file (a line continued or quoted over several counts as one).
struct Line {
    bool header = false;
    Entry
        entry;  // the section it is in (for a header: its own), and for an entry its key and value
    qsizetype start = 0, end = 0;
};

// The section a header's line names, as the reader calls it ("" for General).
QByteArray SectionName(QByteArrayView name) {
    QByteArray section = name.trimmed().toByteArray();
    if (section.compare("general", Qt::CaseInsensitive) == 0)
        section.clear();
    return section;
}

std::vector<Line> Lines(QByteArrayView data) {
    std::vector<Line> lines;
    QByteArray section;
    qsizetype pos = data.startsWith("\xEF\xBB\xBF") ? 3 : 0;  // a UTF-8 byte-order mark
    qsizetype start = 0, length = 0, equals = -1;
    while (NextLine(data, pos, start, length, equals)) {
        const QByteArrayView line = data.sliced(start, length);
        if (line.startsWith('[')) {
            qsizetype close = line.indexOf(']');
            if (close < 0)
                close = length;
            section = SectionName(line.first(close).sliced(1));
            lines.push_back({true, {section, {}, {}}, start, start + length});
            continue;
        }
        if (equals < 0)
            continue;  // a comment, or a line that holds no value
        const qsizetype at = equals - start;
        lines.push_back(
            {false,
             {section, line.first(at).trimmed().toByteArray(), line.sliced(at + 1).toByteArray()},
             start,
             start + length});
    }
    return lines;
}

// Every entry's section, key and text but those of one key.
std::vector<std::tuple<QByteArray, QByteArray, QString>> Others(QByteArrayView data,
                                                                const QByteArray& section,
                                                                QByteArrayView key) {
    std::vector<std::tuple<QByteArray, QByteArray, QString>> others;
    for (const Entry& e : Read(data)) {
        if (e.section != section || e.key != key)
            others.emplace_back(e.section, e.key, Text(e.value));
    }
    return others;
}

}  // namespace

std::vector<Entry> Read(QByteArrayView data) {
    std::vector<Entry> entries;
    for (Line& line : Lines(data)) {
        if (!line.header)
            entries.push_back(std::move(line.entry));
    }
    return entries;
}

std::optional<QByteArray> WithValue(QByteArrayView file, QByteArrayView section, QByteArrayView key,
                                    QByteArrayView escaped) {
    const QByteArray wanted = SectionName(section);
    const QByteArray line = key.toByteArray() + '=' + escaped.toByteArray();
    // The file as the reader reads it: every entry of the key in that section replaced where it
    // stands, or a new one after the section's last line.
    QByteArray out;
    qsizetype copied = 0, last = -1;
    bool replaced = false;
    for (const Line& l : Lines(file)) {
        if (l.entry.section != wanted)
            continue;
        last = l.end;
        if (l.header || l.entry.key != key)
            continue;
        out += file.sliced(copied, l.start - copied).toByteArray() + line;
        copied = l.end;
        replaced = true;
    }
    out += file.sliced(copied).toByteArray();
    if (!replaced && last >= 0) {
        // After a comment that ends the section's last line, not before it.
        qsizetype at = last;
        while (at < out.size() && (out[at] == ' ' || out[at] == '\t'))
            ++at;
        if (at < out.size() && out[at] == ';') {
            while (at < out.size() && out[at] != '\n' && out[at] != '\r')
                ++at;
            last = at;
        }
        out.insert(last, '\n' + line);
    } else if (!replaced) {
        if (!out.isEmpty() && !out.endsWith('\n'))
            out += '\n';
        if (!out.isEmpty())
            out += '\n';
        out += '[' + (wanted.isEmpty() ? QByteArray("General") : wanted) + "]\n" + line + '\n';
    }
    // What the reader makes of it: this value, and every other one as it was.
    std::optional<QString> value;
    for (const Entry& e : Read(out)) {
        if (e.section == wanted && e.key == key)
            value = Text(e.value);
    }
    if (value != Text(escaped) || Others(out, wanted, key) != Others(file, wanted, key))
        return std::nullopt;
    return out;
}

QString Text(QByteArrayView value) {
    QStringList texts = Unescaped(value);
    for (QString& text : texts)
        text = Plain(text);
    return texts.join(u',');
}

QByteArray Escaped(const QString& given) {
    QString text = given;
    if (text.contains(QChar::Null))
        text = QStringLiteral("@String(") + text + u')';
    else if (text.startsWith(u'@'))
        text.prepend(u'@');
    QByteArray out;
    bool needsQuotes = false;
    bool escapeNextIfDigit = false;  // after "\x.." or "\0", a hex digit would join the escape
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t ch = text[i].unicode();
        if (ch == ';' || ch == ',' || ch == '=')
            needsQuotes = true;
        if (escapeNextIfDigit && ch < 0x80 && IsHex(static_cast<char>(ch))) {
            out += "\\x" + QByteArray::number(ch, 16);
            continue;
        }
        escapeNextIfDigit = false;
        if (const char letter = EscapeLetter(ch)) {
            out += '\\';
            out += letter;
        } else if (ch <= 0x1F || ch == 0xFEFF) {  // "\0" for NUL, "\x.." for the rest
            // U+FEFF raw would be read as a byte-order mark at the start of a run, and dropped.
            out += ch == 0 ? QByteArray("\\0") : "\\x" + QByteArray::number(ch, 16);
            escapeNextIfDigit = true;
        } else {
            const bool pair =
                QChar::isHighSurrogate(ch) && i + 1 < text.size() && text[i + 1].isLowSurrogate();
            out += QStringView(text).sliced(i, pair ? 2 : 1).toUtf8();
            i += pair ? 1 : 0;
        }
    }
    if (needsQuotes || (!out.isEmpty() && (out.front() == ' ' || out.back() == ' ')))
        out = '"' + out + '"';
    return out;
}

}  // namespace velindra::ini
