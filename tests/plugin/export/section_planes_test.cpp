// Section planes numbered by position across additions and removals, the caps on every plane
// numbered by id, and the shadow settings as the scene light.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "plugin/export/section_planes.h"
#include "plugin/session/entity_registry.h"
#include "tests/plugin/export/recording_output.h"

namespace orvanta {
namespace {

using Events = std::vector<std::string>;

struct SectionPlaneTest : ::testing::Test {
    Events events;
    test::RecordingOutput output{events};
    RegistryLock lock;
    SectionPlaneList planes{lock};

    void report(const char* id, bool active, float x = 1, RenderOutput* to = nullptr) {
        planes.enumerate(id, active, true, {x, 2, 3}, {4, 5, 6}, to ? to : &output);
    }
    std::vector<QByteArray> ids() const {
        std::vector<QByteArray> listed;
        for (const SectionPlane& plane : planes.planes())
            listed.push_back(plane.id);
        return listed;
    }
};

TEST(CapsColour, PacksAlphaRedGreenBlueFromTheHighByteDown) {
    EXPECT_EQ(packCapsColour(255, 128, 0, 200), 0xC8FF8000u);
    EXPECT_EQ(packCapsColour(1, 2, 3, 0x1FF), 0xFF010203u);  // only the low byte of alpha
}

TEST_F(SectionPlaneTest, PlanesAreNumberedByPositionWhichMovesUpOnRemoval) {
    report("A", true);
    report("B", true);
    report("C", true);
    report("A", false);
    report("B", true, 9);
    report("D", true);
    EXPECT_EQ(events, (Events{"setSectionPlane 0 1 1,2,3 4,5,6 1 00000000",
                              "setSectionPlane 1 1 1,2,3 4,5,6 1 00000000",
                              "setSectionPlane 2 1 1,2,3 4,5,6 1 00000000", "removeSectionPlane 0",
                              "setSectionPlane 0 1 9,2,3 4,5,6 1 00000000",
                              "setSectionPlane 2 1 1,2,3 4,5,6 1 00000000"}));
    EXPECT_EQ(ids(), (std::vector<QByteArray>{"B", "C", "D"}));
}

TEST_F(SectionPlaneTest, AnUnseenInactivePlaneIsAddedAndSentInactive) {
    report("A", false);
    report("A", false);
    EXPECT_EQ(events,
              (Events{"setSectionPlane 0 0 1,2,3 4,5,6 1 00000000", "removeSectionPlane 0"}));
    EXPECT_TRUE(planes.planes().empty());
}

// Caps re-send every plane under the number the enumeration gave it, its position: the plane whose
// id is "1" must not overwrite the plane at position 1.
TEST_F(SectionPlaneTest, CapsReachEveryPlaneNumberedByPositionAndOnlyPlanesThatExistThen) {
    report("1234", true);
    report("1", true);
    report("7", false);
    events.clear();
    planes.setCaps(1, packCapsColour(255, 128, 0, 200), &output);
    report("55", true);
    planes.setCaps(0, 0x01020304, &output);
    EXPECT_EQ(events, (Events{"setSectionPlane 0 1 1,2,3 4,5,6 1 C8FF8000",
                              "setSectionPlane 1 1 1,2,3 4,5,6 1 C8FF8000",
                              "setSectionPlane 2 0 1,2,3 4,5,6 1 C8FF8000",
                              "setSectionPlane 3 1 1,2,3 4,5,6 1 00000000",
                              "setSectionPlane 0 1 1,2,3 4,5,6 0 01020304",
                              "setSectionPlane 1 1 1,2,3 4,5,6 0 01020304",
                              "setSectionPlane 2 0 1,2,3 4,5,6 0 01020304",
                              "setSectionPlane 3 1 1,2,3 4,5,6 0 01020304"}));
    // A later report keeps the plane's caps value.
    events.clear();
    report("1234", true);
    EXPECT_EQ(events, Events{"setSectionPlane 0 1 1,2,3 4,5,6 1 01020304"});
}

TEST_F(SectionPlaneTest, WithoutAnOutputTheListChangesButCapsDoNot) {
    RenderOutput* none = nullptr;
    planes.enumerate("A", true, false, {1, 2, 3}, {4, 5, 6}, none);
    planes.setCaps(1, 0xFFFFFFFF, none);
    ASSERT_EQ(planes.planes().size(), 1u);
    EXPECT_FALSE(planes.planes()[0].capsOn);
    EXPECT_EQ(planes.planes()[0].capsValue, 0);
    EXPECT_TRUE(events.empty());
}

TEST(ShadowsInfo, TravelAsTheSceneLightWithTwoZerosAfterTheThird) {
    Events events;
    test::RecordingOutput output(events);
    exportShadowsInfo({1, 2.0f, 3.0f, 4, 5.0f, 6.0f, 7.0f}, &output);
    exportShadowsInfo({1, 2.0f, 3.0f, 4, 5.0f, 6.0f, 7.0f}, nullptr);
    EXPECT_EQ(events, Events{"setSceneLight 1 2 3 0 0 4 5 6 7"});
}

}  // namespace
}  // namespace orvanta
