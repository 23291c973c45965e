// Exports of the host request path: thin entries to the host request queue.
#include "OrvantaForSketchup.h"

#include "plugin/lifecycle/render_restart.h"
#include "plugin/requests/host_request_queue.h"

extern "C" {

void obrSkpEnumEntityContent(const char* entityId, bool, int mode) {
    orvanta::enumEntityContent(entityId, mode);
}

void obrSkpEnumEntityAttributes(const char* owner, const char* dictionary, int mode) {
    orvanta::enumEntityAttributes(owner, dictionary, mode);
}

void obrSkpExportTexture(const char* first, const char* second, int mode) {
    orvanta::exportTexture(first, second, mode);
}

void obrSkpSetEntityAttribute(const char* owner, const char* dictionary, const char* key,
                              const char* value, int mode) {
    orvanta::setEntityAttribute(owner, dictionary, key, value, mode);
}

void obrSkpDestroyPointer(int64_t pointer, int mode) {
    orvanta::destroyPointer(pointer, mode);
}

void obrSkpExecuteCustomAction(const char* action, const char* subject, const char* parameter) {
    orvanta::executeCustomAction(action, subject, parameter);
}

void obrCheckMessages(void) {
    orvanta::pollHost();
}

int obrPendingMessagesCount(void) {
    return orvanta::pendingMessagesCount();
}
}
