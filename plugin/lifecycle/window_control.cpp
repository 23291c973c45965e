#include "plugin/lifecycle/window_control.h"

#include "XelRemoteRenderSender.h"
#include "platform/window.h"
#include "plugin/lifecycle/plugin_state.h"

namespace orvanta {

void SenderWindowOutput::showSettingsUI(bool visible) {
    m_sender.showSettingsUI(visible);
}

bool SenderWindowOutput::settingsUIVisible() const {
    return m_sender.settingsUIVisible();
}

void SenderWindowOutput::setRenderWindowVisible(bool visible) {
    m_sender.setRenderWindowVisible(visible);
}

bool SenderWindowOutput::renderWindowVisible() const {
    return m_sender.renderWindowVisible();
}

void SenderWindowOutput::showMaterialsUI(bool visible) {
    m_sender.showMaterialsUI(visible);
}

bool SenderWindowOutput::materialsUIVisible() const {
    return m_sender.materialsUIVisible();
}

void SenderWindowOutput::showImagesGallery(bool visible) {
    m_sender.showImagesGallery(visible);
}

void SenderWindowOutput::showProductionDialog() {
    m_sender.showProductionDialog();
}

void SenderWindowOutput::setCurrentState(bool reserved, bool loadingModel, bool closing,
                                         bool renderWindowVisible, bool settingsUIVisible,
                                         bool materialsUIVisible, bool productionDialogRequested,
                                         bool dockedWindowsMode, long long renderWindowParent) {
    m_sender.setCurrentState(reserved, loadingModel, closing, renderWindowVisible,
                             settingsUIVisible, materialsUIVisible, productionDialogRequested,
                             dockedWindowsMode, renderWindowParent);
}

void SenderWindowOutput::setRenderWindowParent(long long handle) {
    m_sender.setRenderWindowParent(handle);
}

void SenderWindowOutput::setDockedWindowsMode(bool docked) {
    m_sender.setDockedWindowsMode(docked);
}

PluginWindowOutput::PluginWindowOutput() {
    if (XelRemoteRenderSender* sender = renderSender())
        m_output.emplace(*sender);
}

void WindowControl::showSettingsWindow(bool visible, WindowOutput* output) {
    if (output)
        output->showSettingsUI(visible);
}

bool WindowControl::settingsWindowVisible(const WindowOutput* output) const {
    return output && output->settingsUIVisible();
}

void WindowControl::showRenderWindow(bool visible, WindowOutput* output) {
    if (output)
        output->setRenderWindowVisible(visible);
}

bool WindowControl::renderWindowVisible(const WindowOutput* output) const {
    return output && output->renderWindowVisible();
}

void WindowControl::showMaterialsDialog(bool visible, WindowOutput* output) {
    if (output)
        output->showMaterialsUI(visible);
}

bool WindowControl::materialsDialogVisible(const WindowOutput* output) const {
    return output && output->materialsUIVisible();
}

void WindowControl::showImagesDialog(bool visible, WindowOutput* output) {
    if (output)
        output->showImagesGallery(visible);
}

void WindowControl::showProductionDialog(WindowOutput* output) {
    if (output)
        output->showProductionDialog();
}

void WindowControl::activateWindows(WindowOutput* output) {
    xel::platform::activateWindow(m_mainWindowHandle);
    if (!output)
        return;
    output->showSettingsUI(true);
    output->setRenderWindowVisible(true);
}

void WindowControl::hideAllWindows(WindowOutput* output) {
    if (output)
        output->setCurrentState(false, false, false, false, false, false, false, m_windowsDocked,
                                renderWindowParent());
}

void WindowControl::setRenderWindowMode(int mode, WindowOutput* output) {
    if (!output)
        return;
    m_renderWindowEmbedded = mode == 0;
    output->setRenderWindowParent(renderWindowParent());
}

void WindowControl::setWindowMode(int mode, WindowOutput* output) {
    if (!output)
        return;
    m_windowsDocked = mode == 0;
    output->setDockedWindowsMode(m_windowsDocked);
}

void WindowControl::setParentWindowHandle(std::int64_t handle, WindowOutput* output) {
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
