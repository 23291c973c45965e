// Texture mapping in the render window's rasteriser: texels at known pixels, repeat wrapping,
// bilinear filtering, perspective correctness on a slanted quad, back-face UVs, modulation by the
// mesh colour, translucent texels, and the smaller levels that far textures are sampled from.
// Expected colours come from the test's own geometry: each pixel's point on the surface found by
// casting a ray with Qt's matrices, its texture coordinates from the quad's mapping, and the texel
// colours from textures made to give a known answer (gradients, whose bilinear samples are the
// gradient itself).
#include <QColor>
#include <QImage>
#include <QMatrix4x4>
#include <QString>
#include <QVector4D>

#include <cmath>
#include <cstdint>
#include <memory>
#include <vector>

#include <gtest/gtest.h>

#include "tools/render_window/rasterizer.h"

namespace {

using namespace orvanta::render_window;

const QColor kBackground(20, 30, 40);

// A quad (two triangles, counter-clockwise seen from +Z when its corners run so) with per-corner
// UVs; arrays sized exactly.
struct Quad {
    std::vector<float> positions;
    std::vector<float> frontUVs;
    std::vector<float> backUVs;
    std::vector<std::int32_t> indices{0, 1, 2, 0, 2, 3};

    RasterMesh mesh(const std::shared_ptr<const RasterTexture>& texture,
                    const QColor& colour = QColor(255, 255, 255)) const {
        RasterMesh m;
        m.positions = positions.data();
        m.indices = indices.data();
        m.vertexCount = 4;
        m.indexCount = 6;
        m.colour = colour;
        m.frontUVs = frontUVs.empty() ? nullptr : frontUVs.data();
        m.backUVs = backUVs.empty() ? nullptr : backUVs.data();
        m.texture = texture;
        return m;
    }
};

// The rectangle [x0, x1] x [y0, y1] at height z, facing +Z, with UV (u0, v0) at (x0, y0) and
// (u1, v1) at (x1, y1), linear in between.
Quad flatQuad(float x0, float x1, float y0, float y1, float z, float u0, float u1, float v0,
              float v1) {
    Quad q;
    q.positions = {x0, y0, z, x1, y0, z, x1, y1, z, x0, y1, z};
    q.frontUVs = {u0, v0, u1, v0, u1, v1, u0, v1};
    return q;
}

// A texture of `width` x `height` texels given row by row from the top.
std::shared_ptr<const RasterTexture> texture(int width, int height,
                                             const std::vector<QRgb>& texels) {
    QImage image(width, height, QImage::Format_ARGB32);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, texels[static_cast<std::size_t>(y * width + x)]);
    }
    return RasterTexture::fromImage(image);
}

// 256 x 256 texels: red = column, green = 255 - row (so it grows with v), blue 128. Away from the
// edges (u and v in [0.5 / 256, 1 - 0.5 / 256]) the bilinear sample is red = 256 u - 0.5,
// green = 256 v - 0.5.
std::shared_ptr<const RasterTexture> gradient() {
    QImage image(256, 256, QImage::Format_ARGB32);
    for (int y = 0; y < 256; ++y) {
        for (int x = 0; x < 256; ++x)
            image.setPixel(x, y, qRgb(x, 255 - y, 128));
    }
    return RasterTexture::fromImage(image);
}

// An orthographic camera looking straight down (or up, `fromBelow`) at the unit square [0, 1]^2
// of the plane z = 0, showing exactly that square in a square image: pixel (px, py) shows the
// point ((px + 0.5) / side, 1 - (py + 0.5) / side) (mirrored in x from below).
RasterCamera overUnitSquare(bool fromBelow = false) {
    RasterCamera camera;
    camera.eye = {0.5f, 0.5f, fromBelow ? -5.0f : 5.0f};
    camera.target = {0.5f, 0.5f, 0.0f};
    camera.up = {0, 1, 0};
    camera.perspective = false;
    camera.orthographicHeight = 1;
    return camera;
}

