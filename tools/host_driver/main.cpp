// orvanta_host_driver: plays the host's extension script against the real plug-in library. It
// loads the plug-in by path, starts it (which starts the render-window program beside it),
// exports its model when the render window asks for it (a built-in one, or any model file the
// Assimp library reads), has the render window export its view as a PNG, optionally plays an edit
// session, closes the render window and sums up what crossed: the model, the messages by type
// with their bytes, the timings beside the bare channel's for the same bytes, both sides' scene
// digests and the verdict.
//
//   orvanta_host_driver [--model FILE | --generate TRIANGLES] [--png PATH | --no-png] [--edits]
//                       [--edit-pause MS] [--hold] [--exports COUNT] [--interrupt kill|stop]
//                       [--work-dir DIR] [--log PATH] [--verbose] [PLUGIN_LIBRARY]
//
// Standard output shows the steps, one line each, and the closing summary (session_summary.h);
// with --verbose also every detail: each wait, the plug-in's log lines as they come, both digests
// of each step, and at the end the render window's log of every message it received. The log file
// always holds all of it: PATH, by default host_driver.log in the work folder given with
// --work-dir, else orvanta_host_driver.log in the current folder; its path is printed first.
//
// PLUGIN_LIBRARY defaults to the plug-in built with this program. A model file that cannot be read
// ends the driver before the plug-in is loaded: one line "orvanta_host_driver: cannot read <path>:
// <reason>" on standard error, exit code 2. Everything the session makes (the render window's log,
// the session folder, the channel's key files, the settings store) goes into one work folder: a
// fresh temporary folder removed at the end, or DIR, which is kept; the log is then
// DIR/render_window.log. The render window's view goes to PATH (default orvanta_view.png in the
// current folder). With --hold the driver stops after the model was exported (and the edits
// played) and a redraw crossed, prints the summary, and keeps the plug-in and the render window
// running until the process is killed. With --edits, --edit-pause waits MS milliseconds before each
// edit and after the last (default 1000 with --hold, else 0), so that a person can watch them.
//
// Like the host, the driver polls obrCheckMessages on its own thread (a timer on its event loop)
// and answers the render window's requests through its callbacks: the render window asks for the
// model ("Model") once the plug-in is ready, and the driver exports the model inside one
// enumeration bracket, then reports the view (obrSetCamera) and the model's attributes. After the
// export, and after each edit of --edits, it compares its own model's scene digest with the one the
// render window logs ("digest <step> host: ..." and "digest <step> window: ..."). When the render
// window sets an attribute, the driver stores it and reports it back ("attribute round trip: ok").
// Exit code 0 when every step was seen to arrive and every pair of digests agreed.
#include <QByteArray>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "platform/process.h"
#include "tools/common/render_log_texts.h"
#include "tools/host_driver/console.h"
#include "tools/host_driver/edit_session.h"
#include "tools/host_driver/host_model.h"
#include "tools/host_driver/host_side.h"
#include "tools/host_driver/interruption.h"
#include "tools/host_driver/log_follower.h"
#include "tools/host_driver/model_attributes.h"
#include "tools/host_driver/model_exporter.h"
#include "tools/host_driver/model_loader.h"
#include "tools/host_driver/plugin_library.h"
#include "tools/host_driver/session_summary.h"
#include "tools/host_driver/window_digests.h"

