// Textured sample models exported by the host driver through the plug-in to the real render
// window: the window asks for each texture ("expTx"), the host writes it into the session folder
// and answers, the window loads it, and the picture it exports shows the texture's colours on the
// faces. A texture that cannot be exported leaves its material untextured with one log line, and
// the run succeeds otherwise.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QTemporaryDir>

#include <ostream>

#include <gtest/gtest.h>

#include "tests/e2e/driver_run.h"

// Readable texts in failure messages.
void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace {

using namespace orvanta::e2e;

const QString kModels = QStringLiteral("/usr/share/assimp/models/glTF2/");
// The Cesium logo on every face of a white box: sky blue above, grass green below, white between.
const QString kBoxFolder = kModels + QStringLiteral("BoxTextured-glTF/");

// The first line starting with `prefix`, or a null string.
QString lineStarting(const QStringList& lines, const QString& prefix) {
    for (const QString& line : lines)
        if (line.startsWith(prefix))
            return line;
    return QString();
}

int indexStarting(const QStringList& lines, const QString& prefix) {
    for (int i = 0; i < lines.size(); ++i)
        if (lines[i].startsWith(prefix))
            return i;
    return -1;
}

// Pixels of the logo's sky blue and grass green, lit or not (the window's headlight only darkens,
// keeping the hue); the untextured box is grey and the background a dark grey-blue.
struct LogoColours {
    int sky = 0;
    int grass = 0;
};

LogoColours logoColours(const QImage& image) {
    LogoColours found;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (c.blue() > c.red() + 40 && c.blue() > c.green() + 10)
                ++found.sky;
            if (c.green() > c.red() + 15 && c.green() > c.blue() + 30)
                ++found.grass;
        }
    }
    return found;
}

// One driver run of `model` with its view exported to `picture`, from start to end.
struct Outcome {
    QString picture;
    QStringList output;
    QStringList log;
    int exitCode = -1;
};

class TexturedModel : public ::testing::Test {
protected:
    void SetUp() override {
        ensureApplication();
        ASSERT_TRUE(m_work.isValid());
    }

    // Runs the driver on `model` and checks that the run as a whole went well: exit code 0, the
    // digests agree, the picture was exported, the render window ended and left nothing.
    // The run keeps its files in `work`, a new folder; `options` go to the driver.
    Outcome runWith(const QStringList& options, const QString& work) {
        Outcome result;
        EXPECT_TRUE(QDir().mkpath(work + QStringLiteral("/tmp")));
        result.picture = work + QStringLiteral("/view.png");
        ScopedVariable temporary("TMPDIR", QFile::encodeName(work + QStringLiteral("/tmp")));
        DriverRun run(work);
        const LogFollower log(work + QStringLiteral("/render_window.log"));
        const LogOnFailure printer{log};
        // With --verbose: the digests of every step are read from the driver's output.
        EXPECT_TRUE(run.start(options + QStringList{QStringLiteral("--verbose"),
                                                    QStringLiteral("--png"), result.picture}));
        if (log.waitForLine(QLatin1String(kStartedLinePrefix), kStepDeadlineMs) &&
            renderWindowPid(log) > 0)
            run.watchRenderWindow(renderWindowPid(log));
        EXPECT_TRUE(run.finish()) << "the driver did not end";
        result.output = run.output();
        result.exitCode = run.exitCode();
        result.log = log.lines();
        EXPECT_EQ(result.exitCode, 0) << result.output.join(QLatin1Char('\n')).toStdString();
        const QString host = printedDigest(result.output, "export", "host");
        EXPECT_FALSE(host.isEmpty());
        EXPECT_EQ(printedDigest(result.output, "export", "window"), host);
        EXPECT_TRUE(result.log.contains(QLatin1String(kExportedLinePrefix) + result.picture));
        if (run.renderWindow()) {
            EXPECT_TRUE(run.renderWindow()->waitForEnd());
            EXPECT_EQ(channelLeftovers(run.driverPid(), run.renderWindow()->pid()),
                      std::set<std::string>());
        } else {
            ADD_FAILURE() << "no render window";
        }
        return result;
    }

    Outcome runOn(const QString& model, const QString& work) {
        return runWith({QStringLiteral("--model"), model}, work);
    }

    QString folder() const { return m_work.path(); }

private:
    QTemporaryDir m_work;
};

// The texture road, for a texture in a file beside the model and for one inside the model file.
class TexturedSample : public TexturedModel, public ::testing::WithParamInterface<const char*> {};

