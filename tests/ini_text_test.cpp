// The settings file's text as the toolkit's own INI files have it: what is read from it, how a
// text is written so that it reads back as itself, and a key set with every other byte kept.
#include "settings/ini_text.h"

#include <gtest/gtest.h>

namespace velindra::ini {
namespace {

QByteArray Bytes(const char* text) {
    return QByteArray(text);
}

TEST(IniTextTest, ValuesReadAsTheToolkitReadsThem) {
    struct Case {
        const char* value;  // as the file has it
        const char* text;   // what it stands for
    } cases[] = {
        {"plain", "plain"},
        {"\"a, b\"", "a, b"},
        {"a, b", "a,b"},  // a list of two texts
        {"\"C:\\\\TDDownload\"", "C:\\TDDownload"},
        {"tab\\there", "tab\there"},
        {"@@at", "@at"},
        {"@String(held)", "held"},
        {"@Variant(QPoint)", "@Variant(QPoint)"},  // never decoded into an object
        {"\\x4e2d\\x6587", "中文"},
        {"", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Text(c.value).toStdString(), c.text) << c.value;
}

TEST(IniTextTest, EveryTextReadsBackAsItself) {
    for (const char* text : {"plain", " leading and trailing ", "a,b", "@at", "@@", "@String(x)",
                             "中文 路径", "semi;colon", "quote\"", "back\\slash", "tab\t",
                             "new\nline", "=equals", "#hash", "[section]", ""}) {
        const QString original = QString::fromUtf8(text);
        EXPECT_EQ(Text(Escaped(original)), original) << text;
        const std::optional<QByteArray> file = WithValue("", "General", "k", Escaped(original));
        ASSERT_TRUE(file) << text;
        const std::vector<Entry> entries = Read(*file);
        ASSERT_EQ(entries.size(), 1u) << file->toStdString();
        EXPECT_EQ(Text(entries[0].value), original) << file->toStdString();
    }
}

TEST(IniTextTest, OneKeySetAndEveryOtherByteKept) {
    struct Case {
        const char* file;
        const char* section;
        const char* expected;
    } cases[] = {
        // A key the section has is replaced where it stands; comments and order stay.
        {"; mine\n[General]\nk=old\nother=1\n", "General", "; mine\n[General]\nk=new\nother=1\n"},
        // Outside any section: the General section's keys.
        {"k=old\n[A]\nk=1\n", "", "k=new\n[A]\nk=1\n"},
        // Another section's key of that name is left as it is.
        {"[A]\nk=1\n[B]\nx=2\n", "B", "[A]\nk=1\n[B]\nx=2\nk=new\n"},
        // Windows line ends are kept.
        {"[General]\r\nk=old\r\n", "General", "[General]\r\nk=new\r\n"},
    };
    for (const Case& c : cases) {
        const std::optional<QByteArray> file = WithValue(c.file, c.section, "k", "new");
        ASSERT_TRUE(file) << c.file;
        EXPECT_EQ(file->toStdString(), c.expected) << c.file;
    }
    // A section the file lacks goes at its end, the file's own text untouched before it.
    const std::optional<QByteArray> added = WithValue("[A]\nx=1\n", "B", "k", "new");
    ASSERT_TRUE(added);
    EXPECT_TRUE(added->startsWith(Bytes("[A]\nx=1\n"))) << added->toStdString();
    const std::vector<Entry> entries = Read(*added);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[1].section, Bytes("B"));
    EXPECT_EQ(entries[1].value, Bytes("new"));
}

}  // namespace
}  // namespace velindra::ini
