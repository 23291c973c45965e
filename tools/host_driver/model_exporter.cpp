#include "tools/host_driver/model_exporter.h"

#include <cstdint>
#include <memory>

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

}  // namespace

ModelExporter::ModelExporter(const PluginLibrary& plugin, const HostModel& model)
    : m_plugin(plugin), m_model(model) {}

void ModelExporter::exportModel() {
    m_plugin.enumerationProcessStarted();
    const std::size_t total = m_model.materials.size() + m_model.layers.size() +
                              m_model.definitions.size() + m_model.childGroups(kModelId).size() +
                              m_model.childInstances(kModelId).size() + 1;
    std::size_t done = 0;
    const auto progress = [&] {
        ++done;
        m_plugin.modelEnumerationProcessStatus(static_cast<std::int32_t>(done * 100 / total));
    };
    m_plugin.modelEnumerationProcessStatus(0);
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
    for (const HostGroup* group : m_model.childGroups(kModelId)) {
        exportGroupTree(*group);
        progress();
    }
    for (const HostInstance* instance : m_model.childInstances(kModelId)) {
        exportInstance(*instance);
        progress();
    }
    exportMeshes(kModelId, m_model.rootMeshes);
    progress();
    m_plugin.enumerationProcessCompleted();
}

bool ModelExporter::exportEntity(const QByteArray& entityId) {
    if (entityId == kModelId) {
        exportModel();
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
    std::uint8_t result[2] = {0, 0};
    m_plugin.onEnumGroup(group.id.constData(), group.parentId.constData(),
                         group.layerId.constData(), group.name.constData(), group.transform.data(),
                         group.materialId.constData(), result);
    m_plugin.setEntityRenderId(group.id.constData(), group.id.constData(), 0);
    exportMeshes(group.id, group.meshes);
    exportChildren(group.id);
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
    }
}

void ModelExporter::exportChildren(const QByteArray& parentId) {
    for (const HostGroup* group : m_model.childGroups(parentId))
        exportGroupTree(*group);
    for (const HostInstance* instance : m_model.childInstances(parentId))
        exportInstance(*instance);
}

}  // namespace orvanta::tools
