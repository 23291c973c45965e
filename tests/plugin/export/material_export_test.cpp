// The material export: names, the texture-size change rule at its edges, and the mesh refresh
// list built from the mesh ids that name a changed material.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "plugin/export/material_export.h"
#include "plugin/session/entity_registry.h"
#include "tests/plugin/export/recording_output.h"

namespace orvanta {
namespace {

using Events = std::vector<std::string>;
using Meshes = std::vector<QString>;

struct MaterialExportTest : ::testing::Test {
    Events events;
    test::RecordingOutput output{events};
    EntityRegistry registry;
    MaterialTables tables{registry};

    // A content record as the registry holds it after the host exported the entity.
    void addEntity(EntityKey key, const char* renderId, bool present,
                   std::initializer_list<const char*> meshIds) {
        EntityRecord& record = registry.ensureEntityRecord(key, EntityTable::Content);
        record.id = QString::number(key);
        record.renderId = QString::fromUtf8(renderId);
        record.present = present;
        for (const char* meshId : meshIds)
            record.meshes[QString::fromUtf8(meshId)] = QString();
    }
    void enumerate(const char* id, float width, float height, RenderOutput* to) {
        tables.enumerateMaterial({id, "Brick", "detail", width, height, 3, 0.5f, "extra"}, to);
    }
};

TEST_F(MaterialExportTest, EveryReportIsSentAndItsNameKeptUntilTheNamesAreCleared) {
    EXPECT_STREQ(tables.materialName("7"), "");
    enumerate("7", 0, 0, &output);
    enumerate("7", 0, 0, &output);
    tables.enumerateMaterial({"8", "Glass", nullptr, 0, 0, -1, 2.0f, nullptr}, &output);
    EXPECT_EQ(events, (Events{"addMaterial 7 Brick detail 3 0.5 extra",
                              "addMaterial 7 Brick detail 3 0.5 extra",
                              "addMaterial 8 Glass (null) -1 2 (null)"}));
    EXPECT_STREQ(tables.materialName("7"), "Brick");
    EXPECT_STREQ(tables.materialName("8"), "Glass");
    EXPECT_STREQ(tables.materialName("7 "), "");

    enumerate("9", 64, 64, &output);
    tables.clearNames();
    EXPECT_STREQ(tables.materialName("7"), "");
    EXPECT_EQ(tables.textureSize("9").width, 64.0f);  // sizes outlive the names
}

TEST_F(MaterialExportTest, TheTextureSizeChangeRuleAtItsEdges) {
    struct Case {
        const char* name;
        bool hasPrevious;
        float previousWidth, previousHeight;
        float width, height;
        bool loading;
        bool changed;
    } const cases[] = {
        {"first sight of a real size", false, 0, 0, 100, 100, false, true},
        {"first sight of (1, 1)", false, 0, 0, 1, 1, false, false},
        {"unchanged", true, 200, 100, 200, 100, false, false},
        {"swapped", true, 200, 100, 100, 200, false, true},
        {"height only", true, 200, 100, 200, 101, false, true},
        {"no texture (0, 256)", true, 64, 64, 0, 256, false, false},
        {"negative", true, 64, 64, -5, 64, false, false},
        {"while loading", true, 64, 64, 128, 128, true, false},
        {"after a size of 0", true, 0, 256, 128, 256, false, true},
    };
    for (const Case& c : cases) {
        EntityRegistry caseRegistry;
        MaterialTables caseTables(caseRegistry);
        EntityRecord& record = caseRegistry.ensureEntityRecord(30, EntityTable::Content);
        record.id = QStringLiteral("30");
        record.renderId = QStringLiteral("r30");
        record.present = true;
        record.meshes[QStringLiteral("30_f[7]")] = QString();
        Events caseEvents;
        test::RecordingOutput caseOutput(caseEvents);
        if (c.hasPrevious) {
            caseOutput.loading = true;  // records the size without collecting
            caseTables.enumerateMaterial(
                {"7", "m", "", c.previousWidth, c.previousHeight, 0, 0, ""}, &caseOutput);
        }
        caseOutput.loading = c.loading;
        caseTables.enumerateMaterial({"7", "m", "", c.width, c.height, 0, 0, ""}, &caseOutput);
        EXPECT_EQ(!caseTables.refreshList().empty(), c.changed) << c.name;
        EXPECT_EQ(caseTables.textureSize("7").width, c.width) << c.name;
        EXPECT_EQ(caseTables.textureSize("7").height, c.height) << c.name;
    }
}

TEST_F(MaterialExportTest, WithoutAnOutputTheSizeIsStoredAndNothingCollected) {
    addEntity(30, "r30", true, {"30_f[7]"});
    enumerate("7", 100, 100, nullptr);
    EXPECT_TRUE(tables.refreshList().empty());
    EXPECT_TRUE(events.empty());
    EXPECT_STREQ(tables.materialName("7"), "Brick");
    // The size was recorded: the same size later is no change.
    enumerate("7", 100, 100, &output);
    EXPECT_TRUE(tables.refreshList().empty());
}

TEST_F(MaterialExportTest, OnlyWholeIdsOfPresentRenderedEntitiesAreListedOnceEach) {
    addEntity(10, "r10", true, {"10_f[12]", "10_r[1]", "10_f[1]_r[1]", "10_x[1]", "10_F[1]"});
    addEntity(11, "", true, {"11_f[1]"});      // no render id
    addEntity(12, "r12", false, {"12_f[1]"});  // not present
    enumerate("1", 100, 100, &output);
    enumerate("1", 200, 200, &output);  // changed again: nothing listed twice
    const MeshRefreshList expected{{QStringLiteral("10"), Meshes{"10_f[1]_r[1]", "10_r[1]"}}};
    EXPECT_EQ(tables.refreshList(), expected);
}

TEST_F(MaterialExportTest, TheRefreshListIsOrderedByEntityIdTextAndGrowsAtTheEnd) {
    addEntity(100, "r", true, {"100_f[5]"});
    addEntity(42, "r", true, {"42_r[5]"});
    addEntity(7, "r", true, {"7_b_f[5]", "7_a_r[5]"});
    enumerate("5", 10, 10, &output);
    addEntity(7, "r", true, {"7_0_f[5]"});  // sorts first in the entity's mesh table
    enumerate("5", 20, 20, &output);

    const MeshRefreshList taken = tables.takeRefreshList();
    std::vector<QString> order;
    for (const auto& [entity, meshes] : taken)
        order.push_back(entity);
    EXPECT_EQ(order, (Meshes{"100", "42", "7"}));
    EXPECT_EQ(taken.at(QStringLiteral("7")), (Meshes{"7_a_r[5]", "7_b_f[5]", "7_0_f[5]"}));
    EXPECT_TRUE(tables.refreshList().empty());
}

}  // namespace
}  // namespace orvanta
