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
//
// Like the host, the driver polls obrCheckMessages on its own thread (a timer on its event loop)
// and answers the render window's requests through its callbacks. The render window is asked, by
// ORVANTA_RENDER_REQUESTS (default "Model,1234"), which entities to have enumerated; the driver
// waits until each has reached its callback.
// Exit code 0 when every step was seen to arrive.
#include <QByteArray>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

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

// How often the host polls for the render window's requests.
constexpr int kPollIntervalMs = 20;

// The thread that started the plug-in: the host thread.
Qt::HANDLE g_hostThread = nullptr;
// Host thread only: content enumerations seen, and the wait for them, when one is running.
int g_enumerated = 0;
int g_enumerationsAwaited = 0;
QEventLoop* g_enumerationWait = nullptr;

const char* threadCheck() {
    return QThread::currentThreadId() == g_hostThread ? "on the host thread"
                                                      : "OFF THE HOST THREAD";
}

// The host callbacks. The plug-in calls them on the host thread when the host polls for the
// render window's requests; they report what they are asked.
void hostSetEntityAttribute(const char* owner, const char* dictionary, const char* key,
                            const char* value) {
    say("host callback: set entity attribute %s/%s/%s = %s", owner, dictionary, key, value);
}
void hostEnumEntityContent(const char* entityId) {
    say("host enumerates %s (%s)", entityId, threadCheck());
    ++g_enumerated;
    if (g_enumerationWait && g_enumerated >= g_enumerationsAwaited)
        g_enumerationWait->quit();
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

// Runs the event loop, and with it the polls, until `count` content enumerations have reached the
// host in all.
bool awaitEnumerations(int count) {
    say("host: waiting for %d content enumeration request(s) of the render window", count);
    if (g_enumerated < count) {
        QEventLoop loop;
        QTimer deadline;
        deadline.setSingleShot(true);
        QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
        deadline.start(kStepDeadlineMs);
        g_enumerationsAwaited = count;
        g_enumerationWait = &loop;
        loop.exec();
        g_enumerationWait = nullptr;
    }
    if (g_enumerated >= count)
        return true;
    say("host: FAILED: %d of %d content enumeration request(s) reached the host within %d s",
        g_enumerated, count, kStepDeadlineMs / 1000);
    return false;
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

    if (qEnvironmentVariableIsEmpty("ORVANTA_RENDER_REQUESTS"))
        qputenv("ORVANTA_RENDER_REQUESTS", "Model,1234");
    const int requested = qEnvironmentVariable("ORVANTA_RENDER_REQUESTS")
                              .split(QLatin1Char(','), Qt::SkipEmptyParts)
                              .size();

    const QByteArray pluginFolder = plugin.folder().toUtf8();
    g_hostThread = QThread::currentThreadId();
    say("host: obrInitialize(\"%s\", 0, 0, five host callbacks)", pluginFolder.constData());
    plugin.initialize(pluginFolder.constData(), 0, 0, &hostSetEntityAttribute,
                      &hostEnumEntityContent, &hostEnumEntityAttributes, &hostExportTexture,
                      &hostDestroyPointer);
    say("host: obrInitialized() = %s", plugin.initialized() ? "true" : "false");
    // The host's poll: from now on, whenever the driver waits, its event loop runs it.
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&plugin] { plugin.checkMessages(); });
    poll.start(kPollIntervalMs);

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
    if (!awaitEnumerations(requested)) {
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
