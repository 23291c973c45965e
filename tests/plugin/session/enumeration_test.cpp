// The enumeration bracket: paired and nested brackets, a completion fired twice, and the mesh
// refresh posted as actions in the list's text order.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "plugin/session/enumeration.h"
#include "tests/plugin/export/recording_output.h"

namespace orvanta {
namespace {

using Events = std::vector<std::string>;

struct EnumerationTest : ::testing::Test, test::RecordingSession {
    // Lists entity `id` for a mesh refresh, as a changed material does.
    void listForRefresh(EntityKey key) {
        EntityRecord& record = registry.ensureEntityRecord(key, EntityTable::Content);
        record.id = QString::number(key);
        record.renderId = QStringLiteral("r");
        record.present = true;
        record.meshes[QStringLiteral("%1_f[3]").arg(key)] = QString();
    }
    void changeMaterial3(float size) {
        session.materials.enumerateMaterial({"3", "m", "", size, size, 0, 0, ""}, &output);
    }
    std::vector<QStringList> pendingOldestFirst() const {
        const QVector<HostRequest> pending = requests.pending();
        return std::vector<QStringList>(pending.rbegin(), pending.rend());
    }
};

QStringList action(const char* name, const char* subject = "") {
    return {"obrSkpSetEntityAttribute", "ExecuteAction", name, subject, ""};
}

TEST_F(EnumerationTest, ABracketWithNothingToRefreshPostsNothing) {
    startEnumeration(&output);
    EXPECT_TRUE(sceneSuspended(&output));
    completeEnumeration(session, &output);
    EXPECT_FALSE(sceneSuspended(&output));
    EXPECT_EQ(events, (Events{"beginTransaction EnumeratingScene", "setLoadingModel 1",
                              "endTransaction 0", "setLoadingModel 0"}));
    EXPECT_TRUE(requests.empty());
}

TEST_F(EnumerationTest, ACompletionWithoutABracketChangesNothing) {
    completeEnumeration(session, &output);
    startEnumeration(nullptr);
    completeEnumeration(session, nullptr);
    EXPECT_TRUE(events.empty());
    EXPECT_FALSE(sceneSuspended(nullptr));
}

TEST_F(EnumerationTest, NestedBracketsCloseTwiceAndStopLoadingAtTheOutermost) {
    startEnumeration(&output);
    startEnumeration(&output);
    completeEnumeration(session, &output);
    EXPECT_TRUE(sceneSuspended(&output));
    completeEnumeration(session, &output);
    completeEnumeration(session, &output);  // fired twice: nothing
    EXPECT_EQ(events, (Events{"beginTransaction EnumeratingScene", "setLoadingModel 1",
                              "beginTransaction EnumeratingScene", "setLoadingModel 1",
                              "endTransaction 0", "endTransaction 0", "setLoadingModel 0"}));
}

TEST_F(EnumerationTest, TheRefreshListIsPostedAsActionsInTextOrderOnce) {
    for (EntityKey key : {7, 42, 100})
        listForRefresh(key);
    changeMaterial3(64);
    startEnumeration(&output);
    completeEnumeration(session, &output);
    EXPECT_EQ(pendingOldestFirst(),
              (std::vector<QStringList>{action("SuspendScene"), action("EnumEntityMeshes", "100"),
                                        action("EnumEntityMeshes", "42"),
                                        action("EnumEntityMeshes", "7"), action("ResumeScene")}));
    EXPECT_TRUE(session.materials.refreshList().empty());

    // A later bracket finds the list empty, unless a material changed again.
    HostRequest taken;
    while (requests.takeOldest(taken)) {
    }
    startEnumeration(&output);
    completeEnumeration(session, &output);
    EXPECT_TRUE(requests.empty());
}

}  // namespace
}  // namespace orvanta
