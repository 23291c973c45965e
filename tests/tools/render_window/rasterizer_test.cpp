// The render window's software rasteriser: coverage, depth order, section planes, near-plane
// clipping, watertight shared edges, malformed meshes and the framing camera. Expected pixels come
// from projecting the test's own geometry with Qt's matrices.
#include <QColor>
#include <QImage>
#include <QMatrix4x4>
#include <QPoint>
#include <QSet>
#include <QVector4D>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include <gtest/gtest.h>

#include "tests/tools/render_window/render_test_scenes.h"
#include "tools/render_window/rasterizer.h"

namespace {

using namespace orvanta::render_window;
using orvanta::render_window::test::viewProjection;

const QColor kBackground(20, 30, 40);

// Arrays sized exactly to what they hold, so that any read past them shows under ASan.
struct Geometry {
    std::vector<float> positions;
    std::vector<float> normals;
    std::vector<std::int32_t> indices;

    void vertex(const QVector3D& p, const QVector3D& n = QVector3D()) {
        positions.insert(positions.end(), {p.x(), p.y(), p.z()});
        normals.insert(normals.end(), {n.x(), n.y(), n.z()});
    }
    void triangle(int a, int b, int c) { indices.insert(indices.end(), {a, b, c}); }

    RasterMesh mesh(const QColor& colour, bool withNormals = false) const {
        RasterMesh m;
        m.positions = positions.data();
        m.normals = withNormals ? normals.data() : nullptr;
        m.indices = indices.data();
        m.vertexCount = static_cast<int>(positions.size() / 3);
        m.indexCount = static_cast<int>(indices.size());
        m.colour = colour;
        return m;
    }
};

// A cube of side 1 around the origin, four vertices per face carrying the face's normal.
Geometry cube() {
    Geometry g;
    for (int axis = 0; axis < 3; ++axis) {
        for (float sign : {-1.0f, 1.0f}) {
            QVector3D n;
            n[axis] = sign;
            QVector3D u;
            u[(axis + 1) % 3] = 0.5f;
            QVector3D v;
            v[(axis + 2) % 3] = 0.5f;
            const int base = static_cast<int>(g.positions.size() / 3);
            g.vertex(n * 0.5f - u - v, n);
            g.vertex(n * 0.5f + u - v, n);
            g.vertex(n * 0.5f + u + v, n);
            g.vertex(n * 0.5f - u + v, n);
            g.triangle(base, base + 1, base + 2);
            g.triangle(base, base + 2, base + 3);
        }
    }
    return g;
}

// The square [x0, x1] x [y0, y1] at height z, facing +Z.
Geometry square(float x0, float x1, float y0, float y1, float z) {
    Geometry g;
    g.vertex({x0, y0, z});
    g.vertex({x1, y0, z});
    g.vertex({x1, y1, z});
    g.vertex({x0, y1, z});
    g.triangle(0, 1, 2);
    g.triangle(0, 2, 3);
    return g;
}

RasterCamera lookingAt(const QVector3D& eye, const QVector3D& target, const QVector3D& up) {
    RasterCamera camera;
    camera.eye = eye;
    camera.target = target;
    camera.up = up;
    return camera;
}

// Image coordinates (not rounded) of a world point.
QPointF project(const RasterCamera& camera, QSize size, const QVector3D& p) {
    const QVector4D clip = viewProjection(camera, size) * QVector4D(p, 1);
    return {(clip.x() / clip.w() + 1) / 2 * size.width(),
            (1 - clip.y() / clip.w()) / 2 * size.height()};
}

QPoint pixelOf(const RasterCamera& camera, QSize size, const QVector3D& p) {
    const QPointF at = project(camera, size, p);
    return {static_cast<int>(std::floor(at.x())), static_cast<int>(std::floor(at.y()))};
}

QColor pixel(const QImage& image, QPoint at) {
    return image.pixelColor(at);
}

// `colour` on a surface with unit normal `n`, lit from both sides by a light along `toEye`.
QColor lit(const QColor& colour, const QVector3D& n, const QVector3D& toEye) {
    const float shade = 0.25f + 0.75f * std::abs(QVector3D::dotProduct(n, toEye.normalized()));
    return QColor(qRound(colour.red() * shade), qRound(colour.green() * shade),
                  qRound(colour.blue() * shade));
}

void expectNear(const QColor& actual, const QColor& expected, const char* where) {
    EXPECT_NEAR(actual.red(), expected.red(), 1) << where;
    EXPECT_NEAR(actual.green(), expected.green(), 1) << where;
    EXPECT_NEAR(actual.blue(), expected.blue(), 1) << where;
}

int countNot(const QImage& image, const QColor& colour) {
    int count = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x)
            count += image.pixelColor(x, y) != colour ? 1 : 0;
    }
    return count;
}

