// The host's model as the host driver plays it: plain data, filled by a built-in scene here or by
// the model loader (model_loader.h) from a file, walked by the model exporter, changed by the edit
// session, and summed up by the same scene digest the render window logs. What each value means on
// the way to the render window is docs/host_render_agreement.md.
#pragma once

#include <QByteArray>

#include <array>
#include <cstdint>
#include <optional>
#include <set>
#include <vector>

#include "tools/common/scene_digest.h"

namespace orvanta::tools {

// The model root's entity id, also the owner of the meshes that belong to no group or definition.
inline constexpr char kModelId[] = "Model";

// A 4 x 4 matrix stored column by column: element 4 * column + row. It maps a point of the node
// to its parent, p' = M p with p a column vector (x, y, z, 1); elements 12, 13 and 14 are the
// translation. Sent in this order.
using Transform = std::array<float, 16>;

Transform identityTransform();
// A rotation by `degrees` about the z axis, then a translation by (x, y, z).
Transform placedTransform(float degrees, float x, float y, float z);

struct HostMaterial {
    QByteArray id;
    QByteArray name;
    std::array<std::uint8_t, 4> colour{};  // red, green, blue, alpha (0 transparent, 255 opaque)
    // The texture's size in pixels and its file; 0 x 0 and "" for a material without texture.
    float textureWidth = 0.0f;
    float textureHeight = 0.0f;
    QByteArray texturePath;
    // A texture inside the model file ("*0", ...): its picture, as the bytes of an image file Qt
    // reads; empty for a texture in a file of its own (texturePath) or none.
    QByteArray embeddedTexture;
};

struct HostLayer {
    QByteArray id;  // "0" is the default layer
    bool visible = true;
    bool active = false;  // the layer new geometry goes to; one layer at a time
};

// V vertices, I indices; every array holds exactly its share (3, 3, 2, 2, 1 per vertex).
struct HostMesh {
    std::vector<float> positions;
    std::vector<float> normals;
    std::vector<float> frontUVs;
    std::vector<float> backUVs;
    std::vector<std::uint8_t> flags;  // 1: the vertex is on a smooth surface; 0: faceted
    std::vector<std::int32_t> indices;
    QByteArray frontMaterialId;  // "" for none
    QByteArray backMaterialId;
    QByteArray layerId;  // the layer of the faces it was built from

    int vertexCount() const { return static_cast<int>(flags.size()); }
    int indexCount() const { return static_cast<int>(indices.size()); }
    // Appends `other`'s vertices and triangles; its materials and layer are not looked at.
    void append(const HostMesh& other);
};

struct HostDefinition {
    QByteArray id;
    QByteArray name;
    bool facesCamera = false;  // instances turn to face the camera
    QByteArray description;
    std::vector<HostMesh> meshes;
};

// A group: a node of the tree with geometry of its own. The nodes under it are the groups and
// instances whose parent id is its id.
struct HostGroup {
    QByteArray id;
    QByteArray parentId;  // kModelId or a group id
    QByteArray name;
    QByteArray layerId;
    QByteArray materialId;  // painted on the group as a whole; "" for none
    Transform transform = identityTransform();
    std::vector<HostMesh> meshes;
};

struct HostInstance {
    QByteArray id;
    QByteArray parentId;  // kModelId or a group id
    QByteArray definitionId;
    QByteArray name;
    QByteArray layerId;
    QByteArray materialId;  // painted on the instance as a whole; "" for none
    Transform transform = identityTransform();
};

// One attribute of the model, of an entity or of a scene (owner "Camera"), as the host reports it
// through obrOnEnumAttributesCallback.
struct HostAttribute {
    QByteArray owner;
    QByteArray dictionary;
    QByteArray key;
    QByteArray value;
};

// The view the host reports with obrSetCamera, in world coordinates (Z up).
struct HostCamera {
    std::array<float, 3> eye{};
    std::array<float, 3> target{};
    std::array<float, 3> up{0.0f, 0.0f, 1.0f};
    bool perspective = true;
    bool modelsOwn = false;            // the model's own camera; false: made up to frame the model
    float fieldOfViewDegrees = 35.0f;  // vertical, for a perspective camera
    float parallelHeight = 0.0f;       // height of the visible area, for a parallel camera
    float aspect = 0.0f;               // the image's width / height; 0 for the window's own
    QByteArray sceneName = "Default";
};

// One model. Entity ids (groups, instances, definitions) are distinct positive decimal texts.
// Groups and instances appear in walk order: a parent before its children.
struct HostModel {
    QByteArray title;
    std::vector<HostMaterial> materials;
    std::vector<HostLayer> layers;
    std::vector<HostDefinition> definitions;
    std::vector<HostGroup> groups;
    std::vector<HostInstance> instances;
    std::vector<HostMesh> rootMeshes;  // owned by kModelId
    std::set<QByteArray> hidden;       // ids of hidden entities
    // The model's own camera; without one the host frames the whole model (model_view.h).
    std::optional<HostCamera> camera;
    // What the host reports after the walk, in this order; at most one value per (owner,
    // dictionary, key).
    std::vector<HostAttribute> attributes;