namespace {

using namespace orvanta::tools;

// How long the render window gets for each step; it is started from scratch, possibly under a
// sanitizer, on a loaded machine.
constexpr int kStepDeadlineMs = 120000;
// The render window logs its attribute requests right after the state line that lets it send them;
// this long the driver looks for them once it has seen that line.
constexpr int kRoundTripGraceMs = 2000;
// Models larger than this many triangles show the walk's progress on a terminal.
constexpr std::int64_t kProgressBarTriangles = 100000;
// The exit code for a command line or a model file the driver cannot use.
constexpr int kUsageExitCode = 2;
// A model file is read first by a copy of the driver of its own, within these bounds: whatever the
// model library does with a hostile file, the driver reports it and goes on.
constexpr std::uint64_t kModelReadMemoryBytes = std::uint64_t(4) << 30;
constexpr int kModelReadDeadlineMs = 120000;
// The hidden option of that copy.
constexpr char kCheckModelOption[] = "check-model";
// The pause before each edit, by default: with --hold, long enough to watch each.
constexpr int kHeldEditPauseMs = 1000;
constexpr int kLongestEditPauseMs = 3600000;
// How long the bare channel gets for the summary's comparison.
constexpr int kRawChannelDeadlineMs = 120000;

// What the command line asks for.
struct Options {
    bool edits = false;
    bool hold = false;
    QString workFolder;
    QString pluginPath;
    QString modelPath;                    // empty: the built-in model
    QString checkModelPath;               // the copy that only tries to read a model file
    std::int64_t generatedTriangles = 0;  // above 0: a generated model of about that size
    int exports = 1;                      // how many times the model is walked
    Interruption::Kind interrupt = Interruption::Kind::None;
    QString pngPath;  // absolute; empty with --no-png
    bool verbose = false;
    QString logPath;      // as given; empty: the default
    int editPauseMs = 0;  // before each edit
};

// What the session measured and compared, for the summary.
struct SessionRecord {
    std::vector<DigestPair> digests;
    std::optional<double> hostExportSeconds;  // the first export's
    std::optional<double> endToEndSeconds;
};

// The command line as read: the options to run with, or, when it asks for help or cannot be used
// (its reason printed already), no options and the exit code the driver ends with at once.
struct ParsedCommandLine {
    std::optional<Options> options;
    int exitCode = 0;
};

// The plug-in logs through the Qt message stream of the process (obrAppendLog): shown as it comes.
void printQtMessage(QtMsgType type, const QMessageLogContext&, const QString& message) {
    const char* kind = type == QtDebugMsg ? "plug-in log" : "Qt message";
    say("  %s: %s", kind, qUtf8Printable(message));
}

// Shown with --verbose; always in the log file.
void printRenderWindowLog(const LogFollower& log) {
    say("--- what crossed: the render window's log (%s) ---", qUtf8Printable(log.path()));
    for (const QString& line : log.lines())
        say("  %s", qUtf8Printable(line));
    say("--- end of the render window's log ---");
}

// Waits for a line starting with `prefix`, or for the render window's last line.
bool awaitRenderWindow(const LogFollower& log, const QString& prefix, const char* what) {
    say("host: waiting for the render window: %s", what);
    const auto reached = [&](const QStringList& lines) {
        for (const QString& line : lines) {
            if (line.startsWith(prefix) || line == QLatin1String(kClosedLine))
                return true;
        }
        return false;
    };
    if (log.waitUntil(reached, kStepDeadlineMs) && !log.findLine(prefix).isNull())
        return true;
    if (log.writerEnded())
        say("host: FAILED: the render window ended before \"%s\"", qUtf8Printable(prefix));
    else
        say("host: FAILED: no \"%s\" from the render window within %d s", qUtf8Printable(prefix),
            kStepDeadlineMs / 1000);
    return false;
}

// Makes `folder` the home of everything the session writes. Before the plug-in starts: the
// settings store, the temporary folder and the runtime folder are taken from the environment at
// first use, and the render window inherits it.
QString prepareWorkFolder(const QString& folder) {
    QDir().mkpath(folder + QStringLiteral("/tmp"));
    QDir().mkpath(folder + QStringLiteral("/config"));
    qputenv("TMPDIR", QFile::encodeName(folder + QStringLiteral("/tmp")));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(folder + QStringLiteral("/config")));
    // The plug-in's session folder goes into the runtime folder; one of this folder's own keeps it
    // here. Private, as the system's is.
    const QString runtime = folder + QStringLiteral("/run");
    QDir().mkpath(runtime);
    QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime));
    const QString logPath = folder + QStringLiteral("/render_window.log");
    QFile log(logPath);
    log.open(QIODevice::WriteOnly | QIODevice::Truncate);
    qputenv("ORVANTA_RENDER_LOG", QFile::encodeName(logPath));
    return logPath;
}

// Waits for `count` more digests of the render window and compares the last with `host`, the
// model's. `seenAt`, if given, is set to when the window's digest was seen.
bool compareDigests(WindowDigests& window, const QString& host, const char* step, int count,
                    SessionRecord& record,
                    std::chrono::steady_clock::time_point* seenAt = nullptr) {
    say("digest %s host: %s", step, qUtf8Printable(host));
    const std::optional<QString> seen = window.awaitNext(count, kStepDeadlineMs);
    if (seenAt)
        *seenAt = std::chrono::steady_clock::now();
    record.digests.push_back({QString::fromUtf8(step), host, seen.value_or(QString())});
    if (!seen) {
        say("host: FAILED: no scene digest of the render window after %s within %d s", step,
            kStepDeadlineMs / 1000);
        return false;
    }
    say("digest %s window: %s", step, qUtf8Printable(*seen));
    if (*seen != host) {
        say("host: FAILED: the scene digests after %s differ", step);
        return false;
    }
    orvanta::tools::step("host: the scene digests after %s agree", step);
    return true;
}

// The host's share of the walk (its export calls) and the time from the start of the
// enumeration to the render window's digest of the scene it applied, which it logs after handling
// the walk's last message; and how much the host's private memory grew during the walk, beside the
// largest mesh's message.
void reportExportTime(std::int64_t triangles, const ModelExporter::WalkFigures& walk,
                      std::chrono::steady_clock::time_point applied, SessionRecord& record) {
    const double seconds = std::chrono::duration<double>(applied - walk.start).count();
    if (!record.endToEndSeconds) {
        record.hostExportSeconds = walk.seconds;
        record.endToEndSeconds = seconds;
    }
    step(
        "host: timing: %lld triangles: the host's export calls took %.3f s; from the start of "
        "the enumeration to the render window's scene in %.3f s, %.0f triangles/s",
        static_cast<long long>(triangles), walk.seconds, seconds,
        seconds > 0 ? triangles / seconds : 0.0);
    say("host: memory: private memory grew by %.1f MB during the export; the largest mesh's "
        "message is %.1f MB",
        static_cast<double>(walk.privateGrowthBytes) / 1e6,
        static_cast<double>(walk.largestMeshBytes) / 1e6);
}

