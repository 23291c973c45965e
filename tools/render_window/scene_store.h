// What the render window holds of the scene the plug-in sent: the scene tree (component
// definitions, groups and instances placed under their parents), meshes per owner entity,
// materials, layers, hidden entities, section planes, the scene light, the camera, and the
// dictionary messages in arrival order. Everything is a copy of what a handler received, so it
// outlives the receiver's buffers. The meaning of the values is docs/host_render_agreement.md; the
// mesh digest and the scene digest are defined in tools/common/scene_digest.h.
#pragma once

#include <QByteArray>
#include <QString>

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <utility>
#include <vector>

#include "tools/common/scene_digest.h"

namespace orvanta::render_window {

// A texture's picture as the rasteriser draws it (rasterizer.h); held here only by pointer.
struct RasterTexture;
// The picture of a material's texture, shared by the store and the snapshots taken of it.
using SharedTexture = std::shared_ptr<const RasterTexture>;

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
    QByteArray digest;  // meshDigest() of the arrays as fromArrays() copied them

    // Copies the arrays of a received mesh: `vertexCount` vertices and `indexCount` indices, as
    // the receiver's onAddMesh() hands them, with its texts as the handler took them. A pointer
    // may be null only when its count is 0; a negative count reads as 0. The pointers are read
    // during the call only.
    static SceneMesh fromArrays(const QString& label, const float* positions, const float* normals,
                                const float* frontUVs, const float* backUVs,
                                const bool* vertexFlags, const int* indices, int indexCount,
                                int vertexCount, const QString& frontMaterial,
                                const QString& backMaterial);
};

// The mesh digest of tools/common/scene_digest.h over the mesh's arrays: 32 lowercase hex digits.
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

// The nine values of the receiver's onSetSunLight(), in its parameter order, with the meaning
// docs/host_render_agreement.md gives them.
struct SceneLight {
    int shadowsOn = 0;              // 1 when shadows are on
    float lightIntensity = 0.0f;    // 0 to 1
    float ambientIntensity = 0.0f;  // 0 to 1
    float reserved1 = 0.0f;         // 0 from the plug-in; no meaning is agreed
    float reserved2 = 0.0f;         // 0 from the plug-in; no meaning is agreed
    int sunLightsFaces = 0;         // 1 when the sun lights the faces
    float sunDirectionX = 0.0f;     // (X, Y, Z): the direction towards the sun
    float sunDirectionY = 0.0f;
    float sunDirectionZ = 0.0f;
};

// The values of the receiver's onSetCamera(), with the meaning docs/host_render_agreement.md gives
// them: world coordinates, Z up.
struct SceneCamera {
    std::array<float, 3> eye{};
    std::array<float, 3> target{};
    std::array<float, 3> up{};  // need not be unit length or exactly perpendicular
    bool perspective = true;
    bool modelsOwn = false;           // false: the host made the camera up to frame the model
    float fieldOfViewDegrees = 0.0f;  // vertical, perspective projection
    float parallelHeight = 0.0f;      // visible height in model units, parallel projection
    float aspect = 0.0f;              // the host's image width / height; 0: the window's own
    QString sceneName;
};

struct DictionaryRecord {
    QString owner;
    QString dictionary;
    QString key;
    QString value;
};

// owner entity id -> mesh id -> mesh.
using SceneMeshes = std::map<QString, std::map<QString, SceneMesh>>;
// The same, sharing the store's meshes: a mesh is never changed once stored (a mesh sent again
// replaces the pointer), so a holder may read it without the store's lock for as long as it holds
// the pointer, whatever the store does meanwhile.
using SharedSceneMeshes = std::map<QString, std::map<QString, std::shared_ptr<const SceneMesh>>>;

struct SceneDefinition {
    QString defText;
    bool defFlag = false;
    QString defNote;
};

enum class PlacementKind { Group, Instance };

// One group or instance placed under one parent, with the values of its latest message.
struct ScenePlacement {
    PlacementKind kind = PlacementKind::Group;
    QString definitionId;  // an instance's definition; empty for a group
    std::array<float, 16> transform{};
    QString label;
    QString passText;
    QString note;
};

// (entity id, parent id): an entity placed under several parents has one placement for each.
using PlacementKey = std::pair<QString, QString>;
using ScenePlacements = std::map<PlacementKey, ScenePlacement>;

// The three values of the receiver's onAddLayer(). `flag` says the layer is visible: what lies
// on a layer held with `flag` false is not drawn (scene_view.h).
struct SceneLayer {
    bool flag = false;
    bool defaultLayer = false;
    bool value = false;
};

// What a view of the scene needs, taken at one moment: copies of the small parts, the meshes
// shared with the store (see SharedSceneMeshes). Owned by whoever took it; any thread.
struct SceneSnapshot {
    SharedSceneMeshes meshes;
    ScenePlacements placements;
    std::map<QString, SceneMaterial> materials;
    std::set<QString> hidden;
    std::map<int, SceneSectionPlane> sectionPlanes;
    std::optional<SceneCamera> camera;
    std::map<QString, SceneLayer> layers;
    // material id -> the picture loaded for its texture (texture_requests.h).
    std::map<QString, SharedTexture> textures;
};

// What one removal took out of the scene.
struct SceneRemoval {
    int placements = 0;
    int meshes = 0;
};

// The scene of one render window. Every member may be called from any thread: the receiver's
// reader thread changes it (also while it replays a transaction), and readers take copies. Each
// call sees one whole state; two calls in a row may see two states while handlers run.
class SceneStore {
public:
    SceneStore() = default;
    SceneStore(const SceneStore&) = delete;
    SceneStore& operator=(const SceneStore&) = delete;

