#include "tools/host_driver/host_model.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace orvanta::tools {
namespace {

constexpr float kPi = 3.14159265358979f;

struct Vector3 {
    float x = 0.0f;
    float y = 0.0f;
    float z = 0.0f;
};

Vector3 operator+(Vector3 a, Vector3 b) {
    return {a.x + b.x, a.y + b.y, a.z + b.z};
}

Vector3 operator*(Vector3 a, float s) {
    return {a.x * s, a.y * s, a.z * s};
}

void addVertex(HostMesh& mesh, Vector3 position, Vector3 normal, float u, float v, bool smooth) {
    mesh.positions.insert(mesh.positions.end(), {position.x, position.y, position.z});
    mesh.normals.insert(mesh.normals.end(), {normal.x, normal.y, normal.z});
    mesh.frontUVs.insert(mesh.frontUVs.end(), {u, v});
    mesh.backUVs.insert(mesh.backUVs.end(), {1.0f - u, v});
    mesh.flags.push_back(smooth ? 1 : 0);
}

// A grid of `columns` x `rows` cells spanning `spanU` along `u` and `spanV` along `v` from
// `origin`, two triangles per cell, counter-clockwise seen from `normal` (= u x v). Faceted.
void addPatch(HostMesh& mesh, Vector3 origin, Vector3 u, float spanU, Vector3 v, float spanV,
              Vector3 normal, int columns, int rows) {
    const auto first = static_cast<std::int32_t>(mesh.vertexCount());
    for (int j = 0; j <= rows; ++j) {
        for (int i = 0; i <= columns; ++i) {
            const float a = spanU * static_cast<float>(i) / static_cast<float>(columns);
            const float b = spanV * static_cast<float>(j) / static_cast<float>(rows);
            addVertex(mesh, origin + u * a + v * b, normal, a, b, false);
        }
    }
    const std::int32_t stride = columns + 1;
    for (int j = 0; j < rows; ++j) {
        for (int i = 0; i < columns; ++i) {
            const std::int32_t corner = first + j * stride + i;
            mesh.indices.insert(mesh.indices.end(), {corner, corner + 1, corner + stride});
            mesh.indices.insert(mesh.indices.end(),
                                {corner + 1, corner + stride + 1, corner + stride});
        }
    }
}

// The built-in oak's texture: a light wood grain of 256 x 256 texels (the material's colour tints
// it), as the bytes of a binary PPM picture, which Qt reads without a plug-in.
QByteArray woodGrain() {
    constexpr int kSide = 256;
    QByteArray bytes = "P6\n256 256\n255\n";
    const int header = bytes.size();
    bytes.resize(header + kSide * kSide * 3);
    char* texel = bytes.data() + header;
    for (int y = 0; y < kSide; ++y) {
        for (int x = 0; x < kSide; ++x) {
            // Four rings along y, bent along x; both repeat with the picture.
            constexpr float kTurn = 6.2831853f / kSide;
            const float ring = std::sin(4.0f * kTurn * static_cast<float>(y) +
                                        2.5f * std::sin(kTurn * static_cast<float>(x)));
            const float light = 0.86f + 0.12f * ring * ring * ring;
            const auto channel = [light](float tint) {
                return static_cast<char>(std::clamp(std::lround(255.0f * light * tint), 0L, 255L));
            };
            *texel++ = channel(1.0f);
            *texel++ = channel(0.96f);
            *texel++ = channel(0.9f);
        }
    }
    return bytes;
}

HostMesh withMaterials(HostMesh mesh, const char* front, const char* back, const char* layer) {
    mesh.frontMaterialId = front;
    mesh.backMaterialId = back;
    mesh.layerId = layer;
    return mesh;
}

// An axis-aligned box, each side split into `cells` x `cells` squares.
HostMesh box(Vector3 low, Vector3 high, int cells) {
    const Vector3 x{1, 0, 0};
    const Vector3 y{0, 1, 0};
    const Vector3 z{0, 0, 1};
    const float sx = high.x - low.x;
    const float sy = high.y - low.y;
    const float sz = high.z - low.z;
    HostMesh mesh;
    addPatch(mesh, {high.x, low.y, low.z}, y, sy, z, sz, x, cells, cells);
    addPatch(mesh, low, z, sz, y, sy, x * -1.0f, cells, cells);
    addPatch(mesh, {low.x, high.y, low.z}, z, sz, x, sx, y, cells, cells);
    addPatch(mesh, low, x, sx, z, sz, y * -1.0f, cells, cells);
    addPatch(mesh, {low.x, low.y, high.z}, x, sx, y, sy, z, cells, cells);
    addPatch(mesh, low, y, sy, x, sx, z * -1.0f, cells, cells);
    return mesh;
}

// An open surface of revolution about the z axis from z = 0 to `height`, its radius at height h
// given by `radius`; smooth, with radial normals.
template <typename Radius>
HostMesh turned(float height, int segments, int rings, Radius radius) {
    HostMesh mesh;
    for (int ring = 0; ring <= rings; ++ring) {
        const float t = static_cast<float>(ring) / static_cast<float>(rings);
        const float r = radius(t);
        for (int segment = 0; segment <= segments; ++segment) {
            const float s = static_cast<float>(segment) / static_cast<float>(segments);
            const float angle = 2.0f * kPi * s;
            const Vector3 normal{std::cos(angle), std::sin(angle), 0.0f};
            addVertex(mesh, {normal.x * r, normal.y * r, t * height}, normal, s, t, true);
        }
    }
    const std::int32_t stride = segments + 1;
    for (int ring = 0; ring < rings; ++ring) {
        for (int segment = 0; segment < segments; ++segment) {
            const std::int32_t corner = ring * stride + segment;
            mesh.indices.insert(mesh.indices.end(), {corner, corner + 1, corner + stride});
            mesh.indices.insert(mesh.indices.end(),
                                {corner + 1, corner + stride + 1, corner + stride});
        }
    }
    return mesh;
}

// A square floor of side `side` centred on the origin at z = 0, `cells` x `cells` squares.
HostMesh floor(float side, int cells) {
    HostMesh mesh;
    addPatch(mesh, {-side / 2, -side / 2, 0}, {1, 0, 0}, side, {0, 1, 0}, side, {0, 0, 1}, cells,
             cells);
    return mesh;
}

// Four square legs of width `width` under the corners of the rectangle |x| <= halfX,
// |y| <= halfY, from z = 0 to `height`.
HostMesh legs(float halfX, float halfY, float width, float height) {
    HostMesh mesh;
    for (const float sx : {-1.0f, 1.0f}) {
        for (const float sy : {-1.0f, 1.0f}) {
            const float cx = sx * (halfX - width / 2);
            const float cy = sy * (halfY - width / 2);
            mesh.append(box({cx - width / 2, cy - width / 2, 0.0f},
                            {cx + width / 2, cy + width / 2, height}, 2));
        }
    }
    return mesh;
}

void addMeshesToDigest(const QByteArray& ownerId, const std::vector<HostMesh>& meshes,
                       SceneDigest& digest, std::vector<DigestMesh>& records) {
    for (std::size_t n = 0; n < meshes.size(); ++n) {
        const HostMesh& mesh = meshes[n];
        ++digest.meshes;
        digest.triangles += mesh.indexCount() / 3;
        records.push_back({ownerId, meshIdOf(ownerId, static_cast<int>(n), mesh),
                           meshArraysDigest(mesh.positions, mesh.normals, mesh.frontUVs,
                                            mesh.backUVs, mesh.flags, mesh.indices)});
    }
}

template <typename Node>
auto findById(Node& nodes, const QByteArray& id) -> decltype(&nodes.front()) {
    for (auto& node : nodes) {
        if (node.id == id)
            return &node;
    }
    return nullptr;
}

}  // namespace