TEST(RasterizerTest, CubeCoversTheCentreAndShadesEachFaceByItsTurnedNormal) {
    const Geometry geometry = cube();
    const QColor colour(200, 150, 100);
    const QSize size(160, 120);
    const RasterCamera camera = lookingAt({2.5f, -3.5f, 2.0f}, {0, 0, 0}, {0, 0, 1});
    QMatrix4x4 turn;
    turn.rotate(-30, 0, 0, 1);
    for (bool withNormals : {false, true}) {
        SCOPED_TRACE(withNormals ? "vertex normals" : "face normals");
        RasterMesh mesh = geometry.mesh(colour, withNormals);
        mesh.toWorld = turn;
        const QImage image = render({mesh}, camera, {}, size, kBackground);

        ASSERT_EQ(image.size(), size);
        EXPECT_NE(pixel(image, {80, 60}), kBackground);
        for (QPoint corner : {QPoint(0, 0), QPoint(159, 0), QPoint(0, 119), QPoint(159, 119)})
            EXPECT_EQ(pixel(image, corner), kBackground);
        // The three faces towards the eye, each lit by how squarely it faces the eye.
        for (const QVector3D& n : {QVector3D(1, 0, 0), QVector3D(0, -1, 0), QVector3D(0, 0, 1)}) {
            const QVector3D turned = turn.mapVector(n);
            const QPoint at = pixelOf(camera, size, turned * 0.5f);
            expectNear(pixel(image, at), lit(colour, turned, camera.eye - camera.target),
                       "face centre");
        }
    }
}

TEST(RasterizerTest, NearerSquareWinsWhicheverIsDrawnFirst) {
    const Geometry far = square(-1, 1, -1, 1, 0);
    const Geometry near = square(0, 2, -1, 1, 1);
    const QColor red(220, 30, 30);
    const QColor green(30, 200, 60);
    const QSize size(120, 90);
    RasterCamera perspective = lookingAt({0, 0, 10}, {0, 0, 0}, {0, 1, 0});
    RasterCamera orthographic = perspective;
    orthographic.perspective = false;
    orthographic.orthographicHeight = 6;
    for (const RasterCamera& camera : {perspective, orthographic}) {
        SCOPED_TRACE(camera.perspective ? "perspective" : "orthographic");
        const QImage nearFirst =
            render({near.mesh(green), far.mesh(red)}, camera, {}, size, kBackground);
        const QImage farFirst =
            render({far.mesh(red), near.mesh(green)}, camera, {}, size, kBackground);

        EXPECT_EQ(nearFirst, farFirst);
        EXPECT_EQ(pixel(farFirst, pixelOf(camera, size, {0.5f, 0, 1})), green);
        EXPECT_EQ(pixel(farFirst, pixelOf(camera, size, {-0.5f, 0, 0})), red);
        EXPECT_EQ(pixel(nearFirst, pixelOf(camera, size, {1.5f, 0, 1})), green);
    }
}

TEST(RasterizerTest, SectionPlaneCutsAwayTheHalfBehindIt) {
    const Geometry geometry = cube();
    const QSize size(101, 101);
    const RasterCamera camera = lookingAt({0, -5, 0}, {0, 0, 0}, {0, 0, 1});
    const RasterMesh mesh = geometry.mesh(QColor(180, 180, 180));
    const QImage whole = render({mesh}, camera, {}, size, kBackground);
    const QImage cut = render({mesh}, camera, {{{0, 0, 0}, {1, 0, 0}}}, size, kBackground);

    // x = 0 projects onto x = 50.5: pixel centres left of it see only x < 0.
    ASSERT_DOUBLE_EQ(project(camera, size, {0, 0, 0}).x(), 50.5);
    const QPoint leftHalf = pixelOf(camera, size, {-0.25f, -0.5f, 0});
    EXPECT_NE(pixel(whole, leftHalf), kBackground);
    EXPECT_EQ(pixel(cut, leftHalf), kBackground);
    EXPECT_NE(pixel(cut, pixelOf(camera, size, {0.25f, -0.5f, 0})), kBackground);
    for (int y = 0; y < size.height(); ++y) {
        for (int x = 0; x < 50; ++x)
            ASSERT_EQ(cut.pixelColor(x, y), kBackground) << x << "," << y;
        for (int x = 51; x < size.width(); ++x)
            ASSERT_EQ(cut.pixelColor(x, y), whole.pixelColor(x, y)) << x << "," << y;
    }
}

