#include "tools/host_driver/model_exporter.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <utility>

#include "platform/process.h"
#include "tools/host_driver/model_view.h"

namespace orvanta::tools {
namespace {

// "#RRGGBB".
QByteArray colourText(const std::array<std::uint8_t, 4>& colour) {
    return QStringLiteral("#%1%2%3")
        .arg(colour[0], 2, 16, QLatin1Char('0'))
        .arg(colour[1], 2, 16, QLatin1Char('0'))
        .arg(colour[2], 2, 16, QLatin1Char('0'))
        .toUpper()
        .toLatin1();
}

std::int64_t trianglesOf(const std::vector<HostMesh>& meshes) {
    std::int64_t triangles = 0;
    for (const HostMesh& mesh : meshes)
        triangles += mesh.indexCount() / 3;
    return triangles;
}

}  // namespace

ModelExporter::ModelExporter(const PluginLibrary& plugin, const HostModel& model)
    : m_plugin(plugin), m_model(model) {}

ModelExporter::ChildIndex ModelExporter::childIndex() const {
    ChildIndex index;
    for (const HostGroup& group : m_model.groups)
        index[group.parentId].groups.push_back(&group);
    for (const HostInstance& instance : m_model.instances)
        index[instance.parentId].instances.push_back(&instance);
    return index;
}

void ModelExporter::reportProgress(int percent) {
    // Content the plug-in asks for again during the walk counts on top of the walk's own.
    percent = std::min(percent, 100);
    m_reportedPercent = percent;
    m_plugin.modelEnumerationProcessStatus(percent);
    if (m_listener)
        m_listener(percent);
}

void ModelExporter::exportModel() {
    const std::int64_t privateBefore = xel::platform::privateMemoryBytes();
    m_lastWalk = {};
    m_lastWalk.start = std::chrono::steady_clock::now();
    m_plugin.enumerationProcessStarted();
    const ChildIndex children = childIndex();
    const Children& top = children.value(kModelId);
    m_walkTriangles = trianglesOf(m_model.rootMeshes);
    for (const HostGroup& group : m_model.groups)
        m_walkTriangles += trianglesOf(group.meshes);
    for (const HostDefinition& definition : m_model.definitions)
        m_walkTriangles += trianglesOf(definition.meshes);
    m_sentTriangles = 0;
    m_walking = true;
    const auto progress = [&] {
        reportProgress(
            m_walkTriangles > 0 ? static_cast<int>(m_sentTriangles * 100 / m_walkTriangles) : 0);
    };

    reportProgress(0);
    for (const HostMaterial& material : m_model.materials) {
        exportMaterial(material);
        progress();
    }
    for (const HostLayer& layer : m_model.layers) {
        m_plugin.onEnumLayers(layer.id.constData(), layer.visible, layer.active ? 1 : 0);
        progress();
    }
    // Definitions before the instances that place them, so that no instance has the plug-in ask
    // for its definition.
    for (const HostDefinition& definition : m_model.definitions) {
        exportDefinition(definition);
        progress();
    }
    for (const HostGroup* group : top.groups) {
        walkGroup(*group, children);
        progress();
    }
    for (const HostInstance* instance : top.instances) {
        exportInstance(*instance);
        progress();
    }
    exportMeshes(kModelId, m_model.rootMeshes);
    m_walking = false;
    reportProgress(100);
    m_plugin.enumerationProcessCompleted();
    m_lastWalk.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - m_lastWalk.start).count();
    m_lastWalk.privateGrowthBytes = xel::platform::privateMemoryBytes() - privateBefore;
}

void ModelExporter::exportModelWithView() {
    exportModel();
    exportCamera();
    exportAttributes();
}

bool ModelExporter::exportEntity(const QByteArray& entityId) {
    if (entityId == kModelId) {
        exportModelWithView();
    } else if (const HostDefinition* definition = m_model.definition(entityId)) {
        exportDefinition(*definition);
    } else if (const HostGroup* group = m_model.group(entityId)) {
        exportGroupTree(*group);
    } else if (const HostInstance* instance = m_model.instance(entityId)) {
        exportInstance(*instance);
    } else {
        return false;
    }
    return true;
}

bool ModelExporter::exportEntityMeshes(const QByteArray& ownerId) {
    const std::vector<HostMesh>* meshes = m_model.meshesOf(ownerId);
    if (!meshes || meshes->empty())
        return false;
    exportMeshes(ownerId, *meshes);
    return true;
}

void ModelExporter::exportMaterial(const HostMaterial& material) {
    const bool textured = !material.texturePath.isEmpty();
    m_plugin.onEnumMaterials(
        material.id.constData(), material.name.constData(), colourText(material.colour).constData(),
        material.textureWidth, material.textureHeight, textured ? 1 : 0,
        static_cast<float>(material.colour[3]) / 255.0f, material.texturePath.constData());
}

void ModelExporter::exportDefinition(const HostDefinition& definition) {
    std::uint8_t result[2] = {0, 0};
    m_plugin.onEnumComponentDef(definition.id.constData(), definition.name.constData(),
                                definition.facesCamera, definition.description.constData(), result);
    // Only now: a definition the registry already holds present is taken as sent.
    m_plugin.setEntityRenderId(definition.id.constData(), definition.id.constData(), 0);
    exportMeshes(definition.id, definition.meshes);
}

