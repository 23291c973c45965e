#include "tools/render_window/scene_view.h"

#include <QMatrix4x4>
#include <QRegularExpression>
#include <QVector3D>
#include <QtMath>

#include <algorithm>
#include <cmath>
#include <map>
#include <optional>
#include <set>
#include <utility>

namespace orvanta::render_window {
namespace {

const QString kModel = QStringLiteral("Model");

QVector3D vector(const std::array<float, 3>& values) {
    return {values[0], values[1], values[2]};
}

// Element 4 * column + row of `transform` is M(row, column).
QMatrix4x4 matrixOf(const std::array<float, 16>& transform) {
    QMatrix4x4 matrix;
    for (int column = 0; column < 4; ++column) {
        for (int row = 0; row < 4; ++row)
            matrix(row, column) = transform[static_cast<std::size_t>(4 * column + row)];
    }
    return matrix;
}

// What a usable material gives the meshes it is on: its colour and its texture's picture.
struct Paint {
    QColor colour;
    SharedTexture texture;  // null without one
};

// The colour of a held material whose colour reads as "#RRGGBB", with its opacity as alpha, and
// the picture held for its texture.
std::optional<Paint> materialPaint(const SceneSnapshot& scene, const QString& materialId) {
    if (materialId.isEmpty())
        return std::nullopt;
    const auto found = scene.materials.find(materialId);
    if (found == scene.materials.end())
        return std::nullopt;
    static const QRegularExpression kColourText(QStringLiteral("^#[0-9A-Fa-f]{6}$"));
    if (!kColourText.match(found->second.detailText).hasMatch())
        return std::nullopt;
    QColor colour(found->second.detailText);
    const float opacity = found->second.floatValue;
    colour.setAlphaF(std::isfinite(opacity) ? std::clamp(static_cast<double>(opacity), 0.0, 1.0)
                                            : 1.0);
    const auto texture = scene.textures.find(materialId);
    return Paint{colour, texture == scene.textures.end() ? nullptr : texture->second};
}

class Walk {
public:
    explicit Walk(const SceneSnapshot& scene) : m_scene(scene) {
        for (const auto& [key, placement] : scene.placements)
            m_children[key.second].push_back({key.first, &placement});
        for (const auto& [layerId, layer] : scene.layers) {
            if (!layer.flag)
                m_hiddenLayers.insert(layerId);
        }
    }

    std::vector<PlacedMesh> run() {
        drawMeshesOf(kModel, kModel, QMatrix4x4(), std::nullopt);
        m_onPath.insert(kModel);
        visitChildren(kModel, QMatrix4x4(), std::nullopt);
        return std::move(m_placed);
    }

private:
    struct Child {
        QString entityId;
        const ScenePlacement* placement;
    };

    void visitChildren(const QString& parentId, const QMatrix4x4& parentWorld,
                       const std::optional<Paint>& painted) {
        const auto children = m_children.find(parentId);
        if (children == m_children.end())
            return;
        for (const Child& child : children->second)
            visit(child.entityId, *child.placement, parentWorld, painted);
    }

    void visit(const QString& entityId, const ScenePlacement& placement,
               const QMatrix4x4& parentWorld, const std::optional<Paint>& enclosingPaint) {
        if (m_scene.hidden.count(entityId) != 0 || m_hiddenLayers.count(placement.label) != 0 ||
            m_onPath.count(entityId) != 0)
            return;
        const QMatrix4x4 world = parentWorld * matrixOf(placement.transform);
        std::optional<Paint> painted = materialPaint(m_scene, placement.note);
        if (!painted)
            painted = enclosingPaint;
        if (placement.kind == PlacementKind::Instance) {
            drawMeshesOf(placement.definitionId, entityId, world, painted);
            return;
        }
        drawMeshesOf(entityId, entityId, world, painted);
        m_onPath.insert(entityId);
        visitChildren(entityId, world, painted);
        m_onPath.erase(entityId);
    }

