// orvanta_host_driver: plays the host's extension script against the real plug-in library. It
// loads the plug-in by path, starts it (which starts the render-window program beside it), drives
// a short session, closes the render window and prints what crossed: the plug-in's log lines as
// they come, and at the end the render window's log of every message it received.
//
//   orvanta_host_driver [--hold] [--work-dir DIR] [PLUGIN_LIBRARY]
//
// PLUGIN_LIBRARY defaults to the plug-in built with this program. Everything the session makes
// (the render window's log, the session folder, the channel's key files, the settings store) goes
// into one work folder: a fresh temporary folder removed at the end, or DIR, which is kept; the
// log is then DIR/render_window.log. With --hold the driver stops after the render window is up
// and the first request crossed, and keeps the plug-in running until the process is killed.
// Exit code 0 when every step was seen to arrive.
#include <QByteArray>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstdarg>
#include <cstdio>
#include <memory>

#include "tools/host_driver/log_follower.h"
#include "tools/host_driver/plugin_library.h"

namespace {

using orvanta::tools::LogFollower;
using orvanta::tools::PluginLibrary;

// How long the render window gets for each step; it is started from scratch, possibly under a
// sanitizer, on a loaded machine.
constexpr int kStepDeadlineMs = 120000;

void say(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    std::vfprintf(stdout, format, arguments);
    va_end(arguments);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

// The plug-in logs through the Qt message stream of the process (obrAppendLog): shown as it comes.
void printQtMessage(QtMsgType type, const QMessageLogContext&, const QString& message) {
    const char* kind = type == QtDebugMsg ? "plug-in log" : "Qt message";
    say("  %s: %s", kind, qUtf8Printable(message));
}

// The host callbacks. The plug-in calls them on the host thread when the host polls for the
// render window's requests; this session makes no such requests, so they only report.
void hostSetEntityAttribute(const char* owner, const char* dictionary, const char* key,
                            const char* value) {
    say("host callback: set entity attribute %s/%s/%s = %s", owner, dictionary, key, value);
}
void hostEnumEntityContent(const char* entityId) {
    say("host callback: enumerate entity content %s", entityId);
}
void hostEnumEntityAttributes(const char* owner, const char* dictionary) {
    say("host callback: enumerate entity attributes %s/%s", owner, dictionary);
}
void hostExportTexture(const char* first, const char* second) {
    say("host callback: export texture %s %s", first, second);
}
void hostDestroyPointer(int64_t pointer) {
    say("host callback: destroy pointer %lld", static_cast<long long>(pointer));
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

}  // namespace

int main(int argc, char* argv[]) {
    QCoreApplication application(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Plays the host script: loads the plug-in, runs a short session with the "
                       "render window and prints what crossed."));
    parser.addHelpOption();
    const QCommandLineOption holdOption(
        QStringLiteral("hold"),
        QStringLiteral("Keep the plug-in and the render window running until killed."));
    const QCommandLineOption workOption(
        QStringLiteral("work-dir"),
        QStringLiteral("Keep the session's files in <dir> (default: a temporary folder)."),
        QStringLiteral("dir"));
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

    const QByteArray pluginFolder = plugin.folder().toUtf8();
    say("host: obrInitialize(\"%s\", 0, 0, five host callbacks)", pluginFolder.constData());
    plugin.initialize(pluginFolder.constData(), 0, 0, &hostSetEntityAttribute,
                      &hostEnumEntityContent, &hostEnumEntityAttributes, &hostExportTexture,
                      &hostDestroyPointer);
    say("host: obrInitialized() = %s", plugin.initialized() ? "true" : "false");

    const char* const key = "HostDriverRuns";
    const int runs = plugin.existsAppSetting(key) ? plugin.getAppSetting(key) : 0;
    plugin.setAppSetting(key, runs + 1);
    const int stored = plugin.getAppSetting(key);
    say("host: setting %s: was %d, set to %d, reads back %d", key, runs, runs + 1, stored);
    if (stored != runs + 1) {
        say("host: FAILED: the setting did not keep its value");
        return 1;
    }
    plugin.appendLog("host driver: session running");

    if (!awaitRenderWindow(renderLog, QStringLiteral("plug-in ready"),
                           "it is up and the plug-in counts it as running")) {
        printRenderWindowLog(renderLog);
        return 1;
    }
    say("host: obrRestartRender()");
    plugin.restartRender();
    if (!awaitRenderWindow(renderLog, QStringLiteral("onRedraw"), "the redraw request")) {
        printRenderWindowLog(renderLog);
        return 1;
    }

    if (parser.isSet(holdOption)) {
        say("host: holding: the plug-in and the render window stay up until this process is "
            "killed");
        return QCoreApplication::exec();
    }

    say("host: obrUninitialize()");
    plugin.uninitialize();
    const bool closed =
        awaitRenderWindow(renderLog, QStringLiteral("sent EXIT"), "its answer EXIT") &&
        awaitRenderWindow(renderLog, QStringLiteral("closed"), "its end");
    printRenderWindowLog(renderLog);
    if (!closed)
        return 1;
    say("host: done");
    return 0;
}