void ModelExporter::exportGroupTree(const HostGroup& group) {
    walkGroup(group, childIndex());
}

void ModelExporter::walkGroup(const HostGroup& group, const ChildIndex& children) {
    std::uint8_t result[2] = {0, 0};
    m_plugin.onEnumGroup(group.id.constData(), group.parentId.constData(),
                         group.layerId.constData(), group.name.constData(), group.transform.data(),
                         group.materialId.constData(), result);
    m_plugin.setEntityRenderId(group.id.constData(), group.id.constData(), 0);
    exportMeshes(group.id, group.meshes);
    const auto found = children.constFind(group.id);
    if (found == children.constEnd())
        return;
    for (const HostGroup* child : found->groups)
        walkGroup(*child, children);
    for (const HostInstance* instance : found->instances)
        exportInstance(*instance);
}

void ModelExporter::exportInstance(const HostInstance& instance) {
    m_plugin.onEnumInstance(instance.id.constData(), instance.parentId.constData(),
                            instance.layerId.constData(), instance.definitionId.constData(),
                            instance.name.constData(), instance.transform.data(),
                            instance.materialId.constData());
}

void ModelExporter::exportMeshes(const QByteArray& ownerId, const std::vector<HostMesh>& meshes) {
    for (std::size_t n = 0; n < meshes.size(); ++n) {
        const HostMesh& mesh = meshes[n];
        const QByteArray meshId = meshIdOf(ownerId, static_cast<int>(n), mesh);
        const auto vertices = static_cast<std::size_t>(mesh.vertexCount());
        // The "addMesh" payload: 92 bytes of counts and lengths, the texts and the arrays.
        const auto payload = static_cast<std::int64_t>(
            92 + 41 * vertices + 4 * static_cast<std::size_t>(mesh.indexCount()) + meshId.size() +
            ownerId.size() + mesh.layerId.size() + mesh.frontMaterialId.size() +
            mesh.backMaterialId.size());
        m_lastWalk.largestMeshBytes = std::max(m_lastWalk.largestMeshBytes, payload);
        const std::unique_ptr<bool[]> flags(new bool[vertices > 0 ? vertices : 1]);
        for (std::size_t v = 0; v < vertices; ++v)
            flags[v] = mesh.flags[v] != 0;
        m_plugin.onEnumMesh(meshId.constData(), ownerId.constData(), mesh.layerId.constData(),
                            mesh.positions.data(), mesh.normals.data(), mesh.frontUVs.data(),
                            mesh.backUVs.data(), flags.get(), mesh.indices.data(),
                            mesh.indexCount(), mesh.vertexCount(), mesh.frontMaterialId.constData(),
                            mesh.backMaterialId.constData());
        const QByteArray info = QByteArray::number(mesh.vertexCount()) + ' ' +
                                QByteArray::number(mesh.indexCount() / 3);
        m_plugin.addMeshInEntity(meshId.constData(), info.constData());
        if (m_walking && m_walkTriangles > 0) {
            m_sentTriangles += mesh.indexCount() / 3;
            const auto percent = static_cast<int>(m_sentTriangles * 100 / m_walkTriangles);
            if (std::min(percent, 100) != m_reportedPercent)
                reportProgress(percent);
        }
    }
}

void ModelExporter::exportCamera() {
    const HostCamera camera = m_model.camera ? *m_model.camera : framingCamera(m_model);
    m_plugin.setCamera(camera.eye[0], camera.eye[1], camera.eye[2], camera.target[0],
                       camera.target[1], camera.target[2], camera.up[0], camera.up[1], camera.up[2],
                       camera.perspective, camera.modelsOwn, camera.fieldOfViewDegrees,
                       camera.parallelHeight, camera.aspect, 0.0f, camera.sceneName.constData());
}

void ModelExporter::exportAttributes() {
    std::vector<std::pair<QByteArray, QByteArray>> dictionaries;
    for (const HostAttribute& attribute : m_model.attributes) {
        const std::pair<QByteArray, QByteArray> dictionary{attribute.owner, attribute.dictionary};
        if (std::find(dictionaries.begin(), dictionaries.end(), dictionary) == dictionaries.end())
            dictionaries.push_back(dictionary);
    }
    for (const auto& [owner, dictionary] : dictionaries)
        exportAttributes(owner, dictionary);
}

bool ModelExporter::exportAttributes(const QByteArray& owner, const QByteArray& dictionary) {
    const std::vector<HostAttribute> attributes = m_model.attributesOf(owner, dictionary);
    if (attributes.empty())
        return false;
    bool wanted = false;
    m_plugin.onEnumAttributeDictionariesCallback(owner.constData(), dictionary.constData(),
                                                 &wanted);
    if (wanted) {
        for (const HostAttribute& attribute : attributes)
            exportAttribute(attribute);
    }
    return true;
}

void ModelExporter::exportAttribute(const HostAttribute& attribute) {
    m_plugin.onEnumAttributesCallback(attribute.owner.constData(), attribute.dictionary.constData(),
                                      attribute.key.constData(), attribute.value.constData());
}

}  // namespace orvanta::tools