    // Keeps `mesh` as `meshId` of `entityId`, replacing a mesh of that id under that owner. The
    // same mesh id under another owner is another mesh. The owner is any text: the model root
    // "Model", a group (its own geometry), a component definition, or an id not (yet) known.
    void addMesh(const QString& entityId, const QString& meshId, SceneMesh mesh);
    // Drops every mesh of `entityId`; returns how many; nothing for an owner without meshes.
    int removeEntityMeshes(const QString& entityId);

    // Keeps the definition, replacing an earlier one of that id. Its meshes are the meshes whose
    // owner is the definition id.
    void addComponentDef(const QString& definitionId, const SceneDefinition& definition);
    // Places a group or an instance under `parentId`, replacing the placement of that entity under
    // that parent; its placements under other parents stay.
    void addPlacement(const QString& entityId, const QString& parentId,
                      const ScenePlacement& placement);
    // Keeps the layer, replacing an earlier one of that id.
    void addLayer(const QString& layerId, const SceneLayer& layer);
    // Records the entity as hidden, or no longer hidden. Whether the entity is in the scene does
    // not matter, and removals leave the record alone: only visibility changes and a clear
    // change it.
    void setEntityVisible(const QString& entityId, bool visible);

    // The plug-in's removal of `entityId` from `parentId` (the table it names does not matter
    // here):
    // - ("Model", "Model"): the whole model content goes: every placement and every mesh.
    //   Definitions stay, since the plug-in sends each only once per session, and so do
    //   materials, layers, hidden entities, section planes and the light.
    // - `forUpdate`: only that placement goes; a fresh placement follows at once, so the entity's
    //   meshes and the placements under it stay even when it has no placement left.
    // - otherwise that placement goes, and an entity left without any placement goes too: its own
    //   meshes (a group's geometry) and, recursively in the same way, every placement under it.
    // A pair that is not placed changes nothing. Returns what was dropped.
    SceneRemoval removeEntity(const QString& entityId, const QString& parentId, bool forUpdate);

    // Keeps the material under `materialId`, replacing an earlier one. Its texture's picture,
    // if one is held, stays until setTexture() replaces or drops it.
    void addMaterial(const QString& materialId, const SceneMaterial& material);
    // Keeps `texture` as the picture of the material's texture; null drops it. Held whether the
    // material is or not; a view uses it only with the material.
    void setTexture(const QString& materialId, SharedTexture texture);
    std::map<QString, SharedTexture> textures() const;

    // Section planes are numbered as the plug-in numbers them: by their position in its list,
    // except when it re-sends them with new caps, where the number is the plane's id. A plane sent
    // for a number replaces the plane held there.
    void setSectionPlane(int planeNumber, const SceneSectionPlane& plane);
    // The plug-in removed the plane at this position of its list, and the later ones moved up one:
    // drops the plane at `planeNumber` (if any) and renumbers every plane above it one lower.
    void removeSectionPlane(int planeNumber);

    void setLight(const SceneLight& light);
    // Keeps the camera, replacing the one before; only clearScene() forgets it.
    void setCamera(const SceneCamera& camera);
    // Appends to the dictionary messages, which keep their arrival order.
    void addDictionaryMessage(const DictionaryRecord& record);

    // Forgets the scene: definitions, placements, meshes, materials and their textures, layers,
    // hidden entities, section planes, the light and the camera. The dictionary messages are a
    // record of what arrived, not scene content, and stay.
    void clearScene();

    // The scene digest of the current content (tools/common/scene_digest.h), counted thus:
    // definitions held; instance placements; group placements; meshes held, whatever their owner;
    // triangles, the sum of indexCount / 3 (rounded down) over the meshes held, so a definition's
    // mesh counts once however many instances place it; materials; layers; hidden entity ids;
    // the geometry checksum over every mesh held; the placement checksum over every placement.
    tools::SceneDigest digest() const;

    // The current content for a view, in one state. Holds the lock only to copy the maps and
    // the mesh pointers, never the meshes' arrays.
    SceneSnapshot snapshot() const;

    // Copies of the current content.
    SceneMeshes meshes() const;
    // The mesh, or nothing when this owner has no mesh of that id.
    std::optional<SceneMesh> mesh(const QString& entityId, const QString& meshId) const;
    std::map<QString, SceneMaterial> materials() const;
    std::map<int, SceneSectionPlane> sectionPlanes() const;
    // Nothing until a light arrived, and again after clearScene().
    std::optional<SceneLight> light() const;
    // Nothing until a camera arrived, and again after clearScene().
    std::optional<SceneCamera> camera() const;
    std::vector<DictionaryRecord> dictionaryMessages() const;
    std::map<QString, SceneDefinition> definitions() const;
    ScenePlacements placements() const;
    std::map<QString, SceneLayer> layers() const;
    std::set<QString> hiddenEntities() const;

private:
    // Caller holds m_mutex. Drops the placement and, when `cascade` and the entity has no
    // placement left, its meshes and the placements under it.
    void dropPlacement(const QString& entityId, const QString& parentId, bool cascade,
                       SceneRemoval& removal);

    mutable std::mutex m_mutex;
    // All under m_mutex.
    SharedSceneMeshes m_meshes;
    std::map<QString, SceneDefinition> m_definitions;
    ScenePlacements m_placements;
    std::map<QString, SceneLayer> m_layers;
    std::set<QString> m_hidden;
    std::map<QString, SceneMaterial> m_materials;
    std::map<QString, SharedTexture> m_textures;
    std::map<int, SceneSectionPlane> m_planes;
    std::optional<SceneLight> m_light;
    std::optional<SceneCamera> m_camera;
    std::vector<DictionaryRecord> m_dictionaryMessages;
};

}  // namespace orvanta::render_window
