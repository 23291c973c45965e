// The host driver's model: its digest counted and hashed as documented (the expected values built
// here from the test's own data), the group erase, and the built-in scenes being models the
// exporter can walk.
#include <QList>
#include "tests/support/xxh3_hex.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/fnv.h"
#include "tools/host_driver/host_model.h"

namespace {

using namespace orvanta::tools;
using xel::test::Fnv;

// A mesh of `triangles` triangles over 3 * triangles vertices whose values derive from `seed`.
HostMesh mesh(int triangles, int seed, const char* front, const char* back = "") {
    HostMesh m;
    for (int v = 0; v < 3 * triangles; ++v) {
        const auto f = static_cast<float>(seed * 1000 + v);
        m.positions.insert(m.positions.end(), {f, f + 0.5f, -f});
        m.normals.insert(m.normals.end(), {0.0f, 0.0f, 1.0f});
        m.frontUVs.insert(m.frontUVs.end(), {f / 8.0f, 0.25f});
        m.backUVs.insert(m.backUVs.end(), {0.5f, f / 4.0f});
        m.flags.push_back((v + seed) % 2);
        m.indices.push_back(v);
    }
    m.frontMaterialId = front;
    m.backMaterialId = back;
    m.layerId = "0";
    return m;
}

HostGroup group(const char* id, const char* parent, std::vector<HostMesh> meshes = {}) {
    HostGroup g;
    g.id = id;
    g.parentId = parent;
    g.name = QByteArray("group ") + id;
    g.layerId = "0";
    g.transform = placedTransform(0.0f, 1.0f, 2.0f, 3.0f);
    g.meshes = std::move(meshes);
    return g;
}

HostInstance instance(const char* id, const char* parent, const char* definition, float x) {
    return {id, parent, definition, "chair", "12", "", placedTransform(90.0f, x, 0.0f, 0.0f)};
}

template <typename T>
void append(QByteArray& bytes, const std::vector<T>& values) {
    bytes.append(reinterpret_cast<const char*>(values.data()),
                 static_cast<int>(values.size() * sizeof(T)));
}

QByteArray meshHashOf(const HostMesh& m) {
    QByteArray bytes;
    append(bytes, m.positions);
    append(bytes, m.normals);
    append(bytes, m.frontUVs);
    append(bytes, m.backUVs);
    append(bytes, m.flags);
    append(bytes, m.indices);
    return xel::test::xxh3Hex(bytes);
}

// The geometry checksum over (owner, mesh id, mesh) records, sorted here.
std::uint64_t expectedGeometry(std::vector<std::pair<QByteArray, QByteArray>> ids,
                               const std::map<QByteArray, const HostMesh*>& byId) {
    std::sort(ids.begin(), ids.end());
    Fnv fnv;
    for (const auto& [owner, meshId] : ids) {
        fnv.text(owner);
        fnv.text(meshId);
        fnv.text(meshHashOf(*byId.at(meshId)));
    }
    return fnv.value;
}

// A model with meshes on every kind of owner: the root, two groups (one nested) and two
// definitions, one of them placed three times.
HostModel sampleModel() {
    HostModel model;
    model.materials = {{"m1", "Oak", {1, 2, 3, 255}, 64, 64, "oak.png", {}},
                       {"m2", "Steel", {9, 9, 9, 128}, 0, 0, "", {}}};
    model.layers = {{"0", true, true}, {"12", false, false}};
    model.definitions = {{"101", "chair", false, "", {mesh(4, 1, "m1"), mesh(2, 2, "m2", "m2")}},
                         {"102", "lamp", true, "", {mesh(5, 3, "")}}};
    model.groups = {group("201", kModelId, {mesh(3, 4, "m2")}), group("202", "201"),
                    group("203", "202", {mesh(1, 5, "m1", "m2")})};
    model.instances = {instance("301", "201", "101", 1.0f), instance("302", "202", "101", 2.0f),
                       instance("303", kModelId, "101", 3.0f),
                       instance("304", kModelId, "102", 4.0f)};
    model.rootMeshes = {mesh(6, 6, "m1")};
    model.hidden = {"202", "999"};
    return model;
}

TEST(HostModelDigest, CountsAndChecksumsFollowTheDocumentedRules) {
    const HostModel model = sampleModel();
    // Owner -> its meshes, and the triangles: a definition's meshes once, whatever its placements.
    std::vector<std::pair<QByteArray, const std::vector<HostMesh>*>> owners = {
        {kModelId, &model.rootMeshes}};
    for (const HostGroup& g : model.groups)
        owners.push_back({g.id, &g.meshes});
    for (const HostDefinition& d : model.definitions)
        owners.push_back({d.id, &d.meshes});
    int meshes = 0;
    std::int64_t triangles = 0;
    std::vector<std::pair<QByteArray, QByteArray>> ids;
    std::map<QByteArray, const HostMesh*> byId;
    for (const auto& [owner, list] : owners) {
        for (std::size_t n = 0; n < list->size(); ++n) {
            const HostMesh& m = (*list)[n];
            ++meshes;
            triangles += static_cast<std::int64_t>(m.indices.size() / 3);
            const QByteArray id = owner + "_" + QByteArray::number(static_cast<int>(n)) + "_f[" +
                                  m.frontMaterialId + "]_r[" + m.backMaterialId + "]";
            ids.push_back({owner, id});
            byId[id] = &m;
        }
    }

    const SceneDigest digest = model.digest();
    EXPECT_EQ(digest.definitions, 2);
    EXPECT_EQ(digest.groups, 3);
    EXPECT_EQ(digest.instances, 4);
    EXPECT_EQ(digest.meshes, meshes);
    EXPECT_EQ(digest.triangles, triangles);
    EXPECT_EQ(digest.materials, 2);
    EXPECT_EQ(digest.layers, 2);
    EXPECT_EQ(digest.hidden, 2);
    EXPECT_EQ(digest.geometry, expectedGeometry(ids, byId));

    // The mesh ids the digest hashes are the ones the exporter sends.
    for (const auto& [owner, id] : ids) {
        const std::vector<HostMesh>* list = model.meshesOf(owner);
        ASSERT_NE(list, nullptr) << owner.constData();
        const int n = id.split('_')[1].toInt();
        EXPECT_EQ(meshIdOf(owner, n, (*list)[static_cast<std::size_t>(n)]), id);
    }
}

TEST(HostModelDigest, PlacementChecksumCoversEveryPlacedValueInCanonicalOrder) {
    const HostModel model = sampleModel();
    // Sorted by (entity, parent): the groups 201..203 come before the instances 301..304.
    Fnv fnv;
    const auto addFloats = [&](const Transform& t) {
        for (float f : t) {
            std::uint32_t bits = 0;
            std::memcpy(&bits, &f, sizeof bits);
            const char le[4] = {char(bits & 0xff), char(bits >> 8 & 0xff), char(bits >> 16 & 0xff),
                                char(bits >> 24 & 0xff)};
            fnv.bytes(le, 4);
        }
    };
    for (const HostGroup& g : model.groups) {
        for (const QByteArray& t :
             {QByteArray("G"), g.id, g.parentId, QByteArray(), g.layerId, g.name, g.materialId})
            fnv.text(t);
        addFloats(g.transform);
    }
    for (const HostInstance& i : model.instances) {
        for (const QByteArray& t :
             {QByteArray("I"), i.id, i.parentId, i.definitionId, i.layerId, i.name, i.materialId})
            fnv.text(t);
        addFloats(i.transform);
    }
    EXPECT_EQ(model.digest().placements, fnv.value);

    // Each placed value reaches the checksum.
    const auto changed = [&](auto change) {
        HostModel copy = model;
        change(copy);
        return copy.digest().placements != model.digest().placements;
    };
    EXPECT_TRUE(changed([](HostModel& m) { m.instances[1].transform[13] += 1.0f; }));
    EXPECT_TRUE(changed([](HostModel& m) { m.instances[1].definitionId = "102"; }));
    EXPECT_TRUE(changed([](HostModel& m) { m.groups[2].materialId = "m2"; }));
    EXPECT_TRUE(changed([](HostModel& m) { m.groups[0].layerId = "12"; }));
    EXPECT_TRUE(changed([](HostModel& m) { m.groups[1].name = "renamed"; }));
    EXPECT_TRUE(changed([](HostModel& m) { m.instances[3].parentId = "203"; }));
    // The order of the model's lists is not part of it.
    EXPECT_FALSE(changed([](HostModel& m) {
        std::reverse(m.instances.begin(), m.instances.end());
        std::reverse(m.groups.begin(), m.groups.end());
    }));
}

TEST(HostModelDigest, MorePlacementsOfADefinitionAddNoTriangles) {
    HostModel model = sampleModel();
    const SceneDigest before = model.digest();
    model.instances.push_back(instance("305", kModelId, "102", 9.0f));
    const SceneDigest after = model.digest();
    EXPECT_EQ(after.instances, before.instances + 1);
    EXPECT_EQ(after.triangles, before.triangles);
    EXPECT_EQ(after.meshes, before.meshes);
    EXPECT_EQ(after.geometry, before.geometry);
    EXPECT_NE(after.placements, before.placements);
}

TEST(HostModelEdits, ErasingAGroupTakesEverythingInItAndNothingElse) {
    struct Case {
        const char* erased;
        std::set<QByteArray> groupsLeft;
        std::set<QByteArray> instancesLeft;
    };
    const Case cases[] = {
        {"201", {}, {"303", "304"}},
        {"202", {"201"}, {"301", "303", "304"}},
        {"203", {"201", "202"}, {"301", "302", "303", "304"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.erased);
        HostModel model = sampleModel();
        ASSERT_TRUE(model.eraseGroup(c.erased));
        std::set<QByteArray> groups;
        for (const HostGroup& g : model.groups)
            groups.insert(g.id);
        std::set<QByteArray> instances;
        for (const HostInstance& i : model.instances)
            instances.insert(i.id);
        EXPECT_EQ(groups, c.groupsLeft);
        EXPECT_EQ(instances, c.instancesLeft);
        EXPECT_EQ(model.definitions.size(), 2u);
        EXPECT_EQ(model.hidden, (std::set<QByteArray>{"202", "999"}));
    }
    HostModel model = sampleModel();
    EXPECT_FALSE(model.eraseGroup("301")) << "an instance is no group";
    EXPECT_EQ(model.groups.size(), 3u);
}

TEST(HostModelEdits, OwnersUsingAMaterialLookAtBothFaces) {
    const HostModel model = sampleModel();
    EXPECT_EQ(model.ownersUsing("m1"), (std::set<QByteArray>{"101", "203", kModelId}));
    EXPECT_EQ(model.ownersUsing("m2"), (std::set<QByteArray>{"101", "201", "203"}));
    EXPECT_TRUE(model.ownersUsing("m9").empty());
}

bool isPositiveDecimal(const QByteArray& id) {
    bool ok = false;
    return !id.isEmpty() && id.toLongLong(&ok) > 0 && ok &&
           id == QByteArray::number(id.toLongLong());
}

// What the exporter and the plug-in rely on: distinct positive decimal ids, parents before
// children, known definitions and materials, and arrays that agree with their counts.
TEST(HostModelBuiltIn, ScenesAreWellFormed) {
    const std::pair<const char*, HostModel> models[] = {{"built-in", builtInModel()},
                                                        {"small", smallBuiltInModel()},
                                                        {"generated", generatedModel(300000)}};
    for (const auto& [name, model] : models) {
        SCOPED_TRACE(name);
        std::set<QByteArray> ids;
        std::set<QByteArray> seenParents{kModelId};
        for (const HostDefinition& d : model.definitions)
            EXPECT_TRUE(ids.insert(d.id).second && isPositiveDecimal(d.id)) << d.id.constData();
        for (const HostGroup& g : model.groups) {
            EXPECT_TRUE(ids.insert(g.id).second && isPositiveDecimal(g.id)) << g.id.constData();
            EXPECT_TRUE(seenParents.count(g.parentId)) << g.id.constData();
            seenParents.insert(g.id);
        }
        for (const HostInstance& i : model.instances) {
            EXPECT_TRUE(ids.insert(i.id).second && isPositiveDecimal(i.id)) << i.id.constData();
            EXPECT_TRUE(seenParents.count(i.parentId)) << i.id.constData();
            EXPECT_NE(model.definition(i.definitionId), nullptr) << i.id.constData();
        }
        std::set<QByteArray> layers;
        for (const HostLayer& l : model.layers)
            layers.insert(l.id);
        EXPECT_TRUE(layers.count("0"));
        std::vector<const HostMesh*> meshes;
        for (const HostMesh& m : model.rootMeshes)
            meshes.push_back(&m);
        for (const HostGroup& g : model.groups)
            for (const HostMesh& m : g.meshes)
                meshes.push_back(&m);
        for (const HostDefinition& d : model.definitions)
            for (const HostMesh& m : d.meshes)
                meshes.push_back(&m);
        ASSERT_FALSE(meshes.empty());
        for (const HostMesh* m : meshes) {
            const auto v = static_cast<std::size_t>(m->vertexCount());
            ASSERT_GT(v, 0u);
            EXPECT_EQ(m->positions.size(), 3 * v);
            EXPECT_EQ(m->normals.size(), 3 * v);
            EXPECT_EQ(m->frontUVs.size(), 2 * v);
            EXPECT_EQ(m->backUVs.size(), 2 * v);
            ASSERT_FALSE(m->indices.empty());
            EXPECT_EQ(m->indices.size() % 3, 0u);
            const auto [low, high] = std::minmax_element(m->indices.begin(), m->indices.end());
            EXPECT_GE(*low, 0);
            EXPECT_LT(*high, m->vertexCount());
            for (const QByteArray& material : {m->frontMaterialId, m->backMaterialId})
                EXPECT_TRUE(material.isEmpty() || model.material(material)) << material.constData();
            EXPECT_TRUE(layers.count(m->layerId)) << m->layerId.constData();
        }
    }
}

TEST(HostModelBuiltIn, AGeneratedModelHasAboutTheTrianglesAskedFor) {
    // Whole tiles of 2 x 158 x 158 triangles: the nearest count of whole tiles, one at least.
    constexpr std::int64_t kTile = 2 * 158 * 158;
    for (const std::int64_t asked :
         {std::int64_t(1), std::int64_t(300000), std::int64_t(2000000)}) {
        const std::int64_t tiles = std::max<std::int64_t>(1, (asked + kTile / 2) / kTile);
        const SceneDigest digest = generatedModel(asked).digest();
        EXPECT_EQ(digest.groups, tiles) << asked;
        EXPECT_EQ(digest.instances, tiles) << asked;  // a post at each tile's corner
        EXPECT_EQ(digest.definitions, 1) << asked;
        // The post's one box counts once, however often it is placed: 12 triangles.
        EXPECT_EQ(digest.triangles, tiles * kTile + 12) << asked;
    }
}

TEST(HostModelAttributes, ASetValueReplacesItsKeyAndANewKeyComesLast) {
    HostModel model;
    model.setAttribute({"Model", "Units", "LengthUnit", "in"});
    model.setAttribute({"Model", "GeoReference", "Latitude", "1"});
    model.setAttribute({"Model", "Units", "Precision", "2"});
    model.setAttribute({"Model", "Units", "LengthUnit", "mm"});
    model.setAttribute({"Camera", "Units", "LengthUnit", "cm"});

    const std::vector<HostAttribute> units = model.attributesOf("Model", "Units");
    ASSERT_EQ(units.size(), 2u);
    EXPECT_EQ(units[0].key, "LengthUnit");
    EXPECT_EQ(units[0].value, "mm");
    EXPECT_EQ(units[1].key, "Precision");
    EXPECT_EQ(model.attributes.size(), 4u);
    EXPECT_TRUE(model.attributesOf("Model", "Missing").empty());
}

}  // namespace
