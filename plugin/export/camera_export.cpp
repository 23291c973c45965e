#include "plugin/export/camera_export.h"

#include <QStringList>

#include "plugin/export/render_output.h"
#include "plugin/session/scene_session.h"

namespace orvanta {
namespace {

void sendSwitch(const char* operation, bool on, RenderOutput* output) {
    if (!output)
        return;
    output->sendDictionaryMessage("App", operation, "Data", on ? "true" : "false");
    output->invalidateRender();
}

}  // namespace

void exportCamera(SceneSession& session, const CameraReport& camera, RenderOutput* output) {
    if (output) {
        const auto& v = camera.first;
        const auto& w = camera.second;
        output->setCamera(v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7], v[8], camera.flag1,
                          camera.flag2, w[0], w[1], w[2], w[3], camera.sceneName.constData());
    }
    {
        RegistryGuard guard(session.registry.lock());
        if (camera.sceneName != session.currentSceneName) {
            session.currentSceneName = camera.sceneName;
            return;
        }
    }
    if (session.attributeSceneName != camera.sceneName)
        session.sessionAttributes.sendMissing(0, output);
}

QString viewportText(std::int32_t first, std::int32_t second, const std::array<float, 11>& values) {
    QStringList fields{QString::number(first), QString::number(second)};
    for (float value : values)
        fields.append(QString::number(static_cast<double>(value), 'g', 6));
    return fields.join(QLatin1Char(';'));
}

void exportViewport(std::int32_t first, std::int32_t second, const std::array<float, 11>& values,
                    RenderOutput* output) {
    if (output)
        output->sendDictionaryMessage("Scene", "obrSetViewPort", "Data",
                                      viewportText(first, second, values).toUtf8().constData());
}

void setProductionAspectRatio(SceneSession& session, int mode, RenderOutput* output) {
    const bool on = mode == 1;
    if (on == session.productionAspectRatio)
        return;
    session.productionAspectRatio = on;
    sendSwitch("obrSetProductionAspectRatio", on, output);
}

void setProductionPreviewEnabled(SceneSession& session, bool enabled, RenderOutput* output) {
    if (enabled == session.productionPreviewEnabled)
        return;
    session.productionPreviewEnabled = enabled;
    sendSwitch("obrSetProductionPreviewEnabled", enabled, output);
}

}  // namespace orvanta
