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

// Every test gets a configuration folder of its own; the user's real one is never touched.
class SettingsStoreTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        setenv("XDG_CONFIG_HOME", dir.path().toUtf8().constData(), 1);
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir.path());
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, dir.path());
    }
    std::string File() const { return QtSettingsStore::Location(); }
    QTemporaryDir dir;
    QtSettingsStore store;
};

TEST_F(SettingsStoreTest, LivesInTheConfigurationFolder) {
    EXPECT_EQ(File(), dir.path().toStdString() + "/Tessmir.conf");
}

TEST_F(SettingsStoreTest, MissingKeysGiveTheReadersDefault) {
    EXPECT_EQ(store.Read("onError", "msg"), "msg");
    EXPECT_EQ(store.Read("onError", ""), "");
    EXPECT_EQ(store.Read("onStart", ""), "");
}

TEST_F(SettingsStoreTest, WrittenValuesRoundTripExactly) {
    const std::vector<std::string> samples = {"select",     "",    "D:\\Seeds\\", "/srv/种子/a,b",
                                              "  spaced  ", "@at", "a;b=c",       "Open"};
    for (const auto& value : samples) {
        store.Write("onStart", value);
        EXPECT_EQ(store.Read("onStart", "default"), value);
    }
}

TEST_F(SettingsStoreTest, EveryReadSeesChangesMadeOnDisk) {
    store.Write("onFinish", "open");
    EXPECT_EQ(store.Read("onFinish", "select"), "open");
    {
        std::ofstream out(File(), std::ios::trunc);
        out << "[Velindra]\nonFinish=poi\n";
    }
    EXPECT_EQ(store.Read("onFinish", "select"), "poi");
}

TEST_F(SettingsStoreTest, CorruptOrUnreadableStoreFallsBackToDefaults) {
    {
        std::ofstream out(File(), std::ios::binary);
        out << std::string("\0\xff[Velindra\n=\n[[]]\nonFinish\n\x01\x02", 24);
    }
    EXPECT_EQ(store.Read("onFinish", "select"), "select");
    store.Write("onError", "ignore");  // must not crash

    QFile::setPermissions(QString::fromStdString(File()), QFileDevice::Permissions());
    EXPECT_EQ(store.Read("fileName", "dn"), "dn");
    store.Write("fileName", "btih");  // may not persist, but must not fail towards us
}

TEST_F(SettingsStoreTest, HandEditedListValueReadsAsItsText) {
    {
        std::ofstream out(File());
        out << "[Velindra]\nonStart=/a,b\n";
    }
    EXPECT_EQ(store.Read("onStart", ""), "/a,b");
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
    const char* found = std::getenv("HOME");
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(std::string(found), getpwuid(getuid())->pw_dir);
    setenv("HOME", home.c_str(), 1);
}

}  // namespace
}  // namespace velindra
