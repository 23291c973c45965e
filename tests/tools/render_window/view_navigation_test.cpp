// The view's moves as camera geometry: an orbit turns the eye around the target at its distance,
// by the angles the drag asks for and no further than the poles; a pan moves eye and target by one
// vector, so that the target's point follows the pointer pixel for pixel in the rasteriser's
// projection; a zoom step scales the distance (and a parallel view's height) by the step factor.
// Then the navigation's state: the host's camera until the user moves, the user's camera from then
// on whatever the host sends, the host's latest after the snap-back.
#include <QMatrix4x4>
#include <QPointF>
#include <QSize>
#include <QVector3D>
#include <QVector4D>
#include <QtMath>

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

#include <gtest/gtest.h>

#include "tests/tools/render_window/render_test_scenes.h"
#include "tools/render_window/rasterizer.h"
#include "tools/render_window/scene_store.h"
#include "tools/render_window/scene_view.h"
#include "tools/render_window/view_navigation.h"

namespace {

using namespace orvanta::render_window;

QVector3D vector(const std::array<float, 3>& values) {
    return {values[0], values[1], values[2]};
}

SceneCamera camera(QVector3D eye, QVector3D target, QVector3D up = {0, 0, 1}) {
    SceneCamera result;
    result.eye = {eye.x(), eye.y(), eye.z()};
    result.target = {target.x(), target.y(), target.z()};
    result.up = {up.x(), up.y(), up.z()};
    result.perspective = true;
    result.fieldOfViewDegrees = 40;
    return result;
}

void expectNear(const QVector3D& actual, const QVector3D& expected, float tolerance,
                const char* what) {
    EXPECT_NEAR(actual.x(), expected.x(), tolerance) << what;
    EXPECT_NEAR(actual.y(), expected.y(), tolerance) << what;
    EXPECT_NEAR(actual.z(), expected.z(), tolerance) << what;
}

double distanceOf(const SceneCamera& view) {
    return (vector(view.eye) - vector(view.target)).length();
}

// Degrees between `a` and `b`.
double angleBetween(const QVector3D& a, const QVector3D& b) {
    const double cosine = QVector3D::dotProduct(a.normalized(), b.normalized());
    return qRadiansToDegrees(std::acos(std::clamp(cosine, -1.0, 1.0)));
}

// Where `point` shows in an image of `size` through `view`, in pixels (x right, y down), by the
// rasteriser's conventions: lookAt, then perspective or ortho, row 0 at the top.
QPointF projected(const SceneCamera& view, QSize size, const QVector3D& point) {
    const QVector4D clip = test::viewProjection(viewCamera(view, size), size) * QVector4D(point, 1);
    const double x = clip.x() / clip.w();
    const double y = clip.y() / clip.w();
    return {(x + 1) / 2 * size.width(), (1 - y) / 2 * size.height()};
}

TEST(ViewNavigationOrbit, TurnsTheEyeAboutTheVerticalThroughTheTargetKeepingItsDistance) {
    const QVector3D target(3, 4, 5);
    const SceneCamera host = camera(target + QVector3D(0, -10, 0), target);
    const SceneCamera turned = ViewNavigation::orbited(host, 90, 0);
    // A quarter turn counter-clockwise seen from above: from -Y to +X of the target.
    expectNear(vector(turned.eye), target + QVector3D(10, 0, 0), 1e-4f, "eye");
    expectNear(vector(turned.target), target, 0, "target");
    expectNear(vector(turned.up), QVector3D(0, 0, 1), 1e-5f, "up");
    EXPECT_NEAR(distanceOf(turned), 10, 1e-4);
}

TEST(ViewNavigationOrbit, ADragOfKnownPixelsTurnsByTheDocumentedAngles) {
    const QVector3D target(1, 2, 0);
    const QVector3D offset(0, -8, 0);
    const SceneCamera host = camera(target + offset, target);

    // 100 pixels right: the eye goes left, 40 degrees clockwise seen from above, at its height.
    const SceneCamera right = ViewNavigation::orbitedByDrag(host, QPointF(100, 0));
    const QVector3D rightOffset = vector(right.eye) - target;
    EXPECT_NEAR(rightOffset.length(), 8, 1e-4);
    EXPECT_NEAR(rightOffset.z(), 0, 1e-5);
    EXPECT_NEAR(angleBetween(rightOffset, offset), 100 * ViewNavigation::kOrbitDegreesPerPixel,
                1e-3);
    EXPECT_LT(rightOffset.x(), 0) << "the eye went left";

    // 50 pixels down: the eye rises by 20 degrees in its vertical plane; up turns with it.
    const SceneCamera down = ViewNavigation::orbitedByDrag(host, QPointF(0, 50));
    const double raise = 50 * ViewNavigation::kOrbitDegreesPerPixel;
    expectNear(vector(down.eye) - target,
               QVector3D(0, -8 * std::cos(qDegreesToRadians(raise)),
                         8 * std::sin(qDegreesToRadians(raise))),
               1e-4f, "raised eye");
    // Up, across the line of sight before, turned by the same angle: across it still.
    expectNear(vector(down.up),
               QVector3D(0, std::sin(qDegreesToRadians(raise)), std::cos(qDegreesToRadians(raise))),
               1e-5f, "up");
    EXPECT_NEAR(distanceOf(down), 8, 1e-4);
}

TEST(ViewNavigationOrbit, StopsShortOfThePoles) {
    const SceneCamera host = camera({0, -10, 0}, {0, 0, 0});
    const SceneCamera over = ViewNavigation::orbited(host, 0, 500);
    const double margin = ViewNavigation::kPoleMarginDegrees;
    EXPECT_NEAR(angleBetween(vector(over.eye), {0, 0, 1}), margin, 1e-2);
    EXPECT_NEAR(distanceOf(over), 10, 1e-4);
    const SceneCamera under = ViewNavigation::orbited(host, 0, -500);
    EXPECT_NEAR(angleBetween(vector(under.eye), {0, 0, -1}), margin, 1e-2);
    // Orbiting on keeps turning about the vertical, the elevation kept.
    const SceneCamera turned = ViewNavigation::orbited(over, 45, 0);
    EXPECT_NEAR(turned.eye[2], over.eye[2], 1e-4);
    EXPECT_NEAR(distanceOf(turned), 10, 1e-4);
}

TEST(ViewNavigationOrbit, AViewStraightDownLeavesThePole) {
    // The host's camera looks straight down, up along +Y.
    const SceneCamera host = camera({0, 0, 10}, {0, 0, 0}, {0, 1, 0});
    const SceneCamera lowered = ViewNavigation::orbited(host, 0, -30);
    EXPECT_NEAR(angleBetween(vector(lowered.eye), {0, 0, 1}), 30, 1e-3);
    EXPECT_NEAR(distanceOf(lowered), 10, 1e-4);
    // Further up is no further: it is on the pole already.
    const SceneCamera raised = ViewNavigation::orbited(host, 0, 30);
    expectNear(vector(raised.eye), {0, 0, 10}, 1e-5f, "eye");
}

TEST(ViewNavigationPan, MovesEyeAndTargetByOneVectorSoThatTheTargetFollowsThePointer) {
    const QSize view(400, 300);
    const QVector3D target(2, 1, 0.5f);
    for (const QVector3D& offset :
         {QVector3D(0, -10, 0), QVector3D(6, -7, 5), QVector3D(-3, 2, -4)}) {
        const SceneCamera host = camera(target + offset, target);
        const QPointF drag(37, -21);
        const SceneCamera moved = ViewNavigation::panned(host, drag, view);
        const QVector3D eyeShift = vector(moved.eye) - vector(host.eye);
        const QVector3D targetShift = vector(moved.target) - vector(host.target);
        expectNear(eyeShift, targetShift, 1e-5f, "same vector");
        EXPECT_NEAR(QVector3D::dotProduct(eyeShift, offset.normalized()), 0, 1e-5)
            << "in the view's plane";
        // The world height at the target's depth: 2 d tan(20 degrees), over 300 pixels.
        const double perPixel = 2 * offset.length() * std::tan(qDegreesToRadians(20.0)) / 300;
        EXPECT_NEAR(eyeShift.length(), std::hypot(37.0, 21.0) * perPixel, 1e-4);
        // The old target's point is where the pointer went.
        const QPointF before = projected(host, view, target);
        const QPointF after = projected(moved, view, target);
        EXPECT_NEAR(before.x(), 200, 1e-3);
        EXPECT_NEAR(before.y(), 150, 1e-3);
        EXPECT_NEAR(after.x() - before.x(), drag.x(), 1e-2);
        EXPECT_NEAR(after.y() - before.y(), drag.y(), 1e-2);
    }
}

TEST(ViewNavigationPan, FollowsThePointerInAWidenedAndInAParallelView) {
    const QVector3D target(0, 0, 0);
    SceneCamera wide = camera({4, -9, 3}, target);
    wide.aspect = 3;  // wider than the 400x300 view: the field is widened
    SceneCamera parallel = camera({4, -9, 3}, target);
    parallel.perspective = false;
    parallel.parallelHeight = 12;
    const QSize view(400, 300);
    const QPointF drag(-15, 40);
    for (const SceneCamera& host : {wide, parallel}) {
        const SceneCamera moved = ViewNavigation::panned(host, drag, view);
        const QPointF before = projected(host, view, target);
        const QPointF after = projected(moved, view, target);
        EXPECT_NEAR(after.x() - before.x(), drag.x(), 1e-2);
        EXPECT_NEAR(after.y() - before.y(), drag.y(), 1e-2);
    }
    const SceneCamera moved = ViewNavigation::panned(parallel, drag, view);
    EXPECT_NEAR((vector(moved.eye) - vector(parallel.eye)).length(),
                std::hypot(15.0, 40.0) * 12 / 300, 1e-4);
}

TEST(ViewNavigationZoom, ScalesTheDistanceByTheStepFactorAlongTheSameLine) {
    const QVector3D target(1, 1, 1);
    const QVector3D offset(3, -4, 12);  // length 13
    const SceneCamera host = camera(target + offset, target);
    const double factor = ViewNavigation::kZoomFactorPerStep;
    for (double steps : {1.0, 2.0, 0.5, -1.0, -3.0}) {
        const SceneCamera zoomed = ViewNavigation::zoomed(host, steps);
        EXPECT_NEAR(distanceOf(zoomed), 13 * std::pow(factor, steps), 1e-4) << steps;
        expectNear(vector(zoomed.target), target, 0, "target");
        EXPECT_NEAR(angleBetween(vector(zoomed.eye) - target, offset), 0, 1e-2) << steps;
    }
    // Zoomed in and out again: where it began.
    const SceneCamera back = ViewNavigation::zoomed(ViewNavigation::zoomed(host, 3), -3);
    expectNear(vector(back.eye), vector(host.eye), 1e-4f, "eye");
    // Never onto the target.
    const SceneCamera close = ViewNavigation::zoomed(host, 1000);
    EXPECT_NEAR(distanceOf(close), ViewNavigation::kMinDistance, 1e-6);
}

TEST(ViewNavigationZoom, ShrinksAParallelViewsHeight) {
    SceneCamera parallel = camera({0, -10, 0}, {0, 0, 0});
    parallel.perspective = false;
    parallel.parallelHeight = 20;
    const SceneCamera zoomed = ViewNavigation::zoomed(parallel, 1);
    EXPECT_NEAR(zoomed.parallelHeight, 20 * ViewNavigation::kZoomFactorPerStep, 1e-5);
    EXPECT_NEAR(distanceOf(zoomed), 10 * ViewNavigation::kZoomFactorPerStep, 1e-5);
}

TEST(ViewNavigationMoves, LeaveAnUnusableCameraAsItIs) {
    const SceneCamera still = camera({1, 2, 3}, {1, 2, 3});
    for (const SceneCamera& moved :
         {ViewNavigation::orbited(still, 30, 30), ViewNavigation::panned(still, {5, 5}, {10, 10}),
          ViewNavigation::zoomed(still, 1)}) {
        expectNear(vector(moved.eye), {1, 2, 3}, 0, "eye");
        expectNear(vector(moved.target), {1, 2, 3}, 0, "target");
    }
}

TEST(ViewNavigationState, ShowsTheHostsCameraUntilTheUserMovesAndAfterTheSnapBack) {
    SceneCamera host = camera({0, -10, 0}, {0, 0, 0});
    std::vector<QSize> asked;
    ViewNavigation navigation([&](QSize size) {
        asked.push_back(size);
        return host;
    });
    SceneSnapshot scene;
    scene.camera = host;
    EXPECT_FALSE(navigation.moved());
    EXPECT_FALSE(navigation.userCamera().has_value());
    EXPECT_EQ(vector(navigation.applyTo(scene).camera->eye), vector(host.eye));

    // The first move starts from the host's camera, for the view's size.
    navigation.orbit(QPointF(100, 0), QSize(640, 480));
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0], QSize(640, 480));
    ASSERT_TRUE(navigation.moved());
    const SceneCamera orbited = ViewNavigation::orbitedByDrag(host, QPointF(100, 0));
    EXPECT_EQ(vector(navigation.userCamera()->eye), vector(orbited.eye));
    // Later moves start from the user's camera.
    navigation.zoom(1, QSize(640, 480));
    EXPECT_EQ(asked.size(), 1u);
    const SceneCamera zoomed = ViewNavigation::zoomed(orbited, 1);
    EXPECT_EQ(vector(navigation.userCamera()->eye), vector(zoomed.eye));

    // The host's new camera: the user's view stays.
    host = camera({5, 5, 5}, {0, 0, 0});
    scene.camera = host;
    EXPECT_EQ(vector(navigation.applyTo(scene).camera->eye), vector(zoomed.eye));
    navigation.pan(QPointF(3, 4), QSize(640, 480));
    EXPECT_EQ(asked.size(), 1u);

    // The snap-back: the host's latest camera again.
    EXPECT_TRUE(navigation.snapBack());
    EXPECT_FALSE(navigation.moved());
    EXPECT_EQ(vector(navigation.applyTo(scene).camera->eye), QVector3D(5, 5, 5));
    EXPECT_FALSE(navigation.snapBack());
}

// A square [-1, 1]^2 at z = 0 and a smaller one standing at x = 2.
SceneSnapshot twoSquares() {
    SceneStore store;
    test::addTwoSquares(store);
    return store.snapshot();
}

TEST(ViewNavigationStart, WithoutAHostCameraStartsFromTheFramingView) {
    const SceneSnapshot scene = twoSquares();
    const QSize size(160, 100);
    SceneSnapshot started = scene;
    started.camera = startCamera(scene, size);
    // The start camera shows what the framing view shows, pixel for pixel.
    EXPECT_EQ(renderScene(started, size), renderScene(scene, size));
    // With a camera, the start is that camera.
    SceneSnapshot withCamera = scene;
    withCamera.camera = camera({0, -10, 3}, {0, 0, 0});
    EXPECT_EQ(vector(startCamera(withCamera, size).eye), QVector3D(0, -10, 3));
}

}  // namespace