TEST(RasterizerTest, TriangleReachingBehindTheEyeShowsOnlyItsPartInFront) {
    const QSize size(64, 48);
    const RasterCamera camera = lookingAt({0, 0, 0}, {0, 1, 0}, {0, 0, 1});
    Geometry crossing;
    crossing.vertex({0, 5, 0});
    crossing.vertex({-1, -5, -1});
    crossing.vertex({1, -5, -1});
    crossing.triangle(0, 1, 2);
    Geometry behind;
    behind.vertex({-1, -5, -1});
    behind.vertex({1, -5, -1});
    behind.vertex({0, -3, 1});
    behind.triangle(0, 1, 2);
    // Seen edge-on from its corner at the eye: at most a line.
    Geometry throughTheEye;
    throughTheEye.vertex({0, 0, 0});
    throughTheEye.vertex({1, 4, -1});
    throughTheEye.vertex({-1, 4, -1});
    throughTheEye.triangle(0, 1, 2);
    const QColor colour(250, 200, 0);

    const QImage image =
        render({crossing.mesh(colour), behind.mesh(colour)}, camera, {}, size, kBackground);
    // All of the crossing triangle lies at or below eye height: above the horizon (row 24) is
    // background, and a point in front on it is drawn.
    for (int y = 0; y < 24; ++y) {
        for (int x = 0; x < size.width(); ++x)
            ASSERT_EQ(image.pixelColor(x, y), kBackground) << x << "," << y;
    }
    EXPECT_NE(pixel(image, pixelOf(camera, size, {0, 2, -0.3f})), kBackground);

    const QImage onlyBehind = render({behind.mesh(colour)}, camera, {}, size, kBackground);
    EXPECT_EQ(countNot(onlyBehind, kBackground), 0);

    const QImage touching = render({throughTheEye.mesh(colour)}, camera, {}, size, kBackground);
    EXPECT_LE(countNot(touching, kBackground), size.width());
}

// The square [low, high]^2 at z = 0 as n x n cells of two triangles each, the cell diagonals
// alternating and every other cell wound the other way round. Inner vertices move by up to
// `jitter` cells, so that shared edges run at many slopes.
Geometry grid(int n, float low, float high, float jitter) {
    Geometry g;
    std::uint32_t state = 12345;
    const auto shift = [&state, jitter]() {
        state = state * 1664525u + 1013904223u;
        return (static_cast<float>(state >> 8) / static_cast<float>(1 << 24) - 0.5f) * jitter;
    };
    const float cell = (high - low) / static_cast<float>(n);
    for (int j = 0; j <= n; ++j) {
        for (int i = 0; i <= n; ++i) {
            const bool inner = i > 0 && i < n && j > 0 && j < n;
            g.vertex({low + cell * (static_cast<float>(i) + (inner ? shift() : 0)),
                      low + cell * (static_cast<float>(j) + (inner ? shift() : 0)), 0});
        }
    }
    for (int j = 0; j < n; ++j) {
        for (int i = 0; i < n; ++i) {
            const int a = j * (n + 1) + i;
            const int b = a + 1;
            const int c = a + n + 2;
            const int d = a + n + 1;
            if ((i + j) % 2 == 0) {
                g.triangle(a, b, c);
                g.triangle(a, c, d);
            } else {
                g.triangle(a, d, b);
                g.triangle(d, c, b);
            }
        }
    }
    return g;
}

QColor halfSeen(const QColor& colour) {
    QColor translucent = colour;
    translucent.setAlphaF(0.5);
    return translucent;
}

// `colour` at alpha 0.5 over the background.
QColor blendedOnce(const QColor& colour) {
    return QColor(qRound((colour.red() + kBackground.red()) * 0.5),
                  qRound((colour.green() + kBackground.green()) * 0.5),
                  qRound((colour.blue() + kBackground.blue()) * 0.5));
}

TEST(RasterizerTest, TrianglesSharingEdgesCoverEveryPixelOnce) {
    const QSize size(200, 160);
    const RasterCamera camera = lookingAt({0.1f, 0.05f, 4}, {0.1f, 0.05f, 0}, {0, 1, 0});
    const QColor colour(90, 180, 60);
    const QColor blended = blendedOnce(colour);
    const QPointF low = project(camera, size, {-1, 1, 0});
    const QPointF high = project(camera, size, {1, -1, 0});
    for (int n : {1, 13}) {
        SCOPED_TRACE(n);
        const Geometry g = grid(n, -1, 1, 0.4f);
        const QImage opaque = render({g.mesh(colour)}, camera, {}, size, kBackground);
        const QImage translucent =
            render({g.mesh(halfSeen(colour))}, camera, {}, size, kBackground);
        int inside = 0;
        for (int y = static_cast<int>(low.y()) + 1; y < static_cast<int>(high.y()) - 1; ++y) {
            for (int x = static_cast<int>(low.x()) + 1; x < static_cast<int>(high.x()) - 1; ++x) {
                ++inside;
                ASSERT_EQ(opaque.pixelColor(x, y), colour) << x << "," << y;
                expectNear(translucent.pixelColor(x, y), blended, "translucent");
            }
        }
        EXPECT_GT(inside, 5000);
    }
}

