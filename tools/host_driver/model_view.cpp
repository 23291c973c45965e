#include "tools/host_driver/model_view.h"

#include <QHash>

#include <algorithm>
#include <cmath>

namespace orvanta::tools {
namespace {

constexpr float kPi = 3.14159265358979f;

}  // namespace

Transform multiplied(const Transform& a, const Transform& b) {
    Transform product{};
    for (int column = 0; column < 4; ++column) {
        for (int row = 0; row < 4; ++row) {
            float sum = 0.0f;
            for (int k = 0; k < 4; ++k)
                sum += a[4 * k + row] * b[4 * column + k];
            product[4 * column + row] = sum;
        }
    }
    return product;
}

Point3 transformedPoint(const Transform& m, const Point3& p) {
    return {m[0] * p[0] + m[4] * p[1] + m[8] * p[2] + m[12],
            m[1] * p[0] + m[5] * p[1] + m[9] * p[2] + m[13],
            m[2] * p[0] + m[6] * p[1] + m[10] * p[2] + m[14]};
}

Point3 transformedDirection(const Transform& m, const Point3& d) {
    return {m[0] * d[0] + m[4] * d[1] + m[8] * d[2], m[1] * d[0] + m[5] * d[1] + m[9] * d[2],
            m[2] * d[0] + m[6] * d[1] + m[10] * d[2]};
}

void Bounds::add(const Point3& p) {
    for (int axis = 0; axis < 3; ++axis) {
        low[axis] = std::min(low[axis], p[axis]);
        high[axis] = std::max(high[axis], p[axis]);
    }
}

void Bounds::merge(const Bounds& other) {
    if (other.isEmpty())
        return;
    add(other.low);
    add(other.high);
}

std::array<Point3, 8> Bounds::corners() const {
    std::array<Point3, 8> corners{};
    for (int i = 0; i < 8; ++i)
        corners[i] = {(i & 1) ? high[0] : low[0], (i & 2) ? high[1] : low[1],
                      (i & 4) ? high[2] : low[2]};
    return corners;
}

Bounds meshBounds(const HostMesh& mesh) {
    Bounds bounds;
    for (std::size_t i = 0; i + 2 < mesh.positions.size(); i += 3)
        bounds.add({mesh.positions[i], mesh.positions[i + 1], mesh.positions[i + 2]});
    return bounds;
}

std::vector<Transform> worldTransforms(const HostModel& model) {
    QHash<QByteArray, Transform> groupWorld;
    groupWorld.reserve(static_cast<int>(model.groups.size()));
    const auto parentWorld = [&](const QByteArray& parentId) {
        const auto found = groupWorld.constFind(parentId);
        return found == groupWorld.constEnd() ? identityTransform() : *found;
    };
    std::vector<Transform> world;
    world.reserve(model.groups.size() + model.instances.size());
    // Parents come before their children, so each parent's world transform is known in time.
    for (const HostGroup& group : model.groups) {
        world.push_back(multiplied(parentWorld(group.parentId), group.transform));
        groupWorld.insert(group.id, world.back());
    }
    for (const HostInstance& instance : model.instances)
        world.push_back(multiplied(parentWorld(instance.parentId), instance.transform));
    return world;
}

Bounds worldBounds(const HostModel& model) {
    const auto placedBoxes = [](const std::vector<HostMesh>& meshes) {
        Bounds local;
        for (const HostMesh& mesh : meshes)
            local.merge(meshBounds(mesh));
        return local;
    };
    const auto addPlaced = [](Bounds& into, const Bounds& local, const Transform& world) {
        if (local.isEmpty())
            return;
        for (const Point3& corner : local.corners())
            into.add(transformedPoint(world, corner));
    };

    Bounds bounds = placedBoxes(model.rootMeshes);
    const std::vector<Transform> world = worldTransforms(model);
    for (std::size_t g = 0; g < model.groups.size(); ++g)
        addPlaced(bounds, placedBoxes(model.groups[g].meshes), world[g]);
    QHash<QByteArray, Bounds> definitionBoxes;
    for (const HostDefinition& definition : model.definitions)
        definitionBoxes.insert(definition.id, placedBoxes(definition.meshes));
    for (std::size_t i = 0; i < model.instances.size(); ++i) {
        const auto found = definitionBoxes.constFind(model.instances[i].definitionId);
        if (found != definitionBoxes.constEnd())
            addPlaced(bounds, *found, world[model.groups.size() + i]);
    }
    return bounds;
}

HostCamera framingCamera(const HostModel& model) {
    const Bounds bounds = worldBounds(model);
    Point3 centre{0.0f, 0.0f, 0.0f};
    float radius = 1.0f;
    if (!bounds.isEmpty()) {
        float squared = 0.0f;
        for (int axis = 0; axis < 3; ++axis) {
            centre[axis] = 0.5f * (bounds.low[axis] + bounds.high[axis]);
            const float half = 0.5f * (bounds.high[axis] - bounds.low[axis]);
            squared += half * half;
        }
        if (squared > 0.0f)
            radius = std::sqrt(squared);
    }
    // The sphere of `radius` around the centre, grown by the margin, touches the edges of the
    // vertical field of view seen from `distance`.
    const float halfAngle = 0.5f * kFramingFieldOfViewDegrees * kPi / 180.0f;
    const float distance = kFramingMargin * radius / std::sin(halfAngle);
    const Point3 direction{1.0f, -1.3f, 0.9f};
    const float length = std::sqrt(direction[0] * direction[0] + direction[1] * direction[1] +
                                   direction[2] * direction[2]);

    HostCamera camera;
    for (int axis = 0; axis < 3; ++axis)
        camera.eye[axis] = centre[axis] + direction[axis] / length * distance;
    camera.target = centre;
    camera.up = {0.0f, 0.0f, 1.0f};
    camera.perspective = true;
    camera.modelsOwn = false;
    camera.fieldOfViewDegrees = kFramingFieldOfViewDegrees;
    camera.parallelHeight = 2.0f * kFramingMargin * radius;
    camera.aspect = 0.0f;
    camera.sceneName = "Default";
    return camera;
}

}  // namespace orvanta::tools
