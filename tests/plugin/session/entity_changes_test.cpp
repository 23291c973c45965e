// Entity change and removal: removal by parents and modes, the per-entity and model message
// tables with the result bytes they leave alone, and hidden entities.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "plugin/session/entity_changes.h"
#include "plugin/session/session_reset.h"
#include "tests/plugin/export/recording_output.h"

namespace orvanta {
namespace {

using Events = std::vector<std::string>;

// A result byte that no path writes.
constexpr std::uint8_t kUntouched = 7;

struct ChangesTest : ::testing::Test, test::RecordingSession {
    ChangesTest() {
        resetSession(session);
        addEntity("9", EntityTable::Placement, {"3", "5"});  // an instance under two parents
        addEntity("20", EntityTable::Content, {});           // a group without parent
    }
    bool exists(const char* id, EntityTable table) {
        RegistryGuard guard(registry.lock());
        return registry.entityExists(QString::fromUtf8(id), table);
    }
    std::vector<QString> parentsOf(EntityKey key, EntityTable table) {
        RegistryGuard guard(registry.lock());
        return registry.findRecord(key, table)->parents;
    }
};

TEST_F(ChangesTest, RemovalByParentsAndModes) {
    struct Case {
        const char* name;
        const char* id;
        const char* parent;
        int mode;
        int table;
        Events sent;
        bool presentAfter;
    } const cases[] = {
        {"every parent", "9", "", 2, 1, {"removeEntity 9 3 0 0", "removeEntity 9 5 0 0"}, true},
        {"the given parent", "9", "5", 2, 1, {"removeEntity 9 5 0 0"}, true},
        {"mode 0 forgets the parents", "9", "", 0, 1, {}, false},
        {"no parent at all", "20", "", 2, 0, {}, false},
        {"the model root, once, as content",
         "Model",
         "",
         2,
         1,
         {"removeEntity Model Model 1 0"},
         true},
        {"not in that table", "9", "", 2, 0, {}, false},
        {"unknown", "77", "", 2, 1, {}, false},
        {"no such table", "9", "", 2, 2, {}, true},
    };
    for (const Case& c : cases) {
        test::RecordingSession fresh;
        resetSession(fresh.session);
        fresh.addEntity("9", EntityTable::Placement, {"3", "5"});
        fresh.addEntity("20", EntityTable::Content, {});
        fresh.addEntity("Model", EntityTable::Placement, {"A", "B"});
        removeEntity(fresh.session, QString::fromUtf8(c.id), QString::fromUtf8(c.parent), c.mode,
                     c.table, false, &fresh.output);
        EXPECT_EQ(fresh.events, c.sent) << c.name;
        const EntityTable table = c.table == 0 ? EntityTable::Content : EntityTable::Placement;
        RegistryGuard guard(fresh.registry.lock());
        EXPECT_EQ(fresh.registry.entityExists(QString::fromUtf8(c.id), table), c.presentAfter)
            << c.name;
    }
    // The model root is removed even when its record is missing, which recreates it.
    {
        test::RecordingSession bare;
        removeEntity(bare.session, QStringLiteral("Model"), QString(), 2, 0, false, &bare.output);
        EXPECT_EQ(bare.events, Events{"removeEntity Model Model 1 0"});
        RegistryGuard guard(bare.registry.lock());
        EXPECT_NE(bare.registry.findRecord(0, EntityTable::Content), nullptr);
    }
    // A removal for an update says so; the recorded parents stay.
    removeEntity(session, QStringLiteral("9"), QString(), 2, 1, true, &output);
    EXPECT_EQ(events, (Events{"removeEntity 9 3 0 1", "removeEntity 9 5 0 1"}));
    EXPECT_EQ(parentsOf(9, EntityTable::Placement), (std::vector<QString>{"3", "5"}));
    // A present entity that was removed is ignored the next time.
    removeEntity(session, QStringLiteral("20"), QString(), 2, 0, false, &output);
    removeEntity(session, QStringLiteral("20"), QStringLiteral("1"), 2, 0, false, &output);
    EXPECT_EQ(events.size(), 2u);
}

TEST_F(ChangesTest, ParentsAndMeshesAreForgottenOneAtATime) {
    addEntity("9", EntityTable::Placement, {"7", "7"});
    removeEntityFromParent(session, QStringLiteral("9"), 1, QStringLiteral("7"));
    removeEntityFromParent(session, QStringLiteral("9"), 1, QStringLiteral("absent"));
    EXPECT_EQ(parentsOf(9, EntityTable::Placement), (std::vector<QString>{"3", "5", "7"}));
    for (const char* parent : {"3", "5", "7"})
        removeEntityFromParent(session, QStringLiteral("9"), 1, QString::fromUtf8(parent));
    EXPECT_TRUE(exists("9", EntityTable::Placement));  // presence stays

    {
        RegistryGuard guard(registry.lock());
        registry.addMeshInEntity(QStringLiteral("20_a"), QString());
        registry.addMeshInEntity(QStringLiteral("20_b"), QString());
    }
    removeMeshInEntity(session, QStringLiteral("20_a"));
    removeMeshInEntity(session, QStringLiteral("20_zz"));
    removeMeshInEntity(session, QStringLiteral("404_a"));  // an owner without record
    RegistryGuard guard(registry.lock());
    EXPECT_EQ(registry.findRecord(20, EntityTable::Content)->meshes.size(), 1u);
    EXPECT_EQ(registry.findRecord(20, EntityTable::Content)->meshes.count("20_b"), 1u);
    EXPECT_FALSE(registry.findRecord(404, EntityTable::Content));
    EXPECT_TRUE(events.empty());
}

TEST_F(ChangesTest, EntityMessageRowsWithTheBytesTheyLeaveAlone) {
    struct Case {
        int kind;
        const char* type;
        const char* id;
        const char* parent;
        const char* results;  // the three bytes, '-' for untouched
        Events sent;
    } const cases[] = {
        {0, "ComponentInstance", "9", "", "000", {"removeEntity 9 3 0 0", "removeEntity 9 5 0 0"}},
        {0, "ComponentInstance", "9", "5", "000", {"removeEntity 9 5 0 0"}},
        {0, "Group", "20", "", "000", {"removeEntity 20 Model 1 0"}},
        {1, "Group", "20", "", "110", {}},
        {1, "Face", "20", "", "110", {}},
        {1, "ComponentInstance", "9", "3", "110", {"removeEntity 9 3 0 1"}},
        {1, "Model", "Model", "", "110", {"removeEntity Model Model 1 1"}},
        {1, "ComponentInstance", "proxy", "", "110", {}},
        {2, "Group", "20", "", "001", {}},
        {4, "Group", "20", "", "110", {}},
        {3, "Group", "20", "", "---", {}},
        {5, "Group", "20", "", "---", {}},
        {0, "Edge", "20", "", "0-0", {}},
        {3, "Edge", "20", "", "0-0", {}},
        {0, "SectionPlane", "S", "", "000", {"removeSectionPlane 0"}},
        {1, "SectionPlane", "S", "", "110", {"enumerate S mode 0"}},
    };
    for (const Case& c : cases) {
        test::RecordingSession fresh;
        resetSession(fresh.session);
        fresh.addEntity("9", EntityTable::Placement, {"3", "5"});
        fresh.addEntity("20", EntityTable::Content, {"Model"});
        fresh.addEntity("proxy", EntityTable::Placement, {"3"});
        fresh.output.proxies = {"proxy"};
        fresh.session.sectionPlanes.enumerate("S", true, false, {0, 0, 1}, {0, 0, 0}, nullptr);
        std::uint8_t flags[2] = {kUntouched, kUntouched};
        std::uint8_t flag = kUntouched;
        entityMessage(fresh.session, c.kind, QString::fromUtf8(c.id), QString::fromUtf8(c.type),
                      QString::fromUtf8(c.parent), {flags, &flag}, &fresh.output);
        std::string results;
        for (std::uint8_t byte : {flags[0], flags[1], flag})
            results += byte == kUntouched ? '-' : char('0' + byte);
        EXPECT_EQ(results, c.results) << c.kind << " " << c.type;
        EXPECT_EQ(fresh.events, c.sent) << c.kind << " " << c.type;
    }
}

TEST_F(ChangesTest, WithoutAnOutputMessagesTouchNothing) {
    std::uint8_t flags[2] = {kUntouched, kUntouched};
    std::uint8_t flag = kUntouched;
    entityMessage(session, 0, QStringLiteral("9"), QStringLiteral("Edge"), QString(),
                  {flags, &flag}, nullptr);
    modelMessage(session, 0, {flags, &flag}, nullptr);
    EXPECT_EQ(flags[0], kUntouched);
    EXPECT_EQ(flags[1], kUntouched);
    EXPECT_EQ(flag, kUntouched);
    EXPECT_TRUE(exists("9", EntityTable::Placement));
}

TEST_F(ChangesTest, ModelMessageRows) {
    struct Case {
        int kind;
        const char* results;
        bool resets;
    } const cases[] = {{0, "111", true},  {1, "111", true},  {2, "000", false},
                       {4, "0-0", false}, {3, "---", false}, {6, "---", false}};
    for (const Case& c : cases) {
        test::RecordingSession fresh;
        resetSession(fresh.session);
        fresh.addEntity("9", EntityTable::Placement, {"3"});
        fresh.session.colorByLayer = true;
        fresh.session.sessionAttributes.replace({{"Camera", "DoF", "k", "v"}});
        fresh.session.model.rootEntitiesCount = 17;
        fresh.session.model.lengthUnit = "mm";
        std::uint8_t flags[2] = {kUntouched, kUntouched};
        std::uint8_t flag = kUntouched;
        modelMessage(fresh.session, c.kind, {flags, &flag}, &fresh.output);
        // A new model (kinds 0 and 1) keeps nothing of the old one's count and unit.
        EXPECT_EQ(fresh.session.model.rootEntitiesCount, c.resets ? 0 : 17) << c.kind;
        EXPECT_EQ(fresh.session.model.lengthUnit, c.resets ? QByteArray() : QByteArray("mm"))
            << c.kind;
        std::string results;
        for (std::uint8_t byte : {flags[0], flags[1], flag})
            results += byte == kUntouched ? '-' : char('0' + byte);
        EXPECT_EQ(results, c.results) << c.kind;
        RegistryGuard guard(fresh.registry.lock());
        EXPECT_EQ(fresh.registry.entityExists(QStringLiteral("9"), EntityTable::Placement),
                  !c.resets)
            << c.kind;
        EXPECT_EQ(fresh.session.colorByLayer.load(), !c.resets) << c.kind;
        if (c.resets) {
            EXPECT_EQ(fresh.events, (Events{"clearSession", "dictionary Camera DoF k v"}));
            EXPECT_EQ(fresh.output.busyCounts, (std::vector<int>{0, 1}));
            EXPECT_EQ(fresh.registry.records(EntityTable::Placement).size(), 1u);
        } else {
            EXPECT_TRUE(fresh.events.empty()) << c.kind;
        }
    }
    EXPECT_EQ(sessionBusyCount(), 0);
}

TEST_F(ChangesTest, AHiddenEntityIsSentOnceAndAnUnknownOneRegistered) {
    hideEntity(session, QStringLiteral("9"), &output);
    hideEntity(session, QStringLiteral("9"), &output);
    hideEntity(session, QStringLiteral("31"), &output);
    EXPECT_EQ(events, (Events{"setEntityVisible 9 0 ", "setEntityVisible 31 0 "}));
    EXPECT_TRUE(exists("31", EntityTable::Placement));
    EXPECT_EQ(parentsOf(31, EntityTable::Placement), std::vector<QString>{QString()});
}

TEST_F(ChangesTest, HiddenEntitiesComeBackInKeyOrderEachAfterItsContent) {
    {
        RegistryGuard guard(registry.lock());
        registry.setRecordLabel(QStringLiteral("9"), QStringLiteral("nine"));
    }
    hideEntity(session, QStringLiteral("12"), &output);
    hideEntity(session, QStringLiteral("9"), &output);
    events.clear();
    // The host registers, from inside its callback, a hidden entity behind the walk's position and
    // one before it: the walk reaches the first only.
    onEnumerate = [this](const char* id, int) {
        if (std::string(id) != "9")
            return;
        hideEntity(session, QStringLiteral("10"), &output);
        hideEntity(session, QStringLiteral("2"), &output);
    };
    showHiddenEntities(session, &output);
    EXPECT_EQ(events,
              (Events{"enumerate 9 mode 2", "setEntityVisible 10 0 ", "setEntityVisible 2 0 ",
                      "setEntityVisible 9 1 nine", "enumerate 10 mode 2", "setEntityVisible 10 1 ",
                      "enumerate 12 mode 2", "setEntityVisible 12 1 "}));
    events.clear();
    onEnumerate = nullptr;
    showHiddenEntities(session, &output);
    EXPECT_EQ(events, (Events{"enumerate 2 mode 2", "setEntityVisible 2 1 "}));
    events.clear();
    showHiddenEntities(session, &output);
    EXPECT_TRUE(events.empty());
}

TEST_F(ChangesTest, AHostThatResetsTheSessionDuringTheWalkEndsIt) {
    hideEntity(session, QStringLiteral("9"), &output);
    hideEntity(session, QStringLiteral("12"), &output);
    events.clear();
    onEnumerate = [this](const char*, int) { resetSession(session); };
    showHiddenEntities(session, &output);
    EXPECT_EQ(events, (Events{"enumerate 9 mode 2", "setEntityVisible 9 1 "}));
}

}  // namespace
}  // namespace orvanta
