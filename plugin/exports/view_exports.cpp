// Exports of the view (camera, viewport, production switches) and of the model's attributes: thin
// entries to the camera and attribute exporters on the process's scene session.
#include "OrvantaForSketchup.h"
#include "plugin/export/attribute_export.h"
#include "plugin/export/camera_export.h"
#include "plugin/export/render_output.h"
#include "plugin/exports/export_guard.h"
#include "plugin/exports/export_text.h"
#include "plugin/session/scene_session.h"

using orvanta::hostBytes;

extern "C" {

void obrSetCamera(float v1, float v2, float v3, float v4, float v5, float v6, float v7, float v8,
                  float v9, bool flag1, bool flag2, float v10, float v11, float v12, float v13,
                  const char* sceneName) {
    orvanta::guarded(__func__, [&] {
        orvanta::PluginOutput output;
        orvanta::exportCamera(orvanta::sceneSession(),
                              {{v1, v2, v3, v4, v5, v6, v7, v8, v9},
                               flag1,
                               flag2,
                               {v10, v11, v12, v13},
                               hostBytes(sceneName)},
                              output.get());
    });
}

void obrSetViewPort(int32_t i1, int32_t i2, float f1, float f2, float f3, float f4, float f5,
                    float f6, float f7, float f8, float f9, float f10, float f11) {
    orvanta::guarded(__func__, [&] {
        orvanta::PluginOutput output;
        orvanta::exportViewport(i1, i2, {f1, f2, f3, f4, f5, f6, f7, f8, f9, f10, f11},
                                output.get());
    });
}

void obrSetProductionAspectRatio(int32_t mode) {
    orvanta::guarded(__func__, [&] {
        orvanta::PluginOutput output;
        orvanta::setProductionAspectRatio(orvanta::sceneSession(), mode, output.get());
    });
}

void obrSetProductionPreviewEnabled(bool enabled) {
    orvanta::guarded(__func__, [&] {
        orvanta::PluginOutput output;
        orvanta::setProductionPreviewEnabled(orvanta::sceneSession(), enabled, output.get());
    });
}

bool obrIsProductionAspectRatio(void) {
    return orvanta::guarded(__func__, false,
                            [&] { return orvanta::sceneSession().productionAspectRatio; });
}

bool obrIsProductionPreviewEnabled(void) {
    return orvanta::guarded(__func__, false,
                            [&] { return orvanta::sceneSession().productionPreviewEnabled; });
}

void obrOnEnumAttributeDictionariesCallback(const char*, const char* dictionary, bool* answer) {
    orvanta::guarded(__func__, [&] {
        if (answer)
            *answer = orvanta::wantsDictionary(orvanta::sceneSession(), hostBytes(dictionary));
    });
}

void obrOnEnumAttributesCallback(const char* owner, const char* dictionary, const char* key,
                                 const char* value) {
    orvanta::guarded(__func__, [&] {
        orvanta::PluginOutput output;
        orvanta::receiveAttribute(
            orvanta::sceneSession(),
            {hostBytes(owner), hostBytes(dictionary), hostBytes(key), hostBytes(value)},
            output.get());
    });
}

const char* obrGetBase64DictionaryValueContent(const char* owner, const char* dictionary,
                                               const char* key) {
    return orvanta::guarded(__func__, "", [&] {
        return orvanta::base64Content(
            orvanta::sceneSession(), {hostBytes(owner), hostBytes(dictionary), hostBytes(key), {}});
    });
}

uint32_t obrGetBase64DictionaryValueHash(const char* owner, const char* dictionary,
                                         const char* key) {
    return orvanta::guarded(__func__, 0u, [&] {
        return orvanta::base64Hash(orvanta::sceneSession(),
                                   {hostBytes(owner), hostBytes(dictionary), hostBytes(key), {}});
    });
}

void obrReceiveBase64Attributes(bool enabled) {
    orvanta::guarded(__func__, [&] { orvanta::sceneSession().receiveBase64Attributes = enabled; });
}

bool obrIsReceiveBase64AttributesEnabled(void) {
    return orvanta::guarded(__func__, false,
                            [&] { return orvanta::sceneSession().receiveBase64Attributes.load(); });
}

float obrGetAnimationLenghtSeconds(void) {
    return orvanta::guarded(__func__, 0.0f,
                            [&] { return orvanta::sceneSession().model.animationLengthSeconds; });
}

int64_t obrGetSkpRootEntitiesCount(void) {
    return orvanta::guarded(__func__, 0,
                            [&] { return orvanta::sceneSession().model.rootEntitiesCount; });
}
}
