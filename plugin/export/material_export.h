// Material export: the material name table, the texture size table, and the list of meshes to
// export again after a material's texture size changed.
#pragma once

#include <QByteArray>
#include <QString>

#include <map>
#include <vector>

namespace orvanta {

class EntityRegistry;
class RenderOutput;

// One material as the host reports it. Texts are UTF-8 and may be null; all but the id and the
// name, and the texture size, are carried to the render window unchanged.
struct MaterialReport {
    const char* materialId = nullptr;
    const char* materialName = nullptr;
    const char* detailText = nullptr;
    float textureWidth = 0.0f;
    float textureHeight = 0.0f;
    int intValue = 0;
    float floatValue = 0.0f;
    const char* extraText = nullptr;
};

struct TextureSize {
    float width = 1.0f;
    float height = 1.0f;
};

// Entity id (the id text of its registry record) to the mesh ids to export again, without
// repeats, in the order first found; ordered by the entity id text.
using MeshRefreshList = std::map<QString, std::vector<QString>>;

// The material tables of one plug-in, guarded by the lock of `registry`: the member functions
// take it as stated; the others expect the caller to hold it. Ids are exact, case-sensitive keys.
class MaterialTables {
public:
    explicit MaterialTables(EntityRegistry& registry) : m_registry(registry) {}
    MaterialTables(const MaterialTables&) = delete;
    MaterialTables& operator=(const MaterialTables&) = delete;

    // Records the material's name and texture size, sends it to `output` (every time), and, when
    // its texture size changed, lists the meshes whose ids name the material as "f[id]" or
    // "r[id]" in the refresh list. A size counts as changed when `output` is not loading a model,
    // both new values are above 0, and the pair differs from the last one recorded for the id
    // ((1, 1) before the first). Without an output the tables are updated and nothing else
    // happens. Takes the lock twice, and never holds it across a send. Host thread.
    void enumerateMaterial(const MaterialReport& material, RenderOutput* output);

    // The name recorded for `materialId`, UTF-8, or "" when there is none; never null. The text
    // belongs to the table and stays valid until the material is enumerated again or the names are
    // cleared. Takes the lock.
    const char* materialName(const char* materialId) const;

    // Caller holds the lock.
    void clearNames() { m_names.clear(); }
    const MeshRefreshList& refreshList() const { return m_refreshList; }
    // Hands the refresh list over, leaving it empty.
    MeshRefreshList takeRefreshList();
    // The recorded size; (1, 1) for a material never enumerated.
    TextureSize textureSize(const QByteArray& materialId) const;

private:
    void collectMeshesOf(const QByteArray& materialId);

    EntityRegistry& m_registry;
    std::map<QByteArray, QByteArray> m_names;
    // Kept across session resets, for the life of the plug-in.
    std::map<QByteArray, TextureSize> m_textureSizes;
    MeshRefreshList m_refreshList;
};

}  // namespace orvanta