TEST(RasterizerTest, EdgesThroughPixelCentresKeepOnlyTheirTopAndLeftPixels) {
    // One world unit per pixel; vertices on pixel centres, so that every edge, shared or outer,
    // runs through pixel centres.
    const QSize size(64, 64);
    RasterCamera camera = lookingAt({0, 0, 5}, {0, 0, 0}, {0, 1, 0});
    camera.perspective = false;
    camera.orthographicHeight = 64;
    const QColor colour(200, 100, 150);
    const QColor blended = blendedOnce(colour);
    const Geometry g = grid(10, -19.5f, 20.5f, 0);
    const QPointF topLeft = project(camera, size, {-19.5f, 20.5f, 0});
    const QPointF bottomRight = project(camera, size, {20.5f, -19.5f, 0});
    ASSERT_EQ(topLeft, QPointF(12.5, 11.5));

    const QImage opaque = render({g.mesh(colour)}, camera, {}, size, kBackground);
    const QImage translucent = render({g.mesh(halfSeen(colour))}, camera, {}, size, kBackground);
    for (int y = 0; y < size.height(); ++y) {
        for (int x = 0; x < size.width(); ++x) {
            const double cx = x + 0.5;
            const double cy = y + 0.5;
            const bool covered = topLeft.x() <= cx && cx < bottomRight.x() && topLeft.y() <= cy &&
                                 cy < bottomRight.y();
            ASSERT_EQ(opaque.pixelColor(x, y), covered ? colour : kBackground) << x << "," << y;
            const QColor seen = translucent.pixelColor(x, y);
            ASSERT_EQ(seen == kBackground, !covered) << x << "," << y;
            if (covered)
                expectNear(seen, blended, "translucent");
        }
    }
}

// `colour` (alpha its opacity) on a surface facing the eye, over `under`, rounded to 8 bits as a
// picture keeps it.
QColor over(const QColor& under, const QColor& colour) {
    const double a = colour.alphaF();
    return QColor(qRound(colour.red() * a + under.red() * (1 - a)),
                  qRound(colour.green() * a + under.green() * (1 - a)),
                  qRound(colour.blue() * a + under.blue() * (1 - a)));
}

struct BlendView {
    const char* name;
    RasterCamera camera;
    float backdropZ;  // an opaque square beyond the translucent ones, seen from this camera
};

// Three translucent squares, placed by their toWorld at z = 0, 1 and 2 over one another, given in
// every order, and an opaque backdrop given last: whatever the order, the picture is the backdrop
// with the squares blended over it one by one from the farthest to the nearest.
TEST(RasterizerTest, TranslucentMeshesBlendBackToFrontWhateverTheirOrder) {
    const QSize size(120, 90);
    const Geometry unit = square(-1, 1, -1, 1, 0);
    const Geometry backdrop = square(-3, 3, -3, 3, 0);
    const QColor backdropColour(100, 110, 120);
    const QColor colours[3] = {QColor(220, 30, 30, 128), QColor(30, 200, 60, 153),
                               QColor(30, 60, 220, 102)};
    const float heights[3] = {0, 1, 2};
    RasterCamera above = lookingAt({0, 0, 10}, {0, 0, 0}, {0, 1, 0});
    RasterCamera aboveParallel = above;
    aboveParallel.perspective = false;
    aboveParallel.orthographicHeight = 6;
    const BlendView views[] = {{"from above", above, -1},
                               {"from above, parallel", aboveParallel, -1},
                               {"from below", lookingAt({0, 0, -10}, {0, 0, 0}, {0, 1, 0}), 3}};
    for (const BlendView& view : views) {
        SCOPED_TRACE(view.name);
        // Far to near: from above the lowest square first, from below the highest.
        const bool fromAbove = view.camera.eye.z() > 0;
        QColor expected = backdropColour;
        for (int k = 0; k < 3; ++k)
            expected = over(expected, colours[fromAbove ? k : 2 - k]);

        int order[3] = {0, 1, 2};
        do {
            SCOPED_TRACE(::testing::Message() << order[0] << order[1] << order[2]);
            std::vector<RasterMesh> meshes;
            for (int k : order) {
                RasterMesh mesh = unit.mesh(colours[k]);
                mesh.toWorld.translate(0, 0, heights[k]);
                meshes.push_back(mesh);
            }
            RasterMesh back = backdrop.mesh(backdropColour);
            back.toWorld.translate(0, 0, view.backdropZ);
            meshes.push_back(back);
            const QImage image = render(meshes, view.camera, {}, size, kBackground);
            expectNear(pixel(image, pixelOf(view.camera, size, {0.1f, 0.1f, 0})), expected,
                       "where all three squares overlap");
        } while (std::next_permutation(order, order + 3));
    }
}