// Checks the settings store through the plug-in: a run counter that must read back.
bool checkSettings(const PluginLibrary& plugin) {
    const char* const key = "HostDriverRuns";
    const int runs = plugin.existsAppSetting(key) ? plugin.getAppSetting(key) : 0;
    plugin.setAppSetting(key, runs + 1);
    const int stored = plugin.getAppSetting(key);
    say("host: setting %s: was %d, set to %d, reads back %d", key, runs, runs + 1, stored);
    if (stored == runs + 1)
        return true;
    say("host: FAILED: the setting did not keep its value");
    return false;
}

bool hasLine(const QStringList& lines, const QString& line) {
    return lines.contains(line);
}

// Once the model has arrived, the render window asks for the model's GeoReference attributes and
// sets (Model, RenderWindow, Shown) to "1"; the host stores the value and reports it back, and the
// window logs it as a dictionary message. A window that asks for nothing is no failure: the driver
// says so and goes on.
bool checkAttributeRoundTrip(const LogFollower& log) {
    const QString sent = QStringLiteral("sent setEnt Model RenderWindow Shown 1");
    const QString back =
        QStringLiteral("onDictionaryMessage owner=Model dictionary=RenderWindow key=Shown value=1");
    say("host: waiting for the render window's attribute round trip");
    // The window may send once the plug-in's state says the model no longer loads, which the
    // plug-in sends after the export's transaction.
    const auto settled = [&](const QStringList& lines) {
        if (hasLine(lines, sent) || hasLine(lines, QLatin1String(kClosedLine)))
            return true;
        const int begin = lines.indexOf(QStringLiteral("onBeginTransaction name=EnumeratingScene"));
        for (int i = begin < 0 ? lines.size() : begin + 1; i < lines.size(); ++i) {
            if (lines[i].startsWith(QLatin1String("onSetState loadingModel=0")))
                return true;
        }
        return false;
    };
    log.waitUntil(settled, kStepDeadlineMs);
    if (!hasLine(log.lines(), sent))
        log.waitUntil([&](const QStringList& lines) { return hasLine(lines, sent); },
                      kRoundTripGraceMs);
    if (!hasLine(log.lines(), sent)) {
        say("attribute round trip: not seen (the render window set no attribute)");
        return true;
    }
    if (!log.waitForLine(back, kStepDeadlineMs)) {
        say("host: FAILED: the attribute the render window set did not come back within %d s",
            kStepDeadlineMs / 1000);
        return false;
    }
    step("attribute round trip: ok");
    return true;
}

// Has the render window export its view to `path` and waits for its answer.
bool exportView(const PluginLibrary& plugin, const LogFollower& log, const QString& path) {
    const QByteArray file = path.toUtf8();
    say("host: obrExportMI(\"%s\")", file.constData());
    plugin.exportMI(file.constData());
    const QString done = QLatin1String(kExportedLinePrefix) + path;
    const QString failed = QLatin1String(kExportFailedLinePrefix) + path + QLatin1Char(':');
    const auto answered = [&](const QStringList& lines) {
        for (const QString& line : lines) {
            if (line == done || line.startsWith(failed) || line == QLatin1String(kClosedLine))
                return true;
        }
        return false;
    };
    say("host: waiting for the render window: the view exported");
    log.waitUntil(answered, kStepDeadlineMs);
    const QStringList lines = log.lines();
    if (hasLine(lines, done)) {
        step("render window's view: %s", file.constData());
        return true;
    }
    for (const QString& line : lines) {
        if (line.startsWith(failed)) {
            say("host: FAILED: the render window could not export its view: %s",
                qUtf8Printable(line.mid(failed.size()).trimmed()));
            return false;
        }
    }
    say("host: FAILED: no \"exported %s\" from the render window within %d s", file.constData(),
        kStepDeadlineMs / 1000);
    return false;
}

// The session after obrInitialize, up to the point where the render window may close.
// The export after the render window was killed or stopped in its middle: the view comes back
// (a new render window for a killed one, the stopped one running again) and gets the whole scene.
bool recoverFromInterruption(const PluginLibrary& plugin, Interruption& interruption,
                             const ModelExporter& exporter, WindowDigests& digests,
                             const SceneDigest& exported, SessionRecord& record) {
    step("host: the export returned after %.3f s", exporter.lastWalk().seconds);
    record.hostExportSeconds = exporter.lastWalk().seconds;
    if (!interruption.recover(plugin, kStepDeadlineMs))
        return false;
    const QString host = exported.text();
    say("digest resync host: %s", qUtf8Printable(host));
    const std::optional<QString> seen = digests.awaitMatching(host, kStepDeadlineMs);
    say("digest resync window: %s", seen ? qUtf8Printable(*seen) : "(none)");
    record.digests.push_back({QStringLiteral("resync"), host, seen.value_or(QString())});
    if (!seen || *seen != host) {
        say("host: FAILED: the render window did not get the whole scene again within %d s",
            kStepDeadlineMs / 1000);
        return false;
    }
    step("host: the scene digests after the resync agree");
    return true;
}