void expectColour(const QImage& image, int x, int y, const QColor& expected, double tolerance) {
    const QColor actual = image.pixelColor(x, y);
    EXPECT_NEAR(actual.red(), expected.red(), tolerance) << "at " << x << "," << y;
    EXPECT_NEAR(actual.green(), expected.green(), tolerance) << "at " << x << "," << y;
    EXPECT_NEAR(actual.blue(), expected.blue(), tolerance) << "at " << x << "," << y;
}

const QRgb kBottomLeft = qRgb(250, 10, 10);
const QRgb kBottomRight = qRgb(10, 250, 10);
const QRgb kTopLeft = qRgb(10, 10, 250);
const QRgb kTopRight = qRgb(240, 240, 20);

// 2 x 2 texels, four colours.
std::shared_ptr<const RasterTexture> fourTexels() {
    return texture(2, 2, {kTopLeft, kTopRight, kBottomLeft, kBottomRight});
}

TEST(RasterTextureTest, SamplesAreTexelsAtTheirCentresAndBlendBilinearlyAcrossEdges) {
    const auto four = fourTexels();
    ASSERT_TRUE(four);
    const auto channels = [](QRgb c) {
        return std::array<float, 4>{qRed(c) / 255.0f, qGreen(c) / 255.0f, qBlue(c) / 255.0f, 1};
    };
    const auto expectSample = [&](float u, float v, const std::array<float, 4>& expected) {
        const std::array<float, 4> got = four->sample(u, v);
        for (std::size_t i = 0; i < 4; ++i)
            EXPECT_NEAR(got[i], expected[i], 1e-4) << "u=" << u << " v=" << v << " channel " << i;
    };
    expectSample(0.25f, 0.25f, channels(kBottomLeft));
    expectSample(0.75f, 0.25f, channels(kBottomRight));
    expectSample(0.25f, 0.75f, channels(kTopLeft));
    expectSample(0.75f, 0.75f, channels(kTopRight));
    // Repeated, also for negative coordinates.
    expectSample(3.25f, -0.75f, channels(kBottomLeft));
    // Half way between two centres, and across the left edge to the right column.
    const auto half = [&](QRgb a, QRgb b) {
        const auto x = channels(a);
        const auto y = channels(b);
        return std::array<float, 4>{(x[0] + y[0]) / 2, (x[1] + y[1]) / 2, (x[2] + y[2]) / 2, 1};
    };
    expectSample(0.5f, 0.25f, half(kBottomLeft, kBottomRight));
    expectSample(0.0f, 0.25f, half(kBottomLeft, kBottomRight));
    expectSample(0.25f, 1.0f, half(kBottomLeft, kTopLeft));
    // A quarter of the way: 3/4 of the nearer texel.
    const std::array<float, 4> quarter = four->sample(0.375f, 0.25f);
    EXPECT_NEAR(quarter[0], (0.75f * 250 + 0.25f * 10) / 255, 1e-4);
    EXPECT_NEAR(quarter[1], (0.75f * 10 + 0.25f * 250) / 255, 1e-4);
    // Not finite reads as (0, 0): the four corners' texels.
    const std::array<float, 4> nan = four->sample(std::nanf(""), 0.5f);
    EXPECT_NEAR(nan[0], (250 + 10 + 10 + 240) / 4.0f / 255, 1e-4);
    EXPECT_FALSE(four->translucent);
    EXPECT_FALSE(RasterTexture::fromImage(QImage()));
}

