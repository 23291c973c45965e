#include "plugin/export/hierarchy_export.h"

#include <QString>

#include <algorithm>
#include <array>
#include <optional>

#include "plugin/export/render_output.h"
#include "plugin/lifecycle/app_settings.h"
#include "plugin/requests/host_request_queue.h"
#include "plugin/session/entity_changes.h"
#include "plugin/session/scene_session.h"

namespace orvanta {
namespace {

QString hostText(const char* text) {
    return QString::fromUtf8(text ? text : "");
}

// The 16 floats of a transform (never null) as they travel: in the caller's order, unchanged.
class TransformCopy {
public:
    explicit TransformCopy(const float* transform) {
        std::copy(transform, transform + 16, m_values.begin());
    }
    const float* data() const { return m_values.data(); }

private:
    std::array<float, 16> m_values{};
};

// A parent id from the host: null means no parent in particular (any parent when asked, none
// added), as the registry reads it.
std::optional<QString> hostParent(const char* parentId) {
    if (!parentId)
        return std::nullopt;
    return QString::fromUtf8(parentId);
}

bool definitionKnown(SceneSession& session, const QString& definitionId) {
    RegistryGuard guard(session.registry.lock());
    return session.registry.entityExists(definitionId, EntityTable::Content);
}

// Logs a node reported without a transform: the render window cannot place it, so its message is
// not sent; the session records it all the same.
void logMissingTransform(xel::RefusalCount& count, const char* exportName, const char* id) {
    appendRefusal(
        count, exportName,
        QStringLiteral("a null transform for %1; it is recorded but not sent").arg(hostText(id)));
}

void storeNoteAndLabel(EntityRegistry& registry, const QString& id, const char* note,
                       const char* label) {
    RegistryGuard guard(registry.lock());
    registry.setRecordNote(id, hostText(note));
    registry.setRecordLabel(id, hostText(label));
}

}  // namespace

void exportGroup(SceneSession& session, const GroupReport& group, std::uint8_t* enumResult,
                 RenderOutput* output) {
    if (!output)
        return;
    const QString id = hostText(group.groupId);
    const std::optional<QString> parent = hostParent(group.parentId);
    EntityRegistry& registry = session.registry;
    {
        RegistryGuard guard(registry.lock());
        const bool known = registry.entityExists(id, EntityTable::Content);
        if (enumResult) {
            enumResult[0] = 1;
            enumResult[1] = !known;
        }
        if (!registry.isEntityParented(id, std::nullopt, EntityTable::Content))
            registry.addEntityToParent(id, std::nullopt, EntityTable::Content);
        if (!registry.isEntityParented(id, parent, EntityTable::Placement))
            registry.addEntityToParent(id, parent, EntityTable::Placement);
    }
    storeNoteAndLabel(registry, id, group.recordNote, group.recordLabel);
    if (!group.transform) {
        static xel::RefusalCount missing;
        logMissingTransform(missing, "obrOnEnumGroup", group.groupId);
        return;
    }
    const TransformCopy transform(group.transform);
    output->addGroup(group.groupId, group.parentId, group.recordLabel, group.passText,
                     transform.data(), group.recordNote);
}

void exportInstance(SceneSession& session, const InstanceReport& instance, RenderOutput* output) {
    if (!output)
        return;
    const QString id = hostText(instance.instanceId);
    const std::optional<QString> parent = hostParent(instance.parentId);
    const QString definition = hostText(instance.definitionId);
    const QByteArray definitionText = definition.toUtf8();
    EntityRegistry& registry = session.registry;
    if (!definitionKnown(session, definition))
        session.enumerateContent(definitionText.constData(), RunNow);

    bool placed = false;
    {
        RegistryGuard guard(registry.lock());
        placed = registry.isEntityParented(id, parent, EntityTable::Placement);
    }
    if (placed) {
        // Re-exported from scratch. The removal leaves the parents recorded, and a parent is
        // listed once: adding it again would make every later removal send it twice.
        if (!output->isProxyEntity(id.toUtf8().constData())) {
            removeEntity(session, id, parent.value_or(QString()), 2, 1, true, output);
            RegistryGuard guard(registry.lock());
            if (!registry.isEntityParented(id, parent, EntityTable::Placement))
                registry.addEntityToParent(id, parent, EntityTable::Placement);
        }
    } else {
        RegistryGuard guard(registry.lock());
        registry.addEntityToParent(id, parent, EntityTable::Placement);
    }
    {
        RegistryGuard guard(registry.lock());
        if (!registry.isEntityParented(definition, id, EntityTable::Content))
            registry.addEntityToParent(definition, id, EntityTable::Content);
    }
    storeNoteAndLabel(registry, id, instance.recordNote, instance.recordLabel);
    if (instance.transform) {
        const TransformCopy transform(instance.transform);
        output->addInstance(instance.instanceId, instance.parentId, instance.definitionId,
                            instance.recordLabel, instance.passText, transform.data(),
                            instance.recordNote);
    } else {
        static xel::RefusalCount missing;
        logMissingTransform(missing, "obrOnEnumInstance", instance.instanceId);
    }
    if (!definitionKnown(session, definition))
        session.enumerateContent(definitionText.constData(), RunNow);
}

void exportComponentDef(SceneSession& session, const ComponentDefReport& definition,
                        std::uint8_t* enumResult, RenderOutput* output) {
    if (!output)
        return;
    const QString id = hostText(definition.definitionId);
    bool known = false;
    {
        RegistryGuard guard(session.registry.lock());
        known = session.registry.entityExists(id, EntityTable::Content);
        if (enumResult)
            enumResult[0] = enumResult[1] = 1;
        if (!known)
            session.registry.addEntityToParent(id, std::nullopt, EntityTable::Content);
    }
    if (!known)
        output->addComponentDef(definition.definitionId, definition.defText, definition.defFlag,
                                definition.defNote);
}

void exportLayer(const char* layerId, bool layerFlag, int layerValue, RenderOutput* output) {
    if (output)
        output->addLayer(layerId, layerFlag, layerValue, entityKeyOf(hostText(layerId)) == 0);
}

void setLayersColorMode(SceneSession& session, bool enabled, RenderOutput* output) {
    session.colorByLayer = enabled;
    if (output)
        output->sendDictionaryMessage("App", "obrSetLayersColorMode", "Data",
                                      enabled ? "true" : "false");
}

}  // namespace orvanta
