#include "plugin/lifecycle/plugin_folders.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QSettings>
#include <QStandardPaths>

#include <functional>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "plugin/lifecycle/app_settings.h"
#include "tests/plugin/lifecycle/test_environment.h"

namespace {

const QString kLibrarySuffix = QStringLiteral("/Zelquin Render 4 Library/content_library");

class PluginFolders : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_folders.isValid()); }

    orvanta::test::IsolatedUserFolders m_folders;
};

TEST_F(PluginFolders, ExistingStoredContentLibraryIsUsedAsItIs) {
    const QString folder = m_folders.makeFolder(QStringLiteral("library/contents"));
    const QString stored = folder + QStringLiteral("//");  // kept with its slashes
    QSettings& settings = orvanta::openAppSettings();
    settings.setValue(QStringLiteral("RenderContentsPath"), stored);
    EXPECT_EQ(orvanta::resolveContentLibraryFolder(settings), stored);
}

TEST_F(PluginFolders, DeletedStoredContentLibraryFallsBackToPublicFolder) {
    const QString folder = m_folders.makeFolder(QStringLiteral("library/contents"));
    QSettings& settings = orvanta::openAppSettings();
    settings.setValue(QStringLiteral("RenderContentsPath"), folder);
    ASSERT_TRUE(QDir(folder).removeRecursively());
    EXPECT_EQ(orvanta::resolveContentLibraryFolder(settings),
              m_folders.home() + QStringLiteral("/Public") + kLibrarySuffix);
}

