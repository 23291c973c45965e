// Real model files, in several formats, exported by the host driver through the plug-in to the
// real render window: the window's scene digest equals the host's, the picture it saves shows the
// model, and a file that cannot be read gives one clear line, a non-zero exit and nothing behind.
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QTemporaryDir>

#include <cctype>
#include <ostream>
#include <set>
#include <string>

#include <gtest/gtest.h>

#include "tests/e2e/driver_run.h"

// Readable texts in failure messages.
void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace {

using namespace orvanta::e2e;

const QString kModels = QStringLiteral("/usr/share/assimp/models/");

// The first digest the window logged after the export's transaction, or a null string.
QString windowExportDigest(const QStringList& lines) {
    bool ended = false;
    for (const QString& line : lines) {
        ended = ended || line.startsWith(QLatin1String("onEndTransaction "));
        if (ended && line.startsWith(QLatin1String(kDigestLinePrefix)))
            return line.mid(static_cast<int>(sizeof kDigestLinePrefix) - 1);
    }
    return QString();
}

struct PictureFacts {
    int covered = 0;  // pixels that differ from the background, the top-left corner's colour
    int colours = 0;  // distinct colours, counted up to 64
};

PictureFacts factsOf(const QImage& image) {
    PictureFacts facts;
    const QRgb background = image.pixel(0, 0);
    std::set<QRgb> colours;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QRgb pixel = image.pixel(x, y);
            facts.covered += pixel != background;
            if (colours.size() < 64)
                colours.insert(pixel);
        }
    }
    facts.colours = static_cast<int>(colours.size());
    return facts;
}

// A file's path as a test name: letters and digits kept, anything else an underscore.
std::string paramName(const ::testing::TestParamInfo<const char*>& info) {
    std::string name;
    for (const char* c = info.param; *c; ++c)
        name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
    return name;
}

class RealModel : public ::testing::TestWithParam<const char*> {};

TEST_P(RealModel, ArrivesWholeAndIsShown) {
    const QString model = kModels + QLatin1String(GetParam());
    ASSERT_TRUE(QFileInfo::exists(model)) << model.toStdString();
    ensureApplication();
    QTemporaryDir work;
    ASSERT_TRUE(work.isValid());
    ScopedVariable temporary("TMPDIR", QFile::encodeName(work.path() + QStringLiteral("/tmp")));
    const QString picture = work.path() + QStringLiteral("/view.png");
    DriverRun run(work.path());
    const LogFollower log(work.path() + QStringLiteral("/render_window.log"));
    const LogOnFailure printer{log};

    // --verbose: the driver prints the digests, which the test compares.
    ASSERT_TRUE(run.start({QStringLiteral("--model"), model, QStringLiteral("--png"), picture,
                           QStringLiteral("--verbose")}));
    if (log.waitForLine(QLatin1String(kStartedLinePrefix), kStepDeadlineMs) &&
        renderWindowPid(log) > 0)
        run.watchRenderWindow(renderWindowPid(log));
    ASSERT_TRUE(run.finish()) << "the driver did not end";
    const QStringList output = run.output();
    EXPECT_EQ(run.exitCode(), 0) << run.transcript(output);

    // The window's scene, as its own digest sums it up, is the host's.
    const QStringList lines = log.lines();
    const QString host = printedDigest(output, "export", "host");
    ASSERT_FALSE(host.isEmpty());
    EXPECT_EQ(windowExportDigest(lines), host);
    EXPECT_TRUE(lines.contains(QLatin1String(kExportedLinePrefix) + picture));

    // The picture shows something shaded, not a blank or single-coloured frame.
    const QImage image(picture);
    ASSERT_FALSE(image.isNull());
    const PictureFacts facts = factsOf(image);
    EXPECT_GT(facts.covered, image.width() * image.height() / 200) << "almost nothing drawn";
    EXPECT_GE(facts.colours, 8) << "too few shades for a lit model";

    ASSERT_NE(run.renderWindow(), nullptr);
    EXPECT_TRUE(run.renderWindow()->waitForEnd());
    EXPECT_EQ(channelLeftovers(run.driverPid(), run.renderWindow()->pid()),
              std::set<std::string>());
}

INSTANTIATE_TEST_SUITE_P(Formats, RealModel,
                         ::testing::Values("OBJ/spider.obj", "PLY/Wuson.ply",
                                           "STL/Spider_binary.stl", "Collada/duck.dae",
                                           "Collada/teapot_instancenodes.DAE", "3DS/fels.3ds",
                                           "FBX/spider.fbx", "IFC/AC14-FZK-Haus.ifc",
                                           "glTF2/2CylinderEngine-glTF-Binary/2CylinderEngine.glb"),
                         paramName);

class InvalidModel : public ::testing::TestWithParam<const char*> {};

TEST_P(InvalidModel, GivesOneLineAndLeavesNothing) {
    const QString model = kModels + QStringLiteral("invalid/") + QLatin1String(GetParam());
    ASSERT_TRUE(QFileInfo::exists(model)) << model.toStdString();
    ensureApplication();
    QTemporaryDir work;
    ASSERT_TRUE(work.isValid());
    ScopedVariable temporary("TMPDIR", QFile::encodeName(work.path() + QStringLiteral("/tmp")));
    DriverRun run(work.path());

    ASSERT_TRUE(run.start({QStringLiteral("--model"), model}));
    ASSERT_TRUE(run.finish());
    EXPECT_EQ(run.exitCode(), 2);
    const QStringList errors = run.errors();
    ASSERT_EQ(errors.size(), 1) << errors.join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(errors[0].startsWith(QStringLiteral("orvanta_host_driver: cannot read ") + model))
        << errors[0].toStdString();
    // Nothing was started: no render window, no session, no channel.
    EXPECT_FALSE(QFileInfo::exists(work.path() + QStringLiteral("/render_window.log")));
    EXPECT_EQ(channelLeftovers(run.driverPid(), 0), std::set<std::string>());
}

// Every unreadable file of the package but the one that takes minutes and gigabytes to reject.
INSTANTIATE_TEST_SUITE_P(Files, InvalidModel,
                         ::testing::Values("empty.3ds", "empty.ase", "empty.lwo", "empty.md5mesh",
                                           "empty.obj", "empty.off", "empty.ply", "empty.raw",
                                           "empty.smd", "empty.x", "emptyIrrMesh.xml",
                                           "malformed.obj"),
                         paramName);

}  // namespace
