#include "plugin/export/mesh_export.h"

#include <cstring>

#include "plugin/export/render_output.h"
#include "plugin/lifecycle/app_settings.h"
#include "plugin/session/entity_registry.h"

namespace orvanta {
namespace {

bool ownerNeedsEnumeration(const char* entityId, EntityRegistry& registry) {
    if (!entityId || !*entityId || std::strcmp(entityId, "Model") == 0)
        return false;
    RegistryGuard guard(registry.lock());
    return !registry.entityExists(QString::fromUtf8(entityId), EntityTable::Content);
}

// Logs why the counts and arrays of `mesh`, both counts above 0 or one negative, describe no
// mesh that can be read, and returns true; false when they do describe one.
bool refused(const MeshReport& mesh) {
    static xel::RefusalCount negative, nullVertices, nullIndices;
    xel::RefusalCount* count = nullptr;
    QString why;
    if (mesh.indexCount < 0 || mesh.vertexCount < 0) {
        count = &negative;
        why = QStringLiteral("a negative count (%1 indices, %2 vertices)")
                  .arg(mesh.indexCount)
                  .arg(mesh.vertexCount);
    } else if (!(mesh.positions && mesh.normals && mesh.frontUVs && mesh.backUVs &&
                 mesh.vertexFlags)) {
        count = &nullVertices;
        why = QStringLiteral("a null vertex array for %1 vertices").arg(mesh.vertexCount);
    } else if (!mesh.indices) {
        count = &nullIndices;
        why = QStringLiteral("a null index array for %1 indices").arg(mesh.indexCount);
    } else {
        return false;
    }
    appendRefusal(*count, "obrOnEnumMesh",
                  QStringLiteral("mesh %1 has %2")
                      .arg(QString::fromUtf8(mesh.meshId ? mesh.meshId : ""), why));
    return true;
}

}  // namespace

void applyMaterialRule(QByteArray& front, QByteArray& back) {
    if (!front.isEmpty() && front != back)
        back = front;
    else if (front.isEmpty() && !back.isEmpty())
        front = back;
}

void exportMesh(const MeshReport& mesh, RenderOutput* output, EntityRegistry& registry,
                const EnumerateOwnerContent& enumerateOwner) {
    if (!output)
        return;
    QByteArray front(mesh.frontMaterial ? mesh.frontMaterial : "");
    QByteArray back(mesh.backMaterial ? mesh.backMaterial : "");
    applyMaterialRule(front, back);
    if (mesh.indexCount == 0 || mesh.vertexCount == 0)
        return;  // nothing to show
    if (refused(mesh))
        return;
    if (enumerateOwner && ownerNeedsEnumeration(mesh.entityId, registry))
        enumerateOwner(mesh.entityId);
    output->addMesh(mesh.meshId, mesh.entityId, mesh.meshLabel, mesh.positions, mesh.normals,
                    mesh.frontUVs, mesh.backUVs, mesh.vertexFlags, mesh.indices, mesh.indexCount,
                    mesh.vertexCount, front.constData(), back.constData());
}

}  // namespace orvanta
