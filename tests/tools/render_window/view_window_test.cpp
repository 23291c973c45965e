// The render window's view moved with the mouse and keys, through Qt's event simulation on the
// offscreen platform: a left drag orbits the host's camera around its target at its distance, a
// Shift + left or middle drag pans eye and target by one vector, a wheel notch scales the distance
// by the step factor, Home and H snap back to the host's camera exactly. The window's frame and
// the exported PNG show the user's view once moved, and the host's camera again after the
// snap-back, its latest one when the host sent another meanwhile.
#include <QCoreApplication>
#include <QGuiApplication>
#include <QImage>
#include <QPoint>
#include <QTemporaryDir>
#include <QTest>
#include <QVector3D>
#include <QWheelEvent>
#include <QtMath>

#include <algorithm>
#include <array>
#include <cmath>
#include <optional>

#include <gtest/gtest.h>

#include "tests/support/scoped_variable.h"
#include "tests/tools/render_window/render_test_scenes.h"
#include "tools/render_window/render_log.h"
#include "tools/render_window/scene_export.h"
#include "tools/render_window/scene_store.h"
#include "tools/render_window/scene_view.h"
#include "tools/render_window/view_navigation.h"
#include "tools/render_window/view_window.h"

namespace {

using namespace orvanta::render_window;
using xel::test::ScopedVariable;

QVector3D vector(const std::array<float, 3>& values) {
    return {values[0], values[1], values[2]};
}

double degreesBetween(const QVector3D& a, const QVector3D& b) {
    const double cosine = QVector3D::dotProduct(a.normalized(), b.normalized());
    return qRadiansToDegrees(std::acos(std::clamp(cosine, -1.0, 1.0)));
}

SceneCamera cameraAt(QVector3D eye, QVector3D target) {
    SceneCamera camera;
    camera.eye = {eye.x(), eye.y(), eye.z()};
    camera.target = {target.x(), target.y(), target.z()};
    camera.up = {0, 0, 1};
    camera.perspective = true;
    camera.fieldOfViewDegrees = 40;
    return camera;
}

const QVector3D kTarget(0.5f, 0, 0.3f);
const QVector3D kEye(6, -8, 4);

// A window of 320 x 200 showing a flat square and a standing one through the host's camera, its
// navigation wired as the render window wires it, and an exporter of 160 x 100 pictures.
class ViewWindowMoves : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_folder.isValid());
        test::addTwoSquares(m_store);
        m_store.setCamera(cameraAt(kEye, kTarget));
        {
            const ScopedVariable size(SceneExporter::kSizeVariable, "160x100");
            const ScopedVariable snapshots(SceneExporter::kSnapshotsVariable, QByteArray());
            m_exporter.emplace(m_store, m_log, &m_navigation);
        }
        m_window.emplace(
            [this](QSize size) {
                ++m_renders;
                return renderScene(m_navigation.applyTo(m_store.snapshot()), size);
            },
            [] {});
        m_window->setNavigation(&m_navigation);
        m_window->resize(320, 200);
        m_window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&*m_window));
        settle();
        ASSERT_FALSE(m_window->image().isNull());
        ASSERT_EQ(m_window->size(), QSize(320, 200));
    }

    // Lets the queued renders run.
    void settle() {
        for (int i = 0; i < 3; ++i)
            QCoreApplication::processEvents();
    }

    // What the host's camera shows in the window now.
    QImage hostFrame() const { return renderScene(m_store.snapshot(), pixelSize()); }
    QSize pixelSize() const { return m_window->image().size(); }
    QImage frame() const { return m_window->image().convertToFormat(QImage::Format_RGB32); }

    // The exporter's picture, read back from its file.
    QImage exported(const char* name) {
        const QString path = m_folder.filePath(QString::fromLatin1(name));
        EXPECT_TRUE(m_exporter->exportScene(path));
        return QImage(path).convertToFormat(QImage::Format_RGB32);
    }

    void drag(Qt::MouseButton button, Qt::KeyboardModifiers modifiers, QPoint from, QPoint to) {
        QTest::mousePress(&*m_window, button, modifiers, from);
        // Two moves and the release at the end: the drag is the sum of its stretches.
        const QPoint middle = from + (to - from) / 2;
        QTest::mouseMove(&*m_window, middle);
        QTest::mouseMove(&*m_window, to);
        QTest::mouseRelease(&*m_window, button, modifiers, to);
        settle();
    }

    void wheel(int angleDelta) {
        const QPoint at(160, 100);
        QWheelEvent event(at, m_window->mapToGlobal(at), QPoint(), QPoint(0, angleDelta),
                          Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QCoreApplication::sendEvent(&*m_window, &event);
        EXPECT_TRUE(event.isAccepted());
        settle();
    }

    SceneCamera user() const {
        const std::optional<SceneCamera> camera = m_navigation.userCamera();
        EXPECT_TRUE(camera.has_value());
        return camera.value_or(SceneCamera());
    }

    QTemporaryDir m_folder;
    RenderLog m_log;
    SceneStore m_store;
    ViewNavigation m_navigation{
        [this](QSize size) { return startCamera(m_store.snapshot(), size); }};
    std::optional<SceneExporter> m_exporter;
    int m_renders = 0;
    std::optional<ViewWindow> m_window;
};

