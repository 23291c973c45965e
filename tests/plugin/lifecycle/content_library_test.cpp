#include "plugin/lifecycle/content_library.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QSettings>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "OrvantaForSketchup.h"
#include "plugin/lifecycle/plugin_state.h"
#include "tests/plugin/export/recording_output.h"
#include "tests/plugin/lifecycle/test_environment.h"

namespace {

// Records each library call as one line; every other operation goes to the recording beneath.
class RecordingLibraryOutput final : public orvanta::test::RecordingOutput {
public:
    std::vector<std::string> calls;

    void sendDictionaryMessage(const char* owner, const char* dictionary, const char* key,
                               const char* value) override {
        calls.push_back(std::string(owner) + "|" + dictionary + "|" + key + "|" + value);
    }
    void exportScene(const char* targetPath) override {
        calls.push_back(std::string("exportScene|") + targetPath);
    }
};

// A library folder with a Materials folder, a session folder and a settings store of this test,
// set into the process's plug-in state for the test's life.
class ContentLibraryTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_folders.isValid());
        m_libraryFolder = m_folders.makeFolder(QStringLiteral("library"));
        m_materials = m_folders.makeFolder(QStringLiteral("library/Materials"));
        m_session = m_folders.makeFolder(QStringLiteral("session"));
        m_settings = std::make_unique<QSettings>(
            m_folders.makeFolder(QStringLiteral("config")) + QStringLiteral("/store.ini"),
            QSettings::IniFormat);
        orvanta::PluginState& state = orvanta::pluginState();
        ASSERT_EQ(state.appSettings, nullptr);
        state.appSettings = m_settings.get();
        state.sessionFolder = m_session.toUtf8();
        orvanta::setContentLibraryFolder(m_libraryFolder);
    }

    void TearDown() override {
        orvanta::PluginState& state = orvanta::pluginState();
        state.appSettings = nullptr;
        state.sessionFolder.clear();
        orvanta::setContentLibraryFolder(QString());
    }

    static bool writeFile(const QString& path, const QByteArray& content) {
        QFile file(path);
        return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
    }
    static QByteArray readFile(const char* path) {
        QFile file(QString::fromUtf8(path));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(unreadable)");
    }
    QString storedFolder() const {
        return m_settings->value(QStringLiteral("RenderContentsPath")).toString();
    }

    orvanta::test::IsolatedUserFolders m_folders;
    QString m_libraryFolder;
    QString m_materials;
    QString m_session;
    std::unique_ptr<QSettings> m_settings;
    orvanta::ContentLibrary m_library;
    RecordingLibraryOutput m_output;
};

TEST_F(ContentLibraryTest, SelectedMaterialIsRelativeToMaterialsWithoutXml) {
    struct Case {
        QString file;
        const char* expected;
    };
    const Case cases[] = {
        {m_materials + QStringLiteral("/Wood/Oak.xml"), "Wood/Oak"},
        {m_libraryFolder + QStringLiteral("/Other/Stone.xml"), "../Other/Stone"},
        {m_materials + QStringLiteral("/Oak.xml.xml"), "Oak"},
        {m_materials + QStringLiteral("/a.xmlb.xml"), "ab"},
        {m_materials + QStringLiteral("/Oak.XML"), "Oak.XML"},
    };
    for (const Case& c : cases) {
        m_library.selectGalleryMaterial(c.file.toUtf8(), nullptr);
        EXPECT_STREQ(m_library.selectedGalleryMaterial(), c.expected) << c.file.toStdString();
    }

    const QByteArray file = (m_materials + QStringLiteral("/Wood/Oak.xml")).toUtf8();
    m_library.selectGalleryMaterial(file, &m_output);
    EXPECT_EQ(m_output.calls, std::vector<std::string>{"App|obrSetSelectedGalleryMaterial|Data|" +
                                                       file.toStdString()});
}

