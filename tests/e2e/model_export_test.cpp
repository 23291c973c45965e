// The host driver as the host process exporting its built-in model and playing its edit session,
// with the plug-in it loads and the real render window: the export arrives as one transaction,
// the render window's scene digest agrees with the host's after the export and after every edit,
// the render window exports its view as a PNG, and the session leaves no process and no shared
// memory behind.
#include <QByteArray>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <cstdint>
#include <memory>
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

bool isSceneLine(const QString& line) {
    for (const char* handler :
         {"onAddMesh ", "onAddGroup ", "onAddInstance ", "onAddComponentDef ", "onAddMaterial ",
          "onAddLayer ", "onRemoveEntity ", "onRemoveEntityMeshes ", "onClearSession"}) {
        if (line.startsWith(QLatin1String(handler)))
            return true;
    }
    return false;
}

int countStarting(const QStringList& lines, int from, int to, const char* prefix) {
    int count = 0;
    for (int i = from; i < to; ++i)
        count += lines[i].startsWith(QLatin1String(prefix));
    return count;
}

// The value of `name=<digits>` in `line`; -1 when missing.
long long numberField(const QString& line, const QString& name) {
    const QRegularExpression field(QStringLiteral("(?:^| )%1=(\\d+)(?: |$)").arg(name));
    const QRegularExpressionMatch match = field.match(line);
    return match.hasMatch() ? match.captured(1).toLongLong() : -1;
}

TEST(ModelExport, TheRenderWindowHoldsTheHostsModelAfterTheExportAndEveryEdit) {
    ensureApplication();
    QTemporaryDir work;
    ASSERT_TRUE(work.isValid());
    // The driver keeps the channel's key files in <work>/tmp; the clean-up must look there too.
    ScopedVariable temporary("TMPDIR", QFile::encodeName(work.path() + QStringLiteral("/tmp")));
    DriverRun run(work.path());
    const LogFollower log(work.path() + QStringLiteral("/render_window.log"));
    const LogOnFailure printer{log};

    // The render window's view goes into the work folder, which the test removes.
    const QString view = work.path() + QStringLiteral("/orvanta_view.png");
    // --verbose: the driver prints each step's digests, which the test compares.
    ASSERT_TRUE(run.start(
        {QStringLiteral("--edits"), QStringLiteral("--png"), view, QStringLiteral("--verbose")}));
    // Watched from the start, so that its end is never taken for another process's.
    if (log.waitForLine(QLatin1String(kStartedLinePrefix), kStepDeadlineMs) &&
        renderWindowPid(log) > 0)
        run.watchRenderWindow(renderWindowPid(log));
    ASSERT_TRUE(run.finish()) << "the driver did not end";
    const QStringList output = run.output();
    const QStringList lines = log.lines();
    EXPECT_EQ(run.exitCode(), 0) << run.transcript(output);
    ASSERT_FALSE(lines.isEmpty());

    // The view the render window exported after the export's digests agreed: a PNG file.
    EXPECT_TRUE(output.contains(QStringLiteral("render window's view: ") + view));
    QFile picture(view);
    ASSERT_TRUE(picture.open(QIODevice::ReadOnly));
    EXPECT_EQ(picture.read(8), QByteArray("\x89PNG\r\n\x1a\n", 8));

    // The whole walk in one transaction: nothing of it before the transaction opens, only held
    // messages while it is open, and as many scene messages replayed as were held.
    const int begin = lines.indexOf(QStringLiteral("onBeginTransaction name=EnumeratingScene"));
    ASSERT_GE(begin, 0);
    int end = begin + 1;
    while (end < lines.size() && !lines[end].startsWith(QLatin1String("onEndTransaction ")))
        ++end;
    int digest = end + 1;
    while (digest < lines.size() && !lines[digest].startsWith(QLatin1String(kDigestLinePrefix)))
        ++digest;
    ASSERT_LT(digest, lines.size()) << "no digest after the export";
    for (int i = 0; i < begin; ++i)
        EXPECT_FALSE(isSceneLine(lines[i])) << "before the transaction: " << lines[i].toStdString();
    int heldScene = 0;
    for (int i = begin + 1; i < end; ++i) {
        EXPECT_TRUE(lines[i].startsWith(QLatin1String("held "))) << lines[i].toStdString();
        for (const char* type : {"held addMesh ", "held addGroup ", "held addInstance ",
                                 "held addComp ", "held addMaterial ", "held addLayer "})
            heldScene += lines[i].startsWith(QLatin1String(type));
    }
    int replayed = 0;
    for (int i = end + 1; i < digest; ++i) {
        EXPECT_FALSE(lines[i].startsWith(QLatin1String("onBeginTransaction")))
            << lines[i].toStdString();
        replayed += isSceneLine(lines[i]);
    }
    EXPECT_GT(heldScene, 0);
    EXPECT_EQ(replayed, heldScene);

    // The window's digest after the export counts what its handlers logged (the model's ids are
    // distinct, so each line is one more of its kind).
    const QString& exported = lines[digest];
    EXPECT_EQ(numberField(exported, "meshes"), countStarting(lines, end, digest, "onAddMesh "));
    EXPECT_EQ(numberField(exported, "groups"), countStarting(lines, end, digest, "onAddGroup "));
    EXPECT_EQ(numberField(exported, "instances"),
              countStarting(lines, end, digest, "onAddInstance "));
    EXPECT_EQ(numberField(exported, "definitions"),
              countStarting(lines, end, digest, "onAddComponentDef "));
    EXPECT_EQ(numberField(exported, "materials"),
              countStarting(lines, end, digest, "onAddMaterial "));
    EXPECT_EQ(numberField(exported, "layers"), countStarting(lines, end, digest, "onAddLayer "));
    long long triangles = 0;
    for (int i = end; i < digest; ++i) {
        if (lines[i].startsWith(QLatin1String("onAddMesh ")))
            triangles += numberField(lines[i], "indices") / 3;
    }
    EXPECT_EQ(numberField(exported, "triangles"), triangles);

    // The host's digest after each step, as the driver printed it, against the window's digests
    // in the order it logged them.
    static const QRegularExpression hostLine(QStringLiteral("^digest (\\S+) host: (.*)$"));
    QStringList steps;
    QStringList hostDigests;
    for (const QString& line : output) {
        const QRegularExpressionMatch match = hostLine.match(line);
        if (match.hasMatch()) {
            steps << match.captured(1);
            hostDigests << match.captured(2);
        }
    }
    QStringList windowDigests;
    for (const QString& line : lines) {
        if (line.startsWith(QLatin1String(kDigestLinePrefix)))
            windowDigests << line.mid(static_cast<int>(sizeof kDigestLinePrefix) - 1);
    }
    const QStringList expectedSteps = {
        "export", "hide", "show", "move", "retexture", "retexture-refresh", "erase", "new-model"};
    EXPECT_EQ(steps, expectedSteps);
    EXPECT_EQ(windowDigests, hostDigests);

    // The render window closed and ended, and nothing of the channel is left: no segment made
    // by either process, no named event or lock of the driver's queue id.
    EXPECT_EQ(lines.last(), QLatin1String(kClosedLine));
    ASSERT_NE(run.renderWindow(), nullptr);
    if (lines.last() == QLatin1String(kClosedLine)) {
        EXPECT_TRUE(run.renderWindow()->waitForEnd());
    }
    EXPECT_EQ(channelLeftovers(run.driverPid(), run.renderWindow()->pid()),
              std::set<std::string>());
}

}  // namespace