TEST_P(TexturedSample, TextureIsAskedForWrittenLoadedAndShown) {
    const QString model = kModels + QLatin1String(GetParam());
    ASSERT_TRUE(QFileInfo::exists(model)) << model.toStdString();
    const QString work = folder() + QStringLiteral("/run");
    const Outcome run = runOn(model, work);

    // The window asked for material 0's texture, in the session folder.
    const QString sent = lineStarting(run.log, QStringLiteral("sent expTx 0 "));
    ASSERT_FALSE(sent.isNull()) << run.log.join(QLatin1Char('\n')).toStdString();
    const QString path = sent.mid(QStringLiteral("sent expTx 0 ").size());
    // "started <queue id> <main window> <parent window> <session folder> pid=<pid>"
    const QStringList started = lineStarting(run.log, QLatin1String(kStartedLinePrefix))
                                    .split(QLatin1Char(' '), Qt::SkipEmptyParts);
    ASSERT_GE(started.size(), 5);
    EXPECT_EQ(QFileInfo(path).absolutePath(), started[4]);
    EXPECT_TRUE(path.startsWith(work + QLatin1Char('/'))) << path.toStdString();
    EXPECT_TRUE(path.endsWith(QStringLiteral(".png")));
    // The host wrote it and answered; the window loaded the logo's 211 x 211 texels.
    EXPECT_TRUE(
        run.output.contains(QStringLiteral("host: texture of material 0 written to %1").arg(path)))
        << run.output.join(QLatin1Char('\n')).toStdString();
    const int loaded = run.log.indexOf(QStringLiteral("texture 0 loaded %1 211x211").arg(path));
    ASSERT_GE(loaded, 0);
    EXPECT_LT(loaded, indexStarting(run.log, QLatin1String(kExportedLinePrefix)));
    EXPECT_EQ(indexStarting(run.log, QStringLiteral("texture 0 untextured")), -1);

    // The faces show the logo's sky and grass.
    const QImage image(run.picture);
    ASSERT_FALSE(image.isNull());
    const LogoColours colours = logoColours(image);
    const int share = image.width() * image.height() / 500;
    EXPECT_GT(colours.sky, share);
    EXPECT_GT(colours.grass, share);
}

INSTANTIATE_TEST_SUITE_P(Files, TexturedSample,
                         ::testing::Values("BoxTextured-glTF/BoxTextured.gltf",
                                           "BoxTextured-glTF-Binary/BoxTextured.glb"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                             return std::string(info.index == 0 ? "FileBesideTheModel"
                                                                : "EmbeddedInTheModel");
                         });

// The box's files copied into `folder`, the texture as `texture` bytes (none when null).
bool copyBox(const QString& folder, const QByteArray* texture) {
    if (!QDir().mkpath(folder))
        return false;
    for (const char* name : {"BoxTextured.gltf", "BoxTextured0.bin"}) {
        if (!QFile::copy(kBoxFolder + QLatin1String(name), folder + QLatin1Char('/') + name))
            return false;
    }
    if (!texture)
        return true;
    QFile file(folder + QStringLiteral("/CesiumLogoFlat.png"));
    return file.open(QIODevice::WriteOnly) && file.write(*texture) == texture->size();
}

// The texture cannot be exported: its file is missing, or is no picture. The box is drawn
// untextured, the window says why in one line, and everything else goes as always.
TEST_F(TexturedModel, TextureThatCannotBeExportedLeavesTheMaterialUntextured) {
    const QByteArray notAPicture("this is no PNG file");
    for (const QByteArray* texture : {static_cast<const QByteArray*>(nullptr), &notAPicture}) {
        SCOPED_TRACE(texture ? "unreadable texture file" : "missing texture file");
        const QString box =
            folder() + (texture ? QStringLiteral("/unreadable") : QStringLiteral("/missing"));
        ASSERT_TRUE(copyBox(box, texture));
        const Outcome run =
            runOn(box + QStringLiteral("/BoxTextured.gltf"), box + QStringLiteral("/run"));

        ASSERT_FALSE(lineStarting(run.log, QStringLiteral("sent expTx 0 ")).isNull());
        const QString expected =
            QStringLiteral("texture 0 untextured: the host could not export it: ") +
            (texture ? QStringLiteral("cannot read ") : QStringLiteral("no file ")) + box +
            QStringLiteral("/CesiumLogoFlat.png");
        int lines = 0;
        for (const QString& line : run.log)
            lines += line.startsWith(QStringLiteral("texture 0 "));
        EXPECT_EQ(lines, 1);
        EXPECT_TRUE(lineStarting(run.log, expected).size() > 0)
            << run.log.join(QLatin1Char('\n')).toStdString();
        EXPECT_FALSE(lineStarting(run.output, QStringLiteral("host: texture of material 0 not "
                                                             "exported: "))
                         .isNull());

        const QImage image(run.picture);
        ASSERT_FALSE(image.isNull());
        const LogoColours colours = logoColours(image);
        EXPECT_EQ(colours.sky, 0);
        EXPECT_EQ(colours.grass, 0);
    }
}

// A material sent again (the built-in model's oak, given a larger texture by the edit session)
// is asked for and loaded again; the host's built-in oak is a picture it draws itself.
TEST_F(TexturedModel, MaterialSentAgainIsLoadedAgain) {
    const Outcome run = runWith({QStringLiteral("--edits")}, folder() + QStringLiteral("/edits"));
    QStringList sent;
    QStringList loaded;
    for (const QString& line : run.log) {
        if (line.startsWith(QStringLiteral("sent expTx m1 ")))
            sent << line.mid(QStringLiteral("sent expTx m1 ").size());
        if (line.startsWith(QStringLiteral("texture m1 ")))
            loaded << line;
    }
    ASSERT_GE(sent.size(), 2) << run.log.join(QLatin1Char('\n')).toStdString();
    EXPECT_NE(sent[0], sent[1]);
    ASSERT_EQ(loaded.size(), sent.size());
    for (int i = 0; i < sent.size(); ++i)
        EXPECT_EQ(loaded[i], QStringLiteral("texture m1 loaded %1 256x256").arg(sent[i]));
}

}  // namespace