// Waits `ms` milliseconds with the event loop running, so that the host's poll goes on.
void pauseFor(int ms) {
    if (ms <= 0)
        return;
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// The render window's first process id and its platform line, once it has started.
void reportRenderWindowUp(const LogFollower& renderLog) {
    const QList<qint64> pids = startedRenderWindows(renderLog.lines());
    const QString platform = renderLog.findLine(QStringLiteral("platform "));
    step("render window up: process %lld, %s", pids.isEmpty() ? 0LL : pids.first(),
         platform.isNull() ? "platform unknown" : qUtf8Printable(platform));
}

bool runSession(const PluginLibrary& plugin, HostSide& host, HostModel& model,
                ModelExporter& exporter, const LogFollower& renderLog, const Options& options,
                Interruption& interruption, SessionRecord& record) {
    if (!checkSettings(plugin))
        return false;
    plugin.appendLog("host driver: session running");
    // From its start on, the render window's end ends every wait for it.
    if (!renderLog.waitUntil(
            [](const QStringList& lines) { return !startedRenderWindows(lines).isEmpty(); },
            kStepDeadlineMs) ||
        !followRenderWindow(renderLog)) {
        say("host: FAILED: the render window did not start within %d s", kStepDeadlineMs / 1000);
        return false;
    }
    if (!awaitRenderWindow(renderLog, QLatin1String(kPluginReadyLine),
                           "it is up and the plug-in counts it as running"))
        return false;
    reportRenderWindowUp(renderLog);

    // Before the export, so that the host's own digest takes no time from what is measured.
    const SceneDigest exported = model.digest();
    say("host: waiting for the render window to ask for the model");
    if (!host.runUntil([&] { return host.modelExports() > 0; }, kStepDeadlineMs)) {
        say("host: FAILED: no request for the model within %d s", kStepDeadlineMs / 1000);
        return false;
    }
    WindowDigests digests(renderLog);
    if (interruption.active())
        return recoverFromInterruption(plugin, interruption, exporter, digests, exported, record);
    std::chrono::steady_clock::time_point applied;
    if (!compareDigests(digests, exported.text(), "export", 1, record, &applied))
        return false;
    reportExportTime(exported.triangles, exporter.lastWalk(), applied, record);
    // Walks again, as the host does when it sends the model anew: now into warm memory on both
    // sides.
    for (int walk = 2; walk <= options.exports; ++walk) {
        say("host: export %d of %d", walk, options.exports);
        exporter.exportModel();
        if (!compareDigests(digests, exported.text(), "export again", 1, record, &applied))
            return false;
        reportExportTime(exported.triangles, exporter.lastWalk(), applied, record);
    }
    if (!checkAttributeRoundTrip(renderLog))
        return false;
    if (!options.pngPath.isEmpty() && !exportView(plugin, renderLog, options.pngPath))
        return false;

    if (options.edits) {
        // A pause before each edit, and after the last: each state of the view stays a while.
        EditSession session(plugin, model, exporter, host, [&](const char* name, int count) {
            if (!compareDigests(digests, model.digest().text(), name, count, record))
                return false;
            pauseFor(options.editPauseMs);
            return true;
        });
        if (options.editPauseMs > 0)
            step("host: playing the edits, %d ms apart", options.editPauseMs);
        pauseFor(options.editPauseMs);
        if (!session.run())
            return false;
    }

    say("host: obrRestartRender()");
    plugin.restartRender();
    if (!awaitRenderWindow(renderLog, QStringLiteral("onRedraw"), "the redraw request"))
        return false;
    step("host: a redraw request reached the render window");
    return true;
}

// The options of the command line, declared once for the parser and for reading their values.
struct DeclaredOptions {
    DeclaredOptions();
    QList<QCommandLineOption> all() const {
        return {model,   generate,  png,        noPng, edits,   editPause, hold,
                exports, interrupt, checkModel, work,  logFile, verbose};
    }

    const QCommandLineOption model;
    const QCommandLineOption generate;
    const QCommandLineOption png;
    const QCommandLineOption noPng;
    const QCommandLineOption edits;
    const QCommandLineOption editPause;
    const QCommandLineOption hold;
    const QCommandLineOption exports;
    const QCommandLineOption interrupt;
    QCommandLineOption checkModel;
    const QCommandLineOption work;
    const QCommandLineOption logFile;
    const QCommandLineOption verbose;
};

DeclaredOptions::DeclaredOptions()
    : model(QStringLiteral("model"),
            QStringLiteral("Export <file>, any model the Assimp library reads (glTF, OBJ, FBX, "
                           "Collada, STL, PLY, 3DS, ...), instead of the built-in model."),
            QStringLiteral("file")),
      generate(QStringLiteral("generate"),
               QStringLiteral("Export a generated terrain of about <triangles> triangles instead "
                              "of the built-in model, and report how fast it arrived."),
               QStringLiteral("triangles")),
      png(QStringLiteral("png"),
          QStringLiteral("Where the render window exports its view (default: orvanta_view.png in "
                         "the current folder)."),
          QStringLiteral("path"), QStringLiteral("orvanta_view.png")),
      noPng(QStringLiteral("no-png"), QStringLiteral("Do not have the view exported.")),
      edits(QStringLiteral("edits"),
            QStringLiteral("After the export, hide and show an entity, move an instance, change a "
                           "texture, erase a group and open a new model, comparing after each. "
                           "Plays on the built-in model only.")),
      editPause(QStringLiteral("edit-pause"),
                QStringLiteral("With --edits, wait <ms> milliseconds before each edit and after "
                               "the last, to watch them (default: 1000 with --hold, else 0)."),
                QStringLiteral("ms")),
      hold(QStringLiteral("hold"),
           QStringLiteral("After the session, print the summary and keep the plug-in and the "
                          "render window running until killed.")),
      exports(QStringLiteral("exports"),
              QStringLiteral("Walk the model <count> times (default 1), each walk in its own "
                             "enumeration bracket, comparing digests and reporting the timing of "
                             "each."),
              QStringLiteral("count"), QStringLiteral("1")),
      interrupt(QStringLiteral("interrupt"),
                QStringLiteral("At half of the export, kill the render window (kill: then have "
                               "the plug-in start a new one) or stop it (stop: resumed after the "
                               "export), and check that the view gets the whole scene again."),
                QStringLiteral("kill|stop")),
      checkModel(QString::fromLatin1(kCheckModelOption), QStringLiteral("Only try to read <file>."),
                 QStringLiteral("file")),
      work(QStringLiteral("work-dir"),
           QStringLiteral("Keep the session's files in <dir> (default: a temporary folder)."),
           QStringLiteral("dir")),
      logFile(QStringLiteral("log"),
              QStringLiteral("Write the whole session's log to <path> (default: host_driver.log "
                             "in the --work-dir folder, else orvanta_host_driver.log in the "
                             "current folder)."),
              QStringLiteral("path")),
      verbose(QStringLiteral("verbose"),
              QStringLiteral("Show every detail here too: each wait, the plug-in's log, both "
                             "digests of each step and the render window's message log.")) {
    checkModel.setFlags(QCommandLineOption::HiddenFromHelp);
}

// The values of a processed command line; none, with the reason on standard error and
// kUsageExitCode, for values it cannot use.
ParsedCommandLine optionsFrom(const QCommandLineParser& parser, const DeclaredOptions& declared) {
    Options options;
    options.edits = parser.isSet(declared.edits);
    options.hold = parser.isSet(declared.hold);
    options.verbose = parser.isSet(declared.verbose);
    options.logPath = parser.value(declared.logFile);
    options.editPauseMs = options.hold ? kHeldEditPauseMs : 0;
    if (parser.isSet(declared.editPause)) {
        bool number = false;
        options.editPauseMs = parser.value(declared.editPause).toInt(&number);
        if (!number || options.editPauseMs < 0 || options.editPauseMs > kLongestEditPauseMs) {
            std::fprintf(stderr,
                         "orvanta_host_driver: --edit-pause takes milliseconds from 0 to %d\n",
                         kLongestEditPauseMs);
            return {std::nullopt, kUsageExitCode};
        }
    }
    options.workFolder = parser.value(declared.work);
    options.modelPath = parser.value(declared.model);
    options.checkModelPath = parser.value(declared.checkModel);
    if (parser.isSet(declared.generate)) {
        bool number = false;
        options.generatedTriangles = parser.value(declared.generate).toLongLong(&number);
        if (!number || options.generatedTriangles <= 0 || !options.modelPath.isEmpty()) {
            std::fprintf(stderr,
                         "orvanta_host_driver: --generate takes a positive number of triangles "
                         "and no --model\n");
            return {std::nullopt, kUsageExitCode};
        }
    }
    bool interruptKnown = false;
    options.interrupt = Interruption::kindOf(parser.value(declared.interrupt), &interruptKnown);
    if (!interruptKnown) {
        std::fprintf(stderr, "orvanta_host_driver: --interrupt takes kill or stop\n");
        return {std::nullopt, kUsageExitCode};
    }
    bool exportsNumber = false;
    options.exports = parser.value(declared.exports).toInt(&exportsNumber);
    if (!exportsNumber || options.exports < 1) {
        std::fprintf(stderr, "orvanta_host_driver: --exports takes a positive count\n");
        return {std::nullopt, kUsageExitCode};
    }
    const QStringList positional = parser.positionalArguments();
    options.pluginPath =
        positional.isEmpty() ? QString::fromUtf8(ORVANTA_PLUGIN_LIBRARY) : positional.first();
    if (!parser.isSet(declared.noPng))
        options.pngPath = QFileInfo(parser.value(declared.png)).absoluteFilePath();
    if (options.edits && (!options.modelPath.isEmpty() || options.generatedTriangles > 0)) {
        std::fprintf(stderr,
                     "orvanta_host_driver: --edits plays on the built-in model; leave out "
                     "--model\n");
        return {std::nullopt, kUsageExitCode};
    }
    return {std::move(options)};
}

// Reads the command line. Prints the help on standard output for --help (exit code 0), and the
// reason on standard error for a command line it cannot parse (exit code 1, as Qt's parser gives
// it) or use (kUsageExitCode); main() ends the driver with that code.
ParsedCommandLine parseOptions(const QCoreApplication& application) {
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Plays the host script: loads the plug-in, exports a model (the built-in one "
        "or a model file) to the render window, has it export its view as a PNG and "
        "sums up what crossed."));
    const QCommandLineOption helpOption = parser.addHelpOption();
    const DeclaredOptions declared;
    parser.addOptions(declared.all());
    parser.addPositionalArgument(QStringLiteral("plugin"),
                                 QStringLiteral("The plug-in library (default: the one built with "
                                                "this program)."));
    if (!parser.parse(application.arguments())) {
        std::fprintf(stderr, "%s: %s\n", qUtf8Printable(QCoreApplication::applicationName()),
                     qUtf8Printable(parser.errorText()));
        return {std::nullopt, EXIT_FAILURE};
    }
    const bool helpAll = parser.isSet(QStringLiteral("help-all"));
    if (helpAll || parser.isSet(helpOption)) {
        if (helpAll) {  // the option Qt's own help lists for --help-all
            parser.addOption(QCommandLineOption(
                QStringLiteral("qmljsdebugger"),
                QStringLiteral("Activates the QML/JS debugger with a specified port. The value "
                               "must be of format port:1234[,block]. \"block\" makes the "
                               "application wait for a connection."),
                QStringLiteral("value")));
        }
        std::fputs(qUtf8Printable(parser.helpText()), stdout);
        return {std::nullopt, EXIT_SUCCESS};
    }
    return optionsFrom(parser, declared);
}

