#include "plugin/export/render_output.h"

#include "XelRemoteRenderSender.h"
#include "plugin/lifecycle/plugin_state.h"

namespace orvanta {

bool SenderOutput::isLoadingModel() const {
    return m_sender.isLoadingModel();
}

void SenderOutput::addMesh(const char* meshId, const char* entityId, const char* meshLabel,
                           const float* positions, const float* normals, const float* frontUVs,
                           const float* backUVs, const bool* vertexFlags, const int* indices,
                           int indexCount, int vertexCount, const char* frontMaterial,
                           const char* backMaterial) {
    m_sender.addMesh(meshId, entityId, meshLabel, positions, normals, frontUVs, backUVs,
                     vertexFlags, indices, indexCount, vertexCount, frontMaterial, backMaterial);
}

void SenderOutput::addMaterial(const char* materialId, const char* materialName,
                               const char* detailText, int intValue, float floatValue,
                               const char* extraText) {
    m_sender.addMaterial(materialId, materialName, detailText, intValue, floatValue, extraText);
}

void SenderOutput::setSectionPlane(int planeNumber, bool active, const float* firstVector,
                                   const float* secondVector, bool capsOn, int capsValue) {
    m_sender.setSectionPlane(planeNumber, active, firstVector, secondVector, capsOn, capsValue);
}

void SenderOutput::removeSectionPlane(int planeNumber) {
    m_sender.removeSectionPlane(planeNumber);
}

void SenderOutput::setSceneLight(int p1, float p2, float p3, float p4, float p5, int p6, float p7,
                                 float p8, float p9) {
    m_sender.setSceneLight(p1, p2, p3, p4, p5, p6, p7, p8, p9);
}

void SenderOutput::sendDictionaryMessage(const char* owner, const char* dictionary, const char* key,
                                         const char* value) {
    m_sender.sendDictionaryMessage(owner, dictionary, key, value);
}

void SenderOutput::addGroup(const char* groupId, const char* parentId, const char* recordLabel,
                            const char* passText, const float* transform, const char* recordNote) {
    m_sender.addGroup(groupId, parentId, recordLabel, passText, transform, recordNote);
}

void SenderOutput::addInstance(const char* instanceId, const char* parentId,
                               const char* definitionId, const char* recordLabel,
                               const char* passText, const float* transform,
                               const char* recordNote) {
    m_sender.addInstance(instanceId, parentId, definitionId, recordLabel, passText, transform,
                         recordNote);
}

void SenderOutput::addComponentDef(const char* definitionId, const char* defText, bool defFlag,
                                   const char* defNote) {
    m_sender.addComponentDef(definitionId, defText, defFlag, defNote);
}

void SenderOutput::addLayer(const char* layerId, bool layerFlag, int layerValue,
                            bool defaultLayer) {
    m_sender.addLayer(layerId, layerFlag, layerValue, defaultLayer);
}

void SenderOutput::removeEntity(const char* entityId, const char* parentId, bool contentTable,
                                bool forUpdate) {
    m_sender.removeEntity(entityId, parentId, contentTable, forUpdate);
}

void SenderOutput::removeEntityMeshes(const char* entityId) {
    m_sender.removeEntityMeshes(entityId);
}

void SenderOutput::clearSession() {
    m_sender.clearSession();
}

void SenderOutput::setEntityVisible(const char* entityId, bool visible, const char* recordLabel) {
    m_sender.setEntityVisible(entityId, visible, recordLabel);
}

bool SenderOutput::isProxyEntity(const char* entityId) const {
    return m_sender.isProxyEntity(entityId);
}

void SenderOutput::beginTransaction(const char* name) {
    m_sender.beginTransaction(name);
}

void SenderOutput::endTransaction(bool abort) {
    m_sender.endTransaction(abort);
}

bool SenderOutput::transactionInProgress() const {
    return m_sender.transactionInProgress();
}

void SenderOutput::setLoadingModel(bool loading) {
    m_sender.setLoadingModel(loading);
}

void SenderOutput::setCamera(float v1, float v2, float v3, float v4, float v5, float v6, float v7,
                             float v8, float v9, bool flag1, bool flag2, float v10, float v11,
                             float v12, float v13, const char* sceneName) {
    m_sender.setCamera(v1, v2, v3, v4, v5, v6, v7, v8, v9, flag1, flag2, v10, v11, v12, v13,
                       sceneName);
}

void SenderOutput::invalidateRender() {
    m_sender.invalidateRender();
}

void SenderOutput::echo(const char* text) {
    m_sender.echo(text);
}

PluginOutput::PluginOutput() {
    if (XelRemoteRenderSender* sender = renderSender())
        m_output.emplace(*sender);
}

}  // namespace orvanta
