// The settings store on QSettings, in a configuration folder of the test's own.
#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <cstdlib>
#include <fstream>

#include "process_setup.h"
#include "qt_settings_store.h"

namespace velindra {
namespace {

class SettingsStoreTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        setenv("XDG_CONFIG_HOME", dir.path().toUtf8().constData(), 1);
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir.path());
    }
    void Edit(const std::string& text) { std::ofstream(File(), std::ios::binary) << text; }
    std::string File() const { return QtSettingsStore::Location(); }
    QTemporaryDir dir;
    QtSettingsStore store;
};

TEST_F(SettingsStoreTest, ValuesRoundTripExactlyAndMissingOnesGiveTheDefault) {
    EXPECT_EQ(File(), dir.path().toStdString() + "/Tessmir.conf");
    EXPECT_EQ(store.Read("onError", "msg"), "msg");
    EXPECT_EQ(store.Read("onError", ""), "");
    for (const std::string value :
         {"select", "", "D:\\Seeds\\", "/srv/种子/a,b", "  spaced  ", "@at", "a;b=c", "Open"}) {
        store.Write("onStart", value);
        EXPECT_EQ(store.Read("onStart", "default"), value);
    }
}

// Every read sees the file as it is now, edited by hand too; a list-looking value is its text.
TEST_F(SettingsStoreTest, EveryReadSeesTheFileAsItIsNow) {
    store.Write("onFinish", "open");
    Edit("[Velindra]\nonFinish=poi\nonStart=/a,b\n");
    EXPECT_EQ(store.Read("onFinish", "select"), "poi");
    EXPECT_EQ(store.Read("onStart", ""), "/a,b");
}

TEST_F(SettingsStoreTest, CorruptOrUnreadableStoreFallsBackToDefaults) {
    Edit(std::string("\0\xff[Velindra\n=\n[[]]\nonFinish\n\x01\x02", 24));
    EXPECT_EQ(store.Read("onFinish", "select"), "select");
    store.Write("onError", "ignore");  // must not crash
    QFile::setPermissions(QString::fromStdString(File()), QFileDevice::Permissions());
    EXPECT_EQ(store.Read("fileName", "dn"), "dn");
    store.Write("fileName", "btih");  // may not persist, but must not fail towards us
}

// Started without HOME or XDG_CONFIG_HOME (some service managers do that), the program must
// not put its settings at the root of the file system: HOME comes from the password
// database, and with no home of its own nothing is written.
TEST_F(SettingsStoreTest, WithoutAHomeNothingIsWrittenOutsideIt) {
    const std::string home = std::getenv("HOME") ? std::getenv("HOME") : "";
    unsetenv("XDG_CONFIG_HOME");
    setenv("HOME", "/", 1);
    store.Write("onFinish", "open");
    EXPECT_FALSE(QFile::exists(QString::fromStdString(File())));
    unsetenv("HOME");
    EnsureHomeFolder();
    ASSERT_NE(std::getenv("HOME"), nullptr);
    EXPECT_EQ(std::string(std::getenv("HOME")), getpwuid(getuid())->pw_dir);
    setenv("HOME", home.c_str(), 1);
}

}  // namespace
}  // namespace velindra
