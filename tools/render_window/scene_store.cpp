#include "tools/render_window/scene_store.h"

#include <cstddef>
#include <utility>

namespace orvanta::render_window {
namespace {

template <typename T>
std::vector<T> copyArray(const T* values, std::size_t count) {
    return values ? std::vector<T>(values, values + count) : std::vector<T>(count);
}

const QString kModel = QStringLiteral("Model");

}  // namespace

SceneMesh SceneMesh::fromArrays(const QString& label, const float* positions, const float* normals,
                                const float* frontUVs, const float* backUVs,
                                const bool* vertexFlags, const int* indices, int indexCount,
                                int vertexCount, const QString& frontMaterial,
                                const QString& backMaterial) {
    SceneMesh mesh;
    mesh.vertexCount = vertexCount > 0 ? vertexCount : 0;
    mesh.indexCount = indexCount > 0 ? indexCount : 0;
    const auto vertices = static_cast<std::size_t>(mesh.vertexCount);
    mesh.label = label;
    mesh.positions = copyArray(positions, 3 * vertices);
    mesh.normals = copyArray(normals, 3 * vertices);
    mesh.frontUVs = copyArray(frontUVs, 2 * vertices);
    mesh.backUVs = copyArray(backUVs, 2 * vertices);
    mesh.flags.resize(vertices);
    if (vertexFlags) {
        for (std::size_t i = 0; i < vertices; ++i)
            mesh.flags[i] = vertexFlags[i] ? 1 : 0;
    }
    static_assert(sizeof(int) == sizeof(std::int32_t));
    mesh.indices = copyArray(reinterpret_cast<const std::int32_t*>(indices),
                             static_cast<std::size_t>(mesh.indexCount));
    mesh.frontMaterial = frontMaterial;
    mesh.backMaterial = backMaterial;
    mesh.digest = meshDigest(mesh);
    return mesh;
}

QByteArray meshDigest(const SceneMesh& mesh) {
    return tools::meshArraysDigest(mesh.positions, mesh.normals, mesh.frontUVs, mesh.backUVs,
                                   mesh.flags, mesh.indices);
}

void SceneStore::addMesh(const QString& entityId, const QString& meshId, SceneMesh mesh) {
    auto shared = std::make_shared<const SceneMesh>(std::move(mesh));
    std::lock_guard<std::mutex> guard(m_mutex);
    m_meshes[entityId][meshId] = std::move(shared);
}

int SceneStore::removeEntityMeshes(const QString& entityId) {
    std::lock_guard<std::mutex> guard(m_mutex);
    const auto owner = m_meshes.find(entityId);
    if (owner == m_meshes.end())
        return 0;
    const auto count = static_cast<int>(owner->second.size());
    m_meshes.erase(owner);
    return count;
}

void SceneStore::addComponentDef(const QString& definitionId, const SceneDefinition& definition) {
    std::lock_guard<std::mutex> guard(m_mutex);
    m_definitions[definitionId] = definition;
}

void SceneStore::addPlacement(const QString& entityId, const QString& parentId,
                              const ScenePlacement& placement) {
    std::lock_guard<std::mutex> guard(m_mutex);
    m_placements[{entityId, parentId}] = placement;
}

void SceneStore::addLayer(const QString& layerId, const SceneLayer& layer) {
    std::lock_guard<std::mutex> guard(m_mutex);
    m_layers[layerId] = layer;
}

void SceneStore::setEntityVisible(const QString& entityId, bool visible) {
    std::lock_guard<std::mutex> guard(m_mutex);
    if (visible)
        m_hidden.erase(entityId);
    else
        m_hidden.insert(entityId);
}

SceneRemoval SceneStore::removeEntity(const QString& entityId, const QString& parentId,
                                      bool forUpdate) {
    std::lock_guard<std::mutex> guard(m_mutex);
    SceneRemoval removal;
    if (entityId == kModel && parentId == kModel) {
        removal.placements = static_cast<int>(m_placements.size());
        for (const auto& [owner, meshes] : m_meshes) {
            (void)owner;
            removal.meshes += static_cast<int>(meshes.size());
        }
        m_placements.clear();
        m_meshes.clear();
        return removal;
    }
    dropPlacement(entityId, parentId, !forUpdate, removal);
    return removal;
}

void SceneStore::dropPlacement(const QString& entityId, const QString& parentId, bool cascade,
                               SceneRemoval& removal) {
    if (m_placements.erase({entityId, parentId}) == 0)
        return;
    ++removal.placements;
    if (!cascade)
        return;
    // The entity's placements are adjacent in the map, ordered by parent.
    const auto first = m_placements.lower_bound({entityId, QString()});
    if (first != m_placements.end() && first->first.first == entityId)
        return;
    const auto owned = m_meshes.find(entityId);
    if (owned != m_meshes.end()) {
        removal.meshes += static_cast<int>(owned->second.size());
        m_meshes.erase(owned);
    }
    std::vector<QString> children;
    for (const auto& [key, placement] : m_placements) {
        (void)placement;
        if (key.second == entityId)
            children.push_back(key.first);
    }
    for (const QString& child : children)
        dropPlacement(child, entityId, true, removal);
}

void SceneStore::addMaterial(const QString& materialId, const SceneMaterial& material) {
    std::lock_guard<std::mutex> guard(m_mutex);
    m_materials[materialId] = material;
}

void SceneStore::setTexture(const QString& materialId, SharedTexture texture) {
    std::lock_guard<std::mutex> guard(m_mutex);
    if (texture)
        m_textures[materialId] = std::move(texture);
    else
        m_textures.erase(materialId);
}

std::map<QString, SharedTexture> SceneStore::textures() const {
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_textures;
}

void SceneStore::setSectionPlane(int planeNumber, const SceneSectionPlane& plane) {
    std::lock_guard<std::mutex> guard(m_mutex);
    m_planes[planeNumber] = plane;
}

void SceneStore::removeSectionPlane(int planeNumber) {
    std::lock_guard<std::mutex> guard(m_mutex);
    m_planes.erase(planeNumber);
    // Ascending, so each plane moves into a number that is free by then.
    for (auto it = m_planes.upper_bound(planeNumber); it != m_planes.end();) {
        auto node = m_planes.extract(it++);
        --node.key();
        m_planes.insert(std::move(node));
    }
}

void SceneStore::setLight(const SceneLight& light) {
    std::lock_guard<std::mutex> guard(m_mutex);
    m_light = light;
}

void SceneStore::setCamera(const SceneCamera& camera) {
    std::lock_guard<std::mutex> guard(m_mutex);
    m_camera = camera;
}

void SceneStore::addDictionaryMessage(const DictionaryRecord& record) {
    std::lock_guard<std::mutex> guard(m_mutex);
    m_dictionaryMessages.push_back(record);
}

void SceneStore::clearScene() {
    std::lock_guard<std::mutex> guard(m_mutex);
    m_meshes.clear();
    m_definitions.clear();
    m_placements.clear();
    m_layers.clear();
    m_hidden.clear();
    m_materials.clear();
    m_textures.clear();
    m_planes.clear();
    m_light.reset();
    m_camera.reset();
}

SceneSnapshot SceneStore::snapshot() const {
    std::lock_guard<std::mutex> guard(m_mutex);
    return {m_meshes, m_placements, m_materials, m_hidden,
            m_planes, m_camera,     m_layers,    m_textures};
}

SceneMeshes SceneStore::meshes() const {
    SharedSceneMeshes shared;
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        shared = m_meshes;
    }
    SceneMeshes copies;
    for (const auto& [owner, ofOwner] : shared) {
        auto& copied = copies[owner];
        for (const auto& [meshId, mesh] : ofOwner)
            copied.emplace(meshId, *mesh);
    }
    return copies;
}