TEST_F(PluginFolders, StoredFileIsNoContentLibrary) {
    const QString folder = m_folders.makeFolder(QStringLiteral("library"));
    QFile file(folder + QStringLiteral("/contents"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    QSettings& settings = orvanta::openAppSettings();
    settings.setValue(QStringLiteral("RenderContentsPath"), file.fileName());
    EXPECT_EQ(orvanta::resolveContentLibraryFolder(settings),
              m_folders.home() + QStringLiteral("/Public") + kLibrarySuffix);
}

TEST_F(PluginFolders, MissingOrEmptySettingFallsBackToXdgPublicShare) {
    const QString shared = m_folders.makeFolder(QStringLiteral("shared"));
    qputenv("XDG_PUBLICSHARE_DIR", QFile::encodeName(shared + QLatin1Char('/')));
    QSettings& settings = orvanta::openAppSettings();
    EXPECT_EQ(orvanta::resolveContentLibraryFolder(settings), shared + kLibrarySuffix);
    settings.setValue(QStringLiteral("RenderContentsPath"), QString());
    EXPECT_EQ(orvanta::resolveContentLibraryFolder(settings), shared + kLibrarySuffix);
}

TEST_F(PluginFolders, ResolvingNeverWritesTheSetting) {
    QSettings& settings = orvanta::openAppSettings();
    orvanta::resolveContentLibraryFolder(settings);
    EXPECT_FALSE(settings.contains(QStringLiteral("RenderContentsPath")));
}

TEST_F(PluginFolders, SessionFolderIsTemporaryLocationAndProcessId) {
    const QStringList temporary = QStandardPaths::standardLocations(QStandardPaths::TempLocation);
    ASSERT_FALSE(temporary.isEmpty());
    EXPECT_EQ(temporary.last(), m_folders.temporary());
    const QByteArray expected = m_folders.temporary().toUtf8() + '/' +
                                QByteArray::number(static_cast<qlonglong>(::getpid()));
    EXPECT_EQ(orvanta::sessionFolderPath(), expected);
    EXPECT_FALSE(QDir(QString::fromUtf8(expected)).exists());  // computed, not made
}

// What stat() says of a path, without following a link.
struct EntryState {
    bool exists = false;
    bool isLink = false;
    bool isFolder = false;
    uid_t owner = 0;
    mode_t mode = 0;
};

EntryState entryState(const QByteArray& path) {
    struct stat info {};
    if (::lstat(path.constData(), &info) != 0)
        return {};
    return {true, S_ISLNK(info.st_mode), S_ISDIR(info.st_mode), info.st_uid, info.st_mode & 07777};
}

// A folder that makeSessionFolder() may answer: made, no link, ours, mode 0700.
void expectPrivateFolder(const QByteArray& path) {
    const EntryState state = entryState(path);
    EXPECT_TRUE(state.exists) << path.constData();
    EXPECT_FALSE(state.isLink) << path.constData();
    EXPECT_TRUE(state.isFolder) << path.constData();
    EXPECT_EQ(state.owner, ::geteuid()) << path.constData();
    EXPECT_EQ(state.mode, 0700u) << path.constData();
}

const QByteArray kProcessId = QByteArray::number(static_cast<qlonglong>(::getpid()));

TEST_F(PluginFolders, SessionFolderIsMadePrivateInTheRuntimeFolder) {
    const QString runtime = m_folders.makeFolder(QStringLiteral("run"));
    ASSERT_TRUE(
        QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime));
    const QByteArray expected = runtime.toUtf8() + '/' + kProcessId;
    EXPECT_EQ(orvanta::sessionFolderPath(), expected);
    const mode_t umask = ::umask(0);  // the folder's mode does not depend on the umask
    EXPECT_EQ(orvanta::makeSessionFolder(), expected);
    ::umask(umask);
    expectPrivateFolder(expected);
    // Made again, the same folder is used.
    EXPECT_EQ(orvanta::makeSessionFolder(), expected);
}

TEST_F(PluginFolders, SessionFolderIsMadePrivateInTheTemporaryFolderWithoutARuntimeFolder) {
    struct Case {
        const char* runtime;  // null: unset
        const char* why;
    };
    const std::string missing = m_folders.home().toStdString() + "/missing";
    const Case cases[] = {
        {nullptr, "unset"},
        {"", "empty"},
        {"relative/run", "not absolute"},
        {missing.c_str(), "no folder"},
    };
    const QByteArray expected = m_folders.temporary().toUtf8() + '/' + kProcessId;
    for (const Case& c : cases) {
        if (c.runtime)
            qputenv("XDG_RUNTIME_DIR", c.runtime);
        else
            qunsetenv("XDG_RUNTIME_DIR");
        EXPECT_EQ(orvanta::sessionFolderPath(), expected) << c.why;
    }
    // A umask that would leave the owner without write access.
    const mode_t umask = ::umask(0277);
    EXPECT_EQ(orvanta::makeSessionFolder(), expected);
    ::umask(umask);
    expectPrivateFolder(expected);
}

TEST_F(PluginFolders, WhatIsNoPrivateFolderAtTheSessionPathIsLeftForAFreshFolder) {
    const QByteArray predictable = m_folders.temporary().toUtf8() + '/' + kProcessId;
    const QByteArray target = m_folders.makeFolder(QStringLiteral("elsewhere")).toUtf8();
    ASSERT_EQ(::chmod(target.constData(), 0700), 0);
    struct Case {
        const char* what;
        std::function<bool()> make;
        std::function<bool()> unchanged;
    };
    const auto isMode = [&predictable](mode_t mode) {
        return [&predictable, mode] {
            const EntryState state = entryState(predictable);
            return state.isFolder && !state.isLink && state.mode == mode;
        };
    };
    std::vector<Case> cases = {
        {"a link to a private folder of ours",
         [&] { return ::symlink(target.constData(), predictable.constData()) == 0; },
         [&] { return QFile::symLinkTarget(QString::fromUtf8(predictable)) == target; }},
        {"a link to nowhere",
         [&] { return ::symlink("/nonexistent", predictable.constData()) == 0; },
         [&] { return entryState(predictable).isLink; }},
        {"a folder of mode 0755",
         [&] {
             return ::mkdir(predictable.constData(), 0700) == 0 &&
                    ::chmod(predictable.constData(), 0755) == 0;
         },
         isMode(0755)},
        {"a folder of mode 0770",
         [&] {
             return ::mkdir(predictable.constData(), 0700) == 0 &&
                    ::chmod(predictable.constData(), 0770) == 0;
         },
         isMode(0770)},
        {"a folder of mode 0500",
         [&] {
             return ::mkdir(predictable.constData(), 0700) == 0 &&
                    ::chmod(predictable.constData(), 0500) == 0;
         },
         isMode(0500)},
        {"a file",
         [&] {
             QFile file(QString::fromUtf8(predictable));
             return file.open(QIODevice::WriteOnly) && file.write("planted") == 7;
         },
         [&] {
             QFile file(QString::fromUtf8(predictable));
             return file.open(QIODevice::ReadOnly) && file.readAll() == "planted";
         }},
    };
    // Only root can give a folder to another user.
    if (::geteuid() == 0)
        cases.push_back({"another user's folder of mode 0700",
                         [&] {
                             return ::mkdir(predictable.constData(), 0700) == 0 &&
                                    ::chown(predictable.constData(), 65534, 65534) == 0;
                         },
                         [&] { return entryState(predictable).owner == 65534; }});

    std::set<QByteArray> made;
    for (const Case& c : cases) {
        ASSERT_TRUE(c.make()) << c.what;
        const QByteArray folder = orvanta::makeSessionFolder();
        EXPECT_NE(folder, predictable) << c.what;
        EXPECT_TRUE(folder.startsWith(m_folders.temporary().toUtf8() + '/' + kProcessId + '-'))
            << c.what << ": " << folder.constData();
        expectPrivateFolder(folder);
        EXPECT_TRUE(made.insert(folder).second) << c.what << ": a name used before";
        EXPECT_TRUE(c.unchanged()) << c.what;
        EXPECT_EQ(entryState(target).mode, 0700u) << c.what;  // a link's target is not touched
        // Cleared for the next case.
        if (entryState(predictable).isFolder)
            ::chmod(predictable.constData(), 0700);
        ASSERT_TRUE(::rmdir(predictable.constData()) == 0 || ::unlink(predictable.constData()) == 0)
            << c.what;
    }
}

TEST_F(PluginFolders, RenderWindowProgramLiesInThePluginFolder) {
    EXPECT_EQ(orvanta::renderWindowProgram(QStringLiteral("/opt/orvanta")),
              QStringLiteral("/opt/orvanta/OrvantaRenderWindow"));
    EXPECT_EQ(orvanta::renderWindowProgram(QString()), QStringLiteral("/OrvantaRenderWindow"));
}

}  // namespace