TEST(RasterTextureTest, TexelsAppearAtTheirPixelsAndRepeat) {
    // 68 pixels across the unit square; UVs 0 to 2 across it, so each texel shows twice in each
    // direction. Pixel p shows u = 2 (p + 0.5) / 68: pixels 8, 25, 42, 59 show u = 0.25, 0.75,
    // 1.25, 1.75, texel centres.
    const QSize size(68, 68);
    const Quad quad = flatQuad(0, 1, 0, 1, 0, 0, 2, 0, 2);
    const QImage image =
        render({quad.mesh(fourTexels())}, overUnitSquare(), {}, size, kBackground, 1);
    ASSERT_EQ(image.size(), size);
    for (int column : {8, 42}) {
        expectColour(image, column, 8, kTopLeft, 1);   // v = 1.75
        expectColour(image, column, 42, kTopLeft, 1);  // v = 0.75
        expectColour(image, column, 25, kBottomLeft, 1);
        expectColour(image, column, 59, kBottomLeft, 1);
    }
    for (int column : {25, 59}) {
        expectColour(image, column, 8, kTopRight, 1);
        expectColour(image, column, 59, kBottomRight, 1);
    }
    // Between texel centres the colours blend: pixel 16 shows u = 0.4853 (column 0 weighs
    // 0.5294), row 8 v = 1.75.
    const float u = 2 * 16.5f / 68;
    const float right = u * 2 - 0.5f;
    expectColour(
        image, 16, 8,
        QColor(qRound(10 * (1 - right) + 240 * right), qRound(10 * (1 - right) + 240 * right),
               qRound(250 * (1 - right) + 20 * right)),
        1);
}

TEST(RasterTextureTest, TexelColourIsModulatedByTheMeshColourAndLight) {
    // UVs 0.25 to 0.75 across the square on the gradient: away from its edges.
    const QSize size(64, 64);
    const Quad quad = flatQuad(0, 1, 0, 1, 0, 0.25f, 0.75f, 0.25f, 0.75f);
    const QColor colour(128, 255, 64);
    // Tilted by 60 degrees about the x axis through the square's centre, the light's cosine is
    // 0.5: shade 0.25 + 0.75 * 0.5.
    RasterCamera camera = overUnitSquare();
    camera.orthographicHeight = 1;
    QMatrix4x4 tilt;
    tilt.translate(0.5f, 0.5f, 0);
    tilt.rotate(60, 1, 0, 0);
    tilt.translate(-0.5f, -0.5f, 0);
    RasterMesh mesh = quad.mesh(gradient(), colour);
    mesh.toWorld = tilt;
    const QImage image = render({mesh}, camera, {}, size, kBackground, 1);
    const float shade = 0.25f + 0.75f * 0.5f;
    // Pixel (px, py) shows world x = (px + 0.5) / 64 and, seen from above, the tilted square's
    // point whose y before the tilt is 0.5 + (world y - 0.5) / cos 60.
    for (int px : {5, 20, 32, 50, 60}) {
        for (int py : {20, 28, 32, 40}) {
            const float x = (px + 0.5f) / 64;
            const float y = 0.5f + ((1 - (py + 0.5f) / 64) - 0.5f) / 0.5f;
            const float u = 0.25f + 0.5f * x;
            const float v = 0.25f + 0.5f * y;
            const QColor expected(qRound((256 * u - 0.5f) * 128 / 255 * shade),
                                  qRound((256 * v - 0.5f) * shade),
                                  qRound(128 * 64 / 255.0f * shade));
            expectColour(image, px, py, expected, 1.5);
        }
    }
}

// A low eye over the plane z = 0, looking along +Y at a 160 x 120 image, and where the ray through
// a point of the image meets that plane, found with Qt's matrices.
struct LowEyeOverFloor {
    const QSize size{160, 120};
    RasterCamera camera;
    QMatrix4x4 toClip;  // projection * view
    QMatrix4x4 fromClip;

