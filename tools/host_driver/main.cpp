// orvanta_host_driver: plays the host's extension script against the real plug-in library. It
// loads the plug-in by path, starts it (which starts the render-window program beside it),
// exports its built-in model when the render window asks for it, optionally plays an edit
// session, closes the render window and prints what crossed: the plug-in's log lines as they come,
// the scene digests of both sides, and at the end the render window's log of every message it
// received.
//
//   orvanta_host_driver [--edits] [--hold] [--work-dir DIR] [PLUGIN_LIBRARY]
//
// PLUGIN_LIBRARY defaults to the plug-in built with this program. Everything the session makes
// (the render window's log, the session folder, the channel's key files, the settings store) goes
// into one work folder: a fresh temporary folder removed at the end, or DIR, which is kept; the
// log is then DIR/render_window.log. With --hold the driver stops after the model was exported
// and a redraw crossed, and keeps the plug-in running until the process is killed.
//
// Like the host, the driver polls obrCheckMessages on its own thread (a timer on its event loop)
// and answers the render window's requests through its callbacks: the render window asks for the
// model ("Model") once the plug-in is ready, and the driver exports its built-in model inside one
// enumeration bracket. After the export, and after each edit of --edits, it compares its own
// model's scene digest with the one the render window logs ("digest <step> host: ..." and
// "digest <step> window: ...").
// Exit code 0 when every step was seen to arrive and every pair of digests agreed.
#include <QByteArray>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <memory>
#include <optional>

#include "tools/host_driver/console.h"
#include "tools/host_driver/edit_session.h"
#include "tools/host_driver/host_model.h"
#include "tools/host_driver/host_side.h"
#include "tools/host_driver/log_follower.h"
#include "tools/host_driver/model_exporter.h"
#include "tools/host_driver/plugin_library.h"
#include "tools/host_driver/window_digests.h"

namespace {

using namespace orvanta::tools;

// How long the render window gets for each step; it is started from scratch, possibly under a
// sanitizer, on a loaded machine.
constexpr int kStepDeadlineMs = 120000;

// The plug-in logs through the Qt message stream of the process (obrAppendLog): shown as it comes.
void printQtMessage(QtMsgType type, const QMessageLogContext&, const QString& message) {
    const char* kind = type == QtDebugMsg ? "plug-in log" : "Qt message";
    say("  %s: %s", kind, qUtf8Printable(message));
}

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
            if (line.startsWith(prefix) || line == QLatin1String("closed"))
                return true;
        }
        return false;
    };
    if (log.waitUntil(reached, kStepDeadlineMs) && !log.findLine(prefix).isNull())
        return true;
    say("host: FAILED: no \"%s\" from the render window within %d s", qUtf8Printable(prefix),
        kStepDeadlineMs / 1000);
    return false;
}

// Makes `folder` the home of everything the session writes. Before the plug-in starts: the
// settings store and the temporary folder are taken from the environment at first use, and the
// render window inherits it.
QString prepareWorkFolder(const QString& folder) {
    QDir().mkpath(folder + QStringLiteral("/tmp"));
    QDir().mkpath(folder + QStringLiteral("/config"));
    qputenv("TMPDIR", QFile::encodeName(folder + QStringLiteral("/tmp")));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(folder + QStringLiteral("/config")));
    const QString logPath = folder + QStringLiteral("/render_window.log");
    QFile log(logPath);
    log.open(QIODevice::WriteOnly | QIODevice::Truncate);
    qputenv("ORVANTA_RENDER_LOG", QFile::encodeName(logPath));
    return logPath;
}

