#include "tools/render_window/rasterizer.h"

#include <QGenericMatrix>
#include <QtMath>

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <optional>
#include <thread>
#include <utility>

// How a frame is drawn:
//  1. every mesh vertex is taken to clip space and, when it lies in front of the near plane and
//     inside the guard band, snapped to fixed-point screen coordinates (kSubpixelBits fraction
//     bits), with flags saying which view planes it lies outside;
//  2. triangles are sorted, in their original order, into horizontal bands of kBandRows rows,
//     dropping those that are degenerate, off screen or cover no pixel centre;
//  3. each band is drawn by one thread, which owns the band's rows of the image and the depth
//     buffer: opaque triangles first, then translucent ones.
// Triangles reaching behind the near plane or out of the guard band are clipped as polygons in
// clip space when drawn. Edge functions are evaluated exactly in 64-bit integers, which is what
// makes the fill rule watertight. The depth kept per pixel grows towards the eye: 1/w in
// perspective (linear in screen space, and precise at any distance), eye-space z in orthographic.
// Attributes (normals, section plane distances) are interpolated perspective-correctly; as only
// their direction or sign matters, the division by the interpolated 1/w is left out.

namespace orvanta::render_window {
namespace {

constexpr int kSubpixelBits = 8;
constexpr std::int64_t kSubpixel = std::int64_t{1} << kSubpixelBits;
constexpr std::int64_t kHalfSubpixel = kSubpixel / 2;
// How far from the image centre (in pixels) a vertex may be before its triangle is clipped
// geometrically; keeps fixed-point coordinates within 32 bits and their products within 64.
constexpr double kGuardPixels = 65536;
constexpr int kBandRows = 16;
constexpr int kVertexChunk = 1 << 16;
constexpr int kTriangleChunk = 1 << 15;
constexpr int kMaxThreads = 64;
// The automatic perspective near plane, as a fraction of the scene's farthest depth.
constexpr float kNearFraction = 1e-6f;
constexpr float kAmbient = 0.25f;
// A textured pixel at least this opaque draws and hides as an opaque one (a bilinear blend of
// opaque texels may miss 1 by a rounding error).
constexpr float kOpaqueAlpha = 1.0f - 1.0f / 1024;
constexpr float kDiffuse = 0.75f;

enum VertexFlag : std::uint32_t {
    // Outside one of the view's side planes (a half-space through the eye).
    kLeft = 1,
    kRight = 2,
    kBelow = 4,
    kAbove = 8,
    // Nearer than the near plane (perspective only).
    kBehind = 16,
    kOutsideGuard = 32,
    kNotFinite = 64,
};
constexpr std::uint32_t kRejectMask = kLeft | kRight | kBelow | kAbove | kBehind;
constexpr std::uint32_t kClipMask = kBehind | kOutsideGuard;

// A vertex as the triangle passes see it. x, y, q and key are set only without kClipMask or
// kNotFinite.
struct ScreenVertex {
    std::int32_t x = 0;  // fixed point
    std::int32_t y = 0;
    float q = 0;    // 1/w, the perspective weight (1 in orthographic)
    float key = 0;  // depth = sum of weight * q * key: 1 in perspective, eye-space z otherwise
    std::uint32_t flags = 0;
};

// A vertex ready to rasterise. `world` is only set when there are section planes.
struct RasterVertex {
    std::int64_t x = 0;
    std::int64_t y = 0;
    float q = 0;
    float key = 0;
    QVector3D world;
    QVector3D normal;  // unit length; only set when the mesh has normals
    float u = 0;       // texture coordinates; only set for textured meshes
    float v = 0;
};

// A vertex in clip space, for polygon clipping: x, y, w and eye-space z.
struct ClipVertex {
    float x = 0;
    float y = 0;
    float w = 0;
    float z = 0;
    QVector3D world;
    QVector3D normal;
    float u = 0;
    float v = 0;
};

struct Affine {
    float m[3][4];

    QVector3D apply(const float* p) const {
        return {m[0][0] * p[0] + m[0][1] * p[1] + m[0][2] * p[2] + m[0][3],
                m[1][0] * p[0] + m[1][1] * p[1] + m[1][2] * p[2] + m[1][3],
                m[2][0] * p[0] + m[2][1] * p[1] + m[2][2] * p[2] + m[2][3]};
    }
};

struct Linear {
    float m[3][3];

    QVector3D apply(const QVector3D& v) const {
        return {m[0][0] * v.x() + m[0][1] * v.y() + m[0][2] * v.z(),
                m[1][0] * v.x() + m[1][1] * v.y() + m[1][2] * v.z(),
                m[2][0] * v.x() + m[2][1] * v.y() + m[2][2] * v.z()};
    }
};

// What is fixed for the whole frame.
struct Frame {
    int width = 0;
    int height = 0;
    bool perspective = true;
    float near = 0;    // the polygon-clipping near plane, perspective only
    float guardX = 0;  // guard band half extents in normalised device coordinates
    float guardY = 0;
    QVector3D light;  // unit, from the scene towards the eye
    QVector3D eye;
    std::vector<ClipPlane> planes;
};

struct MeshSetup {
    const RasterMesh* mesh = nullptr;
    float clip[4][4];  // rows giving clip x, y, w and eye-space z of an object-space point
    Affine toWorld;
    Linear normalToWorld;
    float red = 0;  // 0..255
    float green = 0;
    float blue = 0;
    float alpha = 1;
    bool translucent = false;
    // Set when the mesh is drawn textured: a texture with texels, and front UVs.
    const RasterTexture* texture = nullptr;
    // Translucent meshes only: the view depth of the centre of the mesh's world bounds.
    float centreDepth = 0;
    int triangleCount = 0;
    std::vector<ScreenVertex> vertices;