    LowEyeOverFloor() {
        camera.eye = {0, -2, 1};
        camera.target = {0, 2, 0};
        camera.up = {0, 0, 1};
        camera.fieldOfViewDegrees = 60;
        QMatrix4x4 projection;
        projection.perspective(camera.fieldOfViewDegrees,
                               static_cast<float>(size.width()) / size.height(), 0.01f, 100.0f);
        QMatrix4x4 view;
        view.lookAt(camera.eye, camera.target, camera.up);
        toClip = projection * view;
        fromClip = toClip.inverted();
    }
    // Where the ray through image point (x, y) (pixels, y down) meets the plane; false when it
    // does not.
    bool hit(float x, float y, QVector3D& at) const {
        const float nx = x / size.width() * 2 - 1;
        const float ny = 1 - y / size.height() * 2;
        const QVector3D a = (fromClip * QVector4D(nx, ny, -1, 1)).toVector3DAffine();
        const QVector3D b = (fromClip * QVector4D(nx, ny, 1, 1)).toVector3DAffine();
        if (!(a.z() > 0 && b.z() < 0))
            return false;
        at = a + (b - a) * (a.z() / (a.z() - b.z()));
        return true;
    }
    // The headlight's factor on the plane.
    float shade() const {
        const QVector3D toEye = (camera.eye - camera.target).normalized();
        return 0.25f + 0.75f * std::abs(toEye.z());
    }
};

TEST(RasterTextureTest, SlantedQuadIsMappedPerspectiveCorrectly) {
    // A long floor seen from a low eye: the far half of the floor is squeezed into a few rows, so
    // interpolating UVs linearly on screen would be far off.
    const LowEyeOverFloor floor;
    const Quad quad = flatQuad(-1, 1, -1, 9, 0, 0.25f, 0.75f, 0.25f, 0.75f);
    const QImage image =
        render({quad.mesh(gradient())}, floor.camera, {}, floor.size, kBackground, 1);
    ASSERT_EQ(image.size(), floor.size);

    const float shade = floor.shade();
    int checked = 0;
    float largestAffineError = 0;
    for (int py = 0; py < floor.size.height(); py += 3) {
        for (int px = 2; px < floor.size.width(); px += 7) {
            QVector3D hit;
            if (!floor.hit(px + 0.5f, py + 0.5f, hit))
                continue;
            const float s = (hit.x() + 1) / 2;  // 0 to 1 across the quad
            const float t = (hit.y() + 1) / 10;
            // Well inside, so that no pixel on the quad's border is taken.
            if (s < 0.02f || s > 0.98f || t < 0.02f || t > 0.98f)
                continue;
            const float u = 0.25f + 0.5f * s;
            const float v = 0.25f + 0.5f * t;
            const QColor expected(qRound((256 * u - 0.5f) * shade),
                                  qRound((256 * v - 0.5f) * shade), qRound(128 * shade));
            expectColour(image, px, py, expected, 2);
            ++checked;
            // What screen-linear interpolation between the quad's near and far edges would give
            // along this column's v, for comparison.
            const QVector4D nearEdge = floor.toClip * QVector4D(hit.x(), -1, 0, 1);
            const QVector4D farEdge = floor.toClip * QVector4D(hit.x(), 9, 0, 1);
            const float yNear = nearEdge.y() / nearEdge.w();
            const float yFar = farEdge.y() / farEdge.w();
            const float ny = 1 - (py + 0.5f) / floor.size.height() * 2;
            const float affineT = (ny - yNear) / (yFar - yNear);
            largestAffineError = std::max(largestAffineError, std::abs(affineT - t));
        }
    }
    EXPECT_GT(checked, 100);
    // The test would catch affine mapping: it is off by more than a tenth of the quad somewhere.
    EXPECT_GT(largestAffineError, 0.1f);
}

