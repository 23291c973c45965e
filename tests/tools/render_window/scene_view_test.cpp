// The render window's view of its scene store: world transforms through nested groups and
// instances, hidden subtrees, the colour rule, active section planes, and the camera (the host's,
// with its projection and aspect, or a framing one). Expected matrices and pixels come from the
// test's own transforms and geometry.
#include <QColor>
#include <QImage>
#include <QMatrix4x4>
#include <QVector3D>
#include <QtMath>

#include <array>
#include <cmath>
#include <map>
#include <optional>
#include <ostream>
#include <set>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/image_checks.h"
#include "tools/render_window/scene_store.h"
#include "tools/render_window/scene_view.h"

// Readable texts in failure messages.
void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace {

using namespace orvanta::render_window;
using xel::test::isUniform;

// The square [-1, 1] x [-1, 1] at z = 0, facing +Z, as the receiver hands a mesh over, its faces
// on `layer`.
SceneMesh square(const char* material = "", const char* layer = "0") {
    const float positions[] = {-1, -1, 0, 1, -1, 0, 1, 1, 0, -1, 1, 0};
    const float normals[] = {0, 0, 1, 0, 0, 1, 0, 0, 1, 0, 0, 1};
    const float uvs[8] = {};
    const bool flags[4] = {};
    const int indices[] = {0, 1, 2, 0, 2, 3};
    return SceneMesh::fromArrays(layer, positions, normals, uvs, uvs, flags, indices, 6, 4,
                                 material, material);
}

// The 16 floats of `matrix` in the agreement's order: element 4 * column + row.
std::array<float, 16> columnsOf(const QMatrix4x4& matrix) {
    std::array<float, 16> values{};
    for (int column = 0; column < 4; ++column) {
        for (int row = 0; row < 4; ++row)
            values[static_cast<std::size_t>(4 * column + row)] = matrix(row, column);
    }
    return values;
}

ScenePlacement group(const QMatrix4x4& transform, const char* note = "") {
    ScenePlacement placement;
    placement.kind = PlacementKind::Group;
    placement.transform = columnsOf(transform);
    placement.note = QString::fromUtf8(note);
    return placement;
}

ScenePlacement instance(const char* definition, const QMatrix4x4& transform,
                        const char* note = "") {
    ScenePlacement placement = group(transform, note);
    placement.kind = PlacementKind::Instance;
    placement.definitionId = QString::fromUtf8(definition);
    return placement;
}

QMatrix4x4 moved(float x, float y, float z, float degreesAboutZ = 0, float scale = 1) {
    QMatrix4x4 matrix;
    matrix.translate(x, y, z);
    matrix.rotate(degreesAboutZ, 0, 0, 1);
    matrix.scale(scale);
    return matrix;
}

// (owner, placed by) -> the mesh drawn so; fails on a pair drawn twice.
std::map<std::pair<QString, QString>, PlacedMesh> byOwnerAndPlacement(
    const std::vector<PlacedMesh>& meshes) {
    std::map<std::pair<QString, QString>, PlacedMesh> found;
    for (const PlacedMesh& mesh : meshes)
        EXPECT_TRUE(found.emplace(std::make_pair(mesh.ownerId, mesh.placedBy), mesh).second)
            << mesh.ownerId.toStdString() << " by " << mesh.placedBy.toStdString();
    return found;
}

void expectSameMatrix(const QMatrix4x4& actual, const QMatrix4x4& expected, const char* what) {
    for (int row = 0; row < 4; ++row) {
        for (int column = 0; column < 4; ++column)
            EXPECT_NEAR(actual(row, column), expected(row, column), 1e-5)
                << what << " (" << row << ", " << column << ")";
    }
}

// Model: its own square; group 10 (moved, turned) holding its square and group 11 (scaled),
// which holds its square and instance 12 of definition 5; instance 13 of definition 5 at the
// root.
struct Tree {
    QMatrix4x4 g10 = moved(5, -2, 1, 30);
    QMatrix4x4 g11 = moved(0, 3, 0, -75, 2);
    QMatrix4x4 i12 = moved(1, 1, 4, 90, 0.5f);
    QMatrix4x4 i13 = moved(-8, 0, 0, 10);
    SceneStore store;

    Tree() {
        store.addMesh("Model", "Model_0", square());
        store.addComponentDef("5", {"chair", false, ""});
        store.addMesh("5", "5_0", square());
        store.addPlacement("10", "Model", group(g10));
        store.addMesh("10", "10_0", square());
        store.addPlacement("11", "10", group(g11));
        store.addMesh("11", "11_0", square());
        store.addPlacement("12", "11", instance("5", i12));
        store.addPlacement("13", "Model", instance("5", i13));
    }
};

TEST(SceneView, WorldTransformsComposeFromTheRootThroughGroupsAndInstances) {
    Tree tree;
    const SceneSnapshot scene = tree.store.snapshot();
    const auto drawn = byOwnerAndPlacement(placeMeshes(scene));
    ASSERT_EQ(drawn.size(), 5u);
    expectSameMatrix(drawn.at({"Model", "Model"}).raster.toWorld, QMatrix4x4(), "root");
    expectSameMatrix(drawn.at({"10", "10"}).raster.toWorld, tree.g10, "group 10");
    expectSameMatrix(drawn.at({"11", "11"}).raster.toWorld, tree.g10 * tree.g11, "group 11");
    expectSameMatrix(drawn.at({"5", "12"}).raster.toWorld, tree.g10 * tree.g11 * tree.i12,
                     "instance 12");
    expectSameMatrix(drawn.at({"5", "13"}).raster.toWorld, tree.i13, "instance 13");
    // The arrays are the store's: the definition's one mesh serves both instances.
    const SceneMesh& chair = *scene.meshes.at("5").at("5_0");
    EXPECT_EQ(drawn.at({"5", "12"}).raster.positions, chair.positions.data());
    EXPECT_EQ(drawn.at({"5", "13"}).raster.positions, chair.positions.data());
    EXPECT_EQ(drawn.at({"5", "12"}).raster.indexCount, 6);
    EXPECT_EQ(drawn.at({"5", "12"}).raster.vertexCount, 4);
}

TEST(SceneView, AHiddenEntityAndEverythingUnderItAreLeftOut) {
    Tree tree;
    tree.store.setEntityVisible("11", false);
    tree.store.setEntityVisible("13", false);
    std::set<std::pair<QString, QString>> drawn;
    for (const auto& [key, mesh] : byOwnerAndPlacement(placeMeshes(tree.store.snapshot())))
        drawn.insert(key);
    const std::set<std::pair<QString, QString>> expected = {{"Model", "Model"}, {"10", "10"}};
    EXPECT_EQ(drawn, expected);

    tree.store.setEntityVisible("11", true);
    EXPECT_EQ(placeMeshes(tree.store.snapshot()).size(), 4u) << "shown again: only 13 hidden";
}

// Layers as the host reports them: a node's layer is its placement's label, a mesh's the label of
// the mesh. Model: mesh M0 on layer 0 and M1 on layer 20; group 10 on layer 12 holding its mesh
// on layer 0 and group 11 on layer 0, which holds its mesh and instance 12 (layer 0); definition 5
// with D0 on layer 0 and D1 on layer 20, placed by 12, by 13 (layer 20) and by 14 (layer 0) at the
// root; group 15 on layer 99, which the host never reported, with its mesh on that layer.
struct LayeredTree {
    SceneStore store;

    LayeredTree() {
        for (const char* layer : {"0", "12", "20"})
            store.addLayer(layer, {true, QString(layer) == "0", false});
        store.addMesh("Model", "M0", square("", "0"));
        store.addMesh("Model", "M1", square("", "20"));
        store.addComponentDef("5", {"chair", false, ""});
        store.addMesh("5", "D0", square("", "0"));
        store.addMesh("5", "D1", square("", "20"));
        store.addPlacement("10", "Model", onLayer(group(QMatrix4x4()), "12"));
        store.addMesh("10", "G10", square("", "0"));
        store.addPlacement("11", "10", onLayer(group(QMatrix4x4()), "0"));
        store.addMesh("11", "G11", square("", "0"));
        store.addPlacement("12", "11", onLayer(instance("5", QMatrix4x4()), "0"));
        store.addPlacement("13", "Model", onLayer(instance("5", QMatrix4x4()), "20"));
        store.addPlacement("14", "Model", onLayer(instance("5", QMatrix4x4()), "0"));
        store.addPlacement("15", "Model", onLayer(group(QMatrix4x4()), "99"));
        store.addMesh("15", "G15", square("", "99"));
    }

    static ScenePlacement onLayer(ScenePlacement placement, const char* layer) {
        placement.label = QString::fromUtf8(layer);
        return placement;
    }
};

struct LayerCase {
    const char* name;
    std::vector<std::pair<const char*, bool>> reports;  // (layer, visible), after all visible
    std::set<std::pair<QString, QString>> drawn;        // (mesh, placed by)
};

TEST(SceneView, WhatLiesOnAHiddenLayerIsLeftOutAndComesBackWhenTheLayerIsShown) {
    const std::set<std::pair<QString, QString>> everything = {
        {"M0", "Model"}, {"M1", "Model"}, {"G10", "10"}, {"G11", "11"}, {"D0", "12"}, {"D1", "12"},
        {"D0", "13"},    {"D1", "13"},    {"D0", "14"},  {"D1", "14"},  {"G15", "15"}};
    const LayerCase cases[] = {
        {"every layer visible", {}, everything},
        // A group's layer hides the group with all it holds, whatever their own layers.
        {"layer 12 hidden",
         {{"12", false}},
         {{"M0", "Model"},
          {"M1", "Model"},
          {"D0", "13"},
          {"D1", "13"},
          {"D0", "14"},
          {"D1", "14"},
          {"G15", "15"}}},
        // Meshes on the layer go wherever they are placed, and so does the instance on it.
        {"layer 20 hidden",
         {{"20", false}},
         {{"M0", "Model"},
          {"G10", "10"},
          {"G11", "11"},
          {"D0", "12"},
          {"D0", "14"},
          {"G15", "15"}}},
        {"layers 12 and 20 hidden",
         {{"12", false}, {"20", false}},
         {{"M0", "Model"}, {"D0", "14"}, {"G15", "15"}}},
        // Group 10 on a visible layer is visited, but its mesh and group 11 are on the hidden one.
        {"the default layer hidden",
         {{"0", false}},
         {{"M1", "Model"}, {"D1", "13"}, {"G15", "15"}}},
        {"layer 12 hidden, then shown again", {{"12", false}, {"12", true}}, everything},
        {"layer 20 hidden, then 12, then 20 shown again",
         {{"20", false}, {"12", false}, {"20", true}},
         {{"M0", "Model"},
          {"M1", "Model"},
          {"D0", "13"},
          {"D1", "13"},
          {"D0", "14"},
          {"D1", "14"},
          {"G15", "15"}}},
    };
    for (const LayerCase& test : cases) {
        SCOPED_TRACE(test.name);
        LayeredTree tree;
        for (const auto& [layer, visible] : test.reports)
            tree.store.addLayer(layer, {visible, QString(layer) == "0", false});
        std::set<std::pair<QString, QString>> drawn;
        for (const PlacedMesh& mesh : placeMeshes(tree.store.snapshot()))
            EXPECT_TRUE(drawn.insert({mesh.meshId, mesh.placedBy}).second)
                << mesh.meshId.toStdString() << " by " << mesh.placedBy.toStdString();
        EXPECT_EQ(drawn, test.drawn);
    }
}

TEST(SceneView, AMeshTakesItsOwnMaterialElseTheNearestPaintedNodesElseGrey) {
    SceneStore store;
    store.addMaterial("red", {"Red", "#FF0000", 0, 1.0f, ""});
    store.addMaterial("blue", {"Blue", "#0000FF", 0, 0.5f, ""});
    store.addMaterial("green", {"Green", "#00FF00", 0, 1.0f, ""});
    store.addMaterial("unreadable", {"Odd", "red", 0, 1.0f, ""});
    store.addMesh("Model", "root", square());
    // Group 10, painted blue: a red mesh, a mesh without material, one with an unknown material.
    store.addPlacement("10", "Model", group(QMatrix4x4(), "blue"));
    store.addMesh("10", "own", square("red"));
    store.addMesh("10", "bare", square());
    store.addMesh("10", "unknown", square("missing"));
    store.addMesh("10", "unreadable", square("unreadable"));
    // Definition 5's bare mesh, placed unpainted inside group 10, painted green at the root.
    store.addMesh("5", "5_0", square());
    store.addPlacement("12", "10", instance("5", QMatrix4x4()));
    store.addPlacement("13", "Model", instance("5", QMatrix4x4(), "green"));

    std::map<std::pair<QString, QString>, QColor> colours;
    for (const PlacedMesh& mesh : placeMeshes(store.snapshot()))
        colours[{mesh.meshId, mesh.placedBy}] = mesh.raster.colour;
    QColor halfBlue(0, 0, 255);
    halfBlue.setAlphaF(0.5);
    const std::map<std::pair<QString, QString>, QColor> expected = {
        {{"root", "Model"}, kNeutralColour}, {{"own", "10"}, QColor(255, 0, 0)},
        {{"bare", "10"}, halfBlue},          {{"unknown", "10"}, halfBlue},
        {{"unreadable", "10"}, halfBlue},    {{"5_0", "12"}, halfBlue},
        {{"5_0", "13"}, QColor(0, 255, 0)},
    };
    ASSERT_EQ(colours.size(), expected.size());
    for (const auto& [key, colour] : expected)
        EXPECT_EQ(colours.at(key).rgba(), colour.rgba())
            << key.first.toStdString() << " by " << key.second.toStdString();
}

TEST(SceneView, OnlyActiveSectionPlanesCut) {
    SceneStore store;
    store.setSectionPlane(0, {true, {1, 2, 3}, {0, 0, 1}, false, 0});
    store.setSectionPlane(1, {false, {4, 5, 6}, {1, 0, 0}, true, 0});
    store.setSectionPlane(2, {true, {7, 8, 9}, {0, -1, 0}, false, 0});
    const std::vector<ClipPlane> clips = activeClipPlanes(store.snapshot());
    ASSERT_EQ(clips.size(), 2u);
    EXPECT_EQ(clips[0].point, QVector3D(1, 2, 3));
    EXPECT_EQ(clips[0].normal, QVector3D(0, 0, 1));
    EXPECT_EQ(clips[1].point, QVector3D(7, 8, 9));
    EXPECT_EQ(clips[1].normal, QVector3D(0, -1, 0));
}

// An active plane through the origin keeping +X cuts the left half of a square seen from above.
TEST(SceneView, AnActivePlaneCutsTheRenderedImage) {
    SceneStore store;
    store.addMesh("Model", "root", square());
    SceneCamera camera;
    camera.eye = {0, 0, 10};
    camera.up = {0, 1, 0};
    camera.perspective = false;
    camera.parallelHeight = 4;
    store.setCamera(camera);
    store.setSectionPlane(0, {true, {0, 0, 0}, {1, 0, 0}, false, 0});
    const QImage image = renderScene(store.snapshot(), QSize(100, 100));
    EXPECT_EQ(image.pixel(40, 50), kBackgroundColour.rgb()) << "cut away";
    EXPECT_NE(image.pixel(60, 50), kBackgroundColour.rgb()) << "kept";
}

// The root's square seen from above, by a camera of the given projection and aspect.
QImage topView(bool perspective, float aspect, QSize size = QSize(100, 100)) {
    SceneStore store;
    store.addMesh("Model", "root", square());
    SceneCamera camera;
    camera.eye = {0, 0, 10};
    camera.target = {0, 0, 0};
    camera.up = {0, 1, 0};
    camera.perspective = perspective;
    // Both show 4 units of height at the square: it fills the middle half of the view.
    camera.fieldOfViewDegrees = static_cast<float>(qRadiansToDegrees(2 * std::atan(2.0 / 10.0)));
    camera.parallelHeight = 4;
    camera.aspect = aspect;
    store.setCamera(camera);
    return renderScene(store.snapshot(), size);
}

TEST(SceneView, TheHostsCameraShowsWhatItsProjectionSays) {
    for (const bool perspective : {true, false}) {
        SCOPED_TRACE(perspective ? "perspective" : "parallel");
        // The square covers rows and columns 25 to 74.
        const QImage image = topView(perspective, 0);
        ASSERT_EQ(image.size(), QSize(100, 100));
        EXPECT_NE(image.pixel(50, 27), kBackgroundColour.rgb());
        EXPECT_NE(image.pixel(27, 50), kBackgroundColour.rgb());
        EXPECT_EQ(image.pixel(50, 22), kBackgroundColour.rgb());
        EXPECT_EQ(image.pixel(22, 50), kBackgroundColour.rgb());
        EXPECT_EQ(topView(perspective, 1).pixel(50, 27), image.pixel(50, 27))
            << "the host's aspect equals the image's";

        // A host view twice as wide as tall: a square image shows its whole width, so the
        // visible height doubles and the square covers rows 37.5 to 62.5.
        const QImage wide = topView(perspective, 2);
        EXPECT_EQ(wide.pixel(50, 35), kBackgroundColour.rgb());
        EXPECT_NE(wide.pixel(50, 39), kBackgroundColour.rgb());
        // A host view narrower than the image keeps its height.
        const QImage narrow = topView(perspective, 0.5f, QSize(200, 100));
        EXPECT_NE(narrow.pixel(100, 27), kBackgroundColour.rgb());
        EXPECT_EQ(narrow.pixel(100, 22), kBackgroundColour.rgb());
    }
}

TEST(SceneView, WithoutACameraTheWholeSceneIsFramed) {
    SceneStore store;
    // Far from the origin, where no fixed camera would look.
    store.addPlacement("10", "Model", group(moved(400, -250, 90)));
    store.addMesh("10", "10_0", square());
    const QImage framed = renderScene(store.snapshot(), QSize(160, 100));
    ASSERT_EQ(framed.size(), QSize(160, 100));
    EXPECT_FALSE(isUniform(framed));
    EXPECT_NE(framed.pixel(80, 50), kBackgroundColour.rgb()) << "the centre is covered";

    // A camera looking away from the scene is used as it is: nothing in view.
    SceneCamera away;
    away.eye = {0, 0, 0};
    away.target = {-400, 250, -90};
    away.up = {0, 0, 1};
    away.fieldOfViewDegrees = 35;
    store.setCamera(away);
    EXPECT_TRUE(isUniform(renderScene(store.snapshot(), QSize(160, 100))));

    // A clear forgets the camera with the scene; new content is framed again.
    store.clearScene();
    EXPECT_FALSE(store.camera());
    store.addPlacement("10", "Model", group(moved(400, -250, 90)));
    store.addMesh("10", "10_0", square());
    EXPECT_NE(renderScene(store.snapshot(), QSize(160, 100)).pixel(80, 50),
              kBackgroundColour.rgb());
}

TEST(SceneView, TheStoreKeepsTheLastCamera) {
    SceneStore store;
    EXPECT_FALSE(store.camera());
    SceneCamera first;
    first.eye = {1, 2, 3};
    store.setCamera(first);
    SceneCamera second;
    second.eye = {4, 5, 6};
    second.target = {7, 8, 9};
    second.up = {0, 0, 1};
    second.perspective = false;
    second.fieldOfViewDegrees = 40;
    second.parallelHeight = 12;
    second.aspect = 1.5f;
    second.sceneName = "Scene 2";
    store.setCamera(second);
    const std::optional<SceneCamera> kept = store.camera();
    ASSERT_TRUE(kept);
    EXPECT_EQ(kept->eye, second.eye);
    EXPECT_EQ(kept->target, second.target);
    EXPECT_EQ(kept->perspective, false);
    EXPECT_EQ(kept->parallelHeight, 12.0f);
    EXPECT_EQ(kept->aspect, 1.5f);
    EXPECT_EQ(kept->sceneName, "Scene 2");
    // Whole-model removals leave it; only a clear forgets it.
    store.removeEntity("Model", "Model", false);
    EXPECT_TRUE(store.camera());
    store.clearScene();
    EXPECT_FALSE(store.camera());
}

// A snapshot shares the meshes with the store, and keeps them while the store drops them: its
// raster meshes stay readable (ASan would see a read of freed arrays).
TEST(SceneView, ASnapshotsMeshesOutliveTheirRemovalFromTheStore) {
    SceneStore store;
    store.addMesh("Model", "root", square());
    const SceneSnapshot scene = store.snapshot();
    const std::vector<PlacedMesh> placed = placeMeshes(scene);
    store.clearScene();
    store.addMesh("Model", "root", square("other"));
    ASSERT_EQ(placed.size(), 1u);
    const RasterMesh& mesh = placed[0].raster;
    ASSERT_NE(mesh.positions, nullptr);
    EXPECT_EQ(mesh.positions[3 * 2], 1.0f);
    EXPECT_EQ(mesh.indices[5], 3);
    EXPECT_NE(renderScene(scene, QSize(40, 40)).pixel(20, 20), kBackgroundColour.rgb());
}

}  // namespace