TEST_F(ContentLibraryTest, MaterialPictureReplacesAnOlderTexture) {
    ASSERT_TRUE(writeFile(m_materials + QStringLiteral("/m_skp.jpg"), "material picture"));
    ASSERT_TRUE(writeFile(m_session + QStringLiteral("/selected.jpg"), "selection"));
    ASSERT_TRUE(writeFile(m_session + QStringLiteral("/m12.jpg"), "older"));
    const char* path = m_library.galleryMaterialTexture(QStringLiteral("m"), QStringLiteral("m12"));
    EXPECT_EQ(QString::fromUtf8(path), m_session + QStringLiteral("/m12.jpg"));
    EXPECT_EQ(readFile(path), "material picture");
}

TEST_F(ContentLibraryTest, SelectionPictureStandsInForAMissingMaterialPicture) {
    ASSERT_TRUE(writeFile(m_session + QStringLiteral("/selected.jpg"), "selection"));
    for (const QString& material : {QStringLiteral("Oak"), QString()}) {
        const char* path = m_library.galleryMaterialTexture(material, QStringLiteral("t"));
        EXPECT_EQ(QString::fromUtf8(path), m_session + QStringLiteral("/t.jpg"));
        EXPECT_EQ(readFile(path), "selection") << material.toStdString();
    }
    // Named after the selection picture itself: the picture stays.
    const char* path = m_library.galleryMaterialTexture(QString(), QStringLiteral("selected"));
    EXPECT_EQ(readFile(path), "selection");
}

TEST_F(ContentLibraryTest, NoTextureNameOrNoPictureAnswersEmptyAndCopiesNothing) {
    ASSERT_TRUE(writeFile(m_materials + QStringLiteral("/m_skp.jpg"), "material picture"));
    EXPECT_STREQ(m_library.galleryMaterialTexture(QStringLiteral("m"), QString()), "");
    EXPECT_STREQ(m_library.galleryMaterialTexture(QStringLiteral("other"), QStringLiteral("t")),
                 "");
    EXPECT_TRUE(QDir(m_session).entryList(QDir::Files).isEmpty());
}

// Every file under `folder`, by its path relative to it, with its content.
std::map<QString, QByteArray> filesUnder(const QString& folder) {
    std::map<QString, QByteArray> files;
    QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        QFile file(path);
        files[QDir(folder).relativeFilePath(path)] =
            file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(folder)");
    }
    return files;
}

