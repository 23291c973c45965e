#include "plugin/session/entity_changes.h"

#include <QByteArray>

#include <optional>
#include <thread>
#include <vector>

#include "plugin/export/render_output.h"
#include "plugin/requests/host_request_queue.h"
#include "plugin/session/scene_session.h"
#include "plugin/session/session_reset.h"

namespace orvanta {
namespace {

const QString kModel = QStringLiteral("Model");

void writeResults(const MessageResults& results, std::optional<bool> first,
                  std::optional<bool> second, std::optional<bool> flag) {
    if (results.flags && first)
        results.flags[0] = *first;
    if (results.flags && second)
        results.flags[1] = *second;
    if (results.flag && flag)
        *results.flag = *flag;
}

}  // namespace

void removeEntity(SceneSession& session, const QString& id, const QString& parentId, int mode,
                  int table, bool forUpdate, RenderOutput* output) {
    const std::optional<EntityTable> which = entityTableOf(table);
    if (!which)
        return;
    EntityRegistry& registry = session.registry;
    const EntityKey key = entityKeyOf(id);
    const bool isModel = id == kModel;
    std::vector<QString> parents;
    {
        RegistryGuard guard(registry.lock());
        const EntityRecord* found = registry.findRecord(key, *which);
        if (!isModel && (!found || !found->present))
            return;
        EntityRecord& record = registry.ensureEntityRecord(key, *which);
        if (!parentId.isEmpty())
            parents.push_back(parentId);
        else
            parents = record.parents;
        if (mode == 0)
            record.parents.clear();
    }
    if (mode != 0 && output) {
        const QByteArray idText = id.toUtf8();
        if (isModel) {
            output->removeEntity("Model", "Model", true, forUpdate);
        } else {
            for (const QString& parent : parents)
                output->removeEntity(idText.constData(), parent.toUtf8().constData(),
                                     *which == EntityTable::Content, forUpdate);
        }
    }
    if (key != 0) {
        RegistryGuard guard(registry.lock());
        EntityRecord* record = registry.findRecord(key, *which);
        if (record && record->parents.empty())
            record->present = false;
    }
}

void removeEntityFromParent(SceneSession& session, const QString& id, int table,
                            const QString& parentId) {
    const std::optional<EntityTable> which = entityTableOf(table);
    if (!which)
        return;
    RegistryGuard guard(session.registry.lock());
    if (!session.registry.entityExists(id, *which))
        return;
    std::vector<QString>& parents = session.registry.findRecord(entityKeyOf(id), *which)->parents;
    for (auto parent = parents.begin(); parent != parents.end(); ++parent) {
        if (*parent == parentId) {
            parents.erase(parent);
            return;
        }
    }
}

void removeMeshInEntity(SceneSession& session, const QString& meshId) {
    RegistryGuard guard(session.registry.lock());
    if (EntityRecord* owner =
            session.registry.findRecord(entityKeyOf(meshId), EntityTable::Content))
        owner->meshes.erase(meshId);
}

void hideEntity(SceneSession& session, const QString& id, RenderOutput* output) {
    if (!output)
        return;
    EntityRegistry& registry = session.registry;
    RegistryGuard guard(registry.lock());
    const EntityKey key = entityKeyOf(id);
    if (!registry.findRecord(key, EntityTable::Placement))
        registry.addEntityToParent(id, QString(), EntityTable::Placement);
    EntityRecord& record = *registry.findRecord(key, EntityTable::Placement);
    if (record.hidden)
        return;
    record.hidden = true;
    output->setEntityVisible(id.toUtf8().constData(), false, record.label.toUtf8().constData());
}

void showHiddenEntities(SceneSession& session, RenderOutput* output) {
    if (!output)
        return;
    EntityRegistry& registry = session.registry;
    RegistryGuard guard(registry.lock());
    EntityTableRecords& records = registry.records(EntityTable::Placement);
    for (auto next = records.begin(); next != records.end();) {
        const EntityKey key = next->first;
        EntityRecord& record = next->second;
        if (record.hidden) {
            record.hidden = false;
            const QByteArray id = record.id.toUtf8();
            QByteArray label = record.label.toUtf8();
            session.enumerateContent(id.constData(), PostOffHostThread);
            // The callback may have changed the table, even cleared it: look the record up again.
            if (const EntityRecord* after = registry.findRecord(key, EntityTable::Placement))
                label = after->label.toUtf8();
            output->setEntityVisible(id.constData(), true, label.constData());
            next = records.upper_bound(key);
        } else {
            ++next;
        }
    }
}

void entityMessage(SceneSession& session, int kind, const QString& id, const QString& typeName,
                   const QString& parentId, const MessageResults& results, RenderOutput* output) {
    if (!output)
        return;
    if (!isEntityTypeManaged(typeName)) {
        writeResults(results, false, std::nullopt, false);
        return;
    }
    const QByteArray idText = id.toUtf8();
    if (typeName == QLatin1String("SectionPlane")) {
        if (kind == 0) {
            writeResults(results, false, false, false);
            session.sectionPlanes.enumerate(idText, false, false, {0, 0, 0}, {0, 0, 0}, output);
        } else {
            writeResults(results, true, true, false);
            session.enumerateContent(idText.constData(), RunNow);
        }
        return;
    }
    const bool isInstance = typeName == QLatin1String("ComponentInstance");
    const int table = isInstance ? 1 : 0;
    switch (kind) {
        case 0:
            writeResults(results, false, false, false);
            removeEntity(session, id, parentId, 2, table, false, output);
            break;
        case 1:
            writeResults(results, true, true, false);
            if (!output->isProxyEntity(idText.constData()) && (id == kModel || isInstance)) {
                removeEntity(session, id, parentId, 2, table, true, output);
                // Lets the render link's threads run before the host re-exports the entity.
                std::this_thread::yield();
            }
            break;
        case 2:
            writeResults(results, false, false, true);
            break;
        case 4:
            writeResults(results, true, true, false);
            break;
        default:
            break;
    }
}

void modelMessage(SceneSession& session, int kind, const MessageResults& results,
                  RenderOutput* output) {
    if (!output)
        return;
    switch (kind) {
        case 0:
        case 1: {
            resetSession(session);
            output->clearSession();
            // Another model: nothing of the old one's values stays.
            session.model.rootEntitiesCount = 0;
            session.model.lengthUnit.clear();
            const SessionBusy busy;
            writeResults(results, true, true, std::nullopt);
            session.colorByLayer = false;
            writeResults(results, std::nullopt, std::nullopt, true);
            session.sessionAttributes.sendMissing(0, output);
            break;
        }
        case 2:
            writeResults(results, false, false, false);
            break;
        case 4:
            writeResults(results, false, std::nullopt, false);
            break;
        default:
            break;
    }
}

}  // namespace orvanta
