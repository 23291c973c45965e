#include "plugin/export/material_export.h"

#include <algorithm>

#include "plugin/export/render_output.h"
#include "plugin/session/entity_registry.h"

namespace orvanta {
namespace {

QByteArray hostText(const char* text) {
    return QByteArray(text ? text : "");
}

}  // namespace

void MaterialTables::enumerateMaterial(const MaterialReport& material, RenderOutput* output) {
    const QByteArray id = hostText(material.materialId);
    const TextureSize size{material.textureWidth, material.textureHeight};
    bool sizeChanged = false;
    {
        RegistryGuard guard(m_registry.lock());
        m_names[id] = hostText(material.materialName);
        const TextureSize previous = textureSize(id);
        m_textureSizes[id] = size;
        sizeChanged = output && !output->isLoadingModel() && size.width > 0.0f &&
                      size.height > 0.0f &&
                      (size.width != previous.width || size.height != previous.height);
    }
    if (!output)
        return;
    output->addMaterial(material.materialId, material.materialName, material.detailText,
                        material.intValue, material.floatValue, material.extraText);
    if (sizeChanged) {
        RegistryGuard guard(m_registry.lock());
        collectMeshesOf(id);
    }
}

void MaterialTables::collectMeshesOf(const QByteArray& materialId) {
    const QString id = QString::fromUtf8(materialId);
    const QString frontPattern = QStringLiteral("f[%1]").arg(id);
    const QString backPattern = QStringLiteral("r[%1]").arg(id);
    for (const auto& [key, record] : m_registry.records(EntityTable::Content)) {
        (void)key;
        if (record.renderId.isEmpty() || !record.present)
            continue;
        for (const auto& [meshId, meshInfo] : record.meshes) {
            (void)meshInfo;
            if (!meshId.contains(frontPattern) && !meshId.contains(backPattern))
                continue;
            std::vector<QString>& meshes = m_refreshList[record.id];
            if (std::find(meshes.begin(), meshes.end(), meshId) == meshes.end())
                meshes.push_back(meshId);
        }
    }
}

const char* MaterialTables::materialName(const char* materialId) const {
    RegistryGuard guard(m_registry.lock());
    const auto found = m_names.find(hostText(materialId));
    return found == m_names.end() ? "" : found->second.constData();
}

MeshRefreshList MaterialTables::takeRefreshList() {
    MeshRefreshList taken;
    taken.swap(m_refreshList);
    return taken;
}

TextureSize MaterialTables::textureSize(const QByteArray& materialId) const {
    const auto found = m_textureSizes.find(materialId);
    return found == m_textureSizes.end() ? TextureSize{} : found->second;
}

}  // namespace orvanta
