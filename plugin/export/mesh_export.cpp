#include "plugin/export/mesh_export.h"

#include <cstring>

#include "plugin/export/render_output.h"
#include "plugin/session/entity_registry.h"

namespace orvanta {
namespace {

bool ownerNeedsEnumeration(const char* entityId, EntityRegistry& registry) {
    if (!entityId || !*entityId || std::strcmp(entityId, "Model") == 0)
        return false;
    RegistryGuard guard(registry.lock());
    return !registry.entityExists(QString::fromUtf8(entityId), EntityTable::Content);
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
    // Negative counts cannot describe arrays; the sender would refuse them too.
    if (mesh.indexCount <= 0 || mesh.vertexCount <= 0)
        return;
    if (enumerateOwner && ownerNeedsEnumeration(mesh.entityId, registry))
        enumerateOwner(mesh.entityId);
    output->addMesh(mesh.meshId, mesh.entityId, mesh.meshLabel, mesh.positions, mesh.normals,
                    mesh.frontUVs, mesh.backUVs, mesh.vertexFlags, mesh.indices, mesh.indexCount,
                    mesh.vertexCount, front.constData(), back.constData());
}

}  // namespace orvanta
