#include "platform/known_folders.h"

#include <pwd.h>
#include <unistd.h>

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include "tests/plugin/lifecycle/test_environment.h"

namespace {

class KnownFolders : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_folders.isValid()); }

    void writeUserDirs(const QString& text) {
        QFile file(m_folders.configHome() + QStringLiteral("/user-dirs.dirs"));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(text.toUtf8());
    }

    std::string home() const { return m_folders.home().toStdString(); }

    orvanta::test::IsolatedUserFolders m_folders;
};

TEST_F(KnownFolders, ExecutableSuffixIsEmptyOnLinux) {
    EXPECT_STREQ(xel::platform::executableSuffix(), "");
}

TEST_F(KnownFolders, WithoutXdgEntryThePublicFolderOfHomeIsUsed) {
    EXPECT_EQ(xel::platform::publicDocumentsFolder(), home() + "/Public");
}

TEST_F(KnownFolders, EnvironmentVariableWinsOverUserDirsFile) {
    writeUserDirs(QStringLiteral("XDG_PUBLICSHARE_DIR=\"$HOME/FromFile\"\n"));
    qputenv("XDG_PUBLICSHARE_DIR", "/srv/shared/");
    EXPECT_EQ(xel::platform::publicDocumentsFolder(), "/srv/shared");
}

TEST_F(KnownFolders, EnvironmentVariableExpandsHome) {
    qputenv("XDG_PUBLICSHARE_DIR", "$HOME/Öffentlich");
    EXPECT_EQ(xel::platform::publicDocumentsFolder(), home() + "/Öffentlich");
}

TEST_F(KnownFolders, RelativeEnvironmentValueIsIgnored) {
    writeUserDirs(QStringLiteral("XDG_PUBLICSHARE_DIR=\"$HOME/FromFile\"\n"));
    qputenv("XDG_PUBLICSHARE_DIR", "Shared");
    EXPECT_EQ(xel::platform::publicDocumentsFolder(), home() + "/FromFile");
}

TEST_F(KnownFolders, UserDirsFileInConfigHomeIsRead) {
    writeUserDirs(
        QStringLiteral("# written by a tool\n"
                       "XDG_DESKTOP_DIR=\"$HOME/Desktop\"\n"
                       "#XDG_PUBLICSHARE_DIR=\"$HOME/Commented\"\n"
                       "XDG_PUBLICSHARE_DIR=\"$HOME/First\"\n"
                       "  XDG_PUBLICSHARE_DIR=\"$HOME/Quote \\\"d\\\"\"\n"
                       "XDG_TEMPLATES_DIR=\"$HOME/Templates\"\n"));
    EXPECT_EQ(xel::platform::publicDocumentsFolder(), home() + "/Quote \"d\"");
}

TEST_F(KnownFolders, UserDirsFileWithAbsolutePath) {
    writeUserDirs(QStringLiteral("XDG_PUBLICSHARE_DIR=\"/data/public\"\n"));
    EXPECT_EQ(xel::platform::publicDocumentsFolder(), "/data/public");
}

TEST_F(KnownFolders, UserDirsFileUnderHomeConfigWhenConfigHomeIsUnset) {
    qunsetenv("XDG_CONFIG_HOME");
    const QString config = m_folders.home() + QStringLiteral("/.config");
    ASSERT_TRUE(QDir().mkpath(config));
    QFile file(config + QStringLiteral("/user-dirs.dirs"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("XDG_PUBLICSHARE_DIR=\"$HOME/HomeConfig\"\n");
    file.close();
    EXPECT_EQ(xel::platform::publicDocumentsFolder(), home() + "/HomeConfig");
}

TEST_F(KnownFolders, WithoutHomeThePasswordDatabaseHomeStandsIn) {
    qunsetenv("HOME");
    const passwd* entry = ::getpwuid(::getuid());
    ASSERT_NE(entry, nullptr);
    std::string expected = entry->pw_dir;
    while (expected.size() > 1 && expected.back() == '/')
        expected.pop_back();
    EXPECT_EQ(xel::platform::publicDocumentsFolder(), expected);
}

}  // namespace
