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

#include <array>
#include <cstdint>
#include <limits>
#include <memory>
#include <vector>

namespace orvanta::render_window {

// A picture for texture mapping: `width` x `height` texels, row by row from the picture's top row,
// each a QRgb with straight (not premultiplied) alpha. Immutable once made; any thread.
//
// Texture coordinates (u, v) run across the picture: u from its left edge (0) to its right edge
// (1), v from its bottom edge (0) to its top edge (1), as the host and OpenGL (and Assimp) give
// them; outside [0, 1] the picture repeats. Texel (i, j) (column i, row j from the top) has its
// centre at ((i + 0.5) / width, 1 - (j + 0.5) / height); between centres the four nearest texels
// are blended bilinearly, across the edges with those of the opposite edge.
//
// Where a pixel covers many texels, a smaller copy of the picture is sampled instead (a mip chain),
// so that a far or slanted texture shows the mean of what lies under each pixel rather than a
// texel picked out of it (moire).
struct RasterTexture {
    int width = 0;
    int height = 0;
    std::vector<QRgb> texels;
    // Some texel's alpha is below 255.
    bool translucent = false;

    // A smaller copy of the picture: each level half the size of the one before (rounded down, at
    // least one texel a side), each texel the mean of the texels of the level before that it
    // covers, colours weighted by their alpha (a transparent texel adds no colour). The last level
    // is 1 x 1. Same texel conventions as the picture itself.
    struct Level {
        int width = 0;
        int height = 0;
        std::vector<QRgb> texels;
    };
    // Levels 1, 2, ...: the picture itself is level 0. Made by fromImage; empty for a 1 x 1
    // picture (or when texels were set by hand, and then only level 0 is sampled).
    std::vector<Level> smaller;

    // The picture of `image`, in any format, with its smaller levels; null for a null image.
    static std::shared_ptr<const RasterTexture> fromImage(const QImage& image);
    // The bilinear, repeating sample at (u, v), each channel 0 to 1, alpha last; a non-finite
    // coordinate reads as 0. The texture must not be empty.
    std::array<float, 4> sample(float u, float v) const;
    // The sample at (u, v) for a pixel that covers `footprint` texels of the picture along its
    // longer side: up to 1 (or not finite), sample(u, v); above, the bilinear samples of the two
    // levels around log2(footprint) blended linearly (the last level beyond the chain's end).
    std::array<float, 4> sample(float u, float v, float footprint) const;
};

// One triangle mesh placed in the world. The arrays belong to the caller and are only read during
// the render() call that receives them. `positions` and `normals` hold 3 floats per vertex
// (vertexCount vertices), `indices` 3 per triangle (indexCount entries; a trailing incomplete
// triangle is ignored). A triangle with an index outside [0, vertexCount), or with a vertex that
// is not finite after placement, is skipped. Null `normals` give each triangle its flat face
// normal; otherwise the vertex normals are interpolated across the triangle. `toWorld` is affine;
// normals go through its inverse transpose. The colour's alpha is the opacity: see render().
//
// Texturing: with a non-empty `texture` and `frontUVs` (2 floats per vertex, like `backUVs`), each
// pixel takes the texture's sample (RasterTexture::sample, with the pixel's footprint in texels
// from the rate at which (u, v) changes across the image there) at the (u, v) interpolated
// perspective-correctly across the triangle: from `frontUVs` where the triangle shows its front
// face (the side its counter-clockwise winding faces, placed by toWorld's inverse transpose), from
// `backUVs` where it shows its back (from `frontUVs` when `backUVs` is null). The texel's colour
// multiplies the mesh colour, and its alpha the mesh colour's alpha. Without texture or front UVs
// the mesh is drawn in its colour alone.
struct RasterMesh {
    const float* positions = nullptr;
    const float* normals = nullptr;
    const std::int32_t* indices = nullptr;
    int vertexCount = 0;
    int indexCount = 0;
    QMatrix4x4 toWorld;
    QColor colour = QColor(255, 255, 255);
    const float* frontUVs = nullptr;
    const float* backUVs = nullptr;
    std::shared_ptr<const RasterTexture> texture;
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
// A textured mesh whose texture is translucent is drawn with the translucent ones, whatever its
// colour's alpha; there each pixel's alpha (the colour's times the texel's) decides: 0 draws
// nothing, 1 draws and hides like an opaque surface, anything between blends as above.
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
