// The mesh export: the material rule, the owner enumeration before the mesh, nothing for an empty
// mesh, and the caller's arrays handed on without a copy.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "plugin/export/mesh_export.h"
#include "plugin/session/entity_registry.h"
#include "tests/plugin/export/recording_output.h"
#include "tests/support/captured_log.h"

namespace orvanta {
namespace {

using Events = std::vector<std::string>;

// One triangle, enough for the exporter, which never reads the arrays itself.
struct Triangle {
    float positions[9] = {0, 0, 0, 1, 0, 0, 0, 1, 0};
    float normals[9] = {0, 0, 1, 0, 0, 1, 0, 0, 1};
    float uvs[6] = {0, 0, 1, 0, 0, 1};
    bool flags[3] = {true, false, true};
    int indices[3] = {0, 1, 2};

    MeshReport report(const char* owner, const char* front, const char* back) const {
        return MeshReport{"5_m", owner,   "label", positions, normals, uvs, uvs,
                          flags, indices, 3,       3,         front,   back};
    }
};

struct MeshExportTest : ::testing::Test {
    Events events;
    test::RecordingOutput output{events};
    EntityRegistry registry;
    Triangle triangle;
    EnumerateOwnerContent enumerate = [this](const char* owner) {
        events.push_back(std::string("enumerate ") + owner);
    };
};

TEST(MaterialRule, OneNameForBothFacesTheFrontWinning) {
    struct Case {
        const char* front;
        const char* back;
        const char* both;
    } const cases[] = {
        {"Brick", "Glass", "Brick"}, {"", "Glass", "Glass"}, {"Brick", "", "Brick"},
        {"Brick", "Brick", "Brick"}, {"", "", ""},
    };
    for (const Case& c : cases) {
        QByteArray front(c.front), back(c.back);
        applyMaterialRule(front, back);
        EXPECT_EQ(front, QByteArray(c.both)) << c.front << "|" << c.back;
        EXPECT_EQ(back, QByteArray(c.both)) << c.front << "|" << c.back;
    }
}

TEST_F(MeshExportTest, SendsTheRuledMaterialsAndTheCallersOwnArrays) {
    exportMesh(triangle.report("Model", "Brick", "Glass"), &output, registry, enumerate);
    EXPECT_EQ(events, Events{"addMesh 5_m Model label I=3 V=3 Brick|Brick"});
    EXPECT_EQ(output.lastPositions, triangle.positions);
    EXPECT_EQ(output.lastIndices, triangle.indices);
}

TEST_F(MeshExportTest, AnUnknownOwnerIsEnumeratedFirstAndAKnownOneIsNot) {
    // The host registers the owner from inside its enumeration, as a host script does.
    enumerate = [this](const char* owner) {
        events.push_back(std::string("enumerate ") + owner);
        RegistryGuard guard(registry.lock());
        registry.addEntityToParent(owner, QStringLiteral("Model"), EntityTable::Content);
    };
    exportMesh(triangle.report("42", "", "Glass"), &output, registry, enumerate);
    exportMesh(triangle.report("42", "", "Glass"), &output, registry, enumerate);
    EXPECT_EQ(events, (Events{"enumerate 42", "addMesh 5_m 42 label I=3 V=3 Glass|Glass",
                              "addMesh 5_m 42 label I=3 V=3 Glass|Glass"}));
}

TEST_F(MeshExportTest, OnlyTheExactModelRootAndTheEmptyOwnerSkipTheLookUp) {
    for (const char* owner : {"Model", "", "model", "Model2", "0"})
        exportMesh(triangle.report(owner, "a", "a"), &output, registry, enumerate);
    EXPECT_EQ(events,
              (Events{"addMesh 5_m Model label I=3 V=3 a|a", "addMesh 5_m  label I=3 V=3 a|a",
                      "enumerate model", "addMesh 5_m model label I=3 V=3 a|a", "enumerate Model2",
                      "addMesh 5_m Model2 label I=3 V=3 a|a", "enumerate 0",
                      "addMesh 5_m 0 label I=3 V=3 a|a"}));
}

TEST_F(MeshExportTest, AnEmptyMeshOrAMissingOutputDoesNothing) {
    const xel::test::CapturedLog log;
    for (const auto& [indices, vertices] : {std::pair{0, 12}, {12, 0}, {0, 0}, {0, -1}}) {
        MeshReport mesh = triangle.report("42", "a", "b");
        mesh.indexCount = indices;
        mesh.vertexCount = vertices;
        mesh.indices = nullptr;  // nothing is read for an empty mesh
        exportMesh(mesh, &output, registry, enumerate);
    }
    exportMesh(triangle.report("42", "a", "b"), nullptr, registry, enumerate);
    EXPECT_TRUE(events.empty()) << events.front();
    EXPECT_TRUE(log.lines().isEmpty()) << log.lines().join('\n').toStdString();
}

// Counts and arrays that describe no mesh: nothing is sent or enumerated, and the log says why.
TEST_F(MeshExportTest, AnUnreadableMeshIsRefusedWithALogLine) {
    struct Case {
        int indices;
        int vertices;
        bool nullNormals;
        bool nullIndices;
        const char* logged;
    } const cases[] = {
        {-3, 3, false, false, "has a negative count (-3 indices, 3 vertices)"},
        {3, 3, true, false, "has a null vertex array for 3 vertices"},
        {3, 3, false, true, "has a null index array for 3 indices"},
    };
    for (const Case& c : cases) {
        const xel::test::CapturedLog log;
        MeshReport mesh = triangle.report("42", "a", "b");
        mesh.indexCount = c.indices;
        mesh.vertexCount = c.vertices;
        if (c.nullNormals)
            mesh.normals = nullptr;
        if (c.nullIndices)
            mesh.indices = nullptr;
        exportMesh(mesh, &output, registry, enumerate);
        EXPECT_TRUE(events.empty()) << c.logged;
        const QStringList lines = log.linesWith(QStringLiteral("obrOnEnumMesh refused: "));
        ASSERT_EQ(lines.size(), 1) << c.logged;
        EXPECT_TRUE(lines[0].contains(QStringLiteral("mesh 5_m ") + c.logged)) << c.logged;
    }
}

}  // namespace
}  // namespace orvanta
