// The render window's scene store: plane numbering that follows the plug-in's list, meshes kept
// per owner as copies, what a cleared scene keeps, the documented mesh digest, and the scene tree:
// placements, removals (for update, cascading, of the whole model), visibility, and the scene
// digest.
#include "tests/support/xxh3_hex.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <iterator>
#include <map>
#include <memory>
#include <optional>
#include <ostream>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/fnv.h"
#include "tools/render_window/scene_store.h"

// Readable texts in failure messages.
void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace {

using namespace orvanta::render_window;
using xel::test::Fnv;

// A plane whose every value derives from `tag`, so that two tags never give equal planes.
SceneSectionPlane plane(int tag) {
    const auto t = static_cast<float>(tag);
    return {tag % 2 == 1,
            {t, t + 0.5f, t + 0.25f},
            {-t, -t - 0.5f, -t - 0.25f},
            tag % 3 == 0,
            tag * 1000 - 7};
}

bool samePlane(const SceneSectionPlane& a, const SceneSectionPlane& b) {
    return a.active == b.active && a.first == b.first && a.second == b.second &&
           a.capsOn == b.capsOn && a.capsValue == b.capsValue;
}

// Plane number -> tag of the plane held there, read back through the values.
std::map<int, int> tagsOf(const std::map<int, SceneSectionPlane>& planes) {
    std::map<int, int> tags;
    for (const auto& [number, held] : planes) {
        const int tag = static_cast<int>(held.first[0]);
        tags[number] = samePlane(held, plane(tag)) ? tag : -1;  // -1: values got mixed up
    }
    return tags;
}

struct PlaneStep {
    enum Kind { Set, Remove } kind;
    int number;
    int tag;  // Set only
};

PlaneStep setAt(int number, int tag) {
    return {PlaneStep::Set, number, tag};
}

PlaneStep removeAt(int number) {
    return {PlaneStep::Remove, number, 0};
}

struct PlaneCase {
    const char* name;
    std::vector<PlaneStep> steps;
    std::map<int, int> expected;  // number -> tag
};

TEST(SceneStoreSectionPlanes, NumbersFollowThePluginsListThroughRemovals) {
    const PlaneCase cases[] = {
        {"first of three removed",
         {setAt(0, 1), setAt(1, 2), setAt(2, 3), removeAt(0)},
         {{0, 2}, {1, 3}}},
        {"middle removed", {setAt(0, 1), setAt(1, 2), setAt(2, 3), removeAt(1)}, {{0, 1}, {1, 3}}},
        {"last removed", {setAt(0, 1), setAt(1, 2), setAt(2, 3), removeAt(2)}, {{0, 1}, {1, 2}}},
        {"front removed twice",
         {setAt(0, 1), setAt(1, 2), setAt(2, 3), removeAt(0), removeAt(0)},
         {{0, 3}}},
        {"only plane removed", {setAt(0, 1), removeAt(0)}, {}},
        {"number past the end", {setAt(0, 1), setAt(1, 2), removeAt(5)}, {{0, 1}, {1, 2}}},
        {"number in a gap", {setAt(0, 1), setAt(2, 3), removeAt(1)}, {{0, 1}, {1, 3}}},
        {"number sent again replaces", {setAt(0, 1), setAt(1, 2), setAt(1, 4)}, {{0, 1}, {1, 4}}},
        {"appended after a removal",
         {setAt(0, 1), setAt(1, 2), removeAt(0), setAt(1, 5)},
         {{0, 2}, {1, 5}}},
        {"planes numbered by id move too",
         {setAt(0, 1), setAt(1, 2), setAt(102, 6), setAt(103, 7), removeAt(0)},
         {{0, 2}, {101, 6}, {102, 7}}},
    };
    for (const PlaneCase& c : cases) {
        SCOPED_TRACE(c.name);
        SceneStore store;
        for (const PlaneStep& step : c.steps) {
            if (step.kind == PlaneStep::Set)
                store.setSectionPlane(step.number, plane(step.tag));
            else
                store.removeSectionPlane(step.number);
        }
        EXPECT_EQ(tagsOf(store.sectionPlanes()), c.expected);
    }
}

// Arrays of one mesh, owned by the test; `seed` makes them differ from mesh to mesh.
struct MeshArrays {
    explicit MeshArrays(int vertices, int seed) : flags(new bool[vertices]) {
        for (int v = 0; v < vertices; ++v) {
            for (int k = 0; k < 3; ++k) {
                positions.push_back(static_cast<float>(seed * 100 + v * 3 + k));
                normals.push_back(static_cast<float>(-(seed + v + k)) / 8.0f);
            }
            for (int k = 0; k < 2; ++k) {
                frontUVs.push_back(static_cast<float>(v + k) / 4.0f + static_cast<float>(seed));
                backUVs.push_back(static_cast<float>(seed - v - k) / 2.0f);
            }
            flags[v] = (v + seed) % 3 == 0;
        }
        for (int i = 0; i + 2 < vertices; ++i)
            indices.insert(indices.end(), {i, i + 1, i + 2});
    }

    int vertexCount() const { return static_cast<int>(positions.size() / 3); }
    int indexCount() const { return static_cast<int>(indices.size()); }

    SceneMesh toMesh(const char* label, const char* front = "f", const char* back = "b") const {
        return SceneMesh::fromArrays(label, positions.data(), normals.data(), frontUVs.data(),
                                     backUVs.data(), flags.get(), indices.data(), indexCount(),
                                     vertexCount(), front, back);
    }

    std::vector<float> positions;
    std::vector<float> normals;
    std::vector<float> frontUVs;
    std::vector<float> backUVs;
    std::unique_ptr<bool[]> flags;
    std::vector<int> indices;
};

// Owner -> mesh id -> label.
std::map<QString, std::map<QString, QString>> labelsOf(const SceneMeshes& meshes) {
    std::map<QString, std::map<QString, QString>> labels;
    for (const auto& [owner, ofOwner] : meshes)
        for (const auto& [id, mesh] : ofOwner)
            labels[owner][id] = mesh.label;
    return labels;
}

TEST(SceneStoreMeshes, AMeshIdSentAgainReplacesTheMeshOfThatOwnerOnly) {
    const MeshArrays small(3, 1);
    const MeshArrays larger(5, 2);
    SceneStore store;
    store.addMesh("7", "7_a", small.toMesh("first"));
    store.addMesh("8", "7_a", small.toMesh("other owner"));
    store.addMesh("7", "7_b", small.toMesh("sibling"));
    store.addMesh("7", "7_a", larger.toMesh("second"));

    const std::map<QString, std::map<QString, QString>> expected = {
        {"7", {{"7_a", "second"}, {"7_b", "sibling"}}}, {"8", {{"7_a", "other owner"}}}};
    EXPECT_EQ(labelsOf(store.meshes()), expected);
    const std::optional<SceneMesh> replaced = store.mesh("7", "7_a");
    ASSERT_TRUE(replaced);
    EXPECT_EQ(replaced->vertexCount, larger.vertexCount());
    EXPECT_EQ(replaced->positions, larger.positions);
    EXPECT_FALSE(store.mesh("9", "7_a"));
}

TEST(SceneStoreMeshes, RemovingAnOwnersMeshesLeavesTheOtherOwners) {
    const MeshArrays arrays(3, 1);
    SceneStore store;
    store.addMesh("7", "7_a", arrays.toMesh("a"));
    store.addMesh("7", "7_b", arrays.toMesh("b"));
    store.addMesh("8", "8_a", arrays.toMesh("c"));
    store.removeEntityMeshes("9");  // no meshes: nothing changes
    store.removeEntityMeshes("7");

    const std::map<QString, std::map<QString, QString>> expected = {{"8", {{"8_a", "c"}}}};
    EXPECT_EQ(labelsOf(store.meshes()), expected);
}

// The receiver's arrays live only during its call: the mesh must not point into them.
TEST(SceneStoreMeshes, KeepsCopiesOfTheArraysItWasGiven) {
    MeshArrays arrays(4, 3);
    const MeshArrays original(4, 3);
    SceneMesh mesh = arrays.toMesh("label", "Brick", "Glass");
    for (float& value : arrays.positions)
        value = -1.0f;
    arrays.indices.assign(arrays.indices.size(), 99);
    arrays.flags[0] = !arrays.flags[0];

    EXPECT_EQ(mesh.positions, original.positions);
    EXPECT_EQ(mesh.normals, original.normals);
    EXPECT_EQ(mesh.frontUVs, original.frontUVs);
    EXPECT_EQ(mesh.backUVs, original.backUVs);
    EXPECT_EQ(mesh.indices,
              std::vector<std::int32_t>(original.indices.begin(), original.indices.end()));
    ASSERT_EQ(mesh.flags.size(), 4u);
    for (int v = 0; v < 4; ++v)
        EXPECT_EQ(mesh.flags[v], original.flags[v] ? 1 : 0) << "vertex " << v;
    EXPECT_EQ(mesh.label, "label");
    EXPECT_EQ(mesh.frontMaterial, "Brick");
    EXPECT_EQ(mesh.backMaterial, "Glass");
}

template <typename T>
void append(QByteArray& bytes, const std::vector<T>& values) {
    bytes.append(reinterpret_cast<const char*>(values.data()),
                 static_cast<int>(values.size() * sizeof(T)));
}

// The digest as the header describes it, built here from the test's own arrays.
TEST(SceneStoreMeshes, DigestIsTheDocumentedHashOfTheArrays) {
    const MeshArrays arrays(6, 4);
    QByteArray bytes;
    append(bytes, arrays.positions);
    append(bytes, arrays.normals);
    append(bytes, arrays.frontUVs);
    append(bytes, arrays.backUVs);
    for (int v = 0; v < arrays.vertexCount(); ++v)
        bytes.append(arrays.flags[v] ? '\1' : '\0');
    append(bytes, arrays.indices);
    const QByteArray expected = xel::test::xxh3Hex(bytes);

    EXPECT_EQ(meshDigest(arrays.toMesh("label")), expected);
    EXPECT_EQ(arrays.toMesh("label").digest, expected) << "the digest kept with the mesh";
    // An empty mesh, as the receiver hands it: null arrays.
    const SceneMesh empty = SceneMesh::fromArrays("", nullptr, nullptr, nullptr, nullptr, nullptr,
                                                  nullptr, 0, 0, "", "");
    EXPECT_EQ(meshDigest(empty), xel::test::xxh3Hex({}));
}

TEST(SceneStoreMaterials, AMaterialSentAgainReplacesTheEarlierOne) {
    SceneStore store;
    store.addMaterial("m1", {"Brick", "detail", 1, 0.5f, "extra"});
    store.addMaterial("m2", {"Glass", "", 2, 1.5f, ""});
    store.addMaterial("m1", {"Stone", "other", 3, 2.5f, "more"});

    const std::map<QString, SceneMaterial> materials = store.materials();
    ASSERT_EQ(materials.size(), 2u);
    const SceneMaterial& replaced = materials.at("m1");
    EXPECT_EQ(replaced.name, "Stone");
    EXPECT_EQ(replaced.detailText, "other");
    EXPECT_EQ(replaced.intValue, 3);
    EXPECT_EQ(replaced.floatValue, 2.5f);
    EXPECT_EQ(replaced.extraText, "more");
    EXPECT_EQ(materials.at("m2").name, "Glass");
}

TEST(SceneStoreClear, EmptiesTheSceneAndKeepsTheDictionaryMessages) {
    const MeshArrays arrays(3, 1);
    SceneStore store;
    store.addMesh("7", "7_a", arrays.toMesh("a"));
    store.addMaterial("m1", {"Brick", "", 0, 0.0f, ""});
    store.setSectionPlane(0, plane(1));
    store.setLight({1, 2, 3, 0, 0, 4, 5, 6, 7});
    store.addDictionaryMessage({"Camera", "DoF", "k1", "v1"});
    store.addDictionaryMessage({"Camera", "Bloom", "k2", "v2"});
    store.addDictionaryMessage({"Camera", "DoF", "k1", "v1"});

    store.clearScene();
    EXPECT_TRUE(store.meshes().empty());
    EXPECT_TRUE(store.materials().empty());
    EXPECT_TRUE(store.sectionPlanes().empty());
    EXPECT_FALSE(store.light());
    std::vector<std::string> keys;
    for (const DictionaryRecord& record : store.dictionaryMessages())
        keys.push_back((record.dictionary + "/" + record.key + "=" + record.value).toStdString());
    EXPECT_EQ(keys, (std::vector<std::string>{"DoF/k1=v1", "Bloom/k2=v2", "DoF/k1=v1"}));

    // The scene fills again after a clear.
    store.setSectionPlane(0, plane(2));
    EXPECT_EQ(tagsOf(store.sectionPlanes()), (std::map<int, int>{{0, 2}}));
}

// One step of building a scene tree: a definition, a placement or a mesh, with values derived
// from the ids so that every step's values differ.
struct TreeStep {
    enum Kind { Definition, Group, Instance, Mesh } kind;
    const char* id;
    const char* parent;  // Group, Instance: the parent; Mesh: the owner
    const char* definition;
    int vertices;  // Mesh only
};

ScenePlacement placementFor(const TreeStep& step) {
    ScenePlacement placement;
    placement.kind =
        step.kind == TreeStep::Instance ? PlacementKind::Instance : PlacementKind::Group;
    placement.definitionId = step.definition;
    for (int i = 0; i < 16; ++i)
        placement.transform[static_cast<std::size_t>(i)] =
            static_cast<float>(QString(step.id).toInt() * 16 + i) / 4.0f;
    placement.label = QStringLiteral("layer of ") + step.id;
    placement.passText = QStringLiteral("name of ") + step.id;
    placement.note = QStringLiteral("material of ") + step.id;
    return placement;
}

void apply(SceneStore& store, const TreeStep& step) {
    switch (step.kind) {
        case TreeStep::Definition:
            store.addComponentDef(step.id, {QStringLiteral("def ") + step.id, true, "note"});
            break;
        case TreeStep::Group:
        case TreeStep::Instance:
            store.addPlacement(step.id, step.parent, placementFor(step));
            break;
        case TreeStep::Mesh: {
            const MeshArrays arrays(step.vertices, QString(step.id).size() * 7 + step.vertices);
            store.addMesh(step.parent, step.id, arrays.toMesh(step.id));
            break;
        }
    }
}

// A definition placed under the root, in a group and in a nested group (instance 31 twice),
// meshes on the root, on both groups and on the definition.
const std::vector<TreeStep> kTree = {
    {TreeStep::Definition, "10", "", "", 0},     {TreeStep::Mesh, "10_0", "10", "", 5},
    {TreeStep::Mesh, "10_1", "10", "", 4},       {TreeStep::Group, "20", "Model", "", 0},
    {TreeStep::Mesh, "20_0", "20", "", 6},       {TreeStep::Group, "21", "20", "", 0},
    {TreeStep::Mesh, "21_0", "21", "", 3},       {TreeStep::Instance, "30", "20", "10", 0},
    {TreeStep::Instance, "31", "21", "10", 0},   {TreeStep::Instance, "31", "Model", "10", 0},
    {TreeStep::Mesh, "Model_0", "Model", "", 7},
};

SceneStore& buildTree(SceneStore& store, const std::vector<TreeStep>& steps = kTree) {
    for (const TreeStep& step : steps)
        apply(store, step);
    return store;
}

std::set<std::pair<QString, QString>> placementKeys(const SceneStore& store) {
    std::set<std::pair<QString, QString>> keys;
    for (const auto& [key, placement] : store.placements())
        keys.insert(key);
    return keys;
}

std::set<QString> meshOwners(const SceneStore& store) {
    std::set<QString> owners;
    for (const auto& [owner, meshes] : store.meshes())
        owners.insert(owner);
    return owners;
}

TEST(SceneStoreTree, PlacementsAreKeptPerParentAndReplacedPerParent) {
    SceneStore store;
    buildTree(store);
    const ScenePlacements placements = store.placements();
    ASSERT_EQ(placements.size(), 5u);
    const ScenePlacement& nested = placements.at({"31", "21"});
    EXPECT_EQ(nested.kind, PlacementKind::Instance);
    EXPECT_EQ(nested.definitionId, "10");
    EXPECT_EQ(nested.label, "layer of 31");
    EXPECT_EQ(nested.transform[15], (31 * 16 + 15) / 4.0f);
    EXPECT_EQ(placements.at({"20", "Model"}).kind, PlacementKind::Group);

    // Sent again under one parent: that placement takes the new values, the other stays.
    ScenePlacement moved = nested;
    moved.transform[12] = -5.0f;
    store.addPlacement("31", "21", moved);
    EXPECT_EQ(store.placements().at({"31", "21"}).transform[12], -5.0f);
    EXPECT_EQ(store.placements().at({"31", "Model"}).transform[12], nested.transform[12]);
    EXPECT_EQ(store.placements().size(), 5u);
}

TEST(SceneStoreTree, RemovalsTakeWhatTheirKindSays) {
    using Keys = std::set<std::pair<QString, QString>>;
    const Keys all = {{"20", "Model"}, {"21", "20"}, {"30", "20"}, {"31", "21"}, {"31", "Model"}};
    const auto without = [&](const Keys& gone) {
        Keys left;
        std::set_difference(all.begin(), all.end(), gone.begin(), gone.end(),
                            std::inserter(left, left.end()));
        return left;
    };
    const std::set<QString> owners = {"10", "20", "21", "Model"};
    struct Case {
        const char* name;
        const char* entity;
        const char* parent;
        bool forUpdate;
        Keys placementsGone;
        std::set<QString> ownersGone;
    };
    const Case cases[] = {
        {"an instance for update", "30", "20", true, {{"30", "20"}}, {}},
        {"a group for update keeps its content", "20", "Model", true, {{"20", "Model"}}, {}},
        {"an instance erased", "30", "20", false, {{"30", "20"}}, {}},
        {"one of two placements erased", "31", "Model", false, {{"31", "Model"}}, {}},
        {"a nested group erased", "21", "20", false, {{"21", "20"}, {"31", "21"}}, {"21"}},
        {"a group erased with everything in it",
         "20",
         "Model",
         false,
         {{"20", "Model"}, {"21", "20"}, {"30", "20"}, {"31", "21"}},
         {"20", "21"}},
        {"a pair that is not placed", "30", "Model", false, {}, {}},
        {"a definition, never placed", "10", "30", false, {}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SceneStore store;
        buildTree(store);
        int meshesGone = 0;
        for (const QString& owner : c.ownersGone)
            meshesGone += static_cast<int>(store.meshes().at(owner).size());

        const SceneRemoval removal = store.removeEntity(c.entity, c.parent, c.forUpdate);
        EXPECT_EQ(placementKeys(store), without(c.placementsGone));
        std::set<QString> ownersLeft;
        std::set_difference(owners.begin(), owners.end(), c.ownersGone.begin(), c.ownersGone.end(),
                            std::inserter(ownersLeft, ownersLeft.end()));
        EXPECT_EQ(meshOwners(store), ownersLeft);
        EXPECT_EQ(removal.placements, static_cast<int>(c.placementsGone.size()));
        EXPECT_EQ(removal.meshes, meshesGone);
        EXPECT_EQ(store.definitions().size(), 1u);
    }
}

TEST(SceneStoreTree, ARemovalForUpdateFollowedByTheFreshPlacementGivesTheSameScene) {
    SceneStore store;
    const std::string before = buildTree(store).digest().text().toStdString();
    for (const TreeStep& step : kTree) {
        if (step.kind != TreeStep::Group && step.kind != TreeStep::Instance)
            continue;
        SCOPED_TRACE(std::string(step.id) + " under " + step.parent);
        store.removeEntity(step.id, step.parent, true);
        EXPECT_NE(store.digest().text().toStdString(), before);
        apply(store, step);
        EXPECT_EQ(store.digest().text().toStdString(), before);
    }
}

TEST(SceneStoreTree, RemovingTheModelDropsPlacementsAndMeshesAndKeepsTheRest) {
    SceneStore store;
    buildTree(store);
    store.addMaterial("m1", {"Brick", "", 0, 0.0f, ""});
    store.addLayer("0", {true, true, false});
    store.setEntityVisible("21", false);

    const SceneRemoval removal = store.removeEntity("Model", "Model", false);
    EXPECT_EQ(removal.placements, 5);
    EXPECT_EQ(removal.meshes, 5);
    EXPECT_TRUE(store.placements().empty());
    EXPECT_TRUE(store.meshes().empty());
    EXPECT_EQ(store.definitions().size(), 1u);
    EXPECT_EQ(store.materials().size(), 1u);
    EXPECT_EQ(store.layers().size(), 1u);
    EXPECT_EQ(store.hiddenEntities(), (std::set<QString>{"21"}));
}

TEST(SceneStoreTree, HiddenIdsFollowVisibilityOnlyAndGoWithAClear) {
    SceneStore store;
    buildTree(store);
    store.setEntityVisible("21", false);
    store.setEntityVisible("999", false);  // not in the scene: recorded all the same
    store.setEntityVisible("30", false);
    store.setEntityVisible("30", true);
    store.removeEntity("21", "20", false);
    EXPECT_EQ(store.hiddenEntities(), (std::set<QString>{"21", "999"}));
    EXPECT_EQ(store.digest().hidden, 2);

    store.addMaterial("m1", {"Brick", "", 0, 0.0f, ""});
    store.addLayer("12", {true, false, true});
    store.addDictionaryMessage({"Camera", "DoF", "k", "v"});
    store.clearScene();
    EXPECT_TRUE(store.hiddenEntities().empty());
    EXPECT_TRUE(store.placements().empty());
    EXPECT_TRUE(store.definitions().empty());
    EXPECT_TRUE(store.layers().empty());
    EXPECT_TRUE(store.meshes().empty());
    EXPECT_EQ(store.dictionaryMessages().size(), 1u);
    const orvanta::tools::SceneDigest empty = store.digest();
    EXPECT_EQ(empty.text(), orvanta::tools::SceneDigest().text());
}

TEST(SceneStoreDigest, CountsAndChecksumsFollowTheDocumentedRules) {
    SceneStore store;
    buildTree(store);
    store.addMaterial("m1", {"Brick", "", 0, 0.0f, ""});
    store.addMaterial("m2", {"Glass", "", 0, 0.0f, ""});
    store.addLayer("0", {true, true, false});
    store.setEntityVisible("30", false);

    // From the steps: each mesh once (the definition's two once, though placed three times).
    int meshes = 0;
    std::int64_t triangles = 0;
    std::vector<std::pair<QString, QString>> meshIds;  // (owner, mesh id)
    std::vector<const TreeStep*> placed;
    for (const TreeStep& step : kTree) {
        if (step.kind == TreeStep::Mesh) {
            ++meshes;
            triangles += static_cast<int>(MeshArrays(step.vertices, 0).indices.size()) / 3;
            meshIds.push_back({step.parent, step.id});
        } else if (step.kind != TreeStep::Definition) {
            placed.push_back(&step);
        }
    }
    std::sort(meshIds.begin(), meshIds.end(), [](const auto& a, const auto& b) {
        return std::make_pair(a.first.toUtf8(), a.second.toUtf8()) <
               std::make_pair(b.first.toUtf8(), b.second.toUtf8());
    });
    Fnv geometry;
    for (const auto& [owner, id] : meshIds) {
        geometry.text(owner);
        geometry.text(id);
        geometry.text(QString::fromLatin1(store.mesh(owner, id)->digest));
    }
    std::sort(placed.begin(), placed.end(), [](const TreeStep* a, const TreeStep* b) {
        return std::make_pair(QByteArray(a->id), QByteArray(a->parent)) <
               std::make_pair(QByteArray(b->id), QByteArray(b->parent));
    });
    Fnv placements;
    int instances = 0;
    for (const TreeStep* step : placed) {
        const ScenePlacement p = placementFor(*step);
        instances += step->kind == TreeStep::Instance;
        for (const QString& t :
             {QString(step->kind == TreeStep::Instance ? "I" : "G"), QString(step->id),
              QString(step->parent), p.definitionId, p.label, p.passText, p.note})
            placements.text(t);
        for (float f : p.transform) {
            std::uint32_t bits = 0;
            std::memcpy(&bits, &f, sizeof bits);
            const char le[4] = {char(bits & 0xff), char(bits >> 8 & 0xff), char(bits >> 16 & 0xff),
                                char(bits >> 24 & 0xff)};
            placements.bytes(le, 4);
        }
    }

    const orvanta::tools::SceneDigest digest = store.digest();
    EXPECT_EQ(digest.definitions, 1);
    EXPECT_EQ(digest.instances, instances);
    EXPECT_EQ(digest.groups, static_cast<int>(placed.size()) - instances);
    EXPECT_EQ(digest.meshes, meshes);
    EXPECT_EQ(digest.triangles, triangles);
    EXPECT_EQ(digest.materials, 2);
    EXPECT_EQ(digest.layers, 1);
    EXPECT_EQ(digest.hidden, 1);
    EXPECT_EQ(digest.geometry, geometry.value);
    EXPECT_EQ(digest.placements, placements.value);
}

TEST(SceneStoreDigest, TheSameSceneBuiltInAnotherOrderHasTheSameDigest) {
    std::vector<TreeStep> reversed(kTree.rbegin(), kTree.rend());
    // Interleaved differently: every other step first.
    std::vector<TreeStep> shuffled;
    for (std::size_t start : {1u, 0u})
        for (std::size_t i = start; i < kTree.size(); i += 2)
            shuffled.push_back(kTree[i]);
    SceneStore inOrder;
    SceneStore backwards;
    SceneStore mixed;
    const QString expected = buildTree(inOrder).digest().text();
    EXPECT_EQ(buildTree(backwards, reversed).digest().text(), expected);
    EXPECT_EQ(buildTree(mixed, shuffled).digest().text(), expected);

    // And a different scene has another.
    SceneStore other;
    std::vector<TreeStep> changed = kTree;
    changed.back().vertices += 1;
    EXPECT_NE(buildTree(other, changed).digest().geometry, inOrder.digest().geometry);
}

}  // namespace