TEST_F(ContentLibraryTest, NamesThatAreNotPlainFileNamesAreRefusedAndTouchNothing) {
    // A folder beside the library and the session folder, with a picture a material name could
    // reach and a texture a texture name could replace.
    const QString outside = m_folders.makeFolder(QStringLiteral("outside"));
    ASSERT_TRUE(writeFile(outside + QStringLiteral("/secret_skp.jpg"), "outside picture"));
    ASSERT_TRUE(writeFile(outside + QStringLiteral("/victim.jpg"), "outside texture"));
    ASSERT_TRUE(writeFile(m_libraryFolder + QStringLiteral("/secret_skp.jpg"), "library picture"));
    ASSERT_TRUE(writeFile(m_materials + QStringLiteral("/m_skp.jpg"), "material picture"));
    ASSERT_TRUE(writeFile(m_session + QStringLiteral("/selected.jpg"), "selection"));
    const QString root = QDir(m_libraryFolder).absoluteFilePath(QStringLiteral(".."));
    const auto before = filesUnder(root);
    ASSERT_EQ(before.count(QStringLiteral("outside/victim.jpg")), 1u);

    const QString hostile[] = {
        QStringLiteral("../x"),
        QStringLiteral("../secret"),
        QStringLiteral("../../outside/secret"),
        QStringLiteral("../outside/victim"),
        QStringLiteral("a/b"),
        QStringLiteral("a\\b"),
        QStringLiteral(".."),
        QStringLiteral("."),
        QStringLiteral("C:x"),
        QStringLiteral("C:"),
        QStringLiteral("a\tb"),
        QStringLiteral("a\nb"),
        QStringLiteral("\x01"),
        QStringLiteral("a\x7f"),
        QString(QStringLiteral("a")) + QChar(0x85) + QLatin1Char('b'),  // a C1 control
        outside + QStringLiteral("/secret"),
        outside + QStringLiteral("/victim"),
        QStringLiteral("/"),
    };
    struct Call {
        QString material;
        QString texture;
    };
    std::vector<Call> calls;
    for (const QString& name : hostile) {
        calls.push_back({name, QStringLiteral("t")});
        calls.push_back({QStringLiteral("m"), name});
        calls.push_back({QString(), name});
    }
    calls.push_back({QStringLiteral("m"), QString()});
    for (const Call& call : calls) {
        const QByteArray material = call.material.toUtf8();
        const QByteArray texture = call.texture.toUtf8();
        EXPECT_STREQ(obrGetGalleryMaterialTexture(material.constData(), texture.constData()), "")
            << "material \"" << material.constData() << "\" texture \"" << texture.constData()
            << "\"";
        EXPECT_EQ(filesUnder(root), before) << "material \"" << material.constData()
                                            << "\" texture \"" << texture.constData() << "\"";
    }

    // Plain names still work beside them.
    const char* path = obrGetGalleryMaterialTexture("m", "t..jpg");
    EXPECT_EQ(QString::fromUtf8(path), m_session + QStringLiteral("/t..jpg.jpg"));
    EXPECT_EQ(readFile(path), "material picture");
}

TEST_F(ContentLibraryTest, OnlyTheNarrowSetterTellsTheRenderWindow) {
    const QString wide = m_folders.makeFolder(QStringLiteral("Bibliothèque"));
    obrSetContentLibraryFolderW(wide.toStdWString().c_str());
    EXPECT_EQ(QString::fromUtf8(obrContentLibraryFolder()), wide);
    EXPECT_EQ(QString::fromWCharArray(obrContentLibraryFolderW()), wide);
    EXPECT_EQ(storedFolder(), wide);

    m_library.moveTo(m_libraryFolder, &m_output);
    EXPECT_EQ(QString::fromUtf8(m_library.folder()), m_libraryFolder);
    EXPECT_EQ(QString::fromWCharArray(m_library.folderWide()), m_libraryFolder);
    EXPECT_EQ(storedFolder(), m_libraryFolder);
    EXPECT_EQ(m_output.calls, std::vector<std::string>{"App|obrSetContentLibraryFolder|Data|" +
                                                       m_libraryFolder.toStdString()});
}

TEST_F(ContentLibraryTest, MissingOrEmptyFolderIsIgnored) {
    const QString file = m_folders.makeFolder(QStringLiteral("x")) + QStringLiteral("/file");
    ASSERT_TRUE(writeFile(file, "not a folder"));
    for (const QString& folder : {m_libraryFolder + QStringLiteral("/missing"), QString(), file})
        m_library.moveTo(folder, &m_output);
    obrSetContentLibraryFolder(nullptr);
    obrSetContentLibraryFolderW(nullptr);
    EXPECT_EQ(QString::fromUtf8(m_library.folder()), m_libraryFolder);
    EXPECT_FALSE(m_settings->contains(QStringLiteral("RenderContentsPath")));
    EXPECT_TRUE(m_output.calls.empty());
}

TEST_F(ContentLibraryTest, FolderExportsAnswerThePluginState) {
    orvanta::pluginState().pluginFolder = QStringLiteral("/opt/plüg");
    EXPECT_EQ(QString::fromWCharArray(obrGetLibraryPath()), QStringLiteral("/opt/plüg"));
    EXPECT_EQ(QString::fromUtf8(obrGetTexturesPath()), m_session);
    orvanta::pluginState().pluginFolder.clear();
}

}  // namespace