    void drawMeshesOf(const QString& ownerId, const QString& placedBy, const QMatrix4x4& world,
                      const std::optional<Paint>& painted) {
        if (ownerId.isEmpty())
            return;
        const auto owned = m_scene.meshes.find(ownerId);
        if (owned == m_scene.meshes.end())
            return;
        for (const auto& [meshId, shared] : owned->second) {
            const SceneMesh& mesh = *shared;
            if (m_hiddenLayers.count(mesh.label) != 0)
                continue;
            const QString& material =
                mesh.frontMaterial.isEmpty() ? mesh.backMaterial : mesh.frontMaterial;
            PlacedMesh placed{ownerId, meshId, placedBy, {}};
            RasterMesh& raster = placed.raster;
            raster.vertexCount = mesh.vertexCount;
            raster.indexCount = mesh.indexCount;
            const auto vertices = static_cast<std::size_t>(mesh.vertexCount);
            // fromArrays() sized the arrays to the counts; the checks keep a mesh built otherwise
            // from being read past its end.
            if (mesh.positions.size() >= 3 * vertices &&
                mesh.indices.size() >= static_cast<std::size_t>(mesh.indexCount)) {
                raster.positions = mesh.positions.data();
                raster.indices = mesh.indices.data();
            }
            if (mesh.normals.size() >= 3 * vertices)
                raster.normals = mesh.normals.data();
            raster.toWorld = world;
            const std::optional<Paint> own = materialPaint(m_scene, material);
            const std::optional<Paint>& paint = own ? own : painted;
            raster.colour = paint ? paint->colour : kNeutralColour;
            if (paint && paint->texture) {
                raster.texture = paint->texture;
                if (mesh.frontUVs.size() >= 2 * vertices)
                    raster.frontUVs = mesh.frontUVs.data();
                if (mesh.backUVs.size() >= 2 * vertices)
                    raster.backUVs = mesh.backUVs.data();
            }
            m_placed.push_back(std::move(placed));
        }
    }

    const SceneSnapshot& m_scene;
    std::map<QString, std::vector<Child>> m_children;  // parent id -> placements under it
    std::set<QString> m_onPath;  // the groups between the root and the node being visited
    std::set<QString> m_hiddenLayers;
    std::vector<PlacedMesh> m_placed;
};

}  // namespace

std::vector<PlacedMesh> placeMeshes(const SceneSnapshot& scene) {
    return Walk(scene).run();
}

std::vector<ClipPlane> activeClipPlanes(const SceneSnapshot& scene) {
    std::vector<ClipPlane> clips;
    for (const auto& [planeNumber, plane] : scene.sectionPlanes) {
        (void)planeNumber;
        if (plane.active)
            clips.push_back({vector(plane.first), vector(plane.second)});
    }
    return clips;
}

namespace {

float aspectOf(QSize size) {
    return size.height() > 0 ? static_cast<float>(size.width()) / static_cast<float>(size.height())
                             : 1.0f;
}

}  // namespace

RasterCamera viewCamera(const SceneCamera& host, QSize size) {
    const float imageAspect = aspectOf(size);
    RasterCamera camera;
    camera.eye = vector(host.eye);
    camera.target = vector(host.target);
    camera.up = vector(host.up);
    camera.perspective = host.perspective;
    camera.fieldOfViewDegrees = host.fieldOfViewDegrees;
    camera.orthographicHeight = host.parallelHeight;
    // How much taller than the host's view this one must be to keep its width.
    const float widen =
        host.aspect > imageAspect && std::isfinite(host.aspect) ? host.aspect / imageAspect : 1.0f;
    if (widen > 1.0f) {
        const double halfField =
            qDegreesToRadians(static_cast<double>(host.fieldOfViewDegrees)) / 2;
        camera.fieldOfViewDegrees =
            static_cast<float>(qRadiansToDegrees(2 * std::atan(std::tan(halfField) * widen)));
        camera.orthographicHeight = host.parallelHeight * widen;
    }
    return camera;
}

RasterCamera viewCamera(const SceneSnapshot& scene, const std::vector<RasterMesh>& meshes,
                        QSize size) {
    if (!scene.camera)
        return frameBounds(worldBounds(meshes), aspectOf(size));
    return viewCamera(*scene.camera, size);
}

SceneCamera startCamera(const SceneSnapshot& scene, QSize size) {
    if (scene.camera)
        return *scene.camera;
    std::vector<RasterMesh> meshes;
    for (const PlacedMesh& mesh : placeMeshes(scene))
        meshes.push_back(mesh.raster);
    const RasterCamera framing = viewCamera(scene, meshes, size);
    SceneCamera camera;
    camera.eye = {framing.eye.x(), framing.eye.y(), framing.eye.z()};
    camera.target = {framing.target.x(), framing.target.y(), framing.target.z()};
    camera.up = {framing.up.x(), framing.up.y(), framing.up.z()};
    camera.perspective = framing.perspective;
    camera.fieldOfViewDegrees = framing.fieldOfViewDegrees;
    camera.parallelHeight = framing.orthographicHeight;
    camera.aspect = 0;
    return camera;
}

QImage renderScene(const SceneSnapshot& scene, QSize size) {
    const std::vector<PlacedMesh> placed = placeMeshes(scene);
    std::vector<RasterMesh> meshes;
    meshes.reserve(placed.size());
    for (const PlacedMesh& mesh : placed)
        meshes.push_back(mesh.raster);
    return render(meshes, viewCamera(scene, meshes, size), activeClipPlanes(scene), size,
                  kBackgroundColour);
}

}  // namespace orvanta::render_window
