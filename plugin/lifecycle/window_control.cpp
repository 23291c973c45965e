#include "plugin/lifecycle/window_control.h"

#include "platform/window.h"
#include "plugin/export/render_output.h"
#include "plugin/lifecycle/plugin_state.h"

namespace orvanta {

void WindowControl::showSettingsWindow(bool visible, RenderOutput* output) {
    if (output)
        output->showSettingsUI(visible);
}

bool WindowControl::settingsWindowVisible(const RenderOutput* output) const {
    return output && output->settingsUIVisible();
}

void WindowControl::showRenderWindow(bool visible, RenderOutput* output) {
    if (output)
        output->setRenderWindowVisible(visible);
}

bool WindowControl::renderWindowVisible(const RenderOutput* output) const {
    return output && output->renderWindowVisible();
}

void WindowControl::showMaterialsDialog(bool visible, RenderOutput* output) {
    if (output)
        output->showMaterialsUI(visible);
}

bool WindowControl::materialsDialogVisible(const RenderOutput* output) const {
    return output && output->materialsUIVisible();
}

void WindowControl::showImagesDialog(bool visible, RenderOutput* output) {
    if (output)
        output->showImagesGallery(visible);
}

void WindowControl::showProductionDialog(RenderOutput* output) {
    if (output)
        output->showProductionDialog();
}

void WindowControl::activateWindows(RenderOutput* output) {
    xel::platform::activateWindow(m_mainWindowHandle);
    if (!output)
        return;
    output->showSettingsUI(true);
    output->setRenderWindowVisible(true);
}

void WindowControl::hideAllWindows(RenderOutput* output) {
    if (output)
        output->setCurrentState(false, false, false, false, false, false, false, m_windowsDocked,
                                renderWindowParent());
}

void WindowControl::setRenderWindowMode(int mode, RenderOutput* output) {
    if (!output)
        return;
    m_renderWindowEmbedded = mode == 0;
    output->setRenderWindowParent(renderWindowParent());
}

void WindowControl::setWindowMode(int mode, RenderOutput* output) {
    if (!output)
        return;
    m_windowsDocked = mode == 0;
    output->setDockedWindowsMode(m_windowsDocked);
}

void WindowControl::setParentWindowHandle(std::int64_t handle, RenderOutput* output) {
    m_parentWindowHandle = handle;
    if (output)
        output->setRenderWindowParent(renderWindowParent());
}

long long WindowControl::renderWindowParent() const {
    return m_renderWindowEmbedded ? static_cast<long long>(m_parentWindowHandle) : 0;
}

WindowControl& windowControl() {
    PluginState& state = pluginState();
    static WindowControl* const control =
        new WindowControl(state.mainWindowHandle, state.parentWindowHandle);
    return *control;
}

}  // namespace orvanta
