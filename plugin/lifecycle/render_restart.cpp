#include "plugin/lifecycle/render_restart.h"

#include <QString>

#include <atomic>

#include "XelRemoteRenderSender.h"
#include "plugin/export/render_output.h"
#include "plugin/lifecycle/app_settings.h"
#include "plugin/lifecycle/plugin_folders.h"
#include "plugin/lifecycle/plugin_state.h"
#include "plugin/requests/host_request_queue.h"
#include "plugin/requests/request_trampolines.h"
#include "plugin/session/scene_session.h"
#include "plugin/session/session_reset.h"

namespace orvanta {
namespace {

// Set on the reader thread when a render window announces itself after an earlier one ended;
// taken by the host's next poll.
std::atomic<bool> g_resyncDue{false};

class PluginSender final : public XelRemoteRenderSender {
public:
    explicit PluginSender(const std::wstring& sessionPath)
        : XelRemoteRenderSender(sessionPath.c_str(), &requestSetEntityAttribute,
                                &requestEnumEntityContent, &requestEnumEntityAttributes,
                                &requestExportTexture, &requestDestroyPointer, 0) {}
    ~PluginSender() override { stopSending(); }

    // Ends the sender's threads and its channel, whose names go: the library may be unloaded
    // afterwards. Any thread but the sender's own.
    void shutDown() { stopSending(); }

protected:
    void onRenderInit() override {
        XelRemoteRenderSender::onRenderInit();
        if (m_ended.exchange(false)) {
            appendLog(QStringLiteral("Render window back: the scene is sent again"));
            g_resyncDue.store(true);
        }
    }
    void onRenderExit() override {
        XelRemoteRenderSender::onRenderExit();
        m_ended.store(true);
    }

private:
    // A render window ended since the last one announced itself.
    std::atomic<bool> m_ended{false};
};

// At unload (the host unloads the library, or its process exits): the sender's threads end, so
// that none runs code that is gone, and the channel's names go, so that nothing is left behind
// even if no render window ever took the channel. The sender object itself stays.
struct ShutDownOnUnload {
    ~ShutDownOnUnload() {
        if (XelRemoteRenderSender* sender = renderSender())
            static_cast<PluginSender*>(sender)->shutDown();
    }
} g_shutDownOnUnload;

}  // namespace

XelRemoteRenderSender* createRenderSender(const std::wstring& sessionPath) {
    return new PluginSender(sessionPath);
}

void restartRender() {
    XelRemoteRenderSender* sender = renderSender();
    if (!sender)
        return;
    if (!sender->renderWindowGone()) {
        sender->invalidateRender();  // nothing while it is still starting
        return;
    }
    const PluginState& state = pluginState();
    const std::wstring program = renderWindowProgram(state.pluginFolder).toStdWString();
    if (sender->restartRender(program.c_str(), state.mainWindowHandle, state.parentWindowHandle))
        appendLog(QStringLiteral("Render Restart Requested..."));
}

bool resyncDue() {
    return g_resyncDue.load();
}

void resyncIfDue() {
    if (!g_resyncDue.exchange(false))
        return;
    PluginOutput output;
    clearSession(sceneSession(), true, false, false, output.get());
    enumEntityContent("Model", AlwaysPost);
}

void pollHost() {
    resyncIfDue();
    checkMessages();
}

}  // namespace orvanta