TEST(RasterTextureTest, BackFacesTakeTheBackUVs) {
    const QSize size(32, 32);
    Quad quad = flatQuad(0, 1, 0, 1, 0, 0, 0, 0, 0);
    // Every corner at one texel's centre: bottom-left in front, top-right behind.
    quad.frontUVs = {0.25f, 0.25f, 0.25f, 0.25f, 0.25f, 0.25f, 0.25f, 0.25f};
    quad.backUVs = {0.75f, 0.75f, 0.75f, 0.75f, 0.75f, 0.75f, 0.75f, 0.75f};
    const QImage above = render({quad.mesh(fourTexels())}, overUnitSquare(), {}, size, kBackground);
    const QImage below =
        render({quad.mesh(fourTexels())}, overUnitSquare(true), {}, size, kBackground);
    for (int p : {3, 16, 28}) {
        expectColour(above, p, p, kBottomLeft, 1);
        expectColour(below, p, p, kTopRight, 1);
    }
    // Without back UVs the back face takes the front ones.
    quad.backUVs.clear();
    const QImage plain =
        render({quad.mesh(fourTexels())}, overUnitSquare(true), {}, size, kBackground);
    expectColour(plain, 16, 16, kBottomLeft, 1);
}

TEST(RasterTextureTest, MeshWithoutUVsOrTextureKeepsItsColour) {
    const QSize size(32, 32);
    Quad quad = flatQuad(0, 1, 0, 1, 0, 0, 1, 0, 1);
    const QColor colour(90, 120, 150);
    const QImage withTexture =
        render({quad.mesh(nullptr, colour)}, overUnitSquare(), {}, size, kBackground);
    quad.frontUVs.clear();
    const QImage withoutUVs =
        render({quad.mesh(fourTexels(), colour)}, overUnitSquare(), {}, size, kBackground);
    expectColour(withTexture, 16, 16, colour, 0);
    expectColour(withoutUVs, 16, 16, colour, 0);
}

TEST(RasterTextureTest, TranslucentTexelsBlendOverWhatLiesBehind) {
    const QSize size(68, 68);
    // Behind: an opaque grey square; in front: UVs 0 to 2 over a texture whose left column is
    // half transparent red and whose right column is clear.
    const QColor grey(100, 100, 100);
    Quad behind = flatQuad(0, 1, 0, 1, -1, 0, 0, 0, 0);
    behind.frontUVs.clear();
    const Quad front = flatQuad(0, 1, 0, 1, 0, 0, 2, 0, 2);
    const QRgb halfRed = qRgba(255, 0, 0, 128);
    const QRgb clear = qRgba(0, 255, 0, 0);
    const auto see = texture(2, 2, {halfRed, clear, halfRed, clear});
    ASSERT_TRUE(see->translucent);
    // Drawn first, the textured quad must still blend over the grey one.
    const QImage image = render({front.mesh(see), behind.mesh(nullptr, grey)}, overUnitSquare(), {},
                                size, kBackground, 1);
    const float a = 128 / 255.0f;
    const QColor blended(qRound(255 * a + 100 * (1 - a)), qRound(100 * (1 - a)),
                         qRound(100 * (1 - a)));
    expectColour(image, 8, 8, blended, 1);    // u = 0.25: the half red column
    expectColour(image, 42, 25, blended, 1);  // u = 1.25, repeated
    expectColour(image, 25, 8, grey, 0);      // u = 0.75: clear, the grey shows unchanged
    expectColour(image, 59, 59, grey, 0);
    // The material's own opacity multiplies the texel's.
    const QImage faint =
        render({front.mesh(see, QColor(255, 255, 255, 128)), behind.mesh(nullptr, grey)},
               overUnitSquare(), {}, size, kBackground, 1);
    const float b = a * 128 / 255.0f;
    expectColour(
        faint, 8, 8,
        QColor(qRound(255 * b + 100 * (1 - b)), qRound(100 * (1 - b)), qRound(100 * (1 - b))), 1);
}

// The texture's levels as (width, height, texels) from level 0 on.
struct ExpectedLevel {
    int width;
    int height;
    std::vector<QRgb> texels;
};