Transform identityTransform() {
    return placedTransform(0.0f, 0.0f, 0.0f, 0.0f);
}

Transform placedTransform(float degrees, float x, float y, float z) {
    const float angle = degrees * kPi / 180.0f;
    const float c = std::cos(angle);
    const float s = std::sin(angle);
    // Column by column.
    return {c, s, 0, 0, -s, c, 0, 0, 0, 0, 1, 0, x, y, z, 1};
}

void HostMesh::append(const HostMesh& other) {
    const auto offset = static_cast<std::int32_t>(vertexCount());
    positions.insert(positions.end(), other.positions.begin(), other.positions.end());
    normals.insert(normals.end(), other.normals.begin(), other.normals.end());
    frontUVs.insert(frontUVs.end(), other.frontUVs.begin(), other.frontUVs.end());
    backUVs.insert(backUVs.end(), other.backUVs.begin(), other.backUVs.end());
    flags.insert(flags.end(), other.flags.begin(), other.flags.end());
    for (std::int32_t index : other.indices)
        indices.push_back(index + offset);
}

const HostMaterial* HostModel::material(const QByteArray& id) const {
    return findById(materials, id);
}

HostMaterial* HostModel::material(const QByteArray& id) {
    return findById(materials, id);
}

const HostDefinition* HostModel::definition(const QByteArray& id) const {
    return findById(definitions, id);
}

