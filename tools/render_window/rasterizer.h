// The render window's software rasteriser: draws the scene's triangle meshes into an image on the
// CPU, with a depth buffer, section planes and simple headlight shading. No GPU, no window system.
//
// Conventions: the world is right-handed; the camera's view matrix is QMatrix4x4::lookAt(eye,
// target, up), its projection QMatrix4x4::perspective (vertical field of view) or
// QMatrix4x4::ortho; image row 0 is the top of the view.
#pragma once

#include <QColor>
#include <QImage>
#include <QMatrix4x4>
#include <QSize>
#include <QVector3D>

#include <cstdint>
#include <limits>
#include <vector>

namespace orvanta::render_window {

// One triangle mesh placed in the world. The arrays belong to the caller and are only read during
// the render() call that receives them. `positions` and `normals` hold 3 floats per vertex
// (vertexCount vertices), `indices` 3 per triangle (indexCount entries; a trailing incomplete
// triangle is ignored). A triangle with an index outside [0, vertexCount), or with a vertex that
// is not finite after placement, is skipped. Null `normals` give each triangle its flat face
// normal; otherwise the vertex normals are interpolated across the triangle. `toWorld` is affine;
// normals go through its inverse transpose. The colour's alpha is the opacity: see render().
struct RasterMesh {
    const float* positions = nullptr;
    const float* normals = nullptr;
    const std::int32_t* indices = nullptr;
    int vertexCount = 0;
    int indexCount = 0;
    QMatrix4x4 toWorld;
    QColor colour = QColor(255, 255, 255);
};

// Where the view comes from. A camera whose eye equals its target shows only the background; an
// `up` parallel to the view direction (or zero) is replaced by +Z, or +Y when looking along Z.
// When not `perspective`, `orthographicHeight` world units are visible vertically; 0 (or less)
// shows what the perspective view shows at the target's distance. The field of view is clamped
// to [0.01, 179] degrees.
// `nearDistance` and `farDistance` (along the view direction, from the eye) cut what is nearer or
// farther; 0 chooses them from the scene: nothing beyond the scene is cut, a perspective view cuts
// only what lies closer to the eye than a millionth of the depth of the scene bounds' farthest
// corner, and an orthographic view cuts nothing, not even what lies behind the eye.
struct RasterCamera {
    QVector3D eye;
    QVector3D target;
    QVector3D up = QVector3D(0, 0, 1);
    float fieldOfViewDegrees = 35;
    bool perspective = true;
    float orthographicHeight = 0;
    float nearDistance = 0;
    float farDistance = 0;
};

// A section plane: what lies where dot(p - point, normal) < 0 is cut away; points on the plane
// stay. A zero normal cuts nothing.
struct ClipPlane {
    QVector3D point;
    QVector3D normal;
};

// An axis-aligned box; a default one is empty (not valid) until a point is added.
struct Bounds {
    QVector3D min = QVector3D(1, 1, 1) * std::numeric_limits<float>::max();
    QVector3D max = QVector3D(-1, -1, -1) * std::numeric_limits<float>::max();

    bool valid() const { return min.x() <= max.x() && min.y() <= max.y() && min.z() <= max.z(); }
    void add(const QVector3D& point);
    QVector3D centre() const { return (min + max) * 0.5f; }
    // Half the diagonal: the radius of a sphere around centre() holding the box.
    float radius() const { return (max - min).length() * 0.5f; }
};

// The world-space box of every finite vertex of `meshes` (referenced by a triangle or not),
// placed by its toWorld. Invalid when there is none.
Bounds worldBounds(const std::vector<RasterMesh>& meshes);

// A perspective camera (35 degrees, Z up) looking at the centre of `bounds` from above, along the
// direction (1, -1.3, 0.9) from the centre to the eye, far enough that the bounds' enclosing
// sphere fits the view of an image of width/height `aspect`, with a little margin. Invalid bounds
// are treated as a unit sphere around the origin, a non-positive or non-finite aspect as 1.
RasterCamera frameBounds(const Bounds& bounds, float aspect);

// Draws `meshes` as seen by `camera` into a Format_RGB32 image of `size`, first filled with
// `background` (its alpha ignored). Nearer surfaces win regardless of draw order (at equal depth
// the earlier mesh and triangle win); `clips` cut per pixel. Triangles are lit from both sides by
// a headlight along the view direction: colour * (0.25 + 0.75 * |cos|) with the surface normal.
// Opaque meshes (alpha 1) are drawn first; then the translucent ones (0 < alpha < 1), back to
// front: by the view depth (along the view direction from the eye) of the centre of each mesh's
// world bounds, farthest first, meshes at equal depth in the order given, the triangles of one
// mesh in their order. Each is blended over what is there and hidden behind nearer opaque
// surfaces, without hiding anything itself; meshes with alpha 0 are not drawn.
// Pixel centres are at half-integer coordinates; a pixel belongs to a triangle when its centre is
// inside, or on a top or left edge, so triangles sharing an edge never leave a gap between them
// nor both draw a pixel (short of where the near plane cuts them).
// Empty input, or nothing in view, gives the background alone; an empty `size`, or a side
// longer than kMaxImageSide, gives a null image. Uses up to `threadCount` threads (0: as many as
// the machine has) for the duration of the call. A pure function of its arguments; any thread,
// any number of calls at once.
constexpr int kMaxImageSide = 16384;
QImage render(const std::vector<RasterMesh>& meshes, const RasterCamera& camera,
              const std::vector<ClipPlane>& clips, QSize size, QColor background,
              int threadCount = 0);

}  // namespace orvanta::render_window
