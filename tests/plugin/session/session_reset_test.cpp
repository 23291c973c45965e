// The session reset and the host's session clear: what goes, what stays, and what the render
// window receives, in order.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "plugin/requests/host_request_queue.h"
#include "plugin/session/session_reset.h"
#include "tests/plugin/export/recording_output.h"

namespace orvanta {
namespace {

using Events = std::vector<std::string>;

struct PopulatedSession : test::RecordingSession {
    PopulatedSession() {
        // Entities 5 and -3 in both tables, a mesh, a hidden placement, a plane, a material.
        for (EntityTable table : {EntityTable::Content, EntityTable::Placement})
            for (const char* id : {"5", "-3"})
                addEntity(id, table, {"Model"});
        RegistryGuard guard(registry.lock());
        registry.addMeshInEntity(QStringLiteral("5_m"), QString());
        registry.findRecord(5, EntityTable::Placement)->hidden = true;
    }
};

TEST(SessionReset, LeavesExactlyTheTwoModelRootsAndKeepsTheLongLivedTables) {
    PopulatedSession s;
    s.session.sectionPlanes.enumerate("1", true, false, {0, 0, 1}, {0, 0, 0}, nullptr);
    s.session.materials.enumerateMaterial({"7", "Brick", "", 64, 32, 0, 0, ""}, nullptr);
    s.session.sessionAttributes.setValue({"Camera", "Bloom", "k", "v"});
    s.session.enumerationPercent = 37;
    s.requests.post({"obrSkpEnumEntityContent", "9"});

    resetSession(s.session);

    for (EntityTable table : {EntityTable::Content, EntityTable::Placement}) {
        const EntityTableRecords& records = s.registry.records(table);
        ASSERT_EQ(records.size(), 1u);
        ASSERT_EQ(records.begin()->first, 0);
        const EntityRecord& root = records.begin()->second;
        EXPECT_EQ(root.id, QStringLiteral("Model"));
        EXPECT_EQ(root.parents, std::vector<QString>{QStringLiteral("Model")});
        EXPECT_TRUE(root.present);
        EXPECT_EQ(root.renderId, QStringLiteral("Root"));
        EXPECT_EQ(root.label, QStringLiteral("0"));
        EXPECT_EQ(root.note,
                  table == EntityTable::Placement ? QStringLiteral("Default") : QString());
        EXPECT_FALSE(root.hidden);
        EXPECT_TRUE(root.meshes.empty());
        EXPECT_TRUE(root.instanceVersions.empty());
    }
    EXPECT_TRUE(s.session.sectionPlanes.planes().empty());
    EXPECT_STREQ(s.session.materials.materialName("7"), "");
    EXPECT_EQ(s.session.materials.textureSize("7").width, 64.0f);
    EXPECT_EQ(s.session.sessionAttributes.records().size(), 1);
    EXPECT_EQ(s.session.enumerationPercent.load(), 37);
    EXPECT_EQ(s.requests.size(), 1);
    EXPECT_TRUE(s.events.empty());
}

TEST(SessionClear, FullClearSendsItsMessagesInOrderWhateverTheOtherFlags) {
    for (const bool others : {false, true}) {
        PopulatedSession s;
        s.session.colorByLayer = true;
        s.session.model.rootEntitiesCount = 17;
        s.session.sessionAttributes.replace(
            {{"Camera", "Bloom", "k1", "v1"}, {"Camera", "Sky", "k2", "v2"}});
        clearSession(s.session, true, others, others, &s.output);
        EXPECT_EQ(s.events,
                  (Events{"beginTransaction Clear", "clearSession", "dictionary Camera Bloom k1 v1",
                          "dictionary Camera Sky k2 v2", "endTransaction 0"}));
        EXPECT_EQ(s.registry.records(EntityTable::Content).size(), 1u);
        EXPECT_EQ(s.registry.records(EntityTable::Placement).size(), 1u);
        EXPECT_FALSE(s.session.colorByLayer.load());
        EXPECT_EQ(s.session.model.rootEntitiesCount, 0);
        // Busy inside the transaction only.
        EXPECT_EQ(s.output.busyCounts, (std::vector<int>{0, 1, 1, 1, 0}));
    }
}

TEST(SessionClear, PartialClearsKeepEveryRecord) {
    struct Case {
        bool clearParents;
        bool removeMeshes;
        Events sent;
    } const cases[] = {
        {false,
         true,
         {"beginTransaction Clear", "removeEntityMeshes -3", "removeEntityMeshes Model",
          "removeEntityMeshes 5", "endTransaction 0"}},
        {true, false, {"beginTransaction Clear", "endTransaction 0"}},
        {false, false, {"beginTransaction Clear", "endTransaction 0"}},
    };
    for (const Case& c : cases) {
        PopulatedSession s;
        resetSession(s.session);
        for (EntityTable table : {EntityTable::Content, EntityTable::Placement})
            for (const char* id : {"5", "-3"})
                s.addEntity(id, table, {"Model"});
        clearSession(s.session, false, c.clearParents, c.removeMeshes, &s.output);
        EXPECT_EQ(s.events, c.sent) << c.clearParents << c.removeMeshes;
        for (EntityTable table : {EntityTable::Content, EntityTable::Placement}) {
            EXPECT_EQ(s.registry.records(table).size(), 3u);
            for (const char* id : {"Model", "5", "-3"}) {
                const QString text = QString::fromUtf8(id);
                EXPECT_TRUE(s.registry.entityExists(text, table)) << id;
                EXPECT_EQ(s.registry.isEntityParented(text, std::nullopt, table), !c.clearParents)
                    << id;
            }
        }
    }
}

}  // namespace
}  // namespace orvanta
