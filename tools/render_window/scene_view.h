// The scene as the render window shows it: a SceneSnapshot turned into the rasteriser's meshes,
// section planes and camera, and rendered into an image. The meaning of every value is
// docs/host_render_agreement.md.
//
// Which meshes are drawn, and where: starting at the model root ("Model"), whose own meshes are
// drawn untransformed, every placement under a node is visited with its world transform, the
// parent's world transform times its own (16 floats, column by column). A group draws its own
// meshes and visits what is placed under it; an instance draws its definition's meshes. A hidden
// entity is not visited, so nothing under it is drawn either. A node reached again on its own path
// (a placement cycle) is not visited again; what no path from the root reaches is not drawn.
//
// Layers: a group or instance whose layer (its placement's `label`) is held as not visible is not
// visited, as a hidden entity is not, whatever the layers of what lies under it; a mesh whose layer
// (its `label`) is held as not visible is not drawn, wherever it is placed. A layer that is not
// held counts as visible.
//
// A mesh's colour: its own material (the front one, or else the back one), else the material
// painted on the nearest enclosing node that names one (`note`), else kNeutralColour. A material
// is used when it is held and its colour reads as "#RRGGBB"; otherwise it counts as no material.
// Its opacity (0 to 1) becomes the colour's alpha.
// The material that gives a mesh its colour also gives it its texture, when the snapshot holds a
// picture for that material (texture_requests.h): the mesh is drawn textured with its front and
// back UVs (rasterizer.h), the texels modulated by the colour.
#pragma once

#include <QColor>
#include <QImage>
#include <QSize>
#include <QString>

#include <vector>

#include "tools/render_window/rasterizer.h"
#include "tools/render_window/scene_store.h"

namespace orvanta::render_window {

// The colour of meshes without a usable material, and the view's background.
inline const QColor kNeutralColour(178, 178, 178);
inline const QColor kBackgroundColour(46, 52, 62);

// One mesh as drawn. `raster` points into the arrays of the snapshot it was made from: valid as
// long as that snapshot lives.
struct PlacedMesh {
    QString ownerId;  // whose mesh: "Model", a group, or an instance's definition
    QString meshId;
    QString placedBy;  // "Model" for the root's meshes, else the group or instance drawing it
    RasterMesh raster;
};

// Every mesh the snapshot shows, in walk order: the root's meshes, then each placement under a
// node in the order of the snapshot's placement keys, depth first. A mesh whose arrays are shorter
// than its counts say gets null arrays (null normals alone when only those are short); the
// rasteriser skips what it cannot draw.
std::vector<PlacedMesh> placeMeshes(const SceneSnapshot& scene);

// The active section planes, by ascending plane number: point = first vector, normal = second.
std::vector<ClipPlane> activeClipPlanes(const SceneSnapshot& scene);

// The view of an image of `size`: the snapshot's camera when it has one, else a camera that frames
// `meshes` (frameBounds() of their worldBounds()).
// The host's camera keeps its vertical field (or parallel height) in an image at least as wide as
// its own aspect; in a narrower one the field is widened so that the host's horizontal extent
// still fits. An aspect of 0 takes the image's.
RasterCamera viewCamera(const SceneSnapshot& scene, const std::vector<RasterMesh>& meshes,
                        QSize size);

// The host's camera as seen in an image of `size`, by the rule of viewCamera().
RasterCamera viewCamera(const SceneCamera& host, QSize size);

// The camera the view of an image of `size` starts from, in the host's terms: the snapshot's
// camera when it has one, else the framing camera of viewCamera() (perspective, Z up, aspect 0,
// so that it shows in that image as framed).
SceneCamera startCamera(const SceneSnapshot& scene, QSize size);

// The snapshot rendered into an image of `size` on kBackgroundColour (a null image for a size the
// rasteriser refuses). Reads the snapshot only; any thread, any number of calls at once.
QImage renderScene(const SceneSnapshot& scene, QSize size);

}  // namespace orvanta::render_window