    ClipVertex clipVertex(const float* p) const {
        ClipVertex v;
        v.x = clip[0][0] * p[0] + clip[0][1] * p[1] + clip[0][2] * p[2] + clip[0][3];
        v.y = clip[1][0] * p[0] + clip[1][1] * p[1] + clip[1][2] * p[2] + clip[1][3];
        v.w = clip[2][0] * p[0] + clip[2][1] * p[1] + clip[2][2] * p[2] + clip[2][3];
        v.z = clip[3][0] * p[0] + clip[3][1] * p[1] + clip[3][2] * p[2] + clip[3][3];
        return v;
    }
};

struct TriangleRef {
    std::uint32_t mesh;
    std::uint32_t triangle;
};

// The rows of the image and the depth buffer one band thread owns, plus its scratch space.
struct Band {
    QRgb* pixels = nullptr;  // row 0 of the image
    float* depth = nullptr;  // row 0 of the depth buffer
    int rowBegin = 0;
    int rowEnd = 0;
    std::vector<std::array<float, 3>> cuts;  // per cutting plane: distance * q at each vertex
};

std::int64_t floorDiv(std::int64_t value, std::int64_t divisor) {
    const std::int64_t quotient = value / divisor;
    return (value % divisor != 0 && value < 0) ? quotient - 1 : quotient;
}

std::int64_t ceilDiv(std::int64_t value, std::int64_t divisor) {
    return -floorDiv(-value, divisor);
}

float dot(const QVector3D& a, const QVector3D& b) {
    return a.x() * b.x() + a.y() * b.y() + a.z() * b.z();
}

QVector3D cross(const QVector3D& a, const QVector3D& b) {
    return {a.y() * b.z() - a.z() * b.y(), a.z() * b.x() - a.x() * b.z(),
            a.x() * b.y() - a.y() * b.x()};
}

float norm(const QVector3D& v) {
    return std::sqrt(dot(v, v));
}

bool finite(float a, float b, float c, float d) {
    return std::isfinite(a) && std::isfinite(b) && std::isfinite(c) && std::isfinite(d);
}

// Rounds a pixel coordinate, clamped to twice the guard band, to fixed point, halves up.
std::int64_t snap(double pixels) {
    constexpr double kLimit = kGuardPixels * 2;
    // Keeps the truncation on positive numbers.
    constexpr double kOffset = kLimit * 2 * kSubpixel;
    const double shifted = std::max(-kLimit, std::min(pixels, kLimit)) * kSubpixel + kOffset + 0.5;
    return static_cast<std::int64_t>(shifted) - static_cast<std::int64_t>(kOffset);
}

// Screen position in fixed point of a clip-space point with w > 0 inside the guard band.
std::pair<std::int64_t, std::int64_t> toFixed(const Frame& frame, float x, float y, float w) {
    return {snap((static_cast<double>(x) / w * 0.5 + 0.5) * frame.width),
            snap((0.5 - static_cast<double>(y) / w * 0.5) * frame.height)};
}

// The pixel-centre range [first, last] covered by fixed-point extents [low, high].
std::pair<std::int64_t, std::int64_t> pixelRange(std::int64_t low, std::int64_t high) {
    return {ceilDiv(low - kHalfSubpixel, kSubpixel), floorDiv(high - kHalfSubpixel, kSubpixel)};
}

template <typename Job>
void runJobs(int jobCount, int threadCount, const Job& job) {
    const int threads = std::min(threadCount, jobCount);
    if (threads <= 1) {
        for (int i = 0; i < jobCount; ++i)
            job(i);
        return;
    }
    std::atomic<int> next{0};
    auto worker = [&] {
        for (int i = next.fetch_add(1); i < jobCount; i = next.fetch_add(1))
            job(i);
    };
    std::vector<std::thread> pool;
    pool.reserve(static_cast<std::size_t>(threads - 1));
    for (int i = 1; i < threads; ++i)
        pool.emplace_back(worker);
    worker();
    for (std::thread& thread : pool)
        thread.join();
}

void transformVertices(const Frame& frame, MeshSetup& setup, int begin, int end) {
    const float* positions = setup.mesh->positions;
    for (int i = begin; i < end; ++i) {
        const ClipVertex c = setup.clipVertex(positions + 3 * static_cast<std::size_t>(i));
        ScreenVertex& v = setup.vertices[static_cast<std::size_t>(i)];
        if (!finite(c.x, c.y, c.w, c.z)) {
            v.flags = kNotFinite;
            continue;
        }
        std::uint32_t flags = 0;
        if (c.x < -c.w)
            flags |= kLeft;
        if (c.x > c.w)
            flags |= kRight;
        if (c.y < -c.w)
            flags |= kBelow;
        if (c.y > c.w)
            flags |= kAbove;
        if (frame.perspective && c.w < frame.near)
            flags |= kBehind;
        else if (std::abs(c.x) > frame.guardX * c.w || std::abs(c.y) > frame.guardY * c.w)
            flags |= kOutsideGuard;
        v.flags = flags;
        if (flags & kClipMask)
            continue;
        const auto [x, y] = toFixed(frame, c.x, c.y, c.w);
        v.x = static_cast<std::int32_t>(x);
        v.y = static_cast<std::int32_t>(y);
        v.q = frame.perspective ? 1.0f / c.w : 1.0f;
        v.key = frame.perspective ? 1.0f : c.z;
    }
}

// The rows [first, last] a snapped triangle covers pixel centres in, if any.
bool coveredRows(const Frame& frame, const ScreenVertex& a, const ScreenVertex& b,
                 const ScreenVertex& c, int& first, int& last) {
    const std::int64_t area = (std::int64_t{b.x} - a.x) * (std::int64_t{c.y} - a.y) -
                              (std::int64_t{b.y} - a.y) * (std::int64_t{c.x} - a.x);
    if (area == 0)
        return false;
    const auto [x0, x1] = pixelRange(std::min({a.x, b.x, c.x}), std::max({a.x, b.x, c.x}));
    if (x0 > x1 || x1 < 0 || x0 >= frame.width)
        return false;
    const auto [y0, y1] = pixelRange(std::min({a.y, b.y, c.y}), std::max({a.y, b.y, c.y}));
    if (y0 > y1 || y1 < 0 || y0 >= frame.height)
        return false;
    first = static_cast<int>(std::max<std::int64_t>(y0, 0));
    last = static_cast<int>(std::min<std::int64_t>(y1, frame.height - 1));
    return true;
}

void sortTriangles(const Frame& frame, const MeshSetup& setup, std::uint32_t meshIndex, int begin,
                   int end, std::vector<std::vector<TriangleRef>>& bins) {
    const std::int32_t* indices = setup.mesh->indices;
    const auto vertexCount = static_cast<std::uint32_t>(setup.mesh->vertexCount);
    const int bandCount = static_cast<int>(bins.size() / 2);
    const int pass = setup.translucent ? 1 : 0;
    for (int t = begin; t < end; ++t) {
        const std::int32_t* corner = indices + 3 * static_cast<std::size_t>(t);
        const auto i0 = static_cast<std::uint32_t>(corner[0]);
        const auto i1 = static_cast<std::uint32_t>(corner[1]);
        const auto i2 = static_cast<std::uint32_t>(corner[2]);
        if (i0 >= vertexCount || i1 >= vertexCount || i2 >= vertexCount)
            continue;
        const ScreenVertex& a = setup.vertices[i0];
        const ScreenVertex& b = setup.vertices[i1];
        const ScreenVertex& c = setup.vertices[i2];
        const std::uint32_t any = a.flags | b.flags | c.flags;
        if ((any & kNotFinite) || (a.flags & b.flags & c.flags & kRejectMask))
            continue;
        int firstBand = 0;
        int lastBand = bandCount - 1;
        if (!(any & kClipMask)) {
            int first = 0;
            int last = 0;
            if (!coveredRows(frame, a, b, c, first, last))
                continue;
            firstBand = first / kBandRows;
            lastBand = last / kBandRows;
        }
        const TriangleRef ref{meshIndex, static_cast<std::uint32_t>(t)};
        for (int band = firstBand; band <= lastBand; ++band)
            bins[static_cast<std::size_t>(band * 2 + pass)].push_back(ref);
    }
}

QRgb packColour(float red, float green, float blue) {
    const auto channel = [](float value) {
        // NaN goes to 0.
        return static_cast<QRgb>(!(value > 0) ? 0.0f : std::min(value, 255.0f) + 0.5f);
    };
    return 0xff000000u | (channel(red) << 16) | (channel(green) << 8) | channel(blue);
}

float intensity(float cosine) {
    return std::min(1.0f, kAmbient + kDiffuse * std::abs(cosine));
}

// Fixed-point edge function of the edge a -> b, stepped across pixel centres. Pixels on the edge
// belong to it only when it is a top or left edge (for triangles with positive area in these
// y-down coordinates).
struct Edge {
    std::int64_t value;
    std::int64_t stepX;
    std::int64_t stepY;

