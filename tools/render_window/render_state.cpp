#include "tools/render_window/render_state.h"

namespace orvanta::render_window {

QString RenderState::describe() const {
    const auto flag = [](bool value) { return value ? QStringLiteral("1") : QStringLiteral("0"); };
    return QStringLiteral(
               "loadingModel=%1 closing=%2 visible=%3 settingsUI=%4 materialsUI=%5 "
               "productionDialog=%6 docked=%7 parent=%8")
        .arg(flag(loadingModel), flag(closing), flag(renderWindowVisible), flag(settingsUIVisible),
             flag(materialsUIVisible), flag(productionDialogRequested), flag(dockedWindowsMode))
        .arg(renderWindowParent);
}

void RenderStateStore::set(const RenderState& state) {
    std::lock_guard<std::mutex> guard(m_mutex);
    m_state = state;
}

RenderState RenderStateStore::get() const {
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_state;
}

}  // namespace orvanta::render_window
