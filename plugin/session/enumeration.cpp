#include "plugin/session/enumeration.h"

#include <QtGlobal>

#include "plugin/export/render_output.h"
#include "plugin/requests/host_request_queue.h"
#include "plugin/session/scene_session.h"

namespace orvanta {
namespace {

HostRequest action(const QString& name, const QString& subject) {
    return {QString::fromLatin1(request_kind::kSetEntityAttribute),
            QString::fromLatin1(kExecuteAction), name, subject, QString()};
}

}  // namespace

void startEnumeration(RenderOutput* output) {
    if (!output)
        return;
    output->beginTransaction("EnumeratingScene");
    output->setLoadingModel(true);
    qDebug("SuspendScene called because of obrEnumerationProcessStarted");
}

void completeEnumeration(SceneSession& session, RenderOutput* output) {
    if (!sceneSuspended(output)) {
        qDebug("obrEnumerationProcessCompleted has been fired twice from skp side...");
        return;
    }
    postMeshRefreshActions(session);
    output->endTransaction(false);
    qDebug("ResumeScene called because of obrEnumerationProcessCompleted");
    // A nested bracket: the model loads until the outermost one closes.
    if (!sceneSuspended(output))
        output->setLoadingModel(false);
}

void postMeshRefreshActions(SceneSession& session) {
    MeshRefreshList refresh;
    {
        RegistryGuard guard(session.registry.lock());
        refresh = session.materials.takeRefreshList();
    }
    if (refresh.empty())
        return;
    session.requests.post(action(QStringLiteral("SuspendScene"), QString()));
    for (const auto& [entityId, meshIds] : refresh) {
        (void)meshIds;
        session.requests.post(action(QStringLiteral("EnumEntityMeshes"), entityId));
    }
    session.requests.post(action(QStringLiteral("ResumeScene"), QString()));
}

bool sceneSuspended(const RenderOutput* output) {
    return output && output->transactionInProgress();
}

}  // namespace orvanta