// The copy of the driver that only tries to read `path`, within the memory ceiling: exit code 0
// when it can, else kUsageExitCode with the reason on standard output.
int checkModel(const QString& path) {
    xel::platform::limitOwnMemory(kModelReadMemoryBytes);
    QString reason;
    if (loadModel(path, &reason))
        return 0;
    std::printf("%s\n", qUtf8Printable(reason));
    return kUsageExitCode;
}

// Whether `path` reads, tried by a copy of this program within the memory ceiling and the
// deadline; when not, `reason` says why.
bool tryReadingApart(const QString& path, QString* reason) {
    QProcess copy;
    copy.setProcessChannelMode(QProcess::SeparateChannels);
    copy.start(QCoreApplication::applicationFilePath(),
               {QStringLiteral("--") + QLatin1String(kCheckModelOption), path});
    if (!copy.waitForStarted()) {
        *reason = QStringLiteral("could not start a reader: %1").arg(copy.errorString());
        return false;
    }
    if (!copy.waitForFinished(kModelReadDeadlineMs)) {
        copy.kill();
        copy.waitForFinished();
        *reason =
            QStringLiteral("reading it took longer than %1 s").arg(kModelReadDeadlineMs / 1000);
        return false;
    }
    if (copy.exitStatus() != QProcess::NormalExit) {
        *reason = QStringLiteral(
                      "the model library failed reading it (it crashed, or went past "
                      "the %1 MiB memory ceiling)")
                      .arg(kModelReadMemoryBytes >> 20);
        return false;
    }
    if (copy.exitCode() == 0)
        return true;
    *reason = QString::fromUtf8(copy.readAllStandardOutput()).trimmed();
    if (reason->isEmpty())
        *reason = QStringLiteral("the model library failed reading it (exit code %1)")
                      .arg(copy.exitCode());
    return false;
}

