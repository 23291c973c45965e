#include "plugin/requests/request_trampolines.h"

#include <cstdint>
#include <type_traits>

#include "XelRemoteRenderSender.h"
#include "plugin/requests/host_request_queue.h"

namespace orvanta {

static_assert(std::is_same_v<decltype(&requestSetEntityAttribute),
                             XelRemoteRenderSender::SetEntityAttributeCallback>);
static_assert(std::is_same_v<decltype(&requestEnumEntityContent),
                             XelRemoteRenderSender::EnumEntityContentCallback>);
static_assert(std::is_same_v<decltype(&requestEnumEntityAttributes),
                             XelRemoteRenderSender::EnumEntityAttributesCallback>);
static_assert(
    std::is_same_v<decltype(&requestExportTexture), XelRemoteRenderSender::ExportTextureCallback>);
static_assert(std::is_same_v<decltype(&requestDestroyPointer),
                             XelRemoteRenderSender::DestroyPointerCallback>);

void requestSetEntityAttribute(const char* owner, const char* dictionary, const char* key,
                               const char* value) {
    setEntityAttribute(owner, dictionary, key, value, PostOffHostThread);
}

void requestEnumEntityContent(const char* entityId) {
    enumEntityContent(entityId, PostOffHostThread);
}

void requestEnumEntityAttributes(const char* owner, const char* dictionary) {
    enumEntityAttributes(owner, dictionary, PostOffHostThread);
}

void requestExportTexture(const char* first, const char* second) {
    exportTexture(first, second, PostOffHostThread);
}

void requestDestroyPointer(void* pointer) {
    destroyPointer(static_cast<std::int64_t>(reinterpret_cast<std::intptr_t>(pointer)),
                   PostOffHostThread);
}

}  // namespace orvanta
