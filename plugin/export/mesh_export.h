// Mesh export: one renderable mesh of the model, forwarded to the render window unchanged.
#pragma once

#include <QByteArray>

#include <functional>

namespace orvanta {

class EntityRegistry;
class RenderOutput;

// One mesh as the host reports it (V vertices, I indices): positions and normals 3 × V floats,
// the front and back texture coordinates 2 × V floats each, V vertex flags, I vertex indices
// (three per triangle). The arrays belong to the caller and are read, not copied, while the
// message is built; texts are UTF-8 and may be null.
struct MeshReport {
    const char* meshId = nullptr;
    const char* entityId = nullptr;  // the owner: an entity id, "Model" or empty
    const char* meshLabel = nullptr;
    const float* positions = nullptr;
    const float* normals = nullptr;
    const float* frontUVs = nullptr;
    const float* backUVs = nullptr;
    const bool* vertexFlags = nullptr;
    const int* indices = nullptr;
    int indexCount = 0;
    int vertexCount = 0;
    const char* frontMaterial = nullptr;
    const char* backMaterial = nullptr;
};

// One material name for both faces, the front one winning: a non-empty front that differs from
// the back replaces the back; an empty front takes a non-empty back. Afterwards the two are equal.
void applyMaterialRule(QByteArray& front, QByteArray& back);

// Asks the host to enumerate the content of `entityId` at once, on the calling thread; returns
// when the host's callback has run (which may call other exports).
using EnumerateOwnerContent = std::function<void(const char* entityId)>;

// Sends `mesh` to `output` after the material rule. Nothing at all without an output or when
// either count is 0. A mesh with a negative count, or a null array for a count above 0, is refused
// and logged (rate-limited). Before sending, an owner that is neither empty nor exactly
// "Model" and that the registry does not hold present in its content table is enumerated through
// `enumerateOwner`; the registry lock is held for the look-up only. Host thread.
void exportMesh(const MeshReport& mesh, RenderOutput* output, EntityRegistry& registry,
                const EnumerateOwnerContent& enumerateOwner);

}  // namespace orvanta