    Edge(const RasterVertex& a, const RasterVertex& b, std::int64_t px, std::int64_t py) {
        const std::int64_t dx = b.x - a.x;
        const std::int64_t dy = b.y - a.y;
        const bool topLeft = dy < 0 || (dy == 0 && dx > 0);
        value = dx * (py - a.y) - dy * (px - a.x) - (topLeft ? 0 : 1);
        stepX = -dy * kSubpixel;
        stepY = dx * kSubpixel;
    }
};

// The rates of change of a triangle's texture coordinates across the image, for the footprint
// of a pixel in texels (see rasterTriangle).
struct TextureSteps {
    float sumX = 0, uX = 0, vX = 0;  // per pixel along x: the weights' sum, s * u, s * v
    float sumY = 0, uY = 0, vY = 0;  // per pixel along y
    float width = 0, height = 0;     // the picture's size in texels

    static TextureSteps of(const Edge& e0, const Edge& e1, const Edge& e2, float c0, float c1,
                           float c2, const RasterVertex& v0, const RasterVertex& v1,
                           const RasterVertex& v2, const RasterTexture& texture) {
        TextureSteps t;
        const float x0 = static_cast<float>(e0.stepX) * c0;
        const float x1 = static_cast<float>(e1.stepX) * c1;
        const float x2 = static_cast<float>(e2.stepX) * c2;
        const float y0 = static_cast<float>(e0.stepY) * c0;
        const float y1 = static_cast<float>(e1.stepY) * c1;
        const float y2 = static_cast<float>(e2.stepY) * c2;
        t.sumX = x0 + x1 + x2;
        t.uX = x0 * v0.u + x1 * v1.u + x2 * v2.u;
        t.vX = x0 * v0.v + x1 * v1.v + x2 * v2.v;
        t.sumY = y0 + y1 + y2;
        t.uY = y0 * v0.u + y1 * v1.u + y2 * v2.u;
        t.vY = y0 * v0.v + y1 * v1.v + y2 * v2.v;
        t.width = static_cast<float>(texture.width);
        t.height = static_cast<float>(texture.height);
        return t;
    }

