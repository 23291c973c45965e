// What the render window holds of the scene the plug-in sent: meshes per owner entity, materials,
// section planes, the scene light, and the dictionary messages in arrival order. Everything is a
// copy of what a handler received, so it outlives the receiver's buffers.
//
// Mesh digest. meshDigest() is the SHA-256 of the mesh's arrays as received, concatenated in this
// order, with V the vertex count and I the index count:
//   positions      12 x V bytes (3 floats per vertex)
//   normals        12 x V bytes (3 floats per vertex)
//   front UVs       8 x V bytes (2 floats per vertex)
//   back UVs        8 x V bytes (2 floats per vertex)
//   vertex flags        V bytes (1 for a set flag, 0 otherwise)
//   indices         4 x I bytes (32-bit integers)
// Floats and integers are taken as their bytes in memory (the render link carries them unchanged
// between the two processes of one machine). Written as 64 lowercase hex digits. A sender computes
// the same value over its own arrays to learn whether they arrived bit for bit.
#pragma once

#include <QByteArray>
#include <QString>

#include <array>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <vector>

namespace orvanta::render_window {

struct SceneMesh {
    QString label;
    std::vector<float> positions;     // 3 per vertex
    std::vector<float> normals;       // 3 per vertex
    std::vector<float> frontUVs;      // 2 per vertex
    std::vector<float> backUVs;       // 2 per vertex
    std::vector<std::uint8_t> flags;  // 1 per vertex, each 0 or 1
    std::vector<std::int32_t> indices;
    int vertexCount = 0;
    int indexCount = 0;
    QString frontMaterial;
    QString backMaterial;

    // Copies the arrays of a received mesh: `vertexCount` vertices and `indexCount` indices, as
    // the receiver's onAddMesh() hands them. A pointer may be null only when its count is 0; a
    // negative count reads as 0. The pointers are read during the call only.
    static SceneMesh fromArrays(const char* label, const float* positions, const float* normals,
                                const float* frontUVs, const float* backUVs,
                                const bool* vertexFlags, const int* indices, int indexCount,
                                int vertexCount, const char* frontMaterial,
                                const char* backMaterial);
};

// The SHA-256 described at the top of this file, as 64 lowercase hex digits.
QByteArray meshDigest(const SceneMesh& mesh);

struct SceneMaterial {
    QString name;
    QString detailText;
    int intValue = 0;
    float floatValue = 0.0f;
    QString extraText;
};

struct SceneSectionPlane {
    bool active = false;
    std::array<float, 3> first{};
    std::array<float, 3> second{};
    bool capsOn = false;
    int capsValue = 0;  // packed AARRGGBB, as a signed 32-bit integer
};

// The nine values of the receiver's onSetSunLight(), in its parameter order.
struct SceneLight {
    int p1 = 0;
    float p2 = 0.0f;
    float p3 = 0.0f;
    float p4 = 0.0f;
    float p5 = 0.0f;
    int p6 = 0;
    float p7 = 0.0f;
    float p8 = 0.0f;
    float p9 = 0.0f;
};

struct DictionaryRecord {
    QString owner;
    QString dictionary;
    QString key;
    QString value;
};

// owner entity id -> mesh id -> mesh.
using SceneMeshes = std::map<QString, std::map<QString, SceneMesh>>;

// The scene of one render window. Every member may be called from any thread: the receiver's
// reader thread changes it (also while it replays a transaction), and readers take copies. Each
// call sees one whole state; two calls in a row may see two states while handlers run.
class SceneStore {
public:
    SceneStore() = default;
    SceneStore(const SceneStore&) = delete;
    SceneStore& operator=(const SceneStore&) = delete;

    // Keeps `mesh` as `meshId` of `entityId`, replacing a mesh of that id under that owner. The
    // same mesh id under another owner is another mesh.
    void addMesh(const QString& entityId, const QString& meshId, SceneMesh mesh);
    // Drops every mesh of `entityId`; nothing for an owner without meshes.
    void removeEntityMeshes(const QString& entityId);

    // Keeps the material under `materialId`, replacing an earlier one.
    void addMaterial(const QString& materialId, const SceneMaterial& material);

    // Section planes are numbered as the plug-in numbers them: by their position in its list,
    // except when it re-sends them with new caps, where the number is the plane's id. A plane sent
    // for a number replaces the plane held there.
    void setSectionPlane(int planeNumber, const SceneSectionPlane& plane);
    // The plug-in removed the plane at this position of its list, and the later ones moved up one:
    // drops the plane at `planeNumber` (if any) and renumbers every plane above it one lower.
    void removeSectionPlane(int planeNumber);

    void setLight(const SceneLight& light);
    // Appends to the dictionary messages, which keep their arrival order.
    void addDictionaryMessage(const DictionaryRecord& record);

    // Forgets the scene: meshes, materials, section planes and the light. The dictionary messages
    // are a record of what arrived, not scene content, and stay.
    void clearScene();

    // Copies of the current content.
    SceneMeshes meshes() const;
    // The mesh, or nothing when this owner has no mesh of that id.
    std::optional<SceneMesh> mesh(const QString& entityId, const QString& meshId) const;
    std::map<QString, SceneMaterial> materials() const;
    std::map<int, SceneSectionPlane> sectionPlanes() const;
    // Nothing until a light arrived, and again after clearScene().
    std::optional<SceneLight> light() const;
    std::vector<DictionaryRecord> dictionaryMessages() const;

private:
    mutable std::mutex m_mutex;
    // All under m_mutex.
    SceneMeshes m_meshes;
    std::map<QString, SceneMaterial> m_materials;
    std::map<int, SceneSectionPlane> m_planes;
    std::optional<SceneLight> m_light;
    std::vector<DictionaryRecord> m_dictionaryMessages;
};

}  // namespace orvanta::render_window