TEST_F(ViewWindowMoves, ShowsTheHostsCameraBeforeAnyMove) {
    EXPECT_FALSE(m_navigation.moved());
    EXPECT_EQ(frame(), hostFrame());
    EXPECT_EQ(exported("host.png"), renderScene(m_store.snapshot(), QSize(160, 100)));
}

TEST_F(ViewWindowMoves, LeftDragOrbitsAroundTheTargetKeepingTheDistance) {
    const QImage hostPicture = exported("host.png");
    const int rendersBefore = m_renders;
    // 60 pixels right: the eye turns 24 degrees clockwise (seen from above) about the vertical
    // through the target, at its height.
    drag(Qt::LeftButton, Qt::NoModifier, QPoint(100, 100), QPoint(160, 100));
    ASSERT_TRUE(m_navigation.moved());
    SceneCamera moved = user();
    const QVector3D before = kEye - kTarget;
    QVector3D after = vector(moved.eye) - kTarget;
    EXPECT_EQ(vector(moved.target), kTarget);
    EXPECT_NEAR(after.length(), before.length(), 1e-4);
    EXPECT_NEAR(after.z(), before.z(), 1e-4);
    const QVector3D beforeFlat(before.x(), before.y(), 0);
    const QVector3D afterFlat(after.x(), after.y(), 0);
    EXPECT_NEAR(degreesBetween(beforeFlat, afterFlat), 60 * ViewNavigation::kOrbitDegreesPerPixel,
                1e-3);
    EXPECT_LT(QVector3D::crossProduct(beforeFlat, afterFlat).z(), 0) << "clockwise from above";

    // The frame and the export show the user's view.
    EXPECT_GT(m_renders, rendersBefore);
    EXPECT_NE(frame(), hostFrame());
    EXPECT_EQ(frame(), renderScene(m_navigation.applyTo(m_store.snapshot()), pixelSize()));
    const QImage userPicture = exported("user.png");
    EXPECT_NE(userPicture, hostPicture);
    EXPECT_EQ(userPicture, renderScene(m_navigation.applyTo(m_store.snapshot()), QSize(160, 100)));

    // 50 pixels down: the eye rises 20 degrees towards the top, at its distance.
    const double polar = degreesBetween(after, QVector3D(0, 0, 1));
    drag(Qt::LeftButton, Qt::NoModifier, QPoint(160, 50), QPoint(160, 100));
    moved = user();
    after = vector(moved.eye) - kTarget;
    EXPECT_NEAR(after.length(), before.length(), 1e-4);
    EXPECT_NEAR(degreesBetween(after, QVector3D(0, 0, 1)),
                polar - 50 * ViewNavigation::kOrbitDegreesPerPixel, 1e-2);
}

TEST_F(ViewWindowMoves, ShiftLeftDragAndMiddleDragPanEyeAndTargetByOneVector) {
    const QVector3D forward = (kTarget - kEye).normalized();
    // The window's height shows 2 d tan(20 degrees) at the target's depth.
    const double perPixel = 2 * (kEye - kTarget).length() * std::tan(qDegreesToRadians(20.0)) / 200;

    drag(Qt::LeftButton, Qt::ShiftModifier, QPoint(100, 100), QPoint(140, 100));
    SceneCamera moved = user();
    QVector3D eyeShift = vector(moved.eye) - kEye;
    QVector3D targetShift = vector(moved.target) - kTarget;
    EXPECT_NEAR((eyeShift - targetShift).length(), 0, 1e-5);
    EXPECT_NEAR(eyeShift.length(), 40 * perPixel, 1e-4);
    EXPECT_NEAR(QVector3D::dotProduct(eyeShift, forward), 0, 1e-5) << "across the view";
    // Dragging right moves the camera to its left: the world follows the pointer.
    const QVector3D right = QVector3D::crossProduct(forward, QVector3D(0, 0, 1)).normalized();
    EXPECT_NEAR(QVector3D::dotProduct(eyeShift, right), -40 * perPixel, 1e-4);
    EXPECT_NE(frame(), hostFrame());

    // Then 30 pixels up with the middle button: the camera goes down in the view's plane.
    const QVector3D eyeBefore = vector(moved.eye);
    const QVector3D targetBefore = vector(moved.target);
    drag(Qt::MiddleButton, Qt::NoModifier, QPoint(100, 100), QPoint(100, 70));
    moved = user();
    eyeShift = vector(moved.eye) - eyeBefore;
    targetShift = vector(moved.target) - targetBefore;
    EXPECT_NEAR((eyeShift - targetShift).length(), 0, 1e-5);
    EXPECT_NEAR(eyeShift.length(), 30 * perPixel, 1e-4);
    const QVector3D viewUp = QVector3D::crossProduct(right, forward);
    EXPECT_NEAR(QVector3D::dotProduct(eyeShift, viewUp), -30 * perPixel, 1e-4);
}