// The model to export: the file's, or the built-in one with its attributes. `source` says which
// ("built-in", "generated", or the file's path with the time its reading took).
std::optional<HostModel> prepareModel(const Options& options, QString* source) {
    if (options.generatedTriangles > 0) {
        HostModel model = generatedModel(options.generatedTriangles);
        describeModel(model, "m", kBuiltInLocation);
        *source = QStringLiteral("generated");
        return model;
    }
    if (options.modelPath.isEmpty()) {
        HostModel model = builtInModel();
        describeModel(model, "m", kBuiltInLocation);
        *source = QStringLiteral("built-in");
        return model;
    }
    QElapsedTimer clock;
    clock.start();
    QString reason;
    std::optional<HostModel> model;
    if (tryReadingApart(options.modelPath, &reason))
        model = loadModel(options.modelPath, &reason);
    if (!model) {
        std::fprintf(stderr, "orvanta_host_driver: cannot read %s: %s\n",
                     qUtf8Printable(options.modelPath), qUtf8Printable(reason));
        return std::nullopt;
    }
    *source = QStringLiteral("%1, read in %2 ms").arg(options.modelPath).arg(clock.elapsed());
    return model;
}

// The model's make-up, as the driver is about to export it.
void describeLoadedModel(const HostModel& model, const SceneDigest& summary,
                         const QString& source) {
    const QString makeUp = QStringList{plural(summary.materials, "material", "materials"),
                                       plural(summary.definitions, "definition", "definitions"),
                                       plural(summary.groups, "group", "groups"),
                                       plural(summary.instances, "instance", "instances"),
                                       plural(summary.meshes, "mesh", "meshes"),
                                       plural(summary.triangles, "triangle", "triangles")}
                               .join(QStringLiteral(", "));
    step("model \"%s\" (%s): %s, %s camera", model.title.constData(), qUtf8Printable(source),
         qUtf8Printable(makeUp), model.camera ? "its own" : "a framing");
}

