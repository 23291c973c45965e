// Test support for the render window's views: the rasteriser's projection, computed with Qt's
// matrices, and a small scene to look at.
#pragma once

#include <QMatrix4x4>
#include <QSize>

#include "tools/render_window/rasterizer.h"
#include "tools/render_window/scene_store.h"

namespace orvanta::render_window::test {

// World to clip space through `camera` for an image of `size`, by the rasteriser's conventions:
// lookAt, then perspective or ortho.
inline QMatrix4x4 viewProjection(const RasterCamera& camera, QSize size) {
    const float aspect = static_cast<float>(size.width()) / static_cast<float>(size.height());
    QMatrix4x4 projection;
    if (camera.perspective) {
        projection.perspective(camera.fieldOfViewDegrees, aspect, 0.01f, 1000.0f);
    } else {
        const float h = camera.orthographicHeight;
        projection.ortho(-h * aspect / 2, h * aspect / 2, -h / 2, h / 2, -1000, 1000);
    }
    QMatrix4x4 view;
    view.lookAt(camera.eye, camera.target, camera.up);
    return projection * view;
}

// Adds to `store` the square [-1, 1]^2 at z = 0 facing up, mesh "flat" of the root "Model".
inline void addFlatSquare(SceneStore& store) {
    const float flat[] = {-1, -1, 0, 1, -1, 0, 1, 1, 0, -1, 1, 0};
    const float up[] = {0, 0, 1, 0, 0, 1, 0, 0, 1, 0, 0, 1};
    const float uvs[8] = {};
    const bool flags[4] = {};
    const int indices[] = {0, 1, 2, 0, 2, 3};
    store.addMesh("Model", "flat",
                  SceneMesh::fromArrays("0", flat, up, uvs, uvs, flags, indices, 6, 4, "", ""));
}

// Adds to `store` the flat square and a smaller one standing at x = 2 facing +x ("standing"),
// both of the root "Model".
inline void addTwoSquares(SceneStore& store) {
    addFlatSquare(store);
    const float standing[] = {2, -0.5f, 0, 2, 0.5f, 0, 2, 0.5f, 1, 2, -0.5f, 1};
    const float side[] = {1, 0, 0, 1, 0, 0, 1, 0, 0, 1, 0, 0};
    const float uvs[8] = {};
    const bool flags[4] = {};
    const int indices[] = {0, 1, 2, 0, 2, 3};
    store.addMesh(
        "Model", "standing",
        SceneMesh::fromArrays("0", standing, side, uvs, uvs, flags, indices, 6, 4, "", ""));
}

}  // namespace orvanta::render_window::test