    // The texels one pixel at (u, v) covers along its longer side; `sum` is the weights' sum
    // there.
    float footprint(float u, float v, float sum) const {
        const float dux = (uX - u * sumX) / sum * width;
        const float dvx = (vX - v * sumX) / sum * height;
        const float duy = (uY - u * sumY) / sum * width;
        const float dvy = (vY - v * sumY) / sum * height;
        return std::sqrt(std::max(dux * dux + dvx * dvx, duy * duy + dvy * dvy));
    }
};

// Fills band.cuts with the planes that cut the triangle, each as its distance * q at the three
// vertices; false, with band.cuts unspecified, when one plane cuts the whole triangle away.
bool collectCuts(const Frame& frame, const RasterVertex& v0, const RasterVertex& v1,
                 const RasterVertex& v2, Band& band) {
    band.cuts.clear();
    for (const ClipPlane& plane : frame.planes) {
        const float d0 = dot(v0.world - plane.point, plane.normal);
        const float d1 = dot(v1.world - plane.point, plane.normal);
        const float d2 = dot(v2.world - plane.point, plane.normal);
        if (d0 < 0 && d1 < 0 && d2 < 0)
            return false;
        if (d0 < 0 || d1 < 0 || d2 < 0)
            band.cuts.push_back({d0 * v0.q, d1 * v1.q, d2 * v2.q});
    }
    return true;
}

void rasterTriangle(const Frame& frame, const MeshSetup& setup, RasterVertex v0, RasterVertex v1,
                    RasterVertex v2, bool smooth, float faceIntensity, Band& band) {
    std::int64_t area = (v1.x - v0.x) * (v2.y - v0.y) - (v1.y - v0.y) * (v2.x - v0.x);
    if (area == 0)
        return;
    if (area < 0) {
        std::swap(v1, v2);
        area = -area;
    }
    const auto [rx0, rx1] = pixelRange(std::min({v0.x, v1.x, v2.x}), std::max({v0.x, v1.x, v2.x}));
    const auto [ry0, ry1] = pixelRange(std::min({v0.y, v1.y, v2.y}), std::max({v0.y, v1.y, v2.y}));
    const int x0 = static_cast<int>(std::max<std::int64_t>(rx0, 0));
    const int x1 = static_cast<int>(std::min<std::int64_t>(rx1, frame.width - 1));
    const int y0 = static_cast<int>(std::max<std::int64_t>(ry0, band.rowBegin));
    const int y1 = static_cast<int>(std::min<std::int64_t>(ry1, band.rowEnd - 1));
    if (x0 > x1 || y0 > y1)
        return;

    if (!collectCuts(frame, v0, v1, v2, band))
        return;

    const float inverseArea = 1.0f / static_cast<float>(area);
    const float c0 = v0.q * inverseArea;
    const float c1 = v1.q * inverseArea;
    const float c2 = v2.q * inverseArea;
    const float k0 = v0.key;
    const float k1 = v1.key;
    const float k2 = v2.key;
    const float l0 = dot(v0.normal, frame.light);
    const float l1 = dot(v1.normal, frame.light);
    const float l2 = dot(v2.normal, frame.light);
    // Where the interpolated normal vanishes (opposite vertex normals), v0's stands in.
    const float fallbackIntensity = smooth ? intensity(l0) : faceIntensity;
    const QRgb flatColour = packColour(setup.red * faceIntensity, setup.green * faceIntensity,
                                       setup.blue * faceIntensity);
    const bool translucent = setup.translucent;
    const float alpha = setup.alpha;
    const RasterTexture* texture = setup.texture;
    const std::size_t cutCount = band.cuts.size();
    const std::array<float, 3>* cuts = band.cuts.data();

    const std::int64_t px = x0 * kSubpixel + kHalfSubpixel;
    const std::int64_t py = y0 * kSubpixel + kHalfSubpixel;
    Edge e0(v1, v2, px, py);  // weighs v0
    Edge e1(v2, v0, px, py);
    Edge e2(v0, v1, px, py);
    // How the texture coordinates change from pixel to pixel. With the weights' sum s and the
    // weighted coordinate n = s * u, both changing by fixed steps per pixel (ds, dn), the change
    // of u is (dn - u * ds) / s; likewise for v, along x and along y. In texels of the picture.
    TextureSteps steps;
    if (texture) {
        steps = TextureSteps::of(e0, e1, e2, c0, c1, c2, v0, v1, v2, *texture);
    }
    const auto width = static_cast<std::size_t>(frame.width);
    for (int y = y0; y <= y1; ++y) {
        QRgb* pixelRow = band.pixels + static_cast<std::size_t>(y) * width;
        float* depthRow = band.depth + static_cast<std::size_t>(y) * width;
        std::int64_t a0 = e0.value;
        std::int64_t a1 = e1.value;
        std::int64_t a2 = e2.value;
        for (int x = x0; x <= x1; ++x, a0 += e0.stepX, a1 += e1.stepX, a2 += e2.stepX) {
            if ((a0 | a1 | a2) < 0)
                continue;
            const float w0 = static_cast<float>(a0) * c0;
            const float w1 = static_cast<float>(a1) * c1;
            const float w2 = static_cast<float>(a2) * c2;
            const float depth = w0 * k0 + w1 * k1 + w2 * k2;
            if (!(depth > depthRow[x]))
                continue;
            bool cut = false;
            for (std::size_t i = 0; i < cutCount && !cut; ++i)
                cut = w0 * cuts[i][0] + w1 * cuts[i][1] + w2 * cuts[i][2] < 0;
            if (cut)
                continue;
            float shade = faceIntensity;
            if (smooth) {
                const QVector3D n = w0 * v0.normal + w1 * v1.normal + w2 * v2.normal;
                const float length = norm(n);
                shade = length > 0 ? intensity((w0 * l0 + w1 * l1 + w2 * l2) / length)
                                   : fallbackIntensity;
            }
            if (texture) {
                // Normalised, the weights are the perspective-correct barycentric coordinates.
                const float sum = w0 + w1 + w2;
                const float u = (w0 * v0.u + w1 * v1.u + w2 * v2.u) / sum;
                const float v = (w0 * v0.v + w1 * v1.v + w2 * v2.v) / sum;
                const std::array<float, 4> texel =
                    texture->sample(u, v, steps.footprint(u, v, sum));
                const float red = setup.red * texel[0];
                const float green = setup.green * texel[1];
                const float blue = setup.blue * texel[2];
                const float opacity = translucent ? alpha * texel[3] : 1.0f;
                if (!(opacity > 0))
                    continue;
                if (opacity >= kOpaqueAlpha) {
                    pixelRow[x] = packColour(red * shade, green * shade, blue * shade);
                    depthRow[x] = depth;
                    continue;
                }
                const QRgb under = pixelRow[x];
                const float over = opacity * shade;
                const float keep = 1.0f - opacity;
                pixelRow[x] = packColour(red * over + static_cast<float>(qRed(under)) * keep,
                                         green * over + static_cast<float>(qGreen(under)) * keep,
                                         blue * over + static_cast<float>(qBlue(under)) * keep);
                continue;
            }
            QRgb colour = flatColour;
            if (translucent) {
                const QRgb under = pixelRow[x];
                const float over = alpha * shade;
                const float keep = 1.0f - alpha;
                colour = packColour(setup.red * over + static_cast<float>(qRed(under)) * keep,
                                    setup.green * over + static_cast<float>(qGreen(under)) * keep,
                                    setup.blue * over + static_cast<float>(qBlue(under)) * keep);
            } else {
                if (smooth)
                    colour = packColour(setup.red * shade, setup.green * shade, setup.blue * shade);
                depthRow[x] = depth;
            }
            pixelRow[x] = colour;
        }
        e0.value += e0.stepY;
        e1.value += e1.stepY;
        e2.value += e2.stepY;
    }
}

RasterVertex rasterVertex(const Frame& frame, const ClipVertex& c) {
    RasterVertex v;
    const auto [x, y] = toFixed(frame, c.x, c.y, c.w);
    v.x = x;
    v.y = y;
    v.q = frame.perspective ? 1.0f / c.w : 1.0f;
    v.key = frame.perspective ? 1.0f : c.z;
    v.world = c.world;
    v.normal = c.normal;
    v.u = c.u;
    v.v = c.v;
    return v;
}

// Clip plane k of the frame (0 the near plane, 1 to 4 the guard band's sides): distance(v) >= 0 is
// kept.
float clipDistance(const Frame& frame, int k, const ClipVertex& v) {
    switch (k) {
        case 0:
            return v.w - frame.near;
        case 1:
            return frame.guardX * v.w - v.x;
        case 2:
            return frame.guardX * v.w + v.x;
        case 3:
            return frame.guardY * v.w - v.y;
        default:
            return frame.guardY * v.w + v.y;
    }
}

// Where the edge from the kept vertex `in` to the dropped `out` crosses clip plane k, put exactly
// on the plane. Computed from the kept end so that an edge two triangles share is cut at the same
// point in both.
ClipVertex clipIntersection(const Frame& frame, int k, const ClipVertex& in, float dIn,
                            const ClipVertex& out, float dOut) {
    const float t = dIn / (dIn - dOut);
    ClipVertex v;
    v.x = in.x + (out.x - in.x) * t;
    v.y = in.y + (out.y - in.y) * t;
    v.w = in.w + (out.w - in.w) * t;
    v.z = in.z + (out.z - in.z) * t;
    v.world = in.world + (out.world - in.world) * t;
    v.normal = in.normal + (out.normal - in.normal) * t;
    v.u = in.u + (out.u - in.u) * t;
    v.v = in.v + (out.v - in.v) * t;
    // Put it exactly on the plane.
    switch (k) {
        case 0:
            v.w = frame.near;
            break;
        case 1:
            v.x = frame.guardX * v.w;
            break;
        case 2:
            v.x = -frame.guardX * v.w;
            break;
        case 3:
            v.y = frame.guardY * v.w;
            break;
        default:
            v.y = -frame.guardY * v.w;
            break;
    }
    return v;
}

// Clips the triangle to the near plane and the guard band and draws what is left as a fan.
void drawClipped(const Frame& frame, const MeshSetup& setup, const std::array<ClipVertex, 3>& tri,
                 bool smooth, float faceIntensity, Band& band) {
    // A convex polygon gains at most one vertex per plane; rounding can make it slightly
    // non-convex, so there is room to spare, and vertices beyond it are dropped.
    constexpr int kCapacity = 16;
    std::array<ClipVertex, kCapacity> polygon;
    std::array<ClipVertex, kCapacity> next;
    std::copy(tri.begin(), tri.end(), polygon.begin());
    int count = 3;
    for (int k = frame.perspective ? 0 : 1; k < 5 && count >= 3; ++k) {
        int kept = 0;
        for (int i = 0; i < count; ++i) {
            const ClipVertex& a = polygon[static_cast<std::size_t>(i)];
            const ClipVertex& b = polygon[static_cast<std::size_t>((i + 1) % count)];
            const float da = clipDistance(frame, k, a);
            const float db = clipDistance(frame, k, b);
            if (da >= 0 && kept < kCapacity)
                next[static_cast<std::size_t>(kept++)] = a;
            if ((da >= 0) != (db >= 0) && kept < kCapacity) {
                next[static_cast<std::size_t>(kept++)] =
                    da >= 0 ? clipIntersection(frame, k, a, da, b, db)
                            : clipIntersection(frame, k, b, db, a, da);
            }
        }
        std::swap(polygon, next);
        count = kept;
    }
    if (count < 3)
        return;
    std::array<RasterVertex, kCapacity> fan;
    for (int i = 0; i < count; ++i) {
        RasterVertex& v = fan[static_cast<std::size_t>(i)];
        v = rasterVertex(frame, polygon[static_cast<std::size_t>(i)]);
        if (smooth)
            v.normal.normalize();
    }
    for (int i = 1; i + 1 < count; ++i) {
        rasterTriangle(frame, setup, fan[0], fan[static_cast<std::size_t>(i)],
                       fan[static_cast<std::size_t>(i + 1)], smooth, faceIntensity, band);
    }
}

void drawTriangle(const Frame& frame, const MeshSetup& setup, std::uint32_t triangle, Band& band) {
    const RasterMesh& mesh = *setup.mesh;
    const std::int32_t* corner = mesh.indices + 3 * static_cast<std::size_t>(triangle);
    std::array<std::size_t, 3> index;
    std::array<const float*, 3> position;
    for (std::size_t i = 0; i < 3; ++i) {
        index[i] = static_cast<std::size_t>(corner[i]);
        position[i] = mesh.positions + 3 * index[i];
    }

    // The face normal lights flat triangles and stands in for unusable vertex normals.
    QVector3D face;
    const auto faceNormal = [&] {
        const QVector3D p0(position[0][0], position[0][1], position[0][2]);
        const QVector3D p1(position[1][0], position[1][1], position[1][2]);
        const QVector3D p2(position[2][0], position[2][1], position[2][2]);
        face = setup.normalToWorld.apply(cross(p1 - p0, p2 - p0));
        const float length = norm(face);
        face = length > 0 ? face / length : QVector3D();
    };
    const bool smooth = mesh.normals != nullptr;
    std::array<QVector3D, 3> normal;
    if (smooth) {
        for (std::size_t i = 0; i < 3; ++i) {
            const float* n = mesh.normals + 3 * index[i];
            normal[i] = setup.normalToWorld.apply(QVector3D(n[0], n[1], n[2]));
            const float length = norm(normal[i]);
            if (length > 0 && std::isfinite(length)) {
                normal[i] /= length;
            } else {
                if (face.isNull())
                    faceNormal();
                normal[i] = face;
            }
        }
    } else {
        faceNormal();
    }
    // Texture coordinates of the face the triangle shows.
    const float* uvs = nullptr;
    if (setup.texture) {
        if (face.isNull())
            faceNormal();
        const QVector3D towardsEye =
            frame.perspective ? frame.eye - setup.toWorld.apply(position[0]) : frame.light;
        const bool front = dot(face, towardsEye) >= 0;
        uvs = front || mesh.backUVs == nullptr ? mesh.frontUVs : mesh.backUVs;
    }
    const float faceIntensity = intensity(dot(face, frame.light));
    std::array<QVector3D, 3> world;
    if (!frame.planes.empty()) {
        for (std::size_t i = 0; i < 3; ++i)
            world[i] = setup.toWorld.apply(position[i]);
    }

    const std::uint32_t flags = setup.vertices[index[0]].flags | setup.vertices[index[1]].flags |
                                setup.vertices[index[2]].flags;
    if (flags & kClipMask) {
        std::array<ClipVertex, 3> tri;
        for (std::size_t i = 0; i < 3; ++i) {
            tri[i] = setup.clipVertex(position[i]);
            tri[i].world = world[i];
            tri[i].normal = normal[i];
            if (uvs) {
                tri[i].u = uvs[2 * index[i]];
                tri[i].v = uvs[2 * index[i] + 1];
            }
        }
        drawClipped(frame, setup, tri, smooth, faceIntensity, band);
        return;
    }
    std::array<RasterVertex, 3> v;
    for (std::size_t i = 0; i < 3; ++i) {
        const ScreenVertex& s = setup.vertices[index[i]];
        v[i].x = s.x;
        v[i].y = s.y;
        v[i].q = s.q;
        v[i].key = s.key;
        v[i].world = world[i];
        v[i].normal = normal[i];
        if (uvs) {
            v[i].u = uvs[2 * index[i]];
            v[i].v = uvs[2 * index[i] + 1];
        }
    }
    rasterTriangle(frame, setup, v[0], v[1], v[2], smooth, faceIntensity, band);
}

MeshSetup prepareMesh(const RasterMesh& mesh, const QMatrix4x4& viewProjection,
                      const QMatrix4x4& view) {
    MeshSetup setup;
    setup.mesh = &mesh;
    const QMatrix4x4 toClip = viewProjection * mesh.toWorld;
    const QMatrix4x4 toEye = view * mesh.toWorld;
    for (int c = 0; c < 4; ++c) {
        setup.clip[0][c] = toClip(0, c);
        setup.clip[1][c] = toClip(1, c);
        setup.clip[2][c] = toClip(3, c);
        setup.clip[3][c] = toEye(2, c);
        for (int r = 0; r < 3; ++r)
            setup.toWorld.m[r][c] = mesh.toWorld(r, c);
    }
    const QMatrix3x3 normalMatrix = mesh.toWorld.normalMatrix();
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 3; ++c)
            setup.normalToWorld.m[r][c] = normalMatrix(r, c);
    }
    setup.red = static_cast<float>(mesh.colour.redF() * 255.0);
    setup.green = static_cast<float>(mesh.colour.greenF() * 255.0);
    setup.blue = static_cast<float>(mesh.colour.blueF() * 255.0);
    setup.alpha = static_cast<float>(mesh.colour.alphaF());
    const RasterTexture* texture = mesh.texture.get();
    if (texture && texture->width > 0 && texture->height > 0 &&
        texture->texels.size() ==
            static_cast<std::size_t>(texture->width) * static_cast<std::size_t>(texture->height) &&
        mesh.frontUVs != nullptr)
        setup.texture = texture;
    setup.translucent = setup.alpha < 1.0f || (setup.texture && setup.texture->translucent);
    setup.triangleCount = mesh.indexCount / 3;
    setup.vertices.resize(static_cast<std::size_t>(mesh.vertexCount));
    return setup;
}

