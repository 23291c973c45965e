#include "plugin/lifecycle/plugin_state.h"

namespace orvanta {

PluginState& pluginState() {
    static PluginState* const state = new PluginState;
    return *state;
}

XelRemoteRenderSender* renderSender() {
    return pluginState().sender.load(std::memory_order_acquire);
}

void setContentLibraryFolder(const QString& folder) {
    PluginState& state = pluginState();
    state.contentLibraryFolder = folder;
    state.contentLibraryFolderUtf8 = folder.toUtf8();
}

}  // namespace orvanta