// The absolute work folder: `requested`, or a fresh temporary folder that `temporary` then owns
// (removed with it). Nothing, after saying why, when no temporary folder can be made.
std::optional<QString> makeWorkFolder(const QString& requested,
                                      std::unique_ptr<QTemporaryDir>& temporary) {
    QString workFolder = requested;
    if (workFolder.isEmpty()) {
        temporary = std::make_unique<QTemporaryDir>();
        if (!temporary->isValid()) {
            say("host: FAILED: no temporary folder: %s", qUtf8Printable(temporary->errorString()));
            return std::nullopt;
        }
        workFolder = temporary->path();
    }
    QDir().mkpath(workFolder);
    return QDir(workFolder).absolutePath();
}

// The log file's absolute path: the one asked for, else host_driver.log in a work folder the
// caller keeps, else orvanta_host_driver.log in the current folder (a temporary work folder goes).
QString logFilePath(const Options& options, const QString& workFolder) {
    if (!options.logPath.isEmpty())
        return QFileInfo(options.logPath).absoluteFilePath();
    if (!options.workFolder.isEmpty())
        return workFolder + QStringLiteral("/host_driver.log");
    return QFileInfo(QStringLiteral("orvanta_host_driver.log")).absoluteFilePath();
}

// Loads the plug-in and logs its lines from then on; false, after saying why, when it does not
// load.
bool loadPlugin(PluginLibrary& plugin, const QString& path) {
    if (!plugin.load()) {
        say("host: FAILED: cannot load the plug-in: %s", qUtf8Printable(plugin.errorString()));
        return false;
    }
    step("plug-in loaded: %s", qUtf8Printable(path));
    qInstallMessageHandler(printQtMessage);
    return true;
}

// Ends the plug-in, which closes the render window, and waits for the window's end; then logs
// what crossed. Whether the window closed as it should.
bool closeRenderWindow(const PluginLibrary& plugin, const LogFollower& renderLog) {
    say("host: obrUninitialize()");
    plugin.uninitialize();
    const bool closed =
        awaitRenderWindow(renderLog, QLatin1String(kSentExitLine), "its answer EXIT") &&
        awaitRenderWindow(renderLog, QLatin1String(kClosedLine), "its end");
    if (closed)
        step("render window closed");
    printRenderWindowLog(renderLog);
    return closed;
}

// The bare channel between two processes carrying `count` messages of `bytes` in all: its time,
// or nothing with the reason in `failure`.
std::optional<double> measureRawChannel(std::int64_t count, std::int64_t bytes, QString* failure) {
    if (count <= 0 || bytes <= 0) {
        *failure = QStringLiteral("the render window logged no export to compare with");
        return std::nullopt;
    }
    QProcess raw;
    raw.setProcessChannelMode(QProcess::SeparateChannels);
    raw.start(QString::fromUtf8(ORVANTA_RAW_CHANNEL),
              {QString::number(count), QString::number(bytes)});
    if (!raw.waitForStarted() || !raw.waitForFinished(kRawChannelDeadlineMs)) {
        raw.kill();
        raw.waitForFinished();
        *failure = QStringLiteral("%1 did not run to its end (%2)")
                       .arg(QString::fromUtf8(ORVANTA_RAW_CHANNEL), raw.errorString());
        return std::nullopt;
    }
    const QString output = QString::fromUtf8(raw.readAllStandardOutput()).trimmed();
    say("host: %s", qUtf8Printable(output));
    static const QRegularExpression line(
        QStringLiteral("^raw channel: \\d+ messages, \\d+ bytes in ([0-9.]+) s$"));
    const QRegularExpressionMatch match = line.match(output);
    if (raw.exitStatus() != QProcess::NormalExit || raw.exitCode() != 0 || !match.hasMatch()) {
        *failure = QString::fromUtf8(raw.readAllStandardError()).trimmed();
        if (failure->isEmpty())
            *failure = QStringLiteral("exit code %1").arg(raw.exitCode());
        return std::nullopt;
    }
    return match.captured(1).toDouble();
}

// What the driver knows of the model before the session.
struct ModelFacts {
    QString title;
    QString source;
    SceneDigest digest;
};