bool drawable(const RasterMesh& mesh) {
    return mesh.positions != nullptr && mesh.indices != nullptr && mesh.vertexCount > 0 &&
           mesh.indexCount >= 3 && mesh.colour.alphaF() > 0;
}

// Grows `bounds` by every finite vertex of `mesh`, placed by its toWorld.
void addMeshBounds(Bounds& bounds, const RasterMesh& mesh) {
    if (mesh.positions == nullptr || mesh.vertexCount <= 0)
        return;
    Affine toWorld;
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 4; ++c)
            toWorld.m[r][c] = mesh.toWorld(r, c);
    }
    QVector3D low = bounds.min;
    QVector3D high = bounds.max;
    for (int i = 0; i < mesh.vertexCount; ++i) {
        const QVector3D p = toWorld.apply(mesh.positions + 3 * static_cast<std::size_t>(i));
        if (!std::isfinite(p.x()) || !std::isfinite(p.y()) || !std::isfinite(p.z()))
            continue;
        low =
            QVector3D(std::min(low.x(), p.x()), std::min(low.y(), p.y()), std::min(low.z(), p.z()));
        high = QVector3D(std::max(high.x(), p.x()), std::max(high.y(), p.y()),
                         std::max(high.z(), p.z()));
    }
    bounds.min = low;
    bounds.max = high;
}

