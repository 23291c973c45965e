// The camera's scene rule, the viewport text and the production switches.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "plugin/export/attribute_export.h"
#include "plugin/export/camera_export.h"
#include "tests/plugin/export/recording_output.h"

namespace orvanta {
namespace {

using Events = std::vector<std::string>;

constexpr char kResent[] = "dictionary Camera Bloom k v";

struct CameraTest : ::testing::Test, test::RecordingSession {
    CameraTest() { session.sessionAttributes.replace({{"Camera", "Bloom", "k", "v"}}); }

    void camera(const char* scene) {
        CameraReport report;
        report.first = {1, 2, 3, 4, 5, 6, 7, 8, 9};
        report.flag2 = true;
        report.second = {10, 11, 12, 13};
        report.sceneName = scene;
        exportCamera(session, report, &output);
    }
    // The events other than the camera messages themselves.
    Events resent() const {
        Events others;
        for (const std::string& event : events)
            if (event.rfind("setCamera", 0) != 0)
                others.push_back(event);
        return others;
    }
};

TEST_F(CameraTest, TheValuesTravelUnchangedWithTheSceneName) {
    camera("S1");
    EXPECT_EQ(events, Events{"setCamera S1 1 2 3 4 5 6 7 8 9 0 1 10 11 12 13"});
    CameraReport report;
    report.sceneName = "S1";
    exportCamera(session, report, nullptr);  // the scene is followed without an output too
    EXPECT_EQ(session.currentSceneName, QByteArray("S1"));
}

TEST_F(CameraTest, ARepeatedSceneWithoutCameraAttributesGetsTheSessionAttributesAgain) {
    camera("S1");
    EXPECT_TRUE(resent().empty());
    camera("S1");
    camera("S1");
    EXPECT_EQ(resent(), (Events{kResent, kResent}));

    // A camera attribute of the scene stops the re-sending; a new scene only records itself.
    receiveAttribute(session, {"Camera", "Bloom", "k2", "v2"}, nullptr);
    camera("S1");
    camera("S2");
    EXPECT_EQ(resent().size(), 2u);
    camera("S2");
    EXPECT_EQ(resent().size(), 3u);
}

TEST(Viewport, TheTextHoldsThirteenFieldsWithSixSignificantDigits) {
    const QString text = viewportText(
        800, 600, {1.5f, 0.25f, 1234567.0f, -2, 0, 1e-7f, 3.14159265f, 100000, 999999.5f, 7, 8});
    EXPECT_EQ(text,
              QStringLiteral("800;600;1.5;0.25;1.23457e+06;-2;0;1e-07;3.14159;100000;1e+06;7;8"));
    Events events;
    test::RecordingOutput output(events);
    exportViewport(800, 600, {1.5f, 0.25f, 1234567.0f, 0, 0, 0, 0, 0, 0, 0, 0}, &output);
    EXPECT_EQ(
        events,
        Events{
            "dictionary Scene obrSetViewPort Data 800;600;1.5;0.25;1.23457e+06;0;0;0;0;0;0;0;0"});
}

TEST_F(CameraTest, ProductionSwitchesAreSentOnlyWhenTheyChange) {
    setProductionAspectRatio(session, 2, &output);  // still off
    setProductionPreviewEnabled(session, false, &output);
    EXPECT_TRUE(events.empty());
    setProductionAspectRatio(session, 1, &output);
    setProductionAspectRatio(session, 1, &output);
    setProductionPreviewEnabled(session, true, nullptr);  // stored, nothing to send to
    setProductionPreviewEnabled(session, true, &output);
    setProductionAspectRatio(session, 0, &output);
    EXPECT_EQ(
        events,
        (Events{"dictionary App obrSetProductionAspectRatio Data true", "invalidateRender",
                "dictionary App obrSetProductionAspectRatio Data false", "invalidateRender"}));
    EXPECT_TRUE(session.productionPreviewEnabled);
    EXPECT_FALSE(session.productionAspectRatio);
}

}  // namespace
}  // namespace orvanta
