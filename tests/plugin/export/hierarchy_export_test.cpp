// The hierarchy export: groups and their result bytes, instances and their definitions, the
// transform's order, definitions sent once, layers and the colour-by-layer mode.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "plugin/export/hierarchy_export.h"
#include "plugin/session/entity_changes.h"
#include "plugin/session/session_reset.h"
#include "tests/plugin/export/recording_output.h"
#include "tests/support/captured_log.h"

namespace orvanta {
namespace {

using Events = std::vector<std::string>;

constexpr float kTransform[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
constexpr char kTransformText[] = "1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16";

struct HierarchyTest : ::testing::Test, test::RecordingSession {
    HierarchyTest() { resetSession(session); }

    std::string group(const char* id, const char* parent) {
        std::uint8_t result[2] = {7, 7};
        exportGroup(session, {id, parent, "label", "pass", kTransform, "note"}, result, &output);
        return std::to_string(result[0]) + std::to_string(result[1]);
    }
    void instance(const char* id, const char* parent, const char* definition) {
        exportInstance(session, {id, parent, "label", definition, "pass", kTransform, "note"},
                       &output);
    }
    bool parented(const char* id, const char* parent, EntityTable table) {
        RegistryGuard guard(registry.lock());
        return registry.isEntityParented(QString::fromUtf8(id), QString::fromUtf8(parent), table);
    }
};

TEST_F(HierarchyTest, AGroupIsRecordedOnceAndSentEveryTime) {
    EXPECT_EQ(group("20", "Model"), "11");
    EXPECT_EQ(group("20", "Model"), "10");
    EXPECT_EQ(group("20", "30"), "10");
    EXPECT_EQ(events.size(), 3u);
    EXPECT_EQ(events[0], "addGroup 20 Model label pass note " + std::string(kTransformText));
    EXPECT_EQ(events[2], "addGroup 20 30 label pass note " + std::string(kTransformText));

    RegistryGuard guard(registry.lock());
    const EntityRecord* container = registry.findRecord(20, EntityTable::Content);
    ASSERT_TRUE(container);
    EXPECT_TRUE(container->parents.empty());
    EXPECT_TRUE(container->present);
    const EntityRecord* placement = registry.findRecord(20, EntityTable::Placement);
    ASSERT_TRUE(placement);
    EXPECT_EQ(placement->parents, (std::vector<QString>{"Model", "30"}));
    EXPECT_EQ(placement->label, QStringLiteral("label"));
    EXPECT_EQ(placement->note, QStringLiteral("note"));
}

TEST_F(HierarchyTest, AnUnknownDefinitionIsEnumeratedBeforeAndAgainAfterIfStillUnknown) {
    const std::string added =
        "addInstance 9 Model 50 label pass note " + std::string(kTransformText);
    instance("9", "Model", "50");
    // The instance records the definition with itself as parent, so it is known afterwards.
    EXPECT_EQ(events, (Events{"enumerate 50 mode 0", added}));
    EXPECT_TRUE(parented("50", "9", EntityTable::Content));

    // A definition that keeps the instance as parent but left the session stays unknown through
    // the instance's report: the host is asked before and after.
    {
        RegistryGuard guard(registry.lock());
        registry.setEntityRenderId(QStringLiteral("50"), QString(), EntityTable::Content);
    }
    output.proxies = {"9"};
    events.clear();
    instance("9", "Model", "50");
    EXPECT_EQ(events, (Events{"enumerate 50 mode 0", added, "enumerate 50 mode 0"}));

    // A host that reports the definition from its callback makes it known at once.
    events.clear();
    onEnumerate = [this](const char* id, int) {
        std::uint8_t result[2];
        exportComponentDef(session, {id, "def", true, "defNote"}, result, &output);
    };
    instance("10", "Model", "51");
    EXPECT_EQ(events,
              (Events{"enumerate 51 mode 0", "addComponentDef 51 def 1 defNote",
                      "addInstance 10 Model 51 label pass note " + std::string(kTransformText)}));
}

TEST_F(HierarchyTest, AnInstanceReportedAgainUnderTheSameParentIsReplacedUnlessAProxy) {
    instance("9", "Model", "50");
    instance("9", "Model", "50");
    output.proxies = {"9"};
    instance("9", "Model", "50");
    const std::string added =
        "addInstance 9 Model 50 label pass note " + std::string(kTransformText);
    EXPECT_EQ(events,
              (Events{"enumerate 50 mode 0", added, "removeEntity 9 Model 0 1", added, added}));
    {
        RegistryGuard guard(registry.lock());
        EXPECT_EQ(registry.findRecord(9, EntityTable::Placement)->parents,
                  (std::vector<QString>{"Model"}));
        EXPECT_EQ(registry.findRecord(50, EntityTable::Content)->parents,
                  (std::vector<QString>{"9"}));
    }
    // Listed once, it is removed once.
    output.proxies = {};
    events.clear();
    removeEntity(session, QStringLiteral("9"), QString(), 2, 1, false, &output);
    EXPECT_EQ(events, Events{"removeEntity 9 Model 0 0"});
}

// A null parent is no parent in particular: nothing is added as a parent, and an entity with any
// parent counts as placed, so a re-reported instance is removed from all of its parents.
TEST_F(HierarchyTest, ANullParentAddsNoParentAndMatchesAnyParent) {
    EXPECT_EQ(group("20", nullptr), "11");
    EXPECT_EQ(group("20", nullptr), "10");
    EXPECT_EQ(events.back(), "addGroup 20 (null) label pass note " + std::string(kTransformText));
    instance("9", "Model", "50");
    instance("9", "30", "50");
    events.clear();
    instance("9", nullptr, "50");
    EXPECT_EQ(events,
              (Events{"removeEntity 9 Model 0 1", "removeEntity 9 30 0 1",
                      "addInstance 9 (null) 50 label pass note " + std::string(kTransformText)}));

    RegistryGuard guard(registry.lock());
    const EntityRecord* group = registry.findRecord(20, EntityTable::Placement);
    ASSERT_TRUE(group);
    EXPECT_TRUE(group->present);
    EXPECT_TRUE(group->parents.empty());
    EXPECT_EQ(registry.findRecord(9, EntityTable::Placement)->parents,
              (std::vector<QString>{"Model", "30"}));
}

// A node without a transform cannot be placed: the session records it, the log says why the render
// window does not get it.
TEST_F(HierarchyTest, ANodeWithoutATransformIsRecordedAndLogged) {
    const xel::test::CapturedLog log;
    exportGroup(session, {"20", "Model", "label", "pass", nullptr, "note"}, nullptr, &output);
    exportInstance(session, {"9", "20", "label", "50", "pass", nullptr, "note"}, &output);
    exportGroup(session, {"21", "Model", "label", "pass", kTransform, "note"}, nullptr, &output);
    EXPECT_EQ(
        log.linesWith(QStringLiteral("obrOnEnumGroup refused: a null transform for 20;")).size(),
        1);
    EXPECT_EQ(
        log.linesWith(QStringLiteral("obrOnEnumInstance refused: a null transform for 9;")).size(),
        1);
    EXPECT_EQ(log.linesWith(QStringLiteral("refused")).size(), 2);
    EXPECT_TRUE(parented("20", "Model", EntityTable::Placement));
    EXPECT_TRUE(parented("9", "20", EntityTable::Placement));
}

TEST_F(HierarchyTest, ADefinitionIsSentOncePerSessionWhicheverWayItBecameKnown) {
    std::uint8_t first[2] = {0, 0}, second[2] = {0, 0}, third[2] = {0, 0};
    exportComponentDef(session, {"50", "text", false, "note"}, first, &output);
    exportComponentDef(session, {"50", "text", false, "note"}, second, &output);
    instance("9", "Model", "60");  // records 60 through its instance
    events.clear();
    exportComponentDef(session, {"60", "text", false, "note"}, third, &output);
    EXPECT_TRUE(events.empty());
    for (const std::uint8_t* result : {first, second, third}) {
        EXPECT_EQ(result[0], 1);
        EXPECT_EQ(result[1], 1);
    }
    resetSession(session);
    exportComponentDef(session, {"50", "text", false, "note"}, first, &output);
    EXPECT_EQ(events, Events{"addComponentDef 50 text 0 note"});
}

TEST_F(HierarchyTest, LayersAreDefaultWhenTheirIdReadsAsZero) {
    for (const char* id : {"0", "12", "Layer0", "-0", " 0"})
        exportLayer(id, true, 5, &output);
    EXPECT_EQ(events, (Events{"addLayer 0 1 5 1", "addLayer 12 1 5 0", "addLayer Layer0 1 5 1",
                              "addLayer -0 1 5 1", "addLayer  0 1 5 1"}));
}

TEST_F(HierarchyTest, ColourByLayerIsStoredAlwaysAndSentWithAnOutput) {
    setLayersColorMode(session, true, nullptr);
    EXPECT_TRUE(session.colorByLayer.load());
    setLayersColorMode(session, false, &output);
    setLayersColorMode(session, true, &output);
    EXPECT_EQ(events, (Events{"dictionary App obrSetLayersColorMode Data false",
                              "dictionary App obrSetLayersColorMode Data true"}));
}

TEST_F(HierarchyTest, NothingHappensWithoutAnOutput) {
    std::uint8_t result[2] = {7, 7};
    exportGroup(session, {"20", "Model", "", "", kTransform, ""}, result, nullptr);
    exportComponentDef(session, {"50", "", false, ""}, result, nullptr);
    exportInstance(session, {"9", "Model", "", "50", "", kTransform, ""}, nullptr);
    EXPECT_EQ(result[0], 7);
    EXPECT_EQ(result[1], 7);
    EXPECT_TRUE(events.empty());
    RegistryGuard guard(registry.lock());
    EXPECT_EQ(registry.records(EntityTable::Content).size(), 1u);
    EXPECT_EQ(registry.records(EntityTable::Placement).size(), 1u);
}

}  // namespace
}  // namespace orvanta
