// Exports of the scene content: thin entries to the exporters, which send through the plug-in's
// sender when there is one.
#include "OrvantaForSketchup.h"
#include "plugin/export/hierarchy_export.h"
#include "plugin/export/material_export.h"
#include "plugin/export/mesh_export.h"
#include "plugin/export/render_output.h"
#include "plugin/export/section_planes.h"
#include "plugin/export/session_attributes.h"
#include "plugin/exports/export_guard.h"
#include "plugin/exports/export_text.h"
#include "plugin/requests/host_request_queue.h"
#include "plugin/session/scene_session.h"

using orvanta::boundedHostText;

extern "C" {

void obrOnEnumMesh(const char* meshId, const char* entityId, const char* meshLabel,
                   const float* positions, const float* normals, const float* frontUVs,
                   const float* backUVs, const bool* vertexFlags, const int32_t* indices,
                   int32_t indexCount, int32_t vertexCount, const char* frontMaterial,
                   const char* backMaterial) {
    orvanta::guarded(__func__, [&] {
        orvanta::PluginOutput output;
        const orvanta::MeshReport mesh{boundedHostText(meshId),
                                       boundedHostText(entityId),
                                       boundedHostText(meshLabel),
                                       positions,
                                       normals,
                                       frontUVs,
                                       backUVs,
                                       vertexFlags,
                                       indices,
                                       indexCount,
                                       vertexCount,
                                       boundedHostText(frontMaterial),
                                       boundedHostText(backMaterial)};
        orvanta::SceneSession& session = orvanta::sceneSession();
        orvanta::exportMesh(mesh, output.get(), session.registry, [&session](const char* owner) {
            session.enumerateContent(owner, orvanta::RunNow);
        });
    });
}

void obrOnEnumMaterials(const char* materialId, const char* materialName, const char* detailText,
                        float textureWidth, float textureHeight, int32_t intValue, float floatValue,
                        const char* extraText) {
    orvanta::guarded(__func__, [&] {
        orvanta::PluginOutput output;
        orvanta::sceneSession().materials.enumerateMaterial(
            {boundedHostText(materialId), boundedHostText(materialName),
             boundedHostText(detailText), textureWidth, textureHeight, intValue, floatValue,
             boundedHostText(extraText)},
            output.get());
    });
}

const char* obrGetMaterialName(const char* materialId) {
    return orvanta::guarded(__func__, "", [&] {
        return orvanta::sceneSession().materials.materialName(boundedHostText(materialId));
    });
}

void obrEnumSectionPlane(const char* sectionId, bool active, bool capsOn, float x1, float y1,
                         float z1, float x2, float y2, float z2) {
    orvanta::guarded(__func__, [&] {
        orvanta::PluginOutput output;
        orvanta::sceneSession().sectionPlanes.enumerate(orvanta::hostBytes(sectionId), active,
                                                        capsOn, {x1, y1, z1}, {x2, y2, z2},
                                                        output.get());
    });
}

void obrSetSectionCaps(int32_t capsMode, uint8_t capsRed, uint8_t capsGreen, uint8_t capsBlue,
                       uint32_t capsAlpha) {
    orvanta::guarded(__func__, [&] {
        orvanta::PluginOutput output;
        orvanta::sceneSession().sectionPlanes.setCaps(
            capsMode, orvanta::packCapsColour(capsRed, capsGreen, capsBlue, capsAlpha),
            output.get());
    });
}

void obrEnumShadowsInfo(int32_t a, float b, float c, int32_t d, float e, float f, float g) {
    orvanta::guarded(__func__, [&] {
        orvanta::PluginOutput output;
        orvanta::exportShadowsInfo({a, b, c, d, e, f, g}, output.get());
    });
}

void obrSetMissingSceneValues(uint32_t missingMask) {
    orvanta::guarded(__func__, [&] {
        orvanta::PluginOutput output;
        orvanta::sceneSession().sessionAttributes.sendMissing(missingMask, output.get());
    });
}

void obrSetDefaultSessionAttributes(QVector<ObrSessionAttribute> records) {
    orvanta::guarded(
        __func__, [&] { orvanta::sceneSession().sessionAttributes.replace(std::move(records)); });
}
}

extern "C" {

void obrOnEnumGroup(const char* groupId, const char* parentId, const char* recordLabel,
                    const char* passText, const float* transform, const char* recordNote,
                    uint8_t* enumResult) {
    orvanta::guarded(__func__, [&] {
        orvanta::PluginOutput output;
        orvanta::exportGroup(
            orvanta::sceneSession(),
            {boundedHostText(groupId), boundedHostText(parentId), boundedHostText(recordLabel),
             boundedHostText(passText), transform, boundedHostText(recordNote)},
            enumResult, output.get());
    });
}

void obrOnEnumInstance(const char* instanceId, const char* parentId, const char* recordLabel,
                       const char* definitionId, const char* passText, const float* transform,
                       const char* recordNote) {
    orvanta::guarded(__func__, [&] {
        orvanta::PluginOutput output;
        orvanta::exportInstance(orvanta::sceneSession(),
                                {boundedHostText(instanceId), boundedHostText(parentId),
                                 boundedHostText(recordLabel), boundedHostText(definitionId),
                                 boundedHostText(passText), transform, boundedHostText(recordNote)},
                                output.get());
    });
}

void obrOnEnumComponentDef(const char* definitionId, const char* defText, bool defFlag,
                           const char* defNote, uint8_t* enumResult) {
    orvanta::guarded(__func__, [&] {
        orvanta::PluginOutput output;
        orvanta::exportComponentDef(orvanta::sceneSession(),
                                    {boundedHostText(definitionId), boundedHostText(defText),
                                     defFlag, boundedHostText(defNote)},
                                    enumResult, output.get());
    });
}

void obrOnEnumLayers(const char* layerId, bool layerFlag, int32_t layerValue) {
    orvanta::guarded(__func__, [&] {
        orvanta::PluginOutput output;
        orvanta::exportLayer(boundedHostText(layerId), layerFlag, layerValue, output.get());
    });
}

void obrSetLayersColorMode(bool enabled) {
    orvanta::guarded(__func__, [&] {
        orvanta::PluginOutput output;
        orvanta::setLayersColorMode(orvanta::sceneSession(), enabled, output.get());
    });
}

bool obrIsColorByLayer(void) {
    return orvanta::guarded(__func__, false,
                            [&] { return orvanta::sceneSession().colorByLayer.load(); });
}
}
