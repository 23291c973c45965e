// OrvantaRenderWindow: the reference render-window program. The plug-in starts it from its own
// folder with four arguments and the session folder as working directory:
//
//   OrvantaRenderWindow QUEUE_ID MAIN_WINDOW_HANDLE PARENT_WINDOW_HANDLE SESSION_FOLDER
//
// It attaches to the plug-in's render link, announces itself, answers the plug-in's messages and
// ends when asked to, or when the process that started it is gone. Every event goes to the log
// file named by ORVANTA_RENDER_LOG, when set. Once the plug-in is ready it asks the host to
// enumerate the model ("Model"), or, when ORVANTA_RENDER_REQUESTS is set, each entity id it names
// (comma-separated; none when empty), in order.
// With a display it shows the scene in a window; without one it runs headless and draws only the
// pictures it is asked for (scene_export.h). So that it never aborts for want of a display, with
// QT_QPA_PLATFORM unset or empty it chooses the platform before Qt starts: "offscreen" without
// DISPLAY and WAYLAND_DISPLAY; "offscreen" when no X server takes a connection at DISPLAY, logging
// "display <DISPLAY> cannot be reached (<why>): falling back to the offscreen platform, no window"
// (also on stderr); otherwise X11 with "offscreen" as Qt's fallback, for a server that takes the
// connection but not this program, logging "display <DISPLAY> would not serve this program:
// fell back to the offscreen platform, no window". An explicit QT_QPA_PLATFORM is left as it is.
// On Windows, whose desktop is no display server, Qt's own choice stands (its Windows platform).
// On the "offscreen" and "minimal" platforms no window is made.
// In the window, the mouse moves the view (view_window.h, view_navigation.h): left drag orbits
// around the camera's target, middle drag or Shift + left drag pans, the wheel zooms towards the
// target, Home or H snaps back to the host's camera. Once the user moved, exports and snapshots
// show the user's view until the snap-back. "--help" (or "-h") alone prints the usage and these
// controls, and ends with exit code 0.
// Exit code 0 after a normal close, 1 when the render link could not be set up, 2 for wrong
// arguments.
#include <QCoreApplication>
#include <QDir>
#include <QGuiApplication>
#include <QMetaObject>
#include <QStringList>

#include <cstdio>

#include "platform/display_server.h"
#include "platform/heap.h"
#include "tools/common/render_log_texts.h"
#include "tools/render_window/render_log.h"
#include "tools/render_window/render_window.h"

