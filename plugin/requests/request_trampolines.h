// The functions that the render link sender calls when the render window asks the host for work,
// in the order its constructor takes them. Each hands its texts on unchanged to the request
// operation of its kind in mode PostOffHostThread: called off the host thread, the request is
// posted to the host request queue and reaches the host callback during the host's next
// obrCheckMessages, on the host thread.
//
// Called on the render link's reader thread. The texts belong to the sender, live only for the
// call and may be null (posted as empty); the queue keeps its own copies.
#pragma once

namespace orvanta {

void requestSetEntityAttribute(const char* owner, const char* dictionary, const char* key,
                               const char* value);
void requestEnumEntityContent(const char* entityId);
void requestEnumEntityAttributes(const char* owner, const char* dictionary);
void requestExportTexture(const char* first, const char* second);
void requestDestroyPointer(void* pointer);

}  // namespace orvanta
