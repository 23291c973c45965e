// The render window's texture requests: what it asks for, how it takes the host's answers, and a
// texture file it cannot read (the material stays untextured, one log line says why). The scene
// view draws a material's picture on its meshes.
#include <QColor>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QStringList>
#include <QTemporaryDir>

#include <optional>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/file_lines.h"
#include "tests/support/scoped_variable.h"
#include "tools/render_window/rasterizer.h"
#include "tools/render_window/render_log.h"
#include "tools/render_window/scene_store.h"
#include "tools/render_window/scene_view.h"
#include "tools/render_window/texture_requests.h"

namespace {

using namespace orvanta::render_window;
using xel::test::ScopedVariable;

class TextureRequestsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_folder.isValid());
        const ScopedVariable logVariable(RenderLog::kVariable, QFile::encodeName(logPath()));
        m_log.emplace();
        m_requests.emplace(m_folder.path(), m_store, *m_log,
                           [this](const QByteArray& material, const QByteArray& path) {
                               m_sent.emplace_back(material, path);
                           });
    }

    QString logPath() const { return m_folder.filePath(QStringLiteral("render.log")); }
    QStringList logLines() const { return xel::test::fileLines(logPath()); }
    QString lastPath() const { return QString::fromUtf8(m_sent.back().second); }
    static SceneMaterial textured(const QString& path) {
        return {QStringLiteral("Logo"), QStringLiteral("#FFFFFF"), 1, 1.0f, path};
    }
    static DictionaryRecord answer(const QString& material, const QString& path,
                                   const QString& value) {
        return {material, QLatin1String(TextureRequests::kAnswerDictionary), path, value};
    }

    QTemporaryDir m_folder;
    SceneStore m_store;
    std::optional<RenderLog> m_log;
    std::optional<TextureRequests> m_requests;
    std::vector<std::pair<QByteArray, QByteArray>> m_sent;
};

TEST_F(TextureRequestsTest, AsksForEachTexturedMaterialAndLoadsTheAnsweredFile) {
    m_requests->materialArrived(QStringLiteral("m1"), textured(QStringLiteral("/a/logo.png")));
    // Without texture flag or path: nothing is asked.
    m_requests->materialArrived(
        QStringLiteral("m2"),
        {QStringLiteral("Plain"), QStringLiteral("#808080"), 0, 1.0f, QStringLiteral("/a/b.png")});
    m_requests->materialArrived(QStringLiteral("m3"),
                                {QStringLiteral("Plain"), QStringLiteral("#808080"), 1, 1.0f, ""});
    ASSERT_EQ(m_sent.size(), 1u);
    EXPECT_EQ(m_sent[0].first, QByteArray("m1"));
    const QString path = lastPath();
    EXPECT_EQ(QFileInfo(path).absolutePath(), QDir(m_folder.path()).absolutePath());
    EXPECT_TRUE(path.endsWith(QStringLiteral("_1.png"))) << path.toStdString();
    EXPECT_EQ(m_requests->awaited(), 1);

    QImage picture(3, 2, QImage::Format_ARGB32);
    picture.fill(QColor(10, 200, 30));
    ASSERT_TRUE(picture.save(path, "PNG"));
    // Another dictionary is no answer; an answer to another path changes nothing.
    EXPECT_FALSE(m_requests->answerArrived(
        {QStringLiteral("m1"), QStringLiteral("GeoReference"), path, QStringLiteral("ok")}));
    EXPECT_TRUE(m_requests->answerArrived(answer("m1", path + "x", "ok")));
    EXPECT_EQ(m_requests->awaited(), 1);
    EXPECT_TRUE(m_requests->answerArrived(answer("m1", path, "ok")));
    EXPECT_EQ(m_requests->awaited(), 0);

    const auto textures = m_store.textures();
    ASSERT_EQ(textures.count(QStringLiteral("m1")), 1u);
    EXPECT_EQ(textures.at(QStringLiteral("m1"))->width, 3);
    EXPECT_EQ(textures.at(QStringLiteral("m1"))->height, 2);
    EXPECT_FALSE(QFile::exists(path)) << "the file is removed once read";
    EXPECT_TRUE(logLines().contains(QStringLiteral("texture m1 loaded %1 3x2").arg(path)));

    // The material again, now without texture: the picture goes.
    m_requests->materialArrived(QStringLiteral("m1"),
                                {QStringLiteral("Logo"), QStringLiteral("#FFFFFF"), 0, 1.0f, ""});
    EXPECT_TRUE(m_store.textures().empty());
}

