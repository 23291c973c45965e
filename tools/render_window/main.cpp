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
// Exit code 0 after a normal close, 1 when the render link could not be set up, 2 for wrong
// arguments.
#include <QCoreApplication>
#include <QDir>
#include <QMetaObject>
#include <QStringList>

#include <cstdio>

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

}  // namespace

int main(int argc, char* argv[]) {
    QCoreApplication application(argc, argv);
    const QStringList arguments = QCoreApplication::arguments().mid(1);
    LaunchArguments launch;
    if (!parseArguments(arguments, launch)) {
        std::fprintf(stderr,
                     "usage: OrvantaRenderWindow QUEUE_ID MAIN_WINDOW_HANDLE PARENT_WINDOW_HANDLE "
                     "SESSION_FOLDER\n");
        return 2;
    }

    orvanta::render_window::RenderLog log;
    log.line(QStringLiteral("started %1 pid=%2")
                 .arg(arguments.join(QLatin1Char(' ')))
                 .arg(QCoreApplication::applicationPid()));
    log.line(QStringLiteral("working folder %1").arg(QDir::currentPath()));

    int exitCode = 0;
    {
        orvanta::render_window::RenderWindow window(launch, log);
        // Runs once the event loop is up, after the receiver has opened to its reader.
        QMetaObject::invokeMethod(
            &application, [&window] { window.announce(); }, Qt::QueuedConnection);
        exitCode = QCoreApplication::exec();
    }
    log.line(QStringLiteral("closed"));
    return exitCode;
}
