// The functions that the render link sender calls when the render window asks the host for work,
// in the order its constructor takes them.
//
// Requests from the render window are dropped until the host request queue exists: each function
// writes one log line naming the request and its texts, and does nothing else.
//
// Called on the render link's reader thread. The texts belong to the sender, live only for the
// call and may be null (logged as empty).
#pragma once

namespace orvanta {

void requestSetEntityAttribute(const char* owner, const char* dictionary, const char* key,
                               const char* value);
void requestEnumEntityContent(const char* entityId);
void requestEnumEntityAttributes(const char* owner, const char* dictionary);
void requestExportTexture(const char* first, const char* second);
void requestDestroyPointer(void* pointer);

}  // namespace orvanta