    // The entity of that id, or null.
    const HostMaterial* material(const QByteArray& id) const;
    HostMaterial* material(const QByteArray& id);
    const HostDefinition* definition(const QByteArray& id) const;
    const HostGroup* group(const QByteArray& id) const;
    const HostInstance* instance(const QByteArray& id) const;
    HostInstance* instance(const QByteArray& id);
    // The groups and the instances directly under `parentId`, in model order.
    std::vector<const HostGroup*> childGroups(const QByteArray& parentId) const;
    std::vector<const HostInstance*> childInstances(const QByteArray& parentId) const;
    // The meshes owned by `ownerId`: kModelId, a group or a definition; null for another id.
    const std::vector<HostMesh>* meshesOf(const QByteArray& ownerId) const;
    // The owners (kModelId, group and definition ids) with a mesh whose front or back material is
    // `materialId`.
    std::set<QByteArray> ownersUsing(const QByteArray& materialId) const;

    // The attributes of one dictionary, in model order.
    std::vector<HostAttribute> attributesOf(const QByteArray& owner,
                                            const QByteArray& dictionary) const;
    // Replaces the value of (owner, dictionary, key), or appends the attribute when it is new.
    void setAttribute(const HostAttribute& attribute);
    // The groups and instances directly under the model root.
    int rootEntityCount() const;

    // Removes the group and everything under it, recursively; false for an unknown id. The
    // hidden ids stay as they are.
    bool eraseGroup(const QByteArray& id);

    // The scene digest of this model, counted as the render window counts what it received:
    // every definition, instance and group; every mesh of the model root, the groups and the
    // definitions (a definition's meshes once, however many instances place it) and their
    // triangles (index count / 3); every material and layer; the hidden ids.
    SceneDigest digest() const;
};

// The id of mesh `index` of `ownerId`: "<ownerId>_<index>_f[<front>]_r[<back>]". The part before
// the first "_" is the owner, as the plug-in's registry reads it.
QByteArray meshIdOf(const QByteArray& ownerId, int index, const HostMesh& mesh);

// A furnished room: three materials (one textured, one translucent), the layers "0" and "12", a
// chair definition placed four times around a table in the group "table set" and once on its own,
// a centrepiece group nested in the table set, and a floor on the model root.
HostModel builtInModel();
// A generated model of about `triangles` triangles (at least one tile): square terrain tiles of
// about 50 000 triangles each, one group per tile laid out in rows, on two materials, and a post
// definition placed at every tile's corner. For measuring large exports.
HostModel generatedModel(std::int64_t triangles);
// A smaller model for a second session: one material, one layer, a lamp definition placed once,
// one group and a floor.
HostModel smallBuiltInModel();

}  // namespace orvanta::tools
