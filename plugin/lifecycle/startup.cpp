#include "plugin/lifecycle/startup.h"

#include <QSettings>
#include <QThread>

#include <string>

#include "XelRemoteRenderSender.h"
#include "plugin/lifecycle/app_settings.h"
#include "plugin/lifecycle/plugin_folders.h"
#include "plugin/lifecycle/render_restart.h"
#include "plugin/session/scene_session.h"
#include "plugin/session/session_reset.h"

namespace orvanta {

void startPlugin(const StartupArguments& arguments) {
    PluginState& state = pluginState();
    if (renderSender())
        return;

    state.mainWindowHandle = arguments.mainWindowHandle;
    state.parentWindowHandle = arguments.parentWindowHandle;
    state.host = arguments.host;
    state.pluginFolder = arguments.pluginFolder;
    state.hostThreadId = QThread::currentThreadId();
    openAppSettings();

    // Private to this user; the render window is started with it as its working directory.
    state.sessionFolder = makeSessionFolder();

    // The session starts from an empty model: the two model roots and nothing else.
    SceneSession& session = sceneSession();
    session.sessionFolder = QString::fromUtf8(state.sessionFolder);
    resetSession(session);

    setContentLibraryFolder(resolveContentLibraryFolder(*state.appSettings));

    // The reader thread starts inside the constructor: everything it reads is set above.
    const std::wstring sessionPath = QString::fromUtf8(state.sessionFolder).toStdWString();
    XelRemoteRenderSender* sender = createRenderSender(sessionPath);
    state.sender.store(sender, std::memory_order_release);

    const std::wstring program = renderWindowProgram(state.pluginFolder).toStdWString();
    sender->startRender(program.c_str(), state.mainWindowHandle, state.parentWindowHandle);

    appendLog(QStringLiteral("Render Start Requested..."));
    appendLog(QStringLiteral("createApplication STEP FINAL g_application->exec"));
}

bool pluginStarted() {
    return renderSender() != nullptr;
}

void requestRenderWindowExit() {
    if (XelRemoteRenderSender* sender = renderSender())
        sender->requestRenderExit();
}

void setApplicationPaused(bool paused) {
    pluginState().applicationPaused = paused;
}

}  // namespace orvanta
