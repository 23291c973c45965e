#include "tests/plugin/export/recording_output.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>

namespace orvanta::test {
namespace {

std::string format(const char* pattern, ...) {
    char line[512];
    va_list arguments;
    va_start(arguments, pattern);
    std::vsnprintf(line, sizeof line, pattern, arguments);
    va_end(arguments);
    return line;
}

// A null text shows as "(null)".
const char* shown(const char* text) {
    return text ? text : "(null)";
}

std::string transformText(const float* transform) {
    if (!transform)
        return "(null)";
    std::string text;
    for (int i = 0; i < 16; ++i)
        text += format(i == 0 ? "%g" : ",%g", transform[i]);
    return text;
}

}  // namespace

void RecordingOutput::record(std::string event) {
    m_events.push_back(std::move(event));
    busyCounts.push_back(sessionBusyCount());
}

bool RecordingOutput::isLoadingModel() const {
    return loading;
}

void RecordingOutput::addMesh(const char* meshId, const char* entityId, const char* meshLabel,
                              const float* positions, const float*, const float*, const float*,
                              const bool*, const int* indices, int indexCount, int vertexCount,
                              const char* frontMaterial, const char* backMaterial) {
    lastPositions = positions;
    lastIndices = indices;
    record(format("addMesh %s %s %s I=%d V=%d %s|%s", shown(meshId), shown(entityId),
                  shown(meshLabel), indexCount, vertexCount, shown(frontMaterial),
                  shown(backMaterial)));
}

void RecordingOutput::addMaterial(const char* materialId, const char* materialName,
                                  const char* detailText, int intValue, float floatValue,
                                  const char* extraText) {
    record(format("addMaterial %s %s %s %d %g %s", shown(materialId), shown(materialName),
                  shown(detailText), intValue, floatValue, shown(extraText)));
}

void RecordingOutput::setSectionPlane(int planeNumber, bool active, const float* first,
                                      const float* second, bool capsOn, int capsValue) {
    record(format("setSectionPlane %d %d %g,%g,%g %g,%g,%g %d %08X", planeNumber, active, first[0],
                  first[1], first[2], second[0], second[1], second[2], capsOn,
                  static_cast<unsigned>(capsValue)));
}

void RecordingOutput::removeSectionPlane(int planeNumber) {
    record(format("removeSectionPlane %d", planeNumber));
}

void RecordingOutput::setSceneLight(int p1, float p2, float p3, float p4, float p5, int p6,
                                    float p7, float p8, float p9) {
    record(format("setSceneLight %d %g %g %g %g %d %g %g %g", p1, p2, p3, p4, p5, p6, p7, p8, p9));
}

void RecordingOutput::sendDictionaryMessage(const char* owner, const char* dictionary,
                                            const char* key, const char* value) {
    record(format("dictionary %s %s %s %s", shown(owner), shown(dictionary), shown(key),
                  shown(value)));
}

void RecordingOutput::addGroup(const char* groupId, const char* parentId, const char* recordLabel,
                               const char* passText, const float* transform,
                               const char* recordNote) {
    record(format("addGroup %s %s %s %s %s ", shown(groupId), shown(parentId), shown(recordLabel),
                  shown(passText), shown(recordNote)) +
           transformText(transform));
}

void RecordingOutput::addInstance(const char* instanceId, const char* parentId,
                                  const char* definitionId, const char* recordLabel,
                                  const char* passText, const float* transform,
                                  const char* recordNote) {
    record(format("addInstance %s %s %s %s %s %s ", shown(instanceId), shown(parentId),
                  shown(definitionId), shown(recordLabel), shown(passText), shown(recordNote)) +
           transformText(transform));
}

void RecordingOutput::addComponentDef(const char* definitionId, const char* defText, bool defFlag,
                                      const char* defNote) {
    record(format("addComponentDef %s %s %d %s", shown(definitionId), shown(defText), defFlag,
                  shown(defNote)));
}

void RecordingOutput::addLayer(const char* layerId, bool layerFlag, int layerValue,
                               bool defaultLayer) {
    record(format("addLayer %s %d %d %d", shown(layerId), layerFlag, layerValue, defaultLayer));
}

void RecordingOutput::removeEntity(const char* entityId, const char* parentId, bool contentTable,
                                   bool forUpdate) {
    record(format("removeEntity %s %s %d %d", shown(entityId), shown(parentId), contentTable,
                  forUpdate));
}

void RecordingOutput::removeEntityMeshes(const char* entityId) {
    record(format("removeEntityMeshes %s", shown(entityId)));
}

void RecordingOutput::clearSession() {
    record("clearSession");
}

void RecordingOutput::setEntityVisible(const char* entityId, bool visible,
                                       const char* recordLabel) {
    record(format("setEntityVisible %s %d %s", shown(entityId), visible, shown(recordLabel)));
}

bool RecordingOutput::isProxyEntity(const char* entityId) const {
    return std::find(proxies.begin(), proxies.end(), shown(entityId)) != proxies.end();
}

void RecordingOutput::beginTransaction(const char* name) {
    ++depth;
    record(format("beginTransaction %s", shown(name)));
}

void RecordingOutput::endTransaction(bool abort) {
    depth = std::max(depth - 1, 0);
    record(format("endTransaction %d", abort));
}

bool RecordingOutput::transactionInProgress() const {
    return depth > 0;
}

void RecordingOutput::setLoadingModel(bool loadingModel) {
    loading = loadingModel;
    record(format("setLoadingModel %d", loadingModel));
}

void RecordingOutput::setCamera(float v1, float v2, float v3, float v4, float v5, float v6,
                                float v7, float v8, float v9, bool flag1, bool flag2, float v10,
                                float v11, float v12, float v13, const char* sceneName) {
    record(format("setCamera %s %g %g %g %g %g %g %g %g %g %d %d %g %g %g %g", shown(sceneName), v1,
                  v2, v3, v4, v5, v6, v7, v8, v9, flag1, flag2, v10, v11, v12, v13));
}

void RecordingOutput::invalidateRender() {
    record("invalidateRender");
}

void RecordingOutput::echo(const char* text) {
    record(format("echo %s", shown(text)));
}

void RecordingOutput::exportScene(const char* targetPath) {
    record(format("exportScene %s", shown(targetPath)));
}

void RecordingOutput::showSettingsUI(bool visible) {
    record(format("showSettingsUI %d", visible));
}

bool RecordingOutput::settingsUIVisible() const {
    return windowsVisible;
}

void RecordingOutput::setRenderWindowVisible(bool visible) {
    record(format("setRenderWindowVisible %d", visible));
}

bool RecordingOutput::renderWindowVisible() const {
    return windowsVisible;
}

void RecordingOutput::showMaterialsUI(bool visible) {
    record(format("showMaterialsUI %d", visible));
}

bool RecordingOutput::materialsUIVisible() const {
    return windowsVisible;
}

void RecordingOutput::showImagesGallery(bool visible) {
    record(format("showImagesGallery %d", visible));
}

void RecordingOutput::showProductionDialog() {
    record("showProductionDialog");
}

void RecordingOutput::setCurrentState(bool reserved, bool loadingModel, bool closing,
                                      bool renderWindowVisible, bool settingsUIVisible,
                                      bool materialsUIVisible, bool productionDialogRequested,
                                      bool dockedWindowsMode, long long renderWindowParent) {
    record(format("setCurrentState %d %d %d %d %d %d %d %d %lld", reserved, loadingModel, closing,
                  renderWindowVisible, settingsUIVisible, materialsUIVisible,
                  productionDialogRequested, dockedWindowsMode, renderWindowParent));
}

void RecordingOutput::setRenderWindowParent(long long handle) {
    record(format("setRenderWindowParent %lld", handle));
}

void RecordingOutput::setDockedWindowsMode(bool docked) {
    record(format("setDockedWindowsMode %d", docked));
}

void RecordingSession::addEntity(const char* id, EntityTable table,
                                 std::initializer_list<const char*> parents) {
    RegistryGuard guard(registry.lock());
    registry.addEntityToParent(QString::fromUtf8(id), std::nullopt, table);
    for (const char* parent : parents)
        registry.addEntityToParent(QString::fromUtf8(id), QString::fromUtf8(parent), table);
}

}  // namespace orvanta::test