// The summary of the session so far, from what it recorded and the render window's log, with
// the bare channel measured for the export's messages.
void printSummary(const ModelFacts& model, const SessionRecord& record,
                  const LogFollower& renderLog, const Options& options, bool ok) {
    SessionSummary summary;
    summary.modelTitle = model.title;
    summary.modelSource = model.source;
    summary.triangles = model.digest.triangles;
    summary.meshes = model.digest.meshes;
    summary.materials = model.digest.materials;
    summary.definitions = model.digest.definitions;
    summary.groups = model.digest.groups;
    summary.instances = model.digest.instances;
    const QStringList lines = renderLog.lines();
    for (int i = lines.size() - 1; i >= 0; --i) {
        if (const auto received = parseReceivedMessages(lines[i])) {
            summary.received = *received;
            break;
        }
    }
    const MessageCount stream = exportedStream(lines);
    summary.exportMessages = stream.count;
    summary.exportBytes = stream.bytes;
    summary.hostExportSeconds = record.hostExportSeconds;
    summary.endToEndSeconds = record.endToEndSeconds;
    say("host: measuring the bare channel for the same messages and bytes");
    summary.rawChannelSeconds =
        measureRawChannel(stream.count, stream.bytes, &summary.rawChannelFailure);
    summary.digests = record.digests;
    summary.ok = ok;
    summary.failure = firstFailure();
    summary.logPath = logPath();
    if (ok && !options.pngPath.isEmpty())
        summary.picturePath = options.pngPath;
    for (const QString& line : summaryLines(summary))
        step("%s", qUtf8Printable(line));
}

// Starts the loaded plug-in, plays the session and closes the render window (or, with --hold,
// keeps both running); then prints the summary. The program's exit code.
int playSession(const PluginLibrary& plugin, HostModel& model, const ModelFacts& facts,
                const LogFollower& renderLog, const Options& options) {
    ModelExporter exporter(plugin, model);
    ProgressBar bar(standardErrorIsTerminal() && facts.digest.triangles > kProgressBarTriangles);
    Interruption interruption(options.interrupt, renderLog);
    exporter.setProgressListener([&bar, &interruption](int percent) {
        bar.show(percent);
        interruption.onProgress(percent);
    });
    HostSide host(plugin, model, exporter);
    host.initialize(plugin.folder().toUtf8());
    say("host: obrInitialized() = %s", plugin.initialized() ? "true" : "false");
    // Base64 attributes (the model's preview) go to the render window too.
    plugin.receiveBase64Attributes(true);

    SessionRecord record;
    const bool ok =
        runSession(plugin, host, model, exporter, renderLog, options, interruption, record);
    bar.finish();
    if (ok && options.hold) {
        printSummary(facts, record, renderLog, options, ok);
        step(
            "host: holding: the plug-in and the render window stay up until this process is "
            "killed (Ctrl-C)");
        return QCoreApplication::exec();
    }

    // Also after a failure: the render window goes with the session.
    const bool closed = closeRenderWindow(plugin, renderLog);
    printSummary(facts, record, renderLog, options, ok && closed);
    if (!ok || !closed)
        return 1;
    say("host: done");
    return 0;
}

}  // namespace

int main(int argc, char* argv[]) {
    QCoreApplication application(argc, argv);
    const ParsedCommandLine commandLine = parseOptions(application);
    if (!commandLine.options)
        return commandLine.exitCode;
    const Options& options = *commandLine.options;
    if (!options.checkModelPath.isEmpty())
        return checkModel(options.checkModelPath);
    setVerbose(options.verbose);

    // Before anything of the session exists: a model that cannot be read leaves nothing behind.
    ModelFacts facts;
    std::optional<HostModel> loaded = prepareModel(options, &facts.source);
    if (!loaded)
        return kUsageExitCode;
    HostModel model = std::move(*loaded);
    loaded.reset();
    facts.title = QString::fromUtf8(model.title);
    facts.digest = model.digest();

    std::unique_ptr<QTemporaryDir> temporary;
    const std::optional<QString> workFolder = makeWorkFolder(options.workFolder, temporary);
    if (!workFolder)
        return 1;
    const QString logFile = logFilePath(options, *workFolder);
    QString logError;
    if (!openLogFile(logFile, &logError)) {
        std::fprintf(stderr, "orvanta_host_driver: cannot write the log file %s: %s\n",
                     qUtf8Printable(logFile), qUtf8Printable(logError));
        return 1;
    }
    step("log file: %s%s", qUtf8Printable(logFile),
         options.verbose ? "" : " (every detail; --verbose shows them here too)");
    describeLoadedModel(model, facts.digest, facts.source);
    const LogFollower renderLog(prepareWorkFolder(*workFolder));
    say("host: work folder %s", qUtf8Printable(*workFolder));

    PluginLibrary plugin(options.pluginPath);
    if (!loadPlugin(plugin, options.pluginPath))
        return 1;
    return playSession(plugin, model, facts, renderLog, options);
}
