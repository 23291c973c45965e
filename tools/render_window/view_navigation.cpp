#include "tools/render_window/view_navigation.h"

#include <QQuaternion>
#include <QVector3D>
#include <QtMath>

#include <algorithm>
#include <cmath>
#include <utility>

#include "tools/render_window/rasterizer.h"
#include "tools/render_window/scene_view.h"

namespace orvanta::render_window {
namespace {

QVector3D vector(const std::array<float, 3>& values) {
    return {values[0], values[1], values[2]};
}

std::array<float, 3> array(const QVector3D& value) {
    return {value.x(), value.y(), value.z()};
}

bool finite(const QVector3D& value) {
    return std::isfinite(value.x()) && std::isfinite(value.y()) && std::isfinite(value.z());
}

// The camera's eye and target, when they make a view: finite and apart.
bool usable(const SceneCamera& camera) {
    const QVector3D eye = vector(camera.eye);
    const QVector3D target = vector(camera.target);
    return finite(eye) && finite(target) && finite(vector(camera.up)) &&
           (eye - target).length() > 0;
}

// The up vector the rasteriser takes for a view along `forward` (unit length).
QVector3D viewUp(const QVector3D& forward, const QVector3D& up) {
    const QVector3D unit = up.normalized();
    if (QVector3D::crossProduct(forward, unit).length() > 1e-4f)
        return unit;
    return std::abs(forward.z()) < 0.999f ? QVector3D(0, 0, 1) : QVector3D(0, 1, 0);
}

}  // namespace

ViewNavigation::ViewNavigation(StartCamera start) : m_start(std::move(start)) {}

template <typename Move>
void ViewNavigation::move(QSize view, Move&& apply) {
    std::optional<SceneCamera> current = userCamera();
    // The start camera reads the scene: asked for without the lock held.
    const SceneCamera from = current ? *current : m_start(view);
    const SceneCamera to = apply(from);
    const std::lock_guard<std::mutex> lock(m_mutex);
    m_user = to;
}

void ViewNavigation::orbit(QPointF drag, QSize view) {
    move(view, [&](const SceneCamera& camera) { return orbitedByDrag(camera, drag); });
}

void ViewNavigation::pan(QPointF drag, QSize view) {
    move(view, [&](const SceneCamera& camera) { return panned(camera, drag, view); });
}

void ViewNavigation::zoom(double steps, QSize view) {
    move(view, [&](const SceneCamera& camera) { return zoomed(camera, steps); });
}

bool ViewNavigation::snapBack() {
    const std::lock_guard<std::mutex> lock(m_mutex);
    const bool wasMoved = m_user.has_value();
    m_user.reset();
    return wasMoved;
}

bool ViewNavigation::moved() const {
    const std::lock_guard<std::mutex> lock(m_mutex);
    return m_user.has_value();
}

std::optional<SceneCamera> ViewNavigation::userCamera() const {
    const std::lock_guard<std::mutex> lock(m_mutex);
    return m_user;
}

SceneSnapshot ViewNavigation::applyTo(SceneSnapshot scene) const {
    if (std::optional<SceneCamera> user = userCamera())
        scene.camera = std::move(user);
    return scene;
}

SceneCamera ViewNavigation::orbited(const SceneCamera& camera, double yawDegrees,
                                    double raiseDegrees) {
    if (!usable(camera) || !std::isfinite(yawDegrees) || !std::isfinite(raiseDegrees))
        return camera;
    const QVector3D target = vector(camera.target);
    QVector3D offset = vector(camera.eye) - target;
    QVector3D up = vector(camera.up);
    const float distance = offset.length();

    const QQuaternion yaw =
        QQuaternion::fromAxisAndAngle(QVector3D(0, 0, 1), static_cast<float>(yawDegrees));
    offset = yaw.rotatedVector(offset);
    up = yaw.rotatedVector(up);

    // The eye's angle from straight above the target, kept off the poles (or not moved further
    // onto one it is already nearer to).
    const double polar = qRadiansToDegrees(
        std::acos(std::clamp(static_cast<double>(offset.z() / distance), -1.0, 1.0)));
    const double newPolar = std::clamp(polar - raiseDegrees, std::min(polar, kPoleMarginDegrees),
                                       std::max(polar, 180.0 - kPoleMarginDegrees));
    const double raise = polar - newPolar;
    if (raise != 0) {
        const QVector3D forward = -offset / distance;
        // The horizontal axis across the view; straight above or below the target, the view's
        // own axis across.
        QVector3D axis = QVector3D::crossProduct(forward, QVector3D(0, 0, 1));
        if (axis.length() < 1e-6f)
            axis = QVector3D::crossProduct(forward, viewUp(forward, up));
        const QQuaternion pitch =
            QQuaternion::fromAxisAndAngle(axis.normalized(), static_cast<float>(-raise));
        offset = pitch.rotatedVector(offset);
        up = pitch.rotatedVector(up);
    }

    SceneCamera result = camera;
    result.eye = array(target + offset.normalized() * distance);
    result.up = array(up);
    return result;
}

SceneCamera ViewNavigation::orbitedByDrag(const SceneCamera& camera, QPointF drag) {
    return orbited(camera, -drag.x() * kOrbitDegreesPerPixel, drag.y() * kOrbitDegreesPerPixel);
}

SceneCamera ViewNavigation::panned(const SceneCamera& camera, QPointF drag, QSize view) {
    if (!usable(camera) || view.height() <= 0 || view.width() <= 0 || !std::isfinite(drag.x()) ||
        !std::isfinite(drag.y()))
        return camera;
    const QVector3D eye = vector(camera.eye);
    const QVector3D target = vector(camera.target);
    const float distance = (target - eye).length();
    const QVector3D forward = (target - eye) / distance;
    const QVector3D right =
        QVector3D::crossProduct(forward, viewUp(forward, vector(camera.up))).normalized();
    const QVector3D viewUpward = QVector3D::crossProduct(right, forward);

    // The world height the view shows at the target's depth, as the rasteriser sets it up.
    const RasterCamera shown = viewCamera(camera, view);
    double height = shown.orthographicHeight;
    if (shown.perspective || !(height > 0) || !std::isfinite(height)) {
        double field = shown.fieldOfViewDegrees;
        if (!std::isfinite(field))
            field = RasterCamera().fieldOfViewDegrees;
        field = std::clamp(field, 0.01, 179.0);
        height = 2 * distance * std::tan(qDegreesToRadians(field) / 2);
    }
    const double perPixel = height / view.height();
    // The world follows the pointer: the camera moves the other way.
    const QVector3D shift = right * static_cast<float>(-drag.x() * perPixel) +
                            viewUpward * static_cast<float>(drag.y() * perPixel);
    SceneCamera result = camera;
    result.eye = array(eye + shift);
    result.target = array(target + shift);
    return result;
}

SceneCamera ViewNavigation::zoomed(const SceneCamera& camera, double steps) {
    if (!usable(camera) || !std::isfinite(steps))
        return camera;
    const QVector3D target = vector(camera.target);
    const QVector3D offset = vector(camera.eye) - target;
    const double distance = offset.length();
    const double wanted = distance * std::pow(kZoomFactorPerStep, steps);
    const double kept =
        std::clamp(wanted, std::min(distance, kMinDistance), std::max(distance, kMaxDistance));
    const double factor = kept / distance;
    SceneCamera result = camera;
    result.eye = array(target + offset * static_cast<float>(factor));
    if (!camera.perspective && camera.parallelHeight > 0)
        result.parallelHeight = static_cast<float>(camera.parallelHeight * factor);
    return result;
}

}  // namespace orvanta::render_window
