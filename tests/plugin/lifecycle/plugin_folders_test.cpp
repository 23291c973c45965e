#include "plugin/lifecycle/plugin_folders.h"

#include <unistd.h>

#include <QDir>
#include <QSettings>
#include <QStandardPaths>

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

TEST_F(PluginFolders, RenderWindowProgramLiesInThePluginFolder) {
    EXPECT_EQ(orvanta::renderWindowProgram(QStringLiteral("/opt/orvanta")),
              QStringLiteral("/opt/orvanta/OrvantaRenderWindow"));
    EXPECT_EQ(orvanta::renderWindowProgram(QString()), QStringLiteral("/OrvantaRenderWindow"));
}

}  // namespace
