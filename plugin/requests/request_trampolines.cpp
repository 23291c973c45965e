#include "plugin/requests/request_trampolines.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <initializer_list>
#include <type_traits>

#include "XelRemoteRenderSender.h"
#include "plugin/lifecycle/app_settings.h"

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

namespace {

// The request as the host request queue will file it: its kind, then its texts.
void logDropped(const char* kind, std::initializer_list<QString> texts) {
    QStringList record{QString::fromLatin1(kind)};
    record.append(QStringList(texts));
    appendLog(QStringLiteral("Render window request dropped: ") +
              record.join(QStringLiteral(", ")));
}

QString text(const char* utf8) {
    return QString::fromUtf8(utf8 ? utf8 : "");
}

}  // namespace

void requestSetEntityAttribute(const char* owner, const char* dictionary, const char* key,
                               const char* value) {
    logDropped("obrSkpSetEntityAttribute", {text(owner), text(dictionary), text(key), text(value)});
}

void requestEnumEntityContent(const char* entityId) {
    logDropped("obrSkpEnumEntityContent", {text(entityId)});
}

void requestEnumEntityAttributes(const char* owner, const char* dictionary) {
    logDropped("obrSkpEnumEntityAttributes", {text(owner), text(dictionary)});
}

void requestExportTexture(const char* first, const char* second) {
    logDropped("obrSkpExportTexture", {text(first), text(second)});
}

void requestDestroyPointer(void* pointer) {
    const auto value = static_cast<std::int64_t>(reinterpret_cast<std::intptr_t>(pointer));
    logDropped("obrSkpDestroyPointer", {QString::number(value)});
}

}  // namespace orvanta
