// The windows of the render-window program as the host script drives them: which to show, whether
// the render window sits inside the host's parent window, whether the program's windows dock.
#pragma once

#include <cstdint>
#include <optional>

class XelRemoteRenderSender;

namespace orvanta {

// The sender operations the window control uses, with the sender's signatures and meaning. Host
// thread.
class WindowOutput {
public:
    virtual ~WindowOutput() = default;

    virtual void showSettingsUI(bool visible) = 0;
    virtual bool settingsUIVisible() const = 0;
    virtual void setRenderWindowVisible(bool visible) = 0;
    virtual bool renderWindowVisible() const = 0;
    virtual void showMaterialsUI(bool visible) = 0;
    virtual bool materialsUIVisible() const = 0;
    virtual void showImagesGallery(bool visible) = 0;
    virtual void showProductionDialog() = 0;
    virtual void setCurrentState(bool reserved, bool loadingModel, bool closing,
                                 bool renderWindowVisible, bool settingsUIVisible,
                                 bool materialsUIVisible, bool productionDialogRequested,
                                 bool dockedWindowsMode, long long renderWindowParent) = 0;
    virtual void setRenderWindowParent(long long handle) = 0;
    virtual void setDockedWindowsMode(bool docked) = 0;
};

// The output over one sender, which must outlive it.
class SenderWindowOutput final : public WindowOutput {
public:
    explicit SenderWindowOutput(XelRemoteRenderSender& sender) : m_sender(sender) {}

    void showSettingsUI(bool visible) override;
    bool settingsUIVisible() const override;
    void setRenderWindowVisible(bool visible) override;
    bool renderWindowVisible() const override;
    void showMaterialsUI(bool visible) override;
    bool materialsUIVisible() const override;
    void showImagesGallery(bool visible) override;
    void showProductionDialog() override;
    void setCurrentState(bool reserved, bool loadingModel, bool closing, bool renderWindowVisible,
                         bool settingsUIVisible, bool materialsUIVisible,
                         bool productionDialogRequested, bool dockedWindowsMode,
                         long long renderWindowParent) override;
    void setRenderWindowParent(long long handle) override;
    void setDockedWindowsMode(bool docked) override;

private:
    XelRemoteRenderSender& m_sender;
};

// The output over the plug-in's sender as it stands when constructed; get() is null before
// start-up. The sender is never deleted. Host thread, one export call long.
class PluginWindowOutput {
public:
    PluginWindowOutput();
    WindowOutput* get() { return m_output ? &*m_output : nullptr; }

private:
    std::optional<SenderWindowOutput> m_output;
};

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

    void showSettingsWindow(bool visible, WindowOutput* output);
    bool settingsWindowVisible(const WindowOutput* output) const;
    void showRenderWindow(bool visible, WindowOutput* output);
    bool renderWindowVisible(const WindowOutput* output) const;
    void showMaterialsDialog(bool visible, WindowOutput* output);
    bool materialsDialogVisible(const WindowOutput* output) const;
    void showImagesDialog(bool visible, WindowOutput* output);
    void showProductionDialog(WindowOutput* output);
    // The production window's visibility is not tracked: always false.
    bool productionWindowVisible() const { return false; }

    // Asks the system to bring the host's main window forward (see xel::platform::activateWindow;
    // this happens also without an output), then shows the settings window and the render window.
    void activateWindows(WindowOutput* output);
    // Hides every window of the program in one state change that keeps the docked mode and, while
    // embedded, the parent window.
    void hideAllWindows(WindowOutput* output);

    // Mode 0 embeds the render window into the parent window, any other value lets it float; the
    // render window is handed the parent handle, or 0 when floating. The mode answers 0 while
    // embedded, else 1 (also before the first setting).
    void setRenderWindowMode(int mode, WindowOutput* output);
    int renderWindowMode() const { return m_renderWindowEmbedded ? 0 : 1; }
    // Mode 0 docks the program's windows, any other value lets them float; answers 0 or 1 alike.
    void setWindowMode(int mode, WindowOutput* output);
    int windowMode() const { return m_windowsDocked ? 0 : 1; }

    // Stores the handle even without an output; while embedded the render window is handed it,
    // otherwise it is told 0.
    void setParentWindowHandle(std::int64_t handle, WindowOutput* output);
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
