#include "tools/render_window/scene_store.h"

#include <QCryptographicHash>

#include <cstddef>
#include <utility>

namespace orvanta::render_window {
namespace {

QString text(const char* utf8) {
    return QString::fromUtf8(utf8 ? utf8 : "");
}

template <typename T>
std::vector<T> copyArray(const T* values, std::size_t count) {
    return values ? std::vector<T>(values, values + count) : std::vector<T>(count);
}

// In blocks, since the hash takes at most an int's worth of bytes at a time.
template <typename T>
void addBytes(QCryptographicHash& hash, const std::vector<T>& values) {
    constexpr std::size_t kBlockBytes = std::size_t(1) << 30;
    const char* bytes = reinterpret_cast<const char*>(values.data());
    for (std::size_t left = values.size() * sizeof(T); left > 0;) {
        const std::size_t block = left < kBlockBytes ? left : kBlockBytes;
        hash.addData(bytes, static_cast<int>(block));
        bytes += block;
        left -= block;
    }
}

}  // namespace

SceneMesh SceneMesh::fromArrays(const char* label, const float* positions, const float* normals,
                                const float* frontUVs, const float* backUVs,
                                const bool* vertexFlags, const int* indices, int indexCount,
                                int vertexCount, const char* frontMaterial,
                                const char* backMaterial) {
    SceneMesh mesh;
    mesh.vertexCount = vertexCount > 0 ? vertexCount : 0;
    mesh.indexCount = indexCount > 0 ? indexCount : 0;
    const auto vertices = static_cast<std::size_t>(mesh.vertexCount);
    mesh.label = text(label);
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
    mesh.frontMaterial = text(frontMaterial);
    mesh.backMaterial = text(backMaterial);
    return mesh;
}

QByteArray meshDigest(const SceneMesh& mesh) {
    QCryptographicHash hash(QCryptographicHash::Sha256);
    addBytes(hash, mesh.positions);
    addBytes(hash, mesh.normals);
    addBytes(hash, mesh.frontUVs);
    addBytes(hash, mesh.backUVs);
    addBytes(hash, mesh.flags);
    addBytes(hash, mesh.indices);
    return hash.result().toHex();
}

void SceneStore::addMesh(const QString& entityId, const QString& meshId, SceneMesh mesh) {
    std::lock_guard<std::mutex> guard(m_mutex);
    m_meshes[entityId][meshId] = std::move(mesh);
}

void SceneStore::removeEntityMeshes(const QString& entityId) {
    std::lock_guard<std::mutex> guard(m_mutex);
    m_meshes.erase(entityId);
}

void SceneStore::addMaterial(const QString& materialId, const SceneMaterial& material) {
    std::lock_guard<std::mutex> guard(m_mutex);
    m_materials[materialId] = material;
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

void SceneStore::addDictionaryMessage(const DictionaryRecord& record) {
    std::lock_guard<std::mutex> guard(m_mutex);
    m_dictionaryMessages.push_back(record);
}

void SceneStore::clearScene() {
    std::lock_guard<std::mutex> guard(m_mutex);
    m_meshes.clear();
    m_materials.clear();
    m_planes.clear();
    m_light.reset();
}

SceneMeshes SceneStore::meshes() const {
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_meshes;
}

std::optional<SceneMesh> SceneStore::mesh(const QString& entityId, const QString& meshId) const {
    std::lock_guard<std::mutex> guard(m_mutex);
    const auto owner = m_meshes.find(entityId);
    if (owner == m_meshes.end())
        return std::nullopt;
    const auto found = owner->second.find(meshId);
    if (found == owner->second.end())
        return std::nullopt;
    return found->second;
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

std::vector<DictionaryRecord> SceneStore::dictionaryMessages() const {
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_dictionaryMessages;
}

}  // namespace orvanta::render_window
