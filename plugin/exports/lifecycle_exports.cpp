#include "OrvantaForSketchup.h"
#include "plugin/exports/export_guard.h"
#include "plugin/exports/export_text.h"
#include "plugin/lifecycle/render_restart.h"
#include "plugin/lifecycle/startup.h"

extern "C" {

void obrInitialize(const char* pluginFolder, int64_t mainWindowHandle, int64_t parentWindowHandle,
                   ObrHostSetEntityAttribute setEntityAttribute,
                   ObrHostEnumEntityContent enumEntityContent,
                   ObrHostEnumEntityAttributes enumEntityAttributes,
                   ObrHostExportTexture exportTexture, ObrHostDestroyPointer destroyPointer) {
    orvanta::guarded(__func__, [&] {
        orvanta::StartupArguments arguments;
        arguments.pluginFolder = orvanta::fromHostText(pluginFolder);
        arguments.mainWindowHandle = mainWindowHandle;
        arguments.parentWindowHandle = parentWindowHandle;
        arguments.host = {setEntityAttribute, enumEntityContent, enumEntityAttributes,
                          exportTexture, destroyPointer};
        orvanta::startPlugin(arguments);
    });
}

bool obrInitialized(void) {
    return orvanta::guarded(__func__, false, [&] { return orvanta::pluginStarted(); });
}

void obrUninitialize(void) {
    orvanta::guarded(__func__, [&] { orvanta::requestRenderWindowExit(); });
}

void obrRestartRender(void) {
    orvanta::guarded(__func__, [&] { orvanta::restartRender(); });
}

void obrSetApplicationPaused(bool paused) {
    orvanta::guarded(__func__, [&] { orvanta::setApplicationPaused(paused); });
}
}
