#include "plugin/session/session_reset.h"

#include <QString>

#include <vector>

#include "plugin/export/render_output.h"
#include "plugin/requests/host_request_queue.h"
#include "plugin/session/scene_session.h"

namespace orvanta {
namespace {

constexpr char kModel[] = "Model";

void seedModelRoot(EntityRegistry& registry, EntityTable table, const char* note) {
    const QString model = QString::fromLatin1(kModel);
    registry.addEntityToParent(model, model, table);
    EntityRecord& root = registry.ensureEntityRecord(entityKeyOf(model), table);
    root.renderId = QStringLiteral("Root");
    root.note = QString::fromLatin1(note);
    root.label = QStringLiteral("0");
    root.present = true;
}

}  // namespace

void resetSession(SceneSession& session) {
    RegistryGuard guard(session.registry.lock());
    session.registry.clear();
    session.sectionPlanes.clear();
    session.materials.clearNames();
    session.base64.clear();
    seedModelRoot(session.registry, EntityTable::Content, "");
    seedModelRoot(session.registry, EntityTable::Placement, "Default");
}

void clearSession(SceneSession& session, bool full, bool clearParents, bool removeMeshes,
                  RenderOutput* output) {
    session.model.rootEntitiesCount = 0;
    session.colorByLayer = false;
    if (output)
        output->beginTransaction("Clear");
    {
        SessionBusy busy;
        if (full) {
            resetSession(session);
            if (output) {
                output->clearSession();
                session.sessionAttributes.sendMissing(0, output);
            }
        } else {
            std::vector<QByteArray> meshOwners;
            {
                RegistryGuard guard(session.registry.lock());
                for (auto& [key, record] : session.registry.records(EntityTable::Content)) {
                    (void)key;
                    if (removeMeshes)
                        meshOwners.push_back(record.id.toUtf8());
                    if (clearParents)
                        record.parents.clear();
                }
                if (clearParents)
                    for (auto& [key, record] : session.registry.records(EntityTable::Placement)) {
                        (void)key;
                        record.parents.clear();
                    }
            }
            if (output)
                for (const QByteArray& owner : meshOwners)
                    output->removeEntityMeshes(owner.constData());
        }
    }
    if (output)
        output->endTransaction(false);
}

}  // namespace orvanta
