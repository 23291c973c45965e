// The render window's count of what it received: by type with the bytes, as its log line, and the
// scene changes since the last look in words for its title.
#include <gtest/gtest.h>

#include "tools/render_window/message_tally.h"

namespace {

using orvanta::render_window::MessageTally;
using orvanta::render_window::viewTitle;

TEST(MessageTally, CountsEveryMessageByTypeWithItsBytes) {
    MessageTally tally;
    EXPECT_EQ(tally.line(), QStringLiteral("messages received"));
    tally.add("addMesh", 100);
    tally.add("STATE", 5);
    tally.add("addMesh", 50);
    tally.add("DicMes", 0);
    EXPECT_EQ(tally.line(), QStringLiteral("messages received DicMes=1/0 STATE=1/5 addMesh=2/150"));
}

TEST(MessageTally, NamesTheSceneChangesSinceTheLastLookOnly) {
    MessageTally tally;
    tally.add("BEGINTRAN", 10);
    tally.add("addMesh", 100);
    tally.add("addMesh", 100);
    tally.add("addInstance", 10);
    tally.add("STATE", 5);
    tally.add("ENDTRAN", 1);
    EXPECT_EQ(tally.changesSinceLastCall(), QStringLiteral("2 meshes, 1 instance"));
    EXPECT_EQ(tally.changesSinceLastCall(), QString());
    tally.add("setVisible", 20);
    EXPECT_EQ(tally.changesSinceLastCall(), QStringLiteral("1 visibility change"));
    tally.add("echo", 20);
    EXPECT_EQ(tally.changesSinceLastCall(), QString());
    EXPECT_TRUE(tally.line().contains(QStringLiteral("addMesh=2/200")));
}

TEST(ViewTitle, ShowsTheModelItsSizeAndTheLastChange) {
    EXPECT_EQ(viewTitle(QStringLiteral("Furnished room"), 6, 2864, QStringLiteral("1 removal")),
              QStringLiteral("Orvanta render window \u2014 Furnished room \u2014 6 meshes, 2,864 "
                             "triangles \u2014 last: 1 removal"));
    EXPECT_EQ(viewTitle(QString(), 1, 1, QString()),
              QStringLiteral("Orvanta render window \u2014 1 mesh, 1 triangle"));
}

}  // namespace