TEST(RasterTextureTest, SmallerLevelsAverageWhatTheyCoverWeightingColoursByAlpha) {
    struct Case {
        const char* name;
        std::vector<ExpectedLevel> levels;  // the first one is the picture
    };
    const QRgb black = qRgb(0, 0, 0);
    const std::vector<Case> cases = {
        {"4 x 2 halves to 2 x 1, then 1 x 1",
         {{4,
           2,
           {qRgb(0, 0, 0), qRgb(100, 0, 0), qRgb(0, 200, 0), qRgb(0, 0, 40), qRgb(20, 0, 0),
            qRgb(0, 0, 0), qRgb(0, 0, 0), qRgb(0, 40, 0)}},
          {2, 1, {qRgb(30, 0, 0), qRgb(0, 60, 10)}},
          {1, 1, {qRgb(15, 30, 5)}}}},
        {"an odd side's texel left over goes into the last texel: 3 x 3 to 1 x 1",
         {{3, 3, {black, black, black, black, black, black, black, black, qRgb(90, 180, 45)}},
          {1, 1, {qRgb(10, 20, 5)}}}},
        {"a transparent texel lends no colour",
         {{2, 1, {qRgba(255, 0, 0, 255), qRgba(0, 0, 0, 0)}}, {1, 1, {qRgba(255, 0, 0, 128)}}}},
        {"transparent texels only: colours averaged plainly",
         {{2, 1, {qRgba(200, 0, 0, 0), qRgba(0, 100, 0, 0)}}, {1, 1, {qRgba(100, 50, 0, 0)}}}},
        {"a single texel has no smaller level", {{1, 1, {qRgb(1, 2, 3)}}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const ExpectedLevel& picture = c.levels.front();
        const auto made = texture(picture.width, picture.height, picture.texels);
        ASSERT_TRUE(made);
        ASSERT_EQ(made->smaller.size(), c.levels.size() - 1);
        for (std::size_t i = 1; i < c.levels.size(); ++i) {
            const RasterTexture::Level& level = made->smaller[i - 1];
            EXPECT_EQ(level.width, c.levels[i].width) << "level " << i;
            EXPECT_EQ(level.height, c.levels[i].height) << "level " << i;
            ASSERT_EQ(level.texels.size(), c.levels[i].texels.size()) << "level " << i;
            for (std::size_t t = 0; t < level.texels.size(); ++t) {
                EXPECT_EQ(QColor::fromRgba(level.texels[t]),
                          QColor::fromRgba(c.levels[i].texels[t]))
                    << "level " << i << ", texel " << t;
            }
        }
    }
}

TEST(RasterTextureTest, TheFootprintChoosesAndBlendsTheLevels) {
    // The first case of the test above: level 1 is (30, 0, 0) | (0, 60, 10), level 2 (15, 30, 5).
    const auto t = texture(4, 2,
                           {qRgb(0, 0, 0), qRgb(100, 0, 0), qRgb(0, 200, 0), qRgb(0, 0, 40),
                            qRgb(20, 0, 0), qRgb(0, 0, 0), qRgb(0, 0, 0), qRgb(0, 40, 0)});
    const auto expectRgb = [](const std::array<float, 4>& got, float r, float g, float b) {
        EXPECT_NEAR(got[0] * 255, r, 0.01);
        EXPECT_NEAR(got[1] * 255, g, 0.01);
        EXPECT_NEAR(got[2] * 255, b, 0.01);
        EXPECT_NEAR(got[3], 1, 1e-6);
    };
    // Up to one texel a pixel, the picture itself.
    for (float footprint : {0.0f, 0.5f, 1.0f, std::nanf("")})
        EXPECT_EQ(t->sample(0.3f, 0.6f, footprint), t->sample(0.3f, 0.6f)) << footprint;
    // At level 1's texel centre (u 0.25), footprint 2 is level 1, 2^1.5 halfway to level 2, 4 and
    // beyond the last level.
    expectRgb(t->sample(0.25f, 0.5f, 2), 30, 0, 0);
    expectRgb(t->sample(0.25f, 0.5f, std::pow(2.0f, 1.5f)), 22.5f, 15, 2.5f);
    expectRgb(t->sample(0.25f, 0.5f, 4), 15, 30, 5);
    expectRgb(t->sample(0.9f, 0.1f, 1e9f), 15, 30, 5);
}

TEST(RasterTextureTest, BilinearSamplesTakeNoColourFromTransparentTexels) {
    const auto t = texture(2, 1, {qRgba(255, 0, 0, 255), qRgba(0, 0, 0, 0)});
    // Halfway between the two texel centres.
    const std::array<float, 4> got = t->sample(0.5f, 0.5f);
    EXPECT_NEAR(got[0], 1, 1e-6);
    EXPECT_NEAR(got[1], 0, 1e-6);
    EXPECT_NEAR(got[2], 0, 1e-6);
    EXPECT_NEAR(got[3], 0.5, 1e-6);
}

// `side` x `side` texels, black and white in turn: a check per texel.
std::shared_ptr<const RasterTexture> checkerboard(int side) {
    std::vector<QRgb> texels;
    for (int y = 0; y < side; ++y) {
        for (int x = 0; x < side; ++x)
            texels.push_back((x + y) % 2 == 0 ? qRgb(0, 0, 0) : qRgb(255, 255, 255));
    }
    return texture(side, side, texels);
}

TEST(RasterTextureTest, APixelOverManyTexelsShowsTheirMean) {
    // 64 x 64 checks on 8 x 8 pixels: each pixel over 8 x 8 texels, half of them white.
    const Quad quad = flatQuad(0, 1, 0, 1, 0, 0, 1, 0, 1);
    const QImage image =
        render({quad.mesh(checkerboard(64))}, overUnitSquare(), {}, QSize(8, 8), kBackground);
    for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < 8; ++x)
            expectColour(image, x, y, QColor(128, 128, 128), 2);
    }
}

