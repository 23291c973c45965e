// The render window's pictures as files, in-process: an export writes a PNG of the configured size
// that shows the scene and logs "exported <path>"; one that cannot be written logs
// "export failed <path>: <reason>"; snapshots go to the configured folder as view-<n>.png.
#include <QDir>
#include <QFile>
#include <QImage>
#include <QStringList>
#include <QTemporaryDir>

#include <optional>

#include <gtest/gtest.h>

#include "tests/support/file_lines.h"
#include "tests/support/image_checks.h"
#include "tests/support/scoped_variable.h"
#include "tests/tools/render_window/render_test_scenes.h"
#include "tools/render_window/render_log.h"
#include "tools/render_window/scene_export.h"
#include "tools/render_window/scene_store.h"

namespace {

using namespace orvanta::render_window;

using xel::test::isUniform;
using xel::test::ScopedVariable;

// A store holding one square at the root, a log in a temporary folder, and the exporter, made
// after the variables are set.
class SceneExporterFiles : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_folder.isValid());
        test::addFlatSquare(m_store);
    }

    void start(const QByteArray& size, const QByteArray& snapshots = QByteArray()) {
        const ScopedVariable logVariable(RenderLog::kVariable, QFile::encodeName(logPath()));
        const ScopedVariable sizeVariable(SceneExporter::kSizeVariable, size);
        const ScopedVariable snapshotsVariable(SceneExporter::kSnapshotsVariable, snapshots);
        m_log.emplace();
        m_exporter.emplace(m_store, *m_log);
    }

    QString logPath() const { return m_folder.filePath(QStringLiteral("render.log")); }
    QStringList logLines() const { return xel::test::fileLines(logPath()); }

    QTemporaryDir m_folder;
    SceneStore m_store;
    std::optional<RenderLog> m_log;
    std::optional<SceneExporter> m_exporter;
};

TEST_F(SceneExporterFiles, WritesAPngOfTheConfiguredSizeShowingTheScene) {
    start("64x48");
    const QString path = m_folder.filePath(QStringLiteral("scene.png"));
    EXPECT_TRUE(m_exporter->exportScene(path));
    EXPECT_EQ(logLines(), QStringList{QStringLiteral("exported ") + path});

    QImage image;
    ASSERT_TRUE(image.load(path, "PNG"));
    EXPECT_EQ(image.size(), QSize(64, 48));
    EXPECT_FALSE(isUniform(image));
}

TEST_F(SceneExporterFiles, AnUnwritablePathLogsTheFailure) {
    start(QByteArray());
    EXPECT_EQ(m_exporter->imageSize(), kDefaultExportSize);
    const QString path = m_folder.filePath(QStringLiteral("missing/folder/scene.png"));
    EXPECT_FALSE(m_exporter->exportScene(path));
    const QStringList lines = logLines();
    ASSERT_EQ(lines.size(), 1);
    EXPECT_TRUE(lines[0].startsWith(QStringLiteral("export failed ") + path + QStringLiteral(": ")))
        << lines[0].toStdString();
    EXPECT_FALSE(QFile::exists(path));
}

TEST_F(SceneExporterFiles, AnUnreadableSizeIsLoggedAndTheDefaultTaken) {
    start("wide");
    EXPECT_EQ(m_exporter->imageSize(), kDefaultExportSize);
    const QStringList lines = logLines();
    ASSERT_EQ(lines.size(), 1);
    EXPECT_TRUE(lines[0].startsWith(QStringLiteral("ORVANTA_RENDER_SIZE=wide ")))
        << lines[0].toStdString();
}

TEST_F(SceneExporterFiles, SnapshotsAreNumberedFromOneInTheirFolder) {
    const QString folder = m_folder.filePath(QStringLiteral("snapshots"));
    start("32x20", QFile::encodeName(folder));
    m_exporter->writeSnapshot();
    m_exporter->writeSnapshot();
    const QString first = folder + QStringLiteral("/view-1.png");
    const QString second = folder + QStringLiteral("/view-2.png");
    EXPECT_EQ(logLines(), (QStringList{QStringLiteral("snapshot ") + first,
                                       QStringLiteral("snapshot ") + second}));
    for (const QString& path : {first, second}) {
        QImage image;
        ASSERT_TRUE(image.load(path, "PNG")) << path.toStdString();
        EXPECT_EQ(image.size(), QSize(32, 20));
    }
}

TEST_F(SceneExporterFiles, WithoutASnapshotFolderNothingIsWritten) {
    start("32x20");
    m_exporter->writeSnapshot();
    EXPECT_TRUE(logLines().isEmpty());
    EXPECT_EQ(QDir(m_folder.path()).entryList(QDir::Files), QStringList{"render.log"});
}

}  // namespace
