// The host's view of its model: transforms composed down the tree, where the placed geometry lies
// in world coordinates, and the camera the host makes up when the model brings none.
#pragma once

#include <array>
#include <limits>

#include "tools/host_driver/host_model.h"

namespace orvanta::tools {

using Point3 = std::array<float, 3>;

// a * b: the transform that applies b first, then a (both as Transform stores them).
Transform multiplied(const Transform& a, const Transform& b);
// M (x, y, z, 1) and M (x, y, z, 0).
Point3 transformedPoint(const Transform& m, const Point3& p);
Point3 transformedDirection(const Transform& m, const Point3& d);

// An axis-aligned box; empty until a point is added.
struct Bounds {
    Point3 low{std::numeric_limits<float>::max(), std::numeric_limits<float>::max(),
               std::numeric_limits<float>::max()};
    Point3 high{std::numeric_limits<float>::lowest(), std::numeric_limits<float>::lowest(),
                std::numeric_limits<float>::lowest()};

    bool isEmpty() const { return low[0] > high[0]; }
    void add(const Point3& p);
    void merge(const Bounds& other);
    // Its eight corners, for a box that is not empty.
    std::array<Point3, 8> corners() const;
};

// Every mesh's positions, in its owner's coordinates.
Bounds meshBounds(const HostMesh& mesh);

// The world transform of every group and instance (the product of the transforms from the model
// root down to it), in model order: groups first, then instances.
std::vector<Transform> worldTransforms(const HostModel& model);

// A box around the model's geometry as placed in world coordinates: the model root's meshes, each
// group's meshes under the group's world transform and each instance's definition under the
// instance's; hidden entities included. Each mesh's own box is placed as a whole, so the result
// holds the tightest box and may be larger than it when a placement rotates. Linear in the
// vertices plus the placements.
Bounds worldBounds(const HostModel& model);

// The camera the host makes up to frame the whole model: looking at the centre of worldBounds()
// from the direction (1, -1.3, 0.9), far enough that the sphere around the box fits the vertical
// field of view kFramingFieldOfViewDegrees with kFramingMargin to spare; Z up, perspective, the
// window's own aspect, scene "Default". An empty model is framed as a unit sphere at the origin.
inline constexpr float kFramingFieldOfViewDegrees = 35.0f;
inline constexpr float kFramingMargin = 1.1f;
HostCamera framingCamera(const HostModel& model);

}  // namespace orvanta::tools
