// Camera and viewport: the view the host reports, forwarded to the render window, with the scene
// it belongs to and the production view's two switches.
#pragma once

#include <QByteArray>
#include <QString>

#include <array>
#include <cstdint>

namespace orvanta {

class RenderOutput;
struct SceneSession;

// The camera values carried unchanged, in the order the host gives them.
struct CameraReport {
    std::array<float, 9> first{};
    bool flag1 = false;
    bool flag2 = false;
    std::array<float, 4> second{};
    QByteArray sceneName;
};

// Sends the camera (with an output), then follows the scene: a scene other than the current one
// becomes current and nothing more happens; the current scene reported again while no "Camera"
// attribute arrived since it became current has the remembered session attributes sent again.
// Host thread; the scene name changes under the registry lock.
void exportCamera(SceneSession& session, const CameraReport& camera, RenderOutput* output);

// The viewport as one text: the two integers in decimal, then the eleven floats with 6
// significant digits ("1.5", "0.25", "1.23457e+06"), separated by ";".
QString viewportText(std::int32_t first, std::int32_t second, const std::array<float, 11>& values);

// Sends ("Scene", "obrSetViewPort", "Data", viewport text). Nothing without an output.
void exportViewport(std::int32_t first, std::int32_t second, const std::array<float, 11>& values,
                    RenderOutput* output);

// The production view's switches: the aspect ratio on for mode 1, the preview when enabled. A
// change is stored, also without an output, and with one sent as ("App", "<operation>", "Data",
// "true"/"false") followed by a new render; an unchanged value sends nothing. Host thread.
void setProductionAspectRatio(SceneSession& session, int mode, RenderOutput* output);
void setProductionPreviewEnabled(SceneSession& session, bool enabled, RenderOutput* output);

}  // namespace orvanta
