#include "plugin/lifecycle/window_control.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/window.h"

#include "OrvantaForSketchup.h"
#include "tests/plugin/export/recording_output.h"

namespace {

struct WindowCalls {
    std::vector<std::string> calls;
};

// The recording with the line of every call in `calls` (as "showSettingsUI 1",
// "setCurrentState <eight flags> <parent>"), answering the visibility queries with true.
class RecordingWindowOutput final : private WindowCalls, public orvanta::test::RecordingOutput {
public:
    using WindowCalls::calls;

    RecordingWindowOutput() : orvanta::test::RecordingOutput(calls) { windowsVisible = true; }
};

class WindowControlTest : public ::testing::Test {
protected:
    std::int64_t m_main = 0x1000;
    std::int64_t m_parent = 0;
    orvanta::WindowControl m_control{m_main, m_parent};
    RecordingWindowOutput m_output;
};

using Action = std::function<void(orvanta::WindowControl&, orvanta::RenderOutput*)>;

TEST_F(WindowControlTest, EachActionMakesItsSenderCall) {
    struct Case {
        const char* name;
        Action action;
        std::vector<std::string> expected;
    };
    using C = orvanta::WindowControl;
    using O = orvanta::RenderOutput;
    const Case cases[] = {
        {"show settings", [](C& c, O* o) { c.showSettingsWindow(true, o); }, {"showSettingsUI 1"}},
        {"hide settings", [](C& c, O* o) { c.showSettingsWindow(false, o); }, {"showSettingsUI 0"}},
        {"show render",
         [](C& c, O* o) { c.showRenderWindow(true, o); },
         {"setRenderWindowVisible 1"}},
        {"hide render",
         [](C& c, O* o) { c.showRenderWindow(false, o); },
         {"setRenderWindowVisible 0"}},
        {"show materials",
         [](C& c, O* o) { c.showMaterialsDialog(true, o); },
         {"showMaterialsUI 1"}},
        {"hide materials",
         [](C& c, O* o) { c.showMaterialsDialog(false, o); },
         {"showMaterialsUI 0"}},
        {"show images", [](C& c, O* o) { c.showImagesDialog(true, o); }, {"showImagesGallery 1"}},
        {"hide images", [](C& c, O* o) { c.showImagesDialog(false, o); }, {"showImagesGallery 0"}},
        {"production", [](C& c, O* o) { c.showProductionDialog(o); }, {"showProductionDialog"}},
        {"activate",
         [](C& c, O* o) { c.activateWindows(o); },
         {"showSettingsUI 1", "setRenderWindowVisible 1"}},
        {"hide all, floating",
         [](C& c, O* o) { c.hideAllWindows(o); },
         {"setCurrentState 0 0 0 0 0 0 0 0 0"}},
    };
    for (const Case& c : cases) {
        orvanta::WindowControl control(m_main, m_parent);
        RecordingWindowOutput output;
        c.action(control, &output);
        EXPECT_EQ(output.calls, c.expected) << c.name;
        c.action(control, nullptr);  // without a sender: nothing, and no crash
    }
}

TEST_F(WindowControlTest, ParentHandleFollowsTheRenderWindowMode) {
    m_control.setParentWindowHandle(11, &m_output);  // floating by default
    m_control.setRenderWindowMode(0, &m_output);
    m_control.setParentWindowHandle(22, &m_output);
    m_control.setRenderWindowMode(1, &m_output);
    EXPECT_EQ(m_output.calls,
              (std::vector<std::string>{"setRenderWindowParent 0", "setRenderWindowParent 11",
                                        "setRenderWindowParent 22", "setRenderWindowParent 0"}));
    EXPECT_EQ(m_control.parentWindowHandle(), 22);
    EXPECT_EQ(m_parent, 22) << "the handle is the plug-in's";
}

TEST_F(WindowControlTest, ModesAnswerZeroOnlyForZero) {
    EXPECT_EQ(m_control.renderWindowMode(), 1);
    EXPECT_EQ(m_control.windowMode(), 1);
    for (int mode : {0, 5, 0, -1}) {
        m_control.setRenderWindowMode(mode, &m_output);
        m_control.setWindowMode(mode, &m_output);
        EXPECT_EQ(m_control.renderWindowMode(), mode == 0 ? 0 : 1) << mode;
        EXPECT_EQ(m_control.windowMode(), mode == 0 ? 0 : 1) << mode;
    }
    EXPECT_EQ(m_output.calls[1], "setDockedWindowsMode 1");
    EXPECT_EQ(m_output.calls[3], "setDockedWindowsMode 0");
}

TEST_F(WindowControlTest, HideAllKeepsDockedModeAndEmbeddedParent) {
    m_control.setWindowMode(0, &m_output);
    m_control.setRenderWindowMode(0, &m_output);
    m_control.setParentWindowHandle(0x4242, &m_output);
    m_output.calls.clear();
    m_control.hideAllWindows(&m_output);
    EXPECT_EQ(m_output.calls, std::vector<std::string>{"setCurrentState 0 0 0 0 0 0 0 1 " +
                                                       std::to_string(0x4242)});
}

TEST_F(WindowControlTest, WithoutSenderQueriesAnswerFalseAndModesStay) {
    ASSERT_TRUE(m_control.settingsWindowVisible(&m_output));
    ASSERT_TRUE(m_control.renderWindowVisible(&m_output));
    ASSERT_TRUE(m_control.materialsDialogVisible(&m_output));
    EXPECT_FALSE(m_control.settingsWindowVisible(nullptr));
    EXPECT_FALSE(m_control.renderWindowVisible(nullptr));
    EXPECT_FALSE(m_control.materialsDialogVisible(nullptr));
    EXPECT_FALSE(m_control.productionWindowVisible());

    m_control.setRenderWindowMode(0, nullptr);
    m_control.setWindowMode(0, nullptr);
    m_control.setParentWindowHandle(77, nullptr);
    EXPECT_EQ(m_control.renderWindowMode(), 1);
    EXPECT_EQ(m_control.windowMode(), 1);
    EXPECT_EQ(m_control.parentWindowHandle(), 77);
    EXPECT_EQ(m_control.mainWindowHandle(), 0x1000);
    EXPECT_TRUE(m_output.calls.empty());
}

// The exports on the process's state, which has no sender in this test.
TEST(WindowExports, BeforeStartUpOnlyTheParentHandleIsStored) {
    obrSetParentWindowHandle(0x5150);
    EXPECT_EQ(obrParentWindowHandle(), 0x5150);
    EXPECT_EQ(obrGetWindowHandle(), 0x5150);
    EXPECT_EQ(obrMainSkpWindowHandle(), 0);
    obrSetRenderWindowMode(0);
    obrSetWindowMode(0);
    EXPECT_EQ(obrRenderWindowMode(), 1);
    EXPECT_EQ(obrWindowMode(), 1);
    obrShowWindow();
    obrShowRenderWindow();
    obrShowMaterialsDialog();
    obrActivateWindows();
    EXPECT_FALSE(obrIsWindowVisible());
    EXPECT_FALSE(obrIsRenderWindowVisible());
    EXPECT_FALSE(obrIsMaterialsDialogVisible());
    EXPECT_FALSE(obrIsProductionWindowVisible());
    // Linux has no window system of this process to ask; Windows names the foreground window's.
    EXPECT_EQ(obrGetWindowOwnerProcess(0), xel::platform::windowOwnerProcess(0));
}

}  // namespace
