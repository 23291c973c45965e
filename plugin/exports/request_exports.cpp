// Exports of the host request path: thin entries to the host request queue.
#include "OrvantaForSketchup.h"

#include "plugin/exports/export_guard.h"
#include "plugin/exports/export_text.h"
#include "plugin/lifecycle/render_restart.h"
#include "plugin/requests/host_request_queue.h"

using orvanta::boundedHostText;

extern "C" {

void obrSkpEnumEntityContent(const char* entityId, bool, int mode) {
    orvanta::guarded(__func__, [&] {
        orvanta::enumEntityContent(boundedHostText(entityId), orvanta::requestModeOf(mode));
    });
}

void obrSkpEnumEntityAttributes(const char* owner, const char* dictionary, int mode) {
    orvanta::guarded(__func__, [&] {
        orvanta::enumEntityAttributes(boundedHostText(owner), boundedHostText(dictionary),
                                      orvanta::requestModeOf(mode));
    });
}

void obrSkpExportTexture(const char* first, const char* second, int mode) {
    orvanta::guarded(__func__, [&] {
        orvanta::exportTexture(boundedHostText(first), boundedHostText(second),
                               orvanta::requestModeOf(mode));
    });
}

void obrSkpSetEntityAttribute(const char* owner, const char* dictionary, const char* key,
                              const char* value, int mode) {
    orvanta::guarded(__func__, [&] {
        orvanta::setEntityAttribute(boundedHostText(owner), boundedHostText(dictionary),
                                    boundedHostText(key), boundedHostText(value),
                                    orvanta::requestModeOf(mode));
    });
}

void obrSkpDestroyPointer(int64_t pointer, int mode) {
    orvanta::guarded(__func__,
                     [&] { orvanta::destroyPointer(pointer, orvanta::requestModeOf(mode)); });
}

void obrSkpExecuteCustomAction(const char* action, const char* subject, const char* parameter) {
    orvanta::guarded(__func__, [&] {
        orvanta::executeCustomAction(boundedHostText(action), boundedHostText(subject),
                                     boundedHostText(parameter));
    });
}

void obrCheckMessages(void) {
    orvanta::guarded(__func__, [&] { orvanta::pollHost(); });
}

int obrPendingMessagesCount(void) {
    return orvanta::guarded(__func__, 0, [&] { return orvanta::pendingMessagesCount(); });
}
}