namespace {

using orvanta::render_window::LaunchArguments;

bool parseArguments(const QStringList& arguments, LaunchArguments& launch) {
    if (arguments.size() != 4)
        return false;
    bool queueOk = false;
    bool mainOk = false;
    bool parentOk = false;
    launch.queueId = arguments[0].toLong(&queueOk);
    launch.mainWindowHandle = arguments[1].toLongLong(&mainOk);
    launch.parentWindowHandle = arguments[2].toLongLong(&parentOk);
    launch.sessionFolder = arguments[3];
    return queueOk && mainOk && parentOk;
}

constexpr char kUsage[] =
    "usage: OrvantaRenderWindow QUEUE_ID MAIN_WINDOW_HANDLE PARENT_WINDOW_HANDLE SESSION_FOLDER\n";
constexpr char kHelp[] =
    "\n"
    "The plug-in starts this program; it shows the scene the plug-in sends through the host's\n"
    "camera, in a window when there is a display.\n"
    "\n"
    "Moving around in the view:\n"
    "  left drag                      orbit around the camera's target\n"
    "  middle drag, Shift + left drag pan\n"
    "  wheel                          zoom towards the target (or away)\n"
    "  Home, H                        back to the host's camera\n"
    "Once you moved, exported pictures and snapshots show your view; a camera the host sends\n"
    "meanwhile shows after Home or H.\n";

bool asksForHelp(const QStringList& arguments) {
    return arguments.size() == 1 &&
           (arguments[0] == QLatin1String("--help") || arguments[0] == QLatin1String("-h"));
}

constexpr char kPlatformVariable[] = "QT_QPA_PLATFORM";
// How long a display server on another host may take to answer the check.
constexpr int kDisplayCheckMs = 3000;

// A line for the log and for whoever watches the program's standard error.
void report(orvanta::render_window::RenderLog& log, const QString& text) {
    log.line(text);
    std::fprintf(stderr, "OrvantaRenderWindow: %s\n", qUtf8Printable(text));
}

// Before the application object: Qt reads the variable when it starts its platform, and ends the
// program when that platform cannot start. True when X11 goes first with "offscreen" behind it.
bool choosePlatform(orvanta::render_window::RenderLog& log) {
    if (!qEnvironmentVariableIsEmpty(kPlatformVariable))
        return false;
    const QByteArray display = qgetenv("DISPLAY");
    const xel::platform::DisplayServerCheck check =
        xel::platform::checkDisplayServer(display.toStdString(), kDisplayCheckMs);
    switch (check.state) {
        case xel::platform::DisplayServerCheck::State::NotUsed:
            return false;  // the system's own window system, as Qt chooses it (Windows)
        case xel::platform::DisplayServerCheck::State::Unreachable:
            if (display.isEmpty()) {
                if (qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
                    qputenv(kPlatformVariable, QByteArrayLiteral("offscreen"));
                return false;
            }
            report(log,
                   QStringLiteral("display %1 cannot be reached (%2): falling back to the "
                                  "offscreen platform, no window")
                       .arg(QString::fromLocal8Bit(display), QString::fromStdString(check.detail)));
            qputenv(kPlatformVariable, QByteArrayLiteral("offscreen"));
            return false;
        case xel::platform::DisplayServerCheck::State::Reachable:
            break;
    }
    qputenv(kPlatformVariable, QByteArrayLiteral("xcb;offscreen"));
    return true;
}

bool platformHasDisplay(const QString& platform) {
    return platform != QLatin1String("offscreen") && platform != QLatin1String("minimal");
}

}  // namespace

int main(int argc, char* argv[]) {
    // Scenes come again and again: their buffers and arrays reuse the memory of the last.
    xel::platform::keepFreedHeapMemory();
    // Before the application object, which ends the program when its window system is missing:
    // whoever started it learns its process id at once, and with it its end.
    orvanta::render_window::RenderLog log;
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    if (asksForHelp(arguments)) {
        std::fputs(kUsage, stdout);
        std::fputs(kHelp, stdout);
        return 0;
    }
    log.line(QLatin1String(orvanta::tools::kStartedLinePrefix) + arguments.join(QLatin1Char(' ')) +
             QLatin1String(orvanta::tools::kStartedPidLabel) +
             QString::number(QCoreApplication::applicationPid()));
    const bool offscreenBehind = choosePlatform(log);
    QGuiApplication application(argc, argv);
    // The view window closes the program through the plug-in's exit path, never on its own.
    QGuiApplication::setQuitOnLastWindowClosed(false);
    LaunchArguments launch;
    if (!parseArguments(arguments, launch)) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    log.line(QStringLiteral("working folder %1").arg(QDir::currentPath()));
    const QString platform = QGuiApplication::platformName();
    if (offscreenBehind && platform == QLatin1String("offscreen")) {
        report(log, QStringLiteral("display %1 would not serve this program: fell back to the "
                                   "offscreen platform, no window")
                        .arg(qEnvironmentVariable("DISPLAY")));
    }
    const bool showView = platformHasDisplay(platform);
    log.line(QStringLiteral("platform %1 (%2)")
                 .arg(platform, showView ? QStringLiteral("view window")
                                         : QStringLiteral("headless, no window")));

    int exitCode = 0;
    {
        orvanta::render_window::RenderWindow window(launch, log, showView);
        // Runs once the event loop is up, after the receiver has opened to its reader.
        QMetaObject::invokeMethod(
            &application, [&window] { window.announce(); }, Qt::QueuedConnection);
        exitCode = QCoreApplication::exec();
    }
    log.line(QLatin1String(orvanta::tools::kClosedLine));
    return exitCode;
}
