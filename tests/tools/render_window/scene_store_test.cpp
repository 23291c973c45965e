// The render window's scene store: plane numbering that follows the plug-in's list, meshes kept
// per owner as copies, what a cleared scene keeps, and the documented mesh digest.
#include <QCryptographicHash>

#include <cstdint>
#include <initializer_list>
#include <map>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tools/render_window/scene_store.h"

// Readable texts in failure messages.
void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace {

using namespace orvanta::render_window;

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
    const QByteArray expected = QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex();

    EXPECT_EQ(meshDigest(arrays.toMesh("label")), expected);
    // An empty mesh, as the receiver hands it: null arrays.
    const SceneMesh empty = SceneMesh::fromArrays("", nullptr, nullptr, nullptr, nullptr, nullptr,
                                                  nullptr, 0, 0, "", "");
    EXPECT_EQ(meshDigest(empty), QCryptographicHash::hash({}, QCryptographicHash::Sha256).toHex());
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

}  // namespace
