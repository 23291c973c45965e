// The windows of the render-window program as the host script drives them: which to show, whether
// the render window sits inside the host's parent window, whether the program's windows dock.
#pragma once

#include <cstdint>

namespace orvanta {

class RenderOutput;

// The two window modes and the window handles. Every operation takes the output to act on; a null
// output means there is no render window to tell (before start-up): the actions and the mode
// setters then do nothing, and the visibility queries answer false. Host thread.
class WindowControl {
public:
    // The handles belong to the caller and must outlive the object; they are read at each call,
    // and setParentWindowHandle() writes `parentWindowHandle`.
    WindowControl(const std::int64_t& mainWindowHandle, std::int64_t& parentWindowHandle)
        : m_mainWindowHandle(mainWindowHandle), m_parentWindowHandle(parentWindowHandle) {}
    WindowControl(const WindowControl&) = delete;
    WindowControl& operator=(const WindowControl&) = delete;

    void showSettingsWindow(bool visible, RenderOutput* output);
    bool settingsWindowVisible(const RenderOutput* output) const;
    void showRenderWindow(bool visible, RenderOutput* output);
    bool renderWindowVisible(const RenderOutput* output) const;
    void showMaterialsDialog(bool visible, RenderOutput* output);
    bool materialsDialogVisible(const RenderOutput* output) const;
    void showImagesDialog(bool visible, RenderOutput* output);
    void showProductionDialog(RenderOutput* output);
    // The production window's visibility is not tracked: always false.
    bool productionWindowVisible() const { return false; }

    // Asks the system to bring the host's main window forward (see xel::platform::activateWindow;
    // this happens also without an output), then shows the settings window and the render window.
    void activateWindows(RenderOutput* output);
    // Hides every window of the program in one state change that keeps the docked mode and, while
    // embedded, the parent window.
    void hideAllWindows(RenderOutput* output);

    // Mode 0 embeds the render window into the parent window, any other value lets it float; the
    // render window is handed the parent handle, or 0 when floating. The mode answers 0 while
    // embedded, else 1 (also before the first setting).
    void setRenderWindowMode(int mode, RenderOutput* output);
    int renderWindowMode() const { return m_renderWindowEmbedded ? 0 : 1; }
    // Mode 0 docks the program's windows, any other value lets them float; answers 0 or 1 alike.
    void setWindowMode(int mode, RenderOutput* output);
    int windowMode() const { return m_windowsDocked ? 0 : 1; }

    // Stores the handle even without an output; while embedded the render window is handed it,
    // otherwise it is told 0.
    void setParentWindowHandle(std::int64_t handle, RenderOutput* output);
    std::int64_t parentWindowHandle() const { return m_parentWindowHandle; }
    std::int64_t mainWindowHandle() const { return m_mainWindowHandle; }

private:
    // The parent handle the render window should have now.
    long long renderWindowParent() const;

    const std::int64_t& m_mainWindowHandle;
    std::int64_t& m_parentWindowHandle;
    bool m_renderWindowEmbedded = false;
    bool m_windowsDocked = false;
};

// The process's window control over the plug-in state's handles: made at first use, never
// destroyed. Host thread.
WindowControl& windowControl();

}  // namespace orvanta