std::optional<SceneMesh> SceneStore::mesh(const QString& entityId, const QString& meshId) const {
    std::lock_guard<std::mutex> guard(m_mutex);
    const auto owner = m_meshes.find(entityId);
    if (owner == m_meshes.end())
        return std::nullopt;
    const auto found = owner->second.find(meshId);
    if (found == owner->second.end())
        return std::nullopt;
    return *found->second;
}

std::map<QString, SceneMaterial> SceneStore::materials() const {
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_materials;
}

std::map<int, SceneSectionPlane> SceneStore::sectionPlanes() const {
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_planes;
}

std::optional<SceneLight> SceneStore::light() const {
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_light;
}

std::optional<SceneCamera> SceneStore::camera() const {
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_camera;
}

std::vector<DictionaryRecord> SceneStore::dictionaryMessages() const {
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_dictionaryMessages;
}

std::map<QString, SceneDefinition> SceneStore::definitions() const {
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_definitions;
}

ScenePlacements SceneStore::placements() const {
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_placements;
}

std::map<QString, SceneLayer> SceneStore::layers() const {
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_layers;
}

std::set<QString> SceneStore::hiddenEntities() const {
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_hidden;
}

tools::SceneDigest SceneStore::digest() const {
    std::lock_guard<std::mutex> guard(m_mutex);
    tools::SceneDigest digest;
    digest.definitions = static_cast<int>(m_definitions.size());
    std::vector<tools::DigestPlacement> placements;
    placements.reserve(m_placements.size());
    for (const auto& [key, placement] : m_placements) {
        const bool isInstance = placement.kind == PlacementKind::Instance;
        ++(isInstance ? digest.instances : digest.groups);
        placements.push_back({isInstance, key.first.toUtf8(), key.second.toUtf8(),
                              placement.definitionId.toUtf8(), placement.label.toUtf8(),
                              placement.passText.toUtf8(), placement.note.toUtf8(),
                              placement.transform});
    }
    std::vector<tools::DigestMesh> meshes;
    for (const auto& [owner, ofOwner] : m_meshes) {
        const QByteArray ownerId = owner.toUtf8();
        for (const auto& [meshId, mesh] : ofOwner) {
            ++digest.meshes;
            digest.triangles += mesh->indexCount / 3;
            meshes.push_back({ownerId, meshId.toUtf8(), mesh->digest});
        }
    }
    digest.materials = static_cast<int>(m_materials.size());
    digest.layers = static_cast<int>(m_layers.size());
    digest.hidden = static_cast<int>(m_hidden.size());
    digest.geometry = tools::geometryChecksum(std::move(meshes));
    digest.placements = tools::placementChecksum(std::move(placements));
    return digest;
}

}  // namespace orvanta::render_window