TEST_F(ViewWindowMoves, AWheelNotchScalesTheDistanceToTheTargetByTheStepFactor) {
    const double distance = (kEye - kTarget).length();
    const double factor = ViewNavigation::kZoomFactorPerStep;
    wheel(120);
    EXPECT_NEAR((vector(user().eye) - kTarget).length(), distance * factor, 1e-4);
    EXPECT_EQ(vector(user().target), kTarget);
    EXPECT_NEAR(degreesBetween(vector(user().eye) - kTarget, kEye - kTarget), 0, 1e-2);
    EXPECT_NE(frame(), hostFrame());
    wheel(240);
    EXPECT_NEAR((vector(user().eye) - kTarget).length(), distance * std::pow(factor, 3), 1e-4);
    // Away again, by as much.
    wheel(-360);
    EXPECT_NEAR((vector(user().eye) - kTarget).length(), distance, 1e-4);
}

TEST_F(ViewWindowMoves, HomeAndHSnapBackToTheHostsCameraExactly) {
    const QImage hostPicture = exported("host.png");
    const QImage hostView = hostFrame();
    for (const Qt::Key key : {Qt::Key_Home, Qt::Key_H}) {
        drag(Qt::LeftButton, Qt::NoModifier, QPoint(50, 50), QPoint(120, 90));
        wheel(120);
        drag(Qt::MiddleButton, Qt::NoModifier, QPoint(50, 50), QPoint(70, 60));
        ASSERT_TRUE(m_navigation.moved());
        EXPECT_NE(frame(), hostView);
        EXPECT_NE(exported("moved.png"), hostPicture);

        QTest::keyClick(&*m_window, key);
        settle();
        EXPECT_FALSE(m_navigation.moved()) << key;
        EXPECT_EQ(m_navigation.applyTo(m_store.snapshot()).camera->eye, m_store.camera()->eye);
        EXPECT_EQ(frame(), hostView) << key;
        EXPECT_EQ(exported("back.png"), hostPicture) << key;
    }
}

TEST_F(ViewWindowMoves, AHostCameraArrivingWhileMovedShowsAfterTheSnapBack) {
    drag(Qt::LeftButton, Qt::NoModifier, QPoint(100, 100), QPoint(200, 100));
    const SceneCamera userView = user();
    const QImage userFrame = frame();
    // The host sends another camera, and the view renders again, as after any scene change.
    m_store.setCamera(cameraAt(QVector3D(-5, -5, 6), QVector3D(0, 0, 0)));
    m_window->requestRender();
    settle();
    EXPECT_EQ(vector(user().eye), vector(userView.eye));
    EXPECT_EQ(frame(), userFrame);
    EXPECT_EQ(exported("user.png"),
              renderScene(m_navigation.applyTo(m_store.snapshot()), QSize(160, 100)));

    QTest::keyClick(&*m_window, Qt::Key_Home);
    settle();
    EXPECT_EQ(frame(), hostFrame());
    EXPECT_NE(frame(), userFrame);
    EXPECT_EQ(exported("host.png"), renderScene(m_store.snapshot(), QSize(160, 100)));
}

TEST_F(ViewWindowMoves, WithoutAHostCameraOrbitsTheFramingViewAroundTheScenesCentre) {
    m_store.clearScene();
    test::addFlatSquare(m_store);
    ASSERT_FALSE(m_store.camera().has_value());
    m_window->requestRender();
    settle();
    const QImage framed = frame();
    const SceneCamera start = startCamera(m_store.snapshot(), m_window->size());
    EXPECT_EQ(vector(start.target), QVector3D(0, 0, 0));

    drag(Qt::LeftButton, Qt::NoModifier, QPoint(100, 100), QPoint(150, 100));
    const SceneCamera moved = user();
    EXPECT_EQ(vector(moved.target), QVector3D(0, 0, 0));
    EXPECT_NEAR(vector(moved.eye).length(), vector(start.eye).length(), 1e-4);
    EXPECT_NEAR(moved.eye[2], start.eye[2], 1e-4);
    EXPECT_NE(frame(), framed);
    QTest::keyClick(&*m_window, Qt::Key_H);
    settle();
    EXPECT_EQ(frame(), framed);
}

TEST_F(ViewWindowMoves, WithoutNavigationTheMouseMovesNothing) {
    m_window->setNavigation(nullptr);
    drag(Qt::LeftButton, Qt::NoModifier, QPoint(100, 100), QPoint(200, 150));
    QWheelEvent event(QPointF(10, 10), m_window->mapToGlobal(QPoint(10, 10)), QPoint(),
                      QPoint(0, 120), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(&*m_window, &event);
    settle();
    EXPECT_FALSE(m_navigation.moved());
    EXPECT_EQ(frame(), hostFrame());
}

}  // namespace

// The window needs a GUI application: on the offscreen platform, so that no display is needed.
// It is never destroyed: Qt's offscreen platform, torn down, leaves its screen behind, which the
// leak checker would report; kept, everything stays reachable.
int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static int applicationArgc = argc;
    static QGuiApplication* const application = new QGuiApplication(applicationArgc, argv);
    (void)application;
    return RUN_ALL_TESTS();
}