const HostGroup* HostModel::group(const QByteArray& id) const {
    return findById(groups, id);
}

const HostInstance* HostModel::instance(const QByteArray& id) const {
    return findById(instances, id);
}

HostInstance* HostModel::instance(const QByteArray& id) {
    return findById(instances, id);
}

std::vector<const HostGroup*> HostModel::childGroups(const QByteArray& parentId) const {
    std::vector<const HostGroup*> children;
    for (const HostGroup& group : groups) {
        if (group.parentId == parentId)
            children.push_back(&group);
    }
    return children;
}

std::vector<const HostInstance*> HostModel::childInstances(const QByteArray& parentId) const {
    std::vector<const HostInstance*> children;
    for (const HostInstance& instance : instances) {
        if (instance.parentId == parentId)
            children.push_back(&instance);
    }
    return children;
}

const std::vector<HostMesh>* HostModel::meshesOf(const QByteArray& ownerId) const {
    if (ownerId == kModelId)
        return &rootMeshes;
    if (const HostGroup* found = group(ownerId))
        return &found->meshes;
    if (const HostDefinition* found = definition(ownerId))
        return &found->meshes;
    return nullptr;
}

std::set<QByteArray> HostModel::ownersUsing(const QByteArray& materialId) const {
    std::set<QByteArray> owners;
    const auto look = [&](const QByteArray& ownerId, const std::vector<HostMesh>& meshes) {
        for (const HostMesh& mesh : meshes) {
            if (mesh.frontMaterialId == materialId || mesh.backMaterialId == materialId)
                owners.insert(ownerId);
        }
    };
    look(kModelId, rootMeshes);
    for (const HostGroup& group : groups)
        look(group.id, group.meshes);
    for (const HostDefinition& definition : definitions)
        look(definition.id, definition.meshes);
    return owners;
}

std::vector<HostAttribute> HostModel::attributesOf(const QByteArray& owner,
                                                   const QByteArray& dictionary) const {
    std::vector<HostAttribute> found;
    for (const HostAttribute& attribute : attributes) {
        if (attribute.owner == owner && attribute.dictionary == dictionary)
            found.push_back(attribute);
    }
    return found;
}

void HostModel::setAttribute(const HostAttribute& attribute) {
    for (HostAttribute& existing : attributes) {
        if (existing.owner == attribute.owner && existing.dictionary == attribute.dictionary &&
            existing.key == attribute.key) {
            existing.value = attribute.value;
            return;
        }
    }
    attributes.push_back(attribute);
}

int HostModel::rootEntityCount() const {
    int count = 0;
    for (const HostGroup& group : groups)
        count += group.parentId == kModelId ? 1 : 0;
    for (const HostInstance& instance : instances)
        count += instance.parentId == kModelId ? 1 : 0;
    return count;
}

bool HostModel::eraseGroup(const QByteArray& id) {
    if (!group(id))
        return false;
    // Parents come before their children, so one pass in model order finds the whole subtree.
    std::set<QByteArray> erased{id};
    for (const HostGroup& candidate : groups) {
        if (erased.count(candidate.parentId))
            erased.insert(candidate.id);
    }
    groups.erase(std::remove_if(groups.begin(), groups.end(),
                                [&](const HostGroup& g) { return erased.count(g.id) > 0; }),
                 groups.end());
    instances.erase(
        std::remove_if(instances.begin(), instances.end(),
                       [&](const HostInstance& i) { return erased.count(i.parentId) > 0; }),
        instances.end());
    return true;
}