TEST(RasterizerTest, MalformedMeshesAreSkippedWithoutReadingPastTheirArrays) {
    const QSize size(80, 60);
    const RasterCamera camera = lookingAt({0, 0, 5}, {0, 0, 0}, {0, 1, 0});
    const QColor colour(100, 100, 250);
    // A square of two triangles, a fifth vertex that is not a number, and triangles reaching
    // past the vertices, before them, through the bad vertex, and one left incomplete.
    Geometry geometry = square(-1, 1, -1, 1, 0);
    geometry.vertex({std::numeric_limits<float>::quiet_NaN(), 0, 0});
    geometry.triangle(0, 1, 5);
    geometry.triangle(-1, 1, 2);
    geometry.triangle(2, 3, std::numeric_limits<std::int32_t>::max());
    geometry.triangle(4, 1, 2);
    geometry.indices.insert(geometry.indices.end(), {0, 1});

    RasterMesh noVertices = geometry.mesh(colour);
    noVertices.vertexCount = 0;
    RasterMesh negative = geometry.mesh(colour);
    negative.indexCount = -3;
    RasterMesh noArrays;
    noArrays.vertexCount = 3;
    noArrays.indexCount = 3;
    const std::vector<RasterMesh> meshes = {noVertices, negative, noArrays,
                                            geometry.mesh(colour, true)};
    const QImage image = render(meshes, camera, {}, size, kBackground);

    // Both halves of the square are there, nothing else.
    EXPECT_EQ(pixel(image, pixelOf(camera, size, {0.5f, -0.5f, 0})), colour);
    EXPECT_EQ(pixel(image, pixelOf(camera, size, {-0.5f, 0.5f, 0})), colour);
    EXPECT_EQ(pixel(image, {0, 0}), kBackground);

    const QImage empty = render({}, camera, {}, size, kBackground);
    EXPECT_EQ(empty.size(), size);
    EXPECT_EQ(countNot(empty, kBackground), 0);
    EXPECT_TRUE(render(meshes, camera, {}, QSize(0, 10), kBackground).isNull());
}

TEST(RasterizerTest, FramedBoundsFitTheImage) {
    Geometry box = cube();
    RasterMesh mesh = box.mesh(Qt::white);
    mesh.toWorld.translate(100, -50, 20);
    mesh.toWorld.scale(8, 2, 30);
    const Bounds bounds = worldBounds({mesh});
    ASSERT_TRUE(bounds.valid());
    EXPECT_EQ(bounds.min, QVector3D(96, -51, 5));
    EXPECT_EQ(bounds.max, QVector3D(104, -49, 35));

    for (QSize size : {QSize(1280, 800), QSize(300, 600)}) {
        SCOPED_TRACE(size.width());
        const float aspect = static_cast<float>(size.width()) / static_cast<float>(size.height());
        const RasterCamera camera = frameBounds(bounds, aspect);
        EXPECT_EQ(camera.target, bounds.centre());
        EXPECT_GT(camera.eye.z(), bounds.max.z());
        const QMatrix4x4 toClip = viewProjection(camera, size);
        for (int corner = 0; corner < 8; ++corner) {
            const QVector3D p((corner & 1) ? bounds.max.x() : bounds.min.x(),
                              (corner & 2) ? bounds.max.y() : bounds.min.y(),
                              (corner & 4) ? bounds.max.z() : bounds.min.z());
            const QVector4D clip = toClip * QVector4D(p, 1);
            ASSERT_GT(clip.w(), 0);
            EXPECT_LE(std::abs(clip.x() / clip.w()), 1.0f) << corner;
            EXPECT_LE(std::abs(clip.y() / clip.w()), 1.0f) << corner;
        }
        const QImage image = render({mesh}, camera, {}, size, kBackground);
        EXPECT_NE(pixel(image, {size.width() / 2, size.height() / 2}), kBackground);
    }
}

}  // namespace