TEST(RasterTextureTest, AFloorShowsItsChecksNearAndTheirMeanFarAway) {
    // A floor 40 long, 4 checks to a unit each way, seen from a low eye: near the eye a check
    // spans pixels, towards the horizon a pixel spans many checks.
    const LowEyeOverFloor view;
    const Quad floor = flatQuad(-1, 1, -1, 39, 0, 0, 0.5f, 0, 10);
    const QImage image =
        render({floor.mesh(checkerboard(16))}, view.camera, {}, view.size, kBackground, 1);
    ASSERT_EQ(image.size(), view.size);
    const float white = 255 * view.shade();
    int nearDark = 0, nearLight = 0, far = 0, farNotGrey = 0;
    QString firstNotGrey;
    for (int py = 0; py < view.size.height(); ++py) {
        for (int px = 8; px < view.size.width() - 8; ++px) {
            QVector3D centre, right, below;
            if (!view.hit(px + 0.5f, py + 0.5f, centre) || !view.hit(px + 1.5f, py + 0.5f, right) ||
                !view.hit(px + 0.5f, py + 1.5f, below))
                continue;
            if (std::abs(centre.x()) > 0.95f || centre.y() < -0.9f || centre.y() > 38)
                continue;
            // Checks (texels) per pixel along the pixel's longer side.
            const float footprint =
                4 * std::max((right - centre).length(), (below - centre).length());
            const int grey = qGray(image.pixel(px, py));
            if (footprint < 0.25f) {
                nearDark += grey < 0.15f * white;
                nearLight += grey > 0.85f * white;
            } else if (footprint > 2) {
                ++far;
                if (std::abs(grey - white / 2) > 0.1f * white && farNotGrey++ == 0)
                    firstNotGrey = QStringLiteral("%1 at %2,%3").arg(grey).arg(px).arg(py);
            }
        }
    }
    EXPECT_GT(nearDark, 100) << "near the eye the checks stay sharp";
    EXPECT_GT(nearLight, 100);
    EXPECT_GT(far, 100) << "the far part of the floor was not in view";
    EXPECT_EQ(farNotGrey, 0) << "of " << far << " far pixels, expected grey " << white / 2
                             << ", first " << firstNotGrey.toStdString();
}

}  // namespace
