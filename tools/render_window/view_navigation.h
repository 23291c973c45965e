// Moving around in the render window's view: the user's own camera, made by orbiting, panning and
// zooming from the camera the view showed, until the user snaps back to the host's.
//
// Until the user moves, the view shows the start camera (startCamera() of scene_view.h: the
// host's camera, or the framing one before a camera arrived); from the first move on, the user's
// camera, in the view and in every picture of the scene (exports and snapshots), whatever cameras
// the host sends meanwhile; after snapBack() the host's again, the last one it sent. Cameras are in
// the host's terms (SceneCamera): world coordinates, Z up; each shows in an image as viewCamera()
// says, so the user's camera keeps the host's field of view, projection and aspect.
//
// The moves, each a pure function of a camera (the static ones) and a state change of this object:
// - orbit: the eye turns around the target, its distance kept, the up vector turning with it:
//   about the world's Z axis (through the target) by the horizontal drag, then up or down about
//   the horizontal axis across the view by the vertical one, kOrbitDegreesPerPixel each. Dragging
//   right turns the model right (the eye goes left); dragging down raises the eye. The eye stops
//   kPoleMarginDegrees short of straight above or below the target.
// - pan: eye and target move by the same vector, in the view's plane, so that what lies at the
//   target's depth follows the pointer.
// - zoom: the eye moves along its line to the target, the distance times kZoomFactorPerStep for
//   each step towards it (a parallel view's height shrinks likewise); a negative step moves away.
//   The distance stays within [kMinDistance, kMaxDistance].
#pragma once

#include <QPointF>
#include <QSize>

#include <functional>
#include <mutex>
#include <optional>

#include "tools/render_window/scene_store.h"

namespace orvanta::render_window {

class ViewNavigation {
public:
    static constexpr double kOrbitDegreesPerPixel = 0.4;
    static constexpr double kPoleMarginDegrees = 1.0;
    // One wheel notch (an angle delta of 120) is one step.
    static constexpr double kZoomFactorPerStep = 0.8;
    static constexpr double kMinDistance = 1e-4;
    static constexpr double kMaxDistance = 1e9;

    // The camera the view shows before the user moves, for a view of the given size; called only
    // while the user has not moved, on the thread making the move.
    using StartCamera = std::function<SceneCamera(QSize)>;

    explicit ViewNavigation(StartCamera start);
    ViewNavigation(const ViewNavigation&) = delete;
    ViewNavigation& operator=(const ViewNavigation&) = delete;

    // The moves, for a view of `view` pixels (logical ones, as the pointer moves in). `drag` is the
    // pointer's movement in those pixels, x right, y down. Zoom steps: positive towards the target.
    // Any thread; the moves of one user come from one thread.
    void orbit(QPointF drag, QSize view);
    void pan(QPointF drag, QSize view);
    void zoom(double steps, QSize view);
    // Back to the host's camera. Returns whether the user had moved.
    bool snapBack();

    bool moved() const;
    // The user's camera, none until the user moves and after snapBack().
    std::optional<SceneCamera> userCamera() const;
    // `scene` as the view shows it: its camera replaced by the user's when the user moved.
    SceneSnapshot applyTo(SceneSnapshot scene) const;

    // The math of the moves. A camera whose eye is its target, or whose values are not finite,
    // comes back as it is.
    static SceneCamera orbited(const SceneCamera& camera, double yawDegrees, double raiseDegrees);
    static SceneCamera orbitedByDrag(const SceneCamera& camera, QPointF drag);
    static SceneCamera panned(const SceneCamera& camera, QPointF drag, QSize view);
    static SceneCamera zoomed(const SceneCamera& camera, double steps);

private:
    template <typename Move>
    void move(QSize view, Move&& apply);

    StartCamera m_start;
    mutable std::mutex m_mutex;
    std::optional<SceneCamera> m_user;  // under m_mutex
};

}  // namespace orvanta::render_window
