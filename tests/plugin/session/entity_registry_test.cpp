#include <QString>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <limits>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "OrvantaForSketchup.h"
#include "plugin/session/entity_registry.h"

namespace {

using orvanta::EntityKey;
using orvanta::entityKeyOf;
using orvanta::EntityRegistry;
using orvanta::EntityTable;
using orvanta::RegistryLock;

constexpr EntityKey kMax = std::numeric_limits<EntityKey>::max();
constexpr EntityKey kMin = std::numeric_limits<EntityKey>::min();
constexpr auto kContent = EntityTable::Content;
constexpr auto kPlacement = EntityTable::Placement;

QString q(const char* text) {
    return QString::fromUtf8(text);
}

// The model root as a session reset leaves it.
void seedRoot(EntityRegistry& registry) {
    for (EntityTable table : {kContent, kPlacement}) {
        orvanta::EntityRecord& root = registry.ensureEntityRecord(0, table);
        root.id = q("Model");
        root.parents = {q("Model")};
        root.present = true;
        root.renderId = q("Root");
        root.label = q("0");
        root.note = table == kPlacement ? q("Default") : QString();
    }
}

struct KeyCase {
    const char* id;
    EntityKey key;
};

TEST(RegistryEntityKey, ReadsLeadingDecimalDigitsAndSaturates) {
    const KeyCase cases[] = {
        {"Model", 0},
        {"0", 0},
        {"abc", 0},
        {"", 0},
        {"-", 0},
        {"12", 12},
        {"12abc", 12},
        {"12_f[3]", 12},
        {"-7", -7},
        {" +12", 12},
        {"\t\n-3x", -3},
        {"1 2", 1},
        {"\xd9\xa3", 0},  // a non-ASCII digit is no digit
        {"2147483647", kMax},
        {"2147483648", kMax},
        {"99999999999999999999999", kMax},
        {"-2147483648", kMin},
        {"-2147483649", kMin},
        {"-99999999999999999999999", kMin},
        {"00000000000000000000012", 12},
    };
    for (const KeyCase& c : cases)
        EXPECT_EQ(entityKeyOf(q(c.id)), c.key) << c.id;
}

TEST(RegistryTableNumber, OnlyZeroAndOneNameTables) {
    EXPECT_EQ(orvanta::entityTableOf(0), kContent);
    EXPECT_EQ(orvanta::entityTableOf(1), kPlacement);
    EXPECT_FALSE(orvanta::entityTableOf(2));
    EXPECT_FALSE(orvanta::entityTableOf(-1));
}

// Texts that share a key share one record; only the text stored last is recognised.
TEST(EntityRegistry, TextsSharingAKeyAreToldApartByTheStoredText) {
    const std::vector<std::vector<const char*>> groups = {
        {"Model", "0", "abc", ""},
        {"12abc", "12", "+12", " 12"},
        {"99999999999", "2147483647", "2147483648"},
    };
    for (const auto& group : groups) {
        EntityRegistry registry;
        for (const char* stored : group) {
            registry.addEntityToParent(q(stored), q("p"), kPlacement);
            EXPECT_EQ(registry.records(kPlacement).size(), 1u) << stored;
            for (const char* queried : group) {
                const bool same = q(stored) == q(queried);
                EXPECT_EQ(registry.entityExists(q(queried), kPlacement), same)
                    << stored << " / " << queried;
                EXPECT_EQ(registry.isEntityParented(q(queried), std::nullopt, kPlacement), same)
                    << stored << " / " << queried;
            }
        }
    }
}

TEST(EntityRegistry, TablesAreSeparate) {
    EntityRegistry registry;
    registry.addEntityToParent(q("12"), std::nullopt, kContent);
    EXPECT_TRUE(registry.entityExists(q("12"), kContent));
    EXPECT_FALSE(registry.entityExists(q("12"), kPlacement));
    EXPECT_TRUE(registry.records(kPlacement).empty());
}

TEST(EntityRegistry, ModelRootKeepsItsRenderId) {
    EntityRegistry registry;
    seedRoot(registry);
    for (const char* renderId : {"", "R9"})
        registry.setEntityRenderId(q("Model"), q(renderId), kContent);
    registry.setEntityRenderId(q("0"), QString(), kContent);

    const orvanta::EntityRecord& root = *registry.findRecord(0, kContent);
    EXPECT_EQ(root.renderId, q("Root"));
    EXPECT_TRUE(root.present);
    EXPECT_TRUE(registry.isEntityMarkedOnRender(q("Model"), kContent));
    EXPECT_TRUE(registry.entityExists(q("Model"), kPlacement));
    EXPECT_FALSE(registry.entityExists(q("0"), kPlacement));
}

TEST(EntityRegistry, ParentsKeepRepeatsAndEmptyTexts) {
    EntityRegistry registry;
    registry.addEntityToParent(q("12"), q("7"), kPlacement);
    registry.addEntityToParent(q("12"), q("7"), kPlacement);
    registry.addEntityToParent(q("12"), q(""), kPlacement);
    registry.addEntityToParent(q("12"), std::nullopt, kPlacement);

    EXPECT_EQ(registry.findRecord(12, kPlacement)->parents,
              (std::vector<QString>{q("7"), q("7"), q("")}));
    EXPECT_TRUE(registry.isEntityParented(q("12"), q("7"), kPlacement));
    EXPECT_TRUE(registry.isEntityParented(q("12"), q(""), kPlacement));
    EXPECT_FALSE(registry.isEntityParented(q("12"), q("8"), kPlacement));
}

TEST(EntityRegistry, NoParentMakesAPresentEntityWithoutParents) {
    EntityRegistry registry;
    registry.addEntityToParent(q("12"), std::nullopt, kContent);
    EXPECT_TRUE(registry.entityExists(q("12"), kContent));
    EXPECT_FALSE(registry.isEntityParented(q("12"), std::nullopt, kContent));
    EXPECT_FALSE(registry.isEntityParented(q("12"), q(""), kContent));
}

TEST(EntityRegistry, EmptyRenderIdClearsPresenceButNotParents) {
    EntityRegistry registry;
    registry.addEntityToParent(q("12"), q("7"), kContent);
    registry.setEntityRenderId(q("12"), q("r12"), kContent);
    EXPECT_TRUE(registry.isEntityMarkedOnRender(q("12"), kContent));

    registry.setEntityRenderId(q("12"), QString(), kContent);
    EXPECT_FALSE(registry.entityExists(q("12"), kContent));
    EXPECT_FALSE(registry.isEntityMarkedOnRender(q("12"), kContent));
    EXPECT_TRUE(registry.isEntityParented(q("12"), std::nullopt, kContent));

    // Parents are cleared only for an entity that exists.
    registry.clearEntityParents(q("12"), kContent);
    EXPECT_TRUE(registry.isEntityParented(q("12"), q("7"), kContent));
    registry.addEntityToParent(q("12"), std::nullopt, kContent);
    registry.clearEntityParents(q("12"), kContent);
    EXPECT_FALSE(registry.isEntityParented(q("12"), std::nullopt, kContent));
    EXPECT_TRUE(registry.entityExists(q("12"), kContent));
}

TEST(EntityRegistry, RenderIdOnANewKeyMakesARecordWithoutIdText) {
    EntityRegistry registry;
    registry.setEntityRenderId(q("15"), q("r15"), kContent);
    EXPECT_TRUE(registry.findRecord(15, kContent)->present);
    EXPECT_FALSE(registry.entityExists(q("15"), kContent));
    registry.addEntityToParent(q("15"), std::nullopt, kContent);
    EXPECT_TRUE(registry.isEntityMarkedOnRender(q("15"), kContent));
}

TEST(EntityRegistry, InstanceVersionsAreDistinctAndNeedARecord) {
    EntityRegistry registry;
    EXPECT_FALSE(registry.addInstanceVersion(q("5"), q("v1"), kContent));
    EXPECT_TRUE(registry.records(kContent).empty());

    registry.addEntityToParent(q("5"), std::nullopt, kContent);
    struct Step {
        const char* id;
        const char* version;
        bool added;
    };
    // The key decides, not the stored text or presence.
    const Step steps[] = {{"5", "v1", true}, {"5", "v1", false}, {"5", "v2", true},
                          {"5", "", false},  {"5x", "v3", true}, {"5", "V1", true}};
    for (const Step& s : steps)
        EXPECT_EQ(registry.addInstanceVersion(q(s.id), q(s.version), kContent), s.added)
            << s.id << " " << s.version;
    EXPECT_EQ(registry.findRecord(5, kContent)->instanceVersions,
              (std::vector<QString>{q("v1"), q("v2"), q("v3"), q("V1")}));
    EXPECT_FALSE(registry.addInstanceVersion(q("5"), q("v1"), kPlacement));

    registry.clearInstanceVersions(q("5"), kContent);
    EXPECT_TRUE(registry.addInstanceVersion(q("5"), q("v1"), kContent));
}

TEST(EntityRegistry, MeshesAreReplacedByIdInTheOwnersContentRecord) {
    EntityRegistry registry;
    registry.addEntityToParent(q("12"), std::nullopt, kContent);
    registry.addMeshInEntity(q("12_a"), q("first"));
    registry.addMeshInEntity(q("12_a"), q("second"));
    registry.addMeshInEntity(q("12_B_x"), q("third"));
    registry.addMeshInEntity(q("12"), q("whole"));

    const std::map<QString, QString> expected = {
        {q("12"), q("whole")}, {q("12_B_x"), q("third")}, {q("12_a"), q("second")}};
    EXPECT_EQ(registry.findRecord(12, kContent)->meshes, expected);

    registry.clearEntityMeshes(q("12"));
    EXPECT_TRUE(registry.findRecord(12, kContent)->meshes.empty());
}

// Operations that expect an existing record leave a missing one missing.
TEST(EntityRegistry, MissingRecordsAreNotCreatedByMeshOrLabelChanges) {
    EntityRegistry registry;
    registry.addEntityToParent(q("12"), std::nullopt, kPlacement);
    registry.addMeshInEntity(q("12_a"), q("info"));
    registry.clearEntityMeshes(q("13"));
    registry.setRecordLabel(q("14"), q("label"));
    registry.clearInstanceVersions(q("15"), kContent);
    registry.clearEntityParents(q("16"), kContent);
    EXPECT_TRUE(registry.records(kContent).empty());
    EXPECT_EQ(registry.records(kPlacement).size(), 1u);
}

TEST(EntityRegistry, LabelAndNoteGoToThePlacementRecord) {
    EntityRegistry registry;
    registry.addEntityToParent(q("12"), q("7"), kPlacement);
    registry.setRecordLabel(q("12"), q("L"));
    registry.setRecordNote(q("12"), q("N"));
    registry.setRecordNote(q("20"), q("N20"));

    const orvanta::EntityRecord& record = *registry.findRecord(12, kPlacement);
    EXPECT_EQ(record.label, q("L"));
    EXPECT_EQ(record.note, q("N"));
    EXPECT_TRUE(record.present);
    const orvanta::EntityRecord& created = *registry.findRecord(20, kPlacement);
    EXPECT_EQ(created.note, q("N20"));
    EXPECT_FALSE(created.present);
    EXPECT_TRUE(registry.records(kContent).empty());
}

TEST(EntityRegistry, RecordsWalkInAscendingKeyOrderAndClearEmptiesBothTables) {
    EntityRegistry registry;
    for (const char* id : {"30", "-5", "Model", "99999999999", "7", "-99999999999"})
        registry.addEntityToParent(q(id), std::nullopt, kPlacement);
    std::vector<EntityKey> keys;
    for (const auto& entry : registry.records(kPlacement))
        keys.push_back(entry.first);
    EXPECT_EQ(keys, (std::vector<EntityKey>{kMin, -5, 0, 7, 30, kMax}));

    registry.ensureEntityRecord(3, kContent);
    registry.clear();
    EXPECT_TRUE(registry.records(kContent).empty());
    EXPECT_TRUE(registry.records(kPlacement).empty());
}

TEST(RegistryEntityTypes, ManagedNamesAndMeshIds) {
    for (const char* name :
         {"Face", "Group", "ComponentDefinition", "ComponentInstance", "Image", "Layer", "Layers",
          "Model", "Surface", "Mesh", "Material", "SectionPlane"})
        EXPECT_TRUE(obrIsEntityTypeManaged(name)) << name;
    for (const char* name : {"face", "Faces", "Edge", "", " Face", "Fac"})
        EXPECT_FALSE(obrIsEntityTypeManaged(name)) << name;
    EXPECT_FALSE(obrIsEntityTypeManaged(nullptr));

    EXPECT_FALSE(obrIsMesh("12"));
    EXPECT_TRUE(obrIsMesh("12_0"));
    EXPECT_TRUE(obrIsMesh("_"));
    EXPECT_FALSE(obrIsMesh(""));
    EXPECT_FALSE(obrIsMesh(nullptr));
}

// Whether another thread could take `lock` at this moment; it lets go at once if it could.
bool freeForAnotherThread(RegistryLock& lock) {
    bool taken = false;
    std::thread other([&] {
        taken = lock.tryLock();
        if (taken)
            lock.unlock();
    });
    other.join();
    return taken;
}

TEST(RegistryLock, IsRecursiveAndExcludesOtherThreads) {
    RegistryLock lock;
    {
        orvanta::RegistryGuard outer(lock);
        {
            orvanta::RegistryGuard inner(lock);
            EXPECT_TRUE(lock.tryLock());
            lock.unlock();
            EXPECT_FALSE(freeForAnotherThread(lock));
        }
        EXPECT_FALSE(freeForAnotherThread(lock));
    }
    EXPECT_TRUE(freeForAnotherThread(lock));
}

TEST(RegistryLock, KeepsTryingUntilTheHolderLetsGo) {
    RegistryLock lock(std::chrono::milliseconds(1));
    lock.lock();
    std::atomic<bool> acquired{false};
    std::thread waiter([&] {
        orvanta::RegistryGuard guard(lock);
        acquired = true;
    });
    // Hold on until the waiter has had at least two attempts expire.
    while (lock.expiredAttempts() < 2 && !acquired)
        std::this_thread::yield();
    EXPECT_FALSE(acquired);
    lock.unlock();
    waiter.join();
    EXPECT_TRUE(acquired);
}

// Through the exports, on the process's registry.
class RegistryExports : public ::testing::Test {
protected:
    void SetUp() override {
        orvanta::RegistryGuard guard(orvanta::sessionRegistry().lock());
        orvanta::sessionRegistry().clear();
        seedRoot(orvanta::sessionRegistry());
    }
};

TEST_F(RegistryExports, ModelRootAfterReset) {
    obrSetEntityRenderId("Model", "other", 0);
    for (int32_t table : {0, 1}) {
        EXPECT_TRUE(obrEntityExists("Model", table));
        EXPECT_FALSE(obrEntityExists("0", table));
        EXPECT_TRUE(obrIsEntityMarkedOnRender("Model", table));
        EXPECT_TRUE(obrIsEntityParentedInSession("Model", "Model", table));
    }
}

TEST_F(RegistryExports, NullParentDiffersFromEmptyParent) {
    obrAddEntityToParent("12", nullptr, 1);
    EXPECT_TRUE(obrEntityExists("12", 1));
    EXPECT_FALSE(obrIsEntityParentedInSession("12", nullptr, 1));
    obrAddEntityToParent("12", "", 1);
    EXPECT_TRUE(obrIsEntityParentedInSession("12", nullptr, 1));
    EXPECT_TRUE(obrIsEntityParentedInSession("12", "", 1));
    obrClearEntityParents("12", 1);
    EXPECT_FALSE(obrIsEntityParentedInSession("12", nullptr, 1));

    obrSetEntityRenderId("12", nullptr, 1);
    EXPECT_FALSE(obrEntityExists("12", 1));
}

TEST_F(RegistryExports, UnknownTableChangesNothing) {
    obrAddEntityToParent("12", "7", 2);
    obrSetEntityRenderId("13", "r", -1);
    EXPECT_FALSE(obrEntityExists("Model", 2));
    EXPECT_FALSE(obrAddInstanceVersion("Model", "v", 2));
    orvanta::RegistryGuard guard(orvanta::sessionRegistry().lock());
    EXPECT_EQ(orvanta::sessionRegistry().records(kContent).size(), 1u);
    EXPECT_EQ(orvanta::sessionRegistry().records(kPlacement).size(), 1u);
}

TEST_F(RegistryExports, VersionsAndMeshes) {
    obrAddEntityToParent("5", nullptr, 0);
    EXPECT_FALSE(obrAddInstanceVersion("5", nullptr, 0));
    EXPECT_FALSE(obrAddInstanceVersion("5", "", 0));
    EXPECT_TRUE(obrAddInstanceVersion("5", "v\xc3\xa9", 0));
    EXPECT_FALSE(obrAddInstanceVersion("5", "v\xc3\xa9", 0));
    obrClearInstanceVersions("5", 0);
    EXPECT_TRUE(obrAddInstanceVersion("5", "v\xc3\xa9", 0));

    obrAddMeshInEntity("5_a", "one");
    obrAddMeshInEntity("5_a", "two");
    obrAddMeshInEntity("6_a", "orphan");
    {
        orvanta::RegistryGuard guard(orvanta::sessionRegistry().lock());
        const orvanta::EntityRecord* record = orvanta::sessionRegistry().findRecord(5, kContent);
        ASSERT_NE(record, nullptr);
        EXPECT_EQ(record->meshes, (std::map<QString, QString>{{q("5_a"), q("two")}}));
        EXPECT_EQ(record->instanceVersions, (std::vector<QString>{q("v\xc3\xa9")}));
        EXPECT_EQ(orvanta::sessionRegistry().findRecord(6, kContent), nullptr);
    }
    obrClearEntityMeshes("5");
    orvanta::RegistryGuard guard(orvanta::sessionRegistry().lock());
    EXPECT_TRUE(orvanta::sessionRegistry().findRecord(5, kContent)->meshes.empty());
}

}  // namespace
