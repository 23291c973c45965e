// The plug-in's folders as Windows gives them.
#include "plugin/lifecycle/plugin_folders.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSettings>

#include <gtest/gtest.h>

#include "platform/known_folders.h"
#include "plugin/lifecycle/app_settings.h"
#include "tests/plugin/lifecycle/test_environment.h"

namespace {

TEST(PluginFoldersOnWindows, ProgramsCarryTheExecutableSuffix) {
    EXPECT_STREQ(xel::platform::executableSuffix(), ".exe");
    EXPECT_EQ(orvanta::renderWindowProgram(QStringLiteral("C:/Plugins/Orvanta")),
              QStringLiteral("C:/Plugins/Orvanta/OrvantaRenderWindow.exe"));
}

// A drive, forward slashes and no slash at the end, whatever the system's own spelling.
TEST(PluginFoldersOnWindows, ThePublicDocumentsFolderIsAnAbsolutePathWithForwardSlashes) {
    const QString folder = QString::fromStdString(xel::platform::publicDocumentsFolder());
    EXPECT_TRUE(
        QRegularExpression(QStringLiteral("^[A-Za-z]:/[^\\\\]*[^/\\\\]$")).match(folder).hasMatch())
        << folder.toStdString();
}

TEST(PluginFoldersOnWindows, TheContentLibraryFallsBackToThePublicDocumentsFolder) {
    orvanta::test::IsolatedUserFolders folders;
    ASSERT_TRUE(folders.isValid());
    QSettings& settings = orvanta::openAppSettings();
    settings.remove(QStringLiteral("RenderContentsPath"));
    EXPECT_EQ(orvanta::resolveContentLibraryFolder(settings),
              QString::fromStdString(xel::platform::publicDocumentsFolder()) +
                  QStringLiteral("/Zelquin Render 4 Library/content_library"));
}

// The session folder is the process id in the temporary folder, made once and then reused.
TEST(PluginFoldersOnWindows, TheSessionFolderIsMadeInTheTemporaryFolderAndReused) {
    orvanta::test::IsolatedUserFolders folders;
    ASSERT_TRUE(folders.isValid());
    const QByteArray expected = orvanta::sessionFolderParent().toUtf8() + '/' +
                                QByteArray::number(QCoreApplication::applicationPid());
    EXPECT_EQ(orvanta::sessionFolderPath(), expected);
    EXPECT_EQ(orvanta::makeSessionFolder(), expected);
    EXPECT_TRUE(QFileInfo(QString::fromUtf8(expected)).isDir());
    EXPECT_EQ(orvanta::makeSessionFolder(), expected);
    QDir(QString::fromUtf8(expected)).removeRecursively();
}

}  // namespace