SceneDigest HostModel::digest() const {
    SceneDigest digest;
    digest.definitions = static_cast<int>(definitions.size());
    digest.instances = static_cast<int>(instances.size());
    digest.groups = static_cast<int>(groups.size());
    digest.materials = static_cast<int>(materials.size());
    digest.layers = static_cast<int>(layers.size());
    digest.hidden = static_cast<int>(hidden.size());

    std::vector<DigestMesh> meshes;
    addMeshesToDigest(kModelId, rootMeshes, digest, meshes);
    for (const HostGroup& group : groups)
        addMeshesToDigest(group.id, group.meshes, digest, meshes);
    for (const HostDefinition& definition : definitions)
        addMeshesToDigest(definition.id, definition.meshes, digest, meshes);
    digest.geometry = geometryChecksum(std::move(meshes));

    std::vector<DigestPlacement> placements;
    for (const HostGroup& group : groups)
        placements.push_back({false, group.id, group.parentId, QByteArray(), group.layerId,
                              group.name, group.materialId, group.transform});
    for (const HostInstance& instance : instances)
        placements.push_back({true, instance.id, instance.parentId, instance.definitionId,
                              instance.layerId, instance.name, instance.materialId,
                              instance.transform});
    digest.placements = placementChecksum(std::move(placements));
    return digest;
}

QByteArray meshIdOf(const QByteArray& ownerId, int index, const HostMesh& mesh) {
    return ownerId + '_' + QByteArray::number(index) + "_f[" + mesh.frontMaterialId + "]_r[" +
           mesh.backMaterialId + ']';
}

HostModel builtInModel() {
    HostModel model;
    model.title = "Furnished room";
    model.materials = {
        {"m1", "Oak", {139, 90, 43, 255}, 256.0f, 256.0f, "textures/oak.jpg", woodGrain()},
        {"m2", "Steel", {160, 164, 168, 255}, 0.0f, 0.0f, "", {}},
        {"m3", "Glass", {136, 204, 238, 96}, 0.0f, 0.0f, "", {}},
    };
    model.layers = {{"0", true, true}, {"12", true, false}};

    HostMesh seatAndBack = box({-0.22f, -0.22f, 0.42f}, {0.22f, 0.22f, 0.47f}, 4);
    seatAndBack.append(box({-0.22f, 0.18f, 0.47f}, {0.22f, 0.22f, 0.95f}, 4));
    model.definitions.push_back(
        {"101",
         "Chair",
         false,
         "Dining chair",
         {withMaterials(seatAndBack, "m1", "m1", "12"),
          withMaterials(legs(0.22f, 0.22f, 0.04f, 0.42f), "m2", "m2", "12")}});

    HostGroup tableSet;
    tableSet.id = "201";
    tableSet.parentId = kModelId;
    tableSet.name = "Table set";
    tableSet.layerId = "12";
    tableSet.transform = placedTransform(0.0f, 2.0f, 3.0f, 0.0f);
    tableSet.meshes = {
        withMaterials(box({-0.8f, -0.5f, 0.72f}, {0.8f, 0.5f, 0.76f}, 6), "m1", "", "12"),
        withMaterials(legs(0.8f, 0.5f, 0.06f, 0.72f), "m2", "m2", "12")};
    model.groups.push_back(tableSet);

    HostGroup centrepiece;
    centrepiece.id = "202";
    centrepiece.parentId = "201";
    centrepiece.name = "Centrepiece";
    centrepiece.layerId = "12";
    centrepiece.materialId = "m3";
    centrepiece.transform = placedTransform(0.0f, 0.0f, 0.0f, 0.76f);
    centrepiece.meshes = {withMaterials(
        turned(0.3f, 32, 8,
               [](float t) { return 0.06f + 0.05f * std::sin(kPi * (0.2f + 0.8f * t)); }),
        "m3", "m3", "12")};
    model.groups.push_back(centrepiece);

    const struct {
        const char* id;
        float degrees, x, y;
    } chairs[] = {{"301", 180.0f, 0.0f, -0.85f},
                  {"302", 0.0f, 0.0f, 0.85f},
                  {"303", 270.0f, -1.1f, 0.0f},
                  {"304", 90.0f, 1.1f, 0.0f}};
    for (const auto& chair : chairs)
        model.instances.push_back({chair.id, "201", "101", "Chair", "12", "",
                                   placedTransform(chair.degrees, chair.x, chair.y, 0.0f)});
    model.instances.push_back(
        {"305", kModelId, "101", "Spare chair", "0", "m2", placedTransform(45.0f, -3.0f, 1.5f, 0)});

    model.rootMeshes = {withMaterials(floor(12.0f, 24), "m1", "", "0")};
    return model;
}