TEST_F(TextureRequestsTest, FileThatCannotBeReadLeavesTheMaterialUntexturedWithOneLine) {
    m_requests->materialArrived(QStringLiteral("m1"), textured(QStringLiteral("/a/logo.png")));
    const QString path = lastPath();
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("no picture at all");
    }
    EXPECT_TRUE(m_requests->answerArrived(answer("m1", path, "ok")));
    EXPECT_TRUE(m_store.textures().empty());
    QStringList about;
    for (const QString& line : logLines())
        if (line.startsWith(QStringLiteral("texture m1 ")))
            about << line;
    ASSERT_EQ(about.size(), 1) << about.join('\n').toStdString();
    EXPECT_TRUE(
        about[0].startsWith(QStringLiteral("texture m1 untextured: %1 cannot be read: ").arg(path)))
        << about[0].toStdString();

    // The host's failure: one line with its reason.
    m_requests->materialArrived(QStringLiteral("m1"), textured(QStringLiteral("/a/logo.png")));
    EXPECT_TRUE(m_requests->answerArrived(answer("m1", lastPath(), "failed: no file /a/logo.png")));
    EXPECT_TRUE(logLines().contains(QStringLiteral(
        "texture m1 untextured: the host could not export it: no file /a/logo.png")));
    EXPECT_TRUE(m_store.textures().empty());
}

TEST_F(TextureRequestsTest, NewerRequestSupersedesAnOlderOneAndAClearForgetsThem) {
    m_requests->materialArrived(QStringLiteral("m1"), textured(QStringLiteral("/a/logo.png")));
    const QString first = lastPath();
    m_requests->materialArrived(QStringLiteral("m1"), textured(QStringLiteral("/a/logo.png")));
    const QString second = lastPath();
    EXPECT_NE(first, second);
    EXPECT_EQ(m_requests->awaited(), 1);
    EXPECT_TRUE(m_requests->answerArrived(answer("m1", first, "failed: late")));
    EXPECT_EQ(m_requests->awaited(), 1);
    m_requests->clear();
    EXPECT_EQ(m_requests->awaited(), 0);
    EXPECT_TRUE(m_requests->answerArrived(answer("m1", second, "ok")));
    EXPECT_TRUE(m_store.textures().empty());
}

TEST(SceneViewTextureTest, MaterialPictureIsDrawnOnItsMeshes) {
    SceneStore store;
    // A square facing +Z seen from above by the framing camera's direction; UVs all at the
    // centre of the picture's single texel.
    const float positions[] = {-1, -1, 0, 1, -1, 0, 1, 1, 0, -1, 1, 0};
    const float normals[] = {0, 0, 1, 0, 0, 1, 0, 0, 1, 0, 0, 1};
    const float uvs[8] = {0.5f, 0.5f, 0.5f, 0.5f, 0.5f, 0.5f, 0.5f, 0.5f};
    const bool flags[4] = {};
    const int indices[] = {0, 1, 2, 0, 2, 3};
    store.addMesh(
        "Model", "root",
        SceneMesh::fromArrays("0", positions, normals, uvs, uvs, flags, indices, 6, 4, "m1", ""));
    store.addMaterial("m1", {"Logo", "#FFFFFF", 1, 1.0f, "/a/logo.png"});
    QImage texel(1, 1, QImage::Format_ARGB32);
    texel.fill(QColor(0, 0, 255));
    const QSize size(40, 40);
    const QImage plain = renderScene(store.snapshot(), size);
    store.setTexture("m1", RasterTexture::fromImage(texel));
    const QImage textured = renderScene(store.snapshot(), size);
    const QColor before = plain.pixelColor(20, 20);
    const QColor after = textured.pixelColor(20, 20);
    EXPECT_EQ(before.red(), before.blue());
    EXPECT_EQ(after.red(), 0);
    EXPECT_EQ(after.green(), 0);
    EXPECT_GT(after.blue(), 100);
    // Dropped, the picture no longer shows.
    store.setTexture("m1", nullptr);
    EXPECT_EQ(renderScene(store.snapshot(), size), plain);
}

}  // namespace