// Puts the opaque meshes first, in their order, then the translucent ones back to front: by the
// view depth of their centre, farthest first, meshes at equal depth in their order. A translucent
// mesh without a finite vertex draws nothing; it goes first.
void orderForBlending(std::vector<MeshSetup>& setups, const QVector3D& eye,
                      const QVector3D& forward) {
    const auto translucent = std::stable_partition(
        setups.begin(), setups.end(), [](const MeshSetup& setup) { return !setup.translucent; });
    for (auto it = translucent; it != setups.end(); ++it) {
        Bounds bounds;
        addMeshBounds(bounds, *it->mesh);
        const float depth = bounds.valid() ? dot(bounds.centre() - eye, forward)
                                           : std::numeric_limits<float>::infinity();
        it->centreDepth = std::isnan(depth) ? std::numeric_limits<float>::infinity() : depth;
    }
    std::stable_sort(translucent, setups.end(), [](const MeshSetup& a, const MeshSetup& b) {
        return a.centreDepth > b.centreDepth;
    });
}

// The mean of `texels` with `weights` (summing to 1), each channel 0 to 1, alpha last: the
// colours weighted by weight times alpha, so that transparent texels add no colour; where every
// texel is transparent, weighted by weight alone.
template <class Texels, class Weights>
std::array<float, 4> weightedMean(const Texels& texels, const Weights& weights) {
    float alpha = 0;
    std::array<float, 3> premultiplied{};
    std::array<float, 3> plain{};
    for (std::size_t i = 0; i < texels.size(); ++i) {
        const QRgb t = texels[i];
        const float a = weights[i] * static_cast<float>(qAlpha(t));
        alpha += a;
        const std::array<float, 3> colour = {static_cast<float>(qRed(t)),
                                             static_cast<float>(qGreen(t)),
                                             static_cast<float>(qBlue(t))};
        for (std::size_t c = 0; c < 3; ++c) {
            premultiplied[c] += a * colour[c];
            plain[c] += weights[i] * colour[c];
        }
    }
    std::array<float, 4> mean;
    for (std::size_t c = 0; c < 3; ++c)
        mean[c] = (alpha > 0 ? premultiplied[c] / alpha : plain[c]) / 255.0f;
    mean[3] = alpha / 255.0f;
    return mean;
}

// The bilinear, repeating sample at (u, v) of `width` x `height` texels (see RasterTexture).
// Colours are blended weighted by their alpha, so that a transparent texel lends its neighbours
// no colour; where all four are transparent, plainly.
std::array<float, 4> bilinearSample(int width, int height, const QRgb* texels, float u, float v) {
    if (!std::isfinite(u) || !std::isfinite(v)) {
        u = 0;
        v = 0;
    }
    // Texel space: texel (i, j) has its centre at (i, j); then wrapped into [0, size).
    const auto wrap = [](double position, int size, int& low, int& high, float& weight) {
        position -= size * std::floor(position / size);
        low = std::min(static_cast<int>(position), size - 1);
        weight = static_cast<float>(std::clamp(position - low, 0.0, 1.0));
        high = low + 1 == size ? 0 : low + 1;
    };
    int x0 = 0;
    int x1 = 0;
    int y0 = 0;
    int y1 = 0;
    float fx = 0;
    float fy = 0;
    wrap(static_cast<double>(u) * width - 0.5, width, x0, x1, fx);
    wrap((1.0 - static_cast<double>(v)) * height - 0.5, height, y0, y1, fy);
    const auto at = [&](int x, int y) {
        return texels[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
                      static_cast<std::size_t>(x)];
    };
    const std::array<QRgb, 4> t = {at(x0, y0), at(x1, y0), at(x0, y1), at(x1, y1)};
    const std::array<float, 4> w = {(1 - fx) * (1 - fy), fx * (1 - fy), (1 - fx) * fy, fx * fy};
    return weightedMean(t, w);
}

std::array<float, 4> bilinearSample(const RasterTexture::Level& level, float u, float v) {
    return bilinearSample(level.width, level.height, level.texels.data(), u, v);
}

// The next smaller level of a chain: half the size (rounded down, at least 1), each texel the
// alpha-weighted mean of the texels of `from` that its area covers.
RasterTexture::Level halve(int width, int height, const QRgb* from) {
    RasterTexture::Level level;
    level.width = std::max(1, width / 2);
    level.height = std::max(1, height / 2);
    level.texels.resize(static_cast<std::size_t>(level.width) *
                        static_cast<std::size_t>(level.height));
    // Texel i covers [i * size / smaller, (i + 1) * size / smaller) of the larger level: two
    // texels, or three where an odd size leaves one over.
    const auto span = [](int i, int size, int smaller) {
        const int first = i * size / smaller;
        const int last = ((i + 1) * size + smaller - 1) / smaller - 1;
        return std::pair<int, int>(first, std::min(last, size - 1));
    };
    std::vector<QRgb> covered;
    std::vector<float> weights;
    for (int y = 0; y < level.height; ++y) {
        const auto [top, bottom] = span(y, height, level.height);
        for (int x = 0; x < level.width; ++x) {
            const auto [left, right] = span(x, width, level.width);
            covered.clear();
            for (int j = top; j <= bottom; ++j) {
                for (int i = left; i <= right; ++i)
                    covered.push_back(from[static_cast<std::size_t>(j) * width + i]);
            }
            weights.assign(covered.size(), 1.0f / static_cast<float>(covered.size()));
            const std::array<float, 4> mean = weightedMean(covered, weights);
            const auto channel = [](float value) {
                return static_cast<int>(std::lround(std::clamp(value, 0.0f, 1.0f) * 255.0f));
            };
            level.texels[static_cast<std::size_t>(y) * level.width + x] =
                qRgba(channel(mean[0]), channel(mean[1]), channel(mean[2]), channel(mean[3]));
        }
    }
    return level;
}

}  // namespace

