// Exports of the render-window program's windows: thin entries to the process's window control,
// which acts through the plug-in's sender when there is one.
#include "OrvantaForSketchup.h"
#include "platform/window.h"
#include "plugin/export/render_output.h"
#include "plugin/exports/export_guard.h"
#include "plugin/lifecycle/window_control.h"

extern "C" {

void obrShowWindow(void) {
    orvanta::guarded(__func__, [&] {
        orvanta::PluginOutput output;
        orvanta::windowControl().showSettingsWindow(true, output.get());
    });
}

void obrHideWindow(void) {
    orvanta::guarded(__func__, [&] {
        orvanta::PluginOutput output;
        orvanta::windowControl().showSettingsWindow(false, output.get());
    });
}

bool obrIsWindowVisible(void) {
    return orvanta::guarded(__func__, false, [&] {
        orvanta::PluginOutput output;
        return orvanta::windowControl().settingsWindowVisible(output.get());
    });
}

void obrShowRenderWindow(void) {
    orvanta::guarded(__func__, [&] {
        orvanta::PluginOutput output;
        orvanta::windowControl().showRenderWindow(true, output.get());
    });
}

void obrHideRenderWindow(void) {
    orvanta::guarded(__func__, [&] {
        orvanta::PluginOutput output;
        orvanta::windowControl().showRenderWindow(false, output.get());
    });
}

bool obrIsRenderWindowVisible(void) {
    return orvanta::guarded(__func__, false, [&] {
        orvanta::PluginOutput output;
        return orvanta::windowControl().renderWindowVisible(output.get());
    });
}

void obrShowMaterialsDialog(void) {
    orvanta::guarded(__func__, [&] {
        orvanta::PluginOutput output;
        orvanta::windowControl().showMaterialsDialog(true, output.get());
    });
}

void obrHideMaterialsDialog(void) {
    orvanta::guarded(__func__, [&] {
        orvanta::PluginOutput output;
        orvanta::windowControl().showMaterialsDialog(false, output.get());
    });
}

bool obrIsMaterialsDialogVisible(void) {
    return orvanta::guarded(__func__, false, [&] {
        orvanta::PluginOutput output;
        return orvanta::windowControl().materialsDialogVisible(output.get());
    });
}

void obrShowImagesDialog(void) {
    orvanta::guarded(__func__, [&] {
        orvanta::PluginOutput output;
        orvanta::windowControl().showImagesDialog(true, output.get());
    });
}

void obrHideImagesDialog(void) {
    orvanta::guarded(__func__, [&] {
        orvanta::PluginOutput output;
        orvanta::windowControl().showImagesDialog(false, output.get());
    });
}

void obrShowProdutionDialog(void) {
    orvanta::guarded(__func__, [&] {
        orvanta::PluginOutput output;
        orvanta::windowControl().showProductionDialog(output.get());
    });
}

bool obrIsProductionWindowVisible(void) {
    return orvanta::guarded(__func__, false,
                            [&] { return orvanta::windowControl().productionWindowVisible(); });
}

void obrActivateWindows(void) {
    orvanta::guarded(__func__, [&] {
        orvanta::PluginOutput output;
        orvanta::windowControl().activateWindows(output.get());
    });
}

void obrHideAllWindows(void) {
    orvanta::guarded(__func__, [&] {
        orvanta::PluginOutput output;
        orvanta::windowControl().hideAllWindows(output.get());
    });
}

void obrSetRenderWindowMode(int32_t mode) {
    orvanta::guarded(__func__, [&] {
        orvanta::PluginOutput output;
        orvanta::windowControl().setRenderWindowMode(mode, output.get());
    });
}

int32_t obrRenderWindowMode(void) {
    return orvanta::guarded(__func__, 0,
                            [&] { return orvanta::windowControl().renderWindowMode(); });
}

void obrSetWindowMode(int32_t mode) {
    orvanta::guarded(__func__, [&] {
        orvanta::PluginOutput output;
        orvanta::windowControl().setWindowMode(mode, output.get());
    });
}

int32_t obrWindowMode(void) {
    return orvanta::guarded(__func__, 0, [&] { return orvanta::windowControl().windowMode(); });
}

void obrSetParentWindowHandle(int64_t handle) {
    orvanta::guarded(__func__, [&] {
        orvanta::PluginOutput output;
        orvanta::windowControl().setParentWindowHandle(handle, output.get());
    });
}

int64_t obrGetWindowHandle(void) {
    return orvanta::guarded(__func__, 0,
                            [&] { return orvanta::windowControl().parentWindowHandle(); });
}

int64_t obrParentWindowHandle(void) {
    return orvanta::guarded(__func__, 0,
                            [&] { return orvanta::windowControl().parentWindowHandle(); });
}

int64_t obrMainSkpWindowHandle(void) {
    return orvanta::guarded(__func__, 0,
                            [&] { return orvanta::windowControl().mainWindowHandle(); });
}

uint64_t obrGetWindowOwnerProcess(intptr_t window) {
    return orvanta::guarded(__func__, 0u,
                            [&] { return xel::platform::windowOwnerProcess(window); });
}
}