HostModel generatedModel(std::int64_t triangles) {
    constexpr int kCells = 158;  // 2 x 158 x 158 = 49 928 triangles a tile
    constexpr std::int64_t kTileTriangles = 2 * kCells * kCells;
    const int tiles = static_cast<int>(
        std::max<std::int64_t>(1, (triangles + kTileTriangles / 2) / kTileTriangles));
    const int perRow = static_cast<int>(std::ceil(std::sqrt(static_cast<double>(tiles))));
    constexpr float kSide = 10.0f;

    HostModel model;
    model.title = "Generated terrain";
    model.materials = {{"m1", "Grass", {96, 140, 64, 255}, 0.0f, 0.0f, "", {}},
                       {"m2", "Rock", {150, 140, 130, 255}, 0.0f, 0.0f, "", {}}};
    model.layers = {{"0", true, true}};
    model.definitions.push_back(
        {"1",
         "Post",
         false,
         "Corner post",
         {withMaterials(box({-0.1f, -0.1f, 0.0f}, {0.1f, 0.1f, 2.0f}, 1), "m2", "m2", "0")}});
    int nextId = 2;
    for (int tile = 0; tile < tiles; ++tile) {
        const float x = (tile % perRow) * kSide;
        const float y = (tile / perRow) * kSide;
        HostMesh terrain = floor(kSide, kCells);
        // Rolling hills, continuous across tiles, so the view shows shading.
        for (std::size_t v = 0; v + 2 < terrain.positions.size(); v += 3) {
            const float wx = terrain.positions[v] + x;
            const float wy = terrain.positions[v + 1] + y;
            terrain.positions[v + 2] = 0.6f * std::sin(wx * 0.7f) * std::cos(wy * 0.5f);
        }
        HostGroup group;
        group.id = QByteArray::number(nextId++);
        group.parentId = kModelId;
        group.name = "Tile " + QByteArray::number(tile);
        group.layerId = "0";
        group.transform = placedTransform(0.0f, x, y, 0.0f);
        group.meshes = {withMaterials(std::move(terrain), tile % 2 ? "m2" : "m1", "", "0")};
        model.instances.push_back({QByteArray::number(nextId++), group.id, "1", "Post", "0", "",
                                   placedTransform(0.0f, -kSide / 2, -kSide / 2, 0.0f)});
        model.groups.push_back(std::move(group));
    }
    return model;
}

HostModel smallBuiltInModel() {
    HostModel model;
    model.title = "Lamp and crate";
    model.materials = {{"m1", "Paint", {200, 200, 190, 255}, 0.0f, 0.0f, "", {}}};
    model.layers = {{"0", true, true}};

    HostMesh lamp = box({-0.02f, -0.02f, 0.0f}, {0.02f, 0.02f, 1.4f}, 1);
    HostMesh shade = turned(0.25f, 16, 2, [](float t) { return 0.2f - 0.08f * t; });
    for (std::size_t z = 2; z < shade.positions.size(); z += 3)
        shade.positions[z] += 1.3f;
    lamp.append(shade);
    model.definitions.push_back(
        {"111", "Lamp", false, "Floor lamp", {withMaterials(lamp, "m1", "m1", "0")}});
    model.instances.push_back(
        {"311", kModelId, "111", "Lamp", "0", "", placedTransform(0.0f, 1.0f, 1.0f, 0.0f)});

    HostGroup crate;
    crate.id = "211";
    crate.parentId = kModelId;
    crate.name = "Crate";
    crate.layerId = "0";
    crate.transform = placedTransform(30.0f, -1.0f, 0.5f, 0.0f);
    crate.meshes = {
        withMaterials(box({-0.3f, -0.3f, 0.0f}, {0.3f, 0.3f, 0.6f}, 2), "m1", "m1", "0")};
    model.groups.push_back(crate);

    model.rootMeshes = {withMaterials(floor(6.0f, 8), "m1", "", "0")};
    return model;
}

}  // namespace orvanta::tools