std::shared_ptr<const RasterTexture> RasterTexture::fromImage(const QImage& image) {
    if (image.isNull())
        return nullptr;
    const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
    if (argb.isNull())
        return nullptr;
    auto texture = std::make_shared<RasterTexture>();
    texture->width = argb.width();
    texture->height = argb.height();
    texture->texels.resize(static_cast<std::size_t>(texture->width) *
                           static_cast<std::size_t>(texture->height));
    for (int y = 0; y < texture->height; ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(argb.constScanLine(y));
        std::copy(row, row + texture->width,
                  texture->texels.begin() + static_cast<std::ptrdiff_t>(y) * texture->width);
    }
    texture->translucent = std::any_of(texture->texels.begin(), texture->texels.end(),
                                       [](QRgb texel) { return qAlpha(texel) < 255; });
    int levelWidth = texture->width;
    int levelHeight = texture->height;
    const QRgb* levelTexels = texture->texels.data();
    while (levelWidth > 1 || levelHeight > 1) {
        texture->smaller.push_back(halve(levelWidth, levelHeight, levelTexels));
        const RasterTexture::Level& made = texture->smaller.back();
        levelWidth = made.width;
        levelHeight = made.height;
        levelTexels = made.texels.data();
    }
    return texture;
}

std::array<float, 4> RasterTexture::sample(float u, float v) const {
    return bilinearSample(width, height, texels.data(), u, v);
}

std::array<float, 4> RasterTexture::sample(float u, float v, float footprint) const {
    if (!(footprint > 1.0f) || smaller.empty() || !std::isfinite(footprint))
        return sample(u, v);
    const float level = std::log2(footprint);
    const auto lastLevel = static_cast<float>(smaller.size());
    if (level >= lastLevel)
        return bilinearSample(smaller.back(), u, v);
    const int finer = static_cast<int>(level);
    const float toCoarser = level - static_cast<float>(finer);
    const std::array<float, 4> a =
        finer == 0 ? sample(u, v)
                   : bilinearSample(smaller[static_cast<std::size_t>(finer - 1)], u, v);
    const std::array<float, 4> b = bilinearSample(smaller[static_cast<std::size_t>(finer)], u, v);
    // Colours weighted by alpha, as within a level.
    std::array<float, 4> mixed;
    mixed[3] = a[3] + (b[3] - a[3]) * toCoarser;
    const float wa = (1 - toCoarser) * a[3];
    const float wb = toCoarser * b[3];
    for (std::size_t c = 0; c < 3; ++c) {
        mixed[c] =
            wa + wb > 0 ? (wa * a[c] + wb * b[c]) / (wa + wb) : a[c] + (b[c] - a[c]) * toCoarser;
    }
    return mixed;
}

void Bounds::add(const QVector3D& point) {
    min = QVector3D(std::min(min.x(), point.x()), std::min(min.y(), point.y()),
                    std::min(min.z(), point.z()));
    max = QVector3D(std::max(max.x(), point.x()), std::max(max.y(), point.y()),
                    std::max(max.z(), point.z()));
}

Bounds worldBounds(const std::vector<RasterMesh>& meshes) {
    Bounds bounds;
    for (const RasterMesh& mesh : meshes)
        addMeshBounds(bounds, mesh);
    return bounds;
}

RasterCamera frameBounds(const Bounds& bounds, float aspect) {
    constexpr float kFieldOfView = 35;
    constexpr float kMargin = 1.1f;
    QVector3D centre;
    float radius = 1;
    if (bounds.valid()) {
        centre = bounds.centre();
        radius = bounds.radius();
        if (!(radius > 0) || !std::isfinite(radius))
            radius = 1;
    }
    if (!(aspect > 0) || !std::isfinite(aspect))
        aspect = 1;
    const float halfVertical = qDegreesToRadians(kFieldOfView) * 0.5f;
    const float halfHorizontal = std::atan(std::tan(halfVertical) * aspect);
    const float distance = radius / std::sin(std::min(halfVertical, halfHorizontal)) * kMargin;

    RasterCamera camera;
    camera.target = centre;
    camera.eye = centre + QVector3D(1.0f, -1.3f, 0.9f).normalized() * distance;
    camera.up = QVector3D(0, 0, 1);
    camera.fieldOfViewDegrees = kFieldOfView;
    camera.perspective = true;
    return camera;
}

