#include "tools/host_driver/texture_export.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace orvanta::tools {
namespace {

// A 2 x 2 picture of four known colours.
QImage fourColours() {
    QImage picture(2, 2, QImage::Format_ARGB32);
    picture.setPixel(0, 0, qRgba(255, 0, 0, 255));
    picture.setPixel(1, 0, qRgba(0, 255, 0, 255));
    picture.setPixel(0, 1, qRgba(0, 0, 255, 255));
    picture.setPixel(1, 1, qRgba(255, 255, 255, 255));
    return picture;
}

class TextureExport : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_root.isValid());
        ASSERT_TRUE(QDir(m_root.path()).mkpath(QStringLiteral("session")));
        ASSERT_TRUE(QDir(m_root.path()).mkpath(QStringLiteral("model")));
        m_session = m_root.filePath(QStringLiteral("session"));
        m_besideModel = m_root.filePath(QStringLiteral("model/wood.bmp"));
        ASSERT_TRUE(fourColours().save(m_besideModel, "BMP"));
    }

    HostMaterial material(const QByteArray& path, const QByteArray& embedded = {}) const {
        HostMaterial result;
        result.id = "m1";
        result.texturePath = path;
        result.embeddedTexture = embedded;
        return result;
    }

    QTemporaryDir m_root;
    QString m_session;
    QString m_besideModel;
};

TEST_F(TextureExport, AFileBesideTheModelIsWrittenAsAPngOfTheSamePixels) {
    const QString target = m_session + QStringLiteral("/texture_1.png");
    EXPECT_EQ(writeTexture(material(QFile::encodeName(m_besideModel)), target, m_session),
              QString());
    QImage written(target, "PNG");
    ASSERT_FALSE(written.isNull());
    EXPECT_EQ(written.convertToFormat(QImage::Format_ARGB32), fourColours());
}

TEST_F(TextureExport, AnEmbeddedPictureIsWrittenFromItsBytes) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    ASSERT_TRUE(buffer.open(QIODevice::WriteOnly));
    ASSERT_TRUE(fourColours().save(&buffer, "PNG"));
    const QString target = m_session + QStringLiteral("/texture_2.png");
    EXPECT_EQ(writeTexture(material("*0", bytes), target, m_session), QString());
    EXPECT_EQ(QImage(target, "PNG").convertToFormat(QImage::Format_ARGB32), fourColours());
}

// Each refusal says why and writes nothing: not at the target, not anywhere in the session folder.
TEST_F(TextureExport, WhatCannotBeWrittenOrMayNotBeWrittenIsRefused) {
    QFile garbage(m_root.filePath(QStringLiteral("model/garbage.png")));
    ASSERT_TRUE(garbage.open(QIODevice::WriteOnly));
    garbage.write("not a picture");
    garbage.close();
    const QByteArray beside = QFile::encodeName(m_besideModel);
    const QString inSession = m_session + QStringLiteral("/texture_3.png");
    const QString outside = m_root.filePath(QStringLiteral("elsewhere.png"));
    struct Case {
        const char* what;
        HostMaterial material;
        QString target;
        const char* reason;
    };
    const Case cases[] = {
        {"no texture", material(""), inSession, "has no texture"},
        {"a missing file", material("/no/such/wood.png"), inSession, "no file"},
        {"a file that is no picture", material(QFile::encodeName(garbage.fileName())), inSession,
         "cannot read"},
        {"embedded bytes that are no picture", material("*0", "not a picture"), inSession,
         "cannot read the embedded picture"},
        {"a relative target", material(beside), QStringLiteral("texture_3.png"),
         "not an absolute path"},
        {"a target outside the session folder", material(beside), outside,
         "not in the session folder"},
        {"a target that climbs out of the session folder", material(beside),
         m_session + QStringLiteral("/../elsewhere.png"), "not in the session folder"},
        {"a target in a folder below the session folder", material(beside),
         m_session + QStringLiteral("/below/texture_3.png"), "not in the session folder"},
        {"the session folder itself", material(beside), m_session + QLatin1Char('/'),
         "not in the session folder"},
    };
    ASSERT_TRUE(QDir(m_session).mkpath(QStringLiteral("below")));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const QString failure = writeTexture(c.material, c.target, m_session);
        EXPECT_TRUE(failure.contains(QLatin1String(c.reason))) << failure.toStdString();
        EXPECT_FALSE(QFile::exists(outside));
        EXPECT_EQ(QDir(m_session).entryList(QDir::Files), QStringList());
        EXPECT_EQ(QDir(m_session + QStringLiteral("/below")).entryList(QDir::Files), QStringList());
    }
}

TEST(TextureAnswer, IsOkOrTheFailureAfterItsPrefix) {
    EXPECT_EQ(textureAnswer(QString()), QByteArray("ok"));
    EXPECT_EQ(textureAnswer(QStringLiteral("no file x")), QByteArray("failed: no file x"));
}

}  // namespace
}  // namespace orvanta::tools