// Waits for `count` more digests of the render window and compares the last with the model's.
bool compareDigests(WindowDigests& window, const HostModel& model, const char* step, int count) {
    const QString host = model.digest().text();
    say("digest %s host: %s", step, qUtf8Printable(host));
    const std::optional<QString> seen = window.awaitNext(count, kStepDeadlineMs);
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
    say("host: the scene digests after %s agree", step);
    return true;
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

// The session after obrInitialize, up to the point where the render window may close.
bool runSession(const PluginLibrary& plugin, HostSide& host, HostModel& model,
                ModelExporter& exporter, const LogFollower& renderLog, bool edits) {
    if (!checkSettings(plugin))
        return false;
    plugin.appendLog("host driver: session running");
    if (!awaitRenderWindow(renderLog, QStringLiteral("plug-in ready"),
                           "it is up and the plug-in counts it as running"))
        return false;

    say("host: waiting for the render window to ask for the model");
    if (!host.runUntil([&] { return host.modelExports() > 0; }, kStepDeadlineMs)) {
        say("host: FAILED: no request for the model within %d s", kStepDeadlineMs / 1000);
        return false;
    }
    WindowDigests digests(renderLog);
    if (!compareDigests(digests, model, "export", 1))
        return false;

    if (edits) {
        EditSession session(plugin, model, exporter, host, [&](const char* step, int count) {
            return compareDigests(digests, model, step, count);
        });
        if (!session.run())
            return false;
    }

    say("host: obrRestartRender()");
    plugin.restartRender();
    return awaitRenderWindow(renderLog, QStringLiteral("onRedraw"), "the redraw request");
}

}  // namespace

int main(int argc, char* argv[]) {
    QCoreApplication application(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Plays the host script: loads the plug-in, exports a built-in model to the "
                       "render window and prints what crossed."));
    parser.addHelpOption();
    const QCommandLineOption editsOption(
        QStringLiteral("edits"),
        QStringLiteral("After the export, hide and show an entity, move an instance, change a "
                       "texture, erase a group and open a new model, comparing after each."));
    const QCommandLineOption holdOption(
        QStringLiteral("hold"),
        QStringLiteral("Keep the plug-in and the render window running until killed."));
    const QCommandLineOption workOption(
        QStringLiteral("work-dir"),
        QStringLiteral("Keep the session's files in <dir> (default: a temporary folder)."),
        QStringLiteral("dir"));
    parser.addOption(editsOption);
    parser.addOption(holdOption);
    parser.addOption(workOption);
    parser.addPositionalArgument(QStringLiteral("plugin"),
                                 QStringLiteral("The plug-in library (default: the one built with "
                                                "this program)."));
    parser.process(application);

    const QStringList positional = parser.positionalArguments();
    const QString pluginPath =
        positional.isEmpty() ? QString::fromUtf8(ORVANTA_PLUGIN_LIBRARY) : positional.first();

    std::unique_ptr<QTemporaryDir> temporary;
    QString workFolder = parser.value(workOption);
    if (workFolder.isEmpty()) {
        temporary = std::make_unique<QTemporaryDir>();
        if (!temporary->isValid()) {
            say("host: FAILED: no temporary folder: %s", qUtf8Printable(temporary->errorString()));
            return 1;
        }
        workFolder = temporary->path();
    }
    workFolder = QDir(workFolder).absolutePath();
    const LogFollower renderLog(prepareWorkFolder(workFolder));
    say("host: work folder %s", qUtf8Printable(workFolder));

    PluginLibrary plugin(pluginPath);
    if (!plugin.load()) {
        say("host: FAILED: cannot load the plug-in: %s", qUtf8Printable(plugin.errorString()));
        return 1;
    }
    say("host: loaded %s", qUtf8Printable(pluginPath));
    qInstallMessageHandler(printQtMessage);

    HostModel model = builtInModel();
    ModelExporter exporter(plugin, model);
    HostSide host(plugin, exporter);
    host.initialize(plugin.folder().toUtf8());
    say("host: obrInitialized() = %s", plugin.initialized() ? "true" : "false");

    const bool ok = runSession(plugin, host, model, exporter, renderLog, parser.isSet(editsOption));
    if (ok && parser.isSet(holdOption)) {
        say("host: holding: the plug-in and the render window stay up until this process is "
            "killed");
        return QCoreApplication::exec();
    }

    // Also after a failure: the render window goes with the session.
    say("host: obrUninitialize()");
    plugin.uninitialize();
    const bool closed =
        awaitRenderWindow(renderLog, QStringLiteral("sent EXIT"), "its answer EXIT") &&
        awaitRenderWindow(renderLog, QStringLiteral("closed"), "its end");
    printRenderWindowLog(renderLog);
    if (!ok || !closed)
        return 1;
    say("host: done");
    return 0;
}