namespace {

// The frame and its view of the scene, as render() sets them up from the camera.
struct FrameView {
    Frame frame;
    QMatrix4x4 view;
    QMatrix4x4 viewProjection;
};

// Runs of vertices or triangles of one mesh, the unit of work of the frame's threads.
struct Span {
    std::uint32_t mesh;
    int begin;
    int end;
};

// The farthest depth along `forward` from `eye` of the corners of the scene's bounds; nothing when
// the scene has no bounds or lies wholly behind the eye.
std::optional<float> farthestDepth(const std::vector<RasterMesh>& meshes, const QVector3D& eye,
                                   const QVector3D& forward) {
    const Bounds bounds = worldBounds(meshes);
    if (!bounds.valid())
        return std::nullopt;
    float farthest = 0;
    for (int corner = 0; corner < 8; ++corner) {
        const QVector3D p((corner & 1) ? bounds.max.x() : bounds.min.x(),
                          (corner & 2) ? bounds.max.y() : bounds.min.y(),
                          (corner & 4) ? bounds.max.z() : bounds.min.z());
        farthest = std::max(farthest, QVector3D::dotProduct(p - eye, forward));
    }
    if (!(farthest > 0) || !std::isfinite(farthest))
        return std::nullopt;
    return farthest;
}

// The frame of an image of `size` seen by `camera`, with `clips` and the camera's own near and far
// planes; nothing when the camera sees no scene (eye on the target, or no automatic near plane).
std::optional<FrameView> setUpFrame(const std::vector<RasterMesh>& meshes,
                                    const RasterCamera& camera, const std::vector<ClipPlane>& clips,
                                    QSize size) {
    QVector3D forward = camera.target - camera.eye;
    const float distance = forward.length();
    if (!(distance > 0) || !std::isfinite(distance))
        return std::nullopt;
    forward /= distance;
    QVector3D up = camera.up.normalized();
    if (!(QVector3D::crossProduct(forward, up).length() > 1e-4f))
        up = std::abs(forward.z()) < 0.999f ? QVector3D(0, 0, 1) : QVector3D(0, 1, 0);

    FrameView result;
    Frame& frame = result.frame;
    frame.width = size.width();
    frame.height = size.height();
    frame.perspective = camera.perspective;
    frame.light = -forward;
    frame.eye = camera.eye;
    frame.planes = clips;
    frame.guardX = static_cast<float>(2 * kGuardPixels / frame.width - 1);
    frame.guardY = static_cast<float>(2 * kGuardPixels / frame.height - 1);
    const float aspect = static_cast<float>(frame.width) / static_cast<float>(frame.height);
    float fieldOfView = camera.fieldOfViewDegrees;
    if (!std::isfinite(fieldOfView))
        fieldOfView = RasterCamera().fieldOfViewDegrees;
    fieldOfView = std::clamp(fieldOfView, 0.01f, 179.0f);

    QMatrix4x4& view = result.view;
    view.lookAt(camera.eye, camera.target, up);
    // Only the projection's x, y and w rows are used: depth comes from w or eye-space z.
    QMatrix4x4 projection;
    if (camera.perspective) {
        float near = camera.nearDistance;
        float far = camera.farDistance;
        if (!(near > 0)) {
            const std::optional<float> farthest = farthestDepth(meshes, camera.eye, forward);
            if (!farthest)
                return std::nullopt;
            near = *farthest * kNearFraction;
            if (!(far > near))
                far = *farthest;
        }
        frame.near = near;
        projection.perspective(fieldOfView, aspect, near, std::max(far, near * 2));
    } else {
        float height = camera.orthographicHeight;
        if (!(height > 0) || !std::isfinite(height))
            height = 2 * distance * std::tan(qDegreesToRadians(fieldOfView) * 0.5f);
        projection.ortho(-height * aspect / 2, height * aspect / 2, -height / 2, height / 2, -1, 1);
        if (camera.nearDistance > 0)
            frame.planes.push_back({camera.eye + forward * camera.nearDistance, forward});
    }
    if (camera.farDistance > 0)
        frame.planes.push_back({camera.eye + forward * camera.farDistance, -forward});
    result.viewProjection = projection * view;
    return result;
}

// The drawable meshes, set up for the frame, in their order.
std::vector<MeshSetup> prepareMeshes(const std::vector<RasterMesh>& meshes,
                                     const QMatrix4x4& viewProjection, const QMatrix4x4& view) {
    std::vector<MeshSetup> setups;
    setups.reserve(meshes.size());
    for (const RasterMesh& mesh : meshes) {
        if (drawable(mesh))
            setups.push_back(prepareMesh(mesh, viewProjection, view));
    }
    return setups;
}

// Steps 1 and 2 of the frame: the vertices transformed, then the triangles sorted into bands, on
// `threads` threads. The result: per triangle chunk, per band, the opaque then the translucent
// triangles (two bins a band).
std::vector<std::vector<std::vector<TriangleRef>>> binTriangles(const Frame& frame,
                                                                std::vector<MeshSetup>& setups,
                                                                int bandCount, int threads) {
    // Vertices, in chunks.
    std::vector<Span> vertexSpans;
    std::vector<Span> triangleSpans;
    for (std::size_t m = 0; m < setups.size(); ++m) {
        const auto mesh = static_cast<std::uint32_t>(m);
        for (int begin = 0; begin < setups[m].mesh->vertexCount; begin += kVertexChunk)
            vertexSpans.push_back(
                {mesh, begin, std::min(begin + kVertexChunk, setups[m].mesh->vertexCount)});
        for (int begin = 0; begin < setups[m].triangleCount; begin += kTriangleChunk)
            triangleSpans.push_back(
                {mesh, begin, std::min(begin + kTriangleChunk, setups[m].triangleCount)});
    }
    runJobs(static_cast<int>(vertexSpans.size()), threads, [&](int job) {
        const Span& span = vertexSpans[static_cast<std::size_t>(job)];
        transformVertices(frame, setups[span.mesh], span.begin, span.end);
    });

    // Triangles into bands, per chunk so that the chunks need no lock and keep their order.
    std::vector<std::vector<std::vector<TriangleRef>>> bins(triangleSpans.size());
    runJobs(static_cast<int>(triangleSpans.size()), threads, [&](int job) {
        const Span& span = triangleSpans[static_cast<std::size_t>(job)];
        auto& chunkBins = bins[static_cast<std::size_t>(job)];
        chunkBins.resize(static_cast<std::size_t>(bandCount) * 2);
        sortTriangles(frame, setups[span.mesh], span.mesh, span.begin, span.end, chunkBins);
    });
    return bins;
}

// Step 3 of the frame: each band drawn into `image` by one of `threads` threads.
void drawBands(const Frame& frame, const std::vector<MeshSetup>& setups,
               const std::vector<std::vector<std::vector<TriangleRef>>>& bins, int bandCount,
               int threads, QImage& image) {
    std::vector<float> depth(static_cast<std::size_t>(frame.width) * frame.height,
                             -std::numeric_limits<float>::infinity());
    auto* pixels = reinterpret_cast<QRgb*>(image.bits());
    runJobs(bandCount, threads, [&](int job) {
        Band band;
        band.pixels = pixels;
        band.depth = depth.data();
        band.rowBegin = job * kBandRows;
        band.rowEnd = std::min(band.rowBegin + kBandRows, frame.height);
        for (std::size_t pass = 0; pass < 2; ++pass) {
            for (const auto& chunkBins : bins) {
                for (const TriangleRef& ref : chunkBins[static_cast<std::size_t>(job) * 2 + pass])
                    drawTriangle(frame, setups[ref.mesh], ref.triangle, band);
            }
        }
    });
}

}  // namespace

QImage render(const std::vector<RasterMesh>& meshes, const RasterCamera& camera,
              const std::vector<ClipPlane>& clips, QSize size, QColor background, int threadCount) {
    if (size.isEmpty() || size.width() > kMaxImageSide || size.height() > kMaxImageSide)
        return QImage();
    QImage image(size, QImage::Format_RGB32);
    if (image.isNull())
        return image;
    image.fill(0xff000000u | (background.rgb() & 0xffffffu));

    const std::optional<FrameView> frameView = setUpFrame(meshes, camera, clips, size);
    if (!frameView)
        return image;
    const Frame& frame = frameView->frame;

    std::vector<MeshSetup> setups =
        prepareMeshes(meshes, frameView->viewProjection, frameView->view);
    if (setups.empty())
        return image;
    orderForBlending(setups, camera.eye, (camera.target - camera.eye).normalized());

    int threads =
        threadCount > 0 ? threadCount : static_cast<int>(std::thread::hardware_concurrency());
    threads = std::clamp(threads, 1, kMaxThreads);

    const int bandCount = (frame.height + kBandRows - 1) / kBandRows;
    const auto bins = binTriangles(frame, setups, bandCount, threads);
    drawBands(frame, setups, bins, bandCount, threads, image);
    return image;
}

}  // namespace orvanta::render_window
