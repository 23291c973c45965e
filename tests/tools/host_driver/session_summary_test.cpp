// The host driver's closing summary from a hand-built session: the messages by type with their
// bytes, the timings beside the raw channel's, the digests and the verdict; and the render
// window's lines it reads its figures from.
#include <QStringList>

#include <gtest/gtest.h>

#include "tools/host_driver/session_summary.h"

namespace {

using namespace orvanta::tools;

SessionSummary handBuilt() {
    SessionSummary s;
    s.modelTitle = QStringLiteral("Furnished room");
    s.modelSource = QStringLiteral("built-in");
    s.triangles = 2864;
    s.meshes = 6;
    s.materials = 3;
    s.definitions = 1;
    s.groups = 2;
    s.instances = 5;
    s.received = {{QStringLiteral("STATE"), 4, 20},
                  {QStringLiteral("addMesh"), 6, 114943},
                  {QStringLiteral("DicMes"), 14, 2100},
                  {QStringLiteral("addGroup"), 2, 264}};
    s.exportMessages = 21;
    s.exportBytes = 116000;
    s.hostExportSeconds = 0.002;
    s.endToEndSeconds = 0.008;
    s.rawChannelSeconds = 0.002;
    s.digests = {
        {QStringLiteral("export"), QStringLiteral("meshes=6 a"), QStringLiteral("meshes=6 a")},
        {QStringLiteral("hide"), QStringLiteral("hidden=1 b"), QStringLiteral("hidden=1 b")}};
    s.ok = true;
    s.logPath = QStringLiteral("/work/orvanta_host_driver.log");
    s.picturePath = QStringLiteral("/work/orvanta_view.png");
    return s;
}

int indexStarting(const QStringList& lines, const QString& start) {
    for (int i = 0; i < lines.size(); ++i)
        if (lines[i].startsWith(start))
            return i;
    return -1;
}

TEST(SessionSummary, ListsTheMessagesByTypeLargestFirstWithTheirCountBytesAndTotal) {
    const QStringList lines = summaryLines(handBuilt());
    ASSERT_FALSE(lines.isEmpty());
    EXPECT_EQ(lines.first(), QStringLiteral("== summary =="));
    EXPECT_EQ(lines[1], QStringLiteral("model        \"Furnished room\" (built-in): 2864 "
                                       "triangles, 6 meshes, 3 materials, 1 definition, 2 "
                                       "groups, 5 instances"));
    const int header = indexStarting(lines, QStringLiteral("messages     received"));
    ASSERT_GE(header, 0);
    ASSERT_LT(header + 5, lines.size());
    EXPECT_EQ(lines[header + 1], QStringLiteral("  addMesh             6     115 kB"));
    EXPECT_EQ(lines[header + 2], QStringLiteral("  DicMes             14    2.10 kB"));
    EXPECT_EQ(lines[header + 3], QStringLiteral("  addGroup            2      264 B"));
    EXPECT_EQ(lines[header + 4], QStringLiteral("  STATE               4       20 B"));
    EXPECT_EQ(lines[header + 5], QStringLiteral("  all                26     117 kB"));
}

TEST(SessionSummary, SetsTheTimingsBesideTheRawChannelsForTheSameBytes) {
    const QStringList lines = summaryLines(handBuilt());
    const int exported = indexStarting(lines, QStringLiteral("export       "));
    ASSERT_GE(exported, 0);
    EXPECT_EQ(lines[exported],
              QStringLiteral("export       21 messages, 116 kB; the host's export calls took "
                             "2.00 ms; end to end (enumeration start to the window's digest) "
                             "8.00 ms, 14.5 MB/s"));
    EXPECT_EQ(lines[exported + 1],
              QStringLiteral("raw channel  the same 21 messages and bytes between two processes: "
                             "2.00 ms, 58.0 MB/s; end to end took 4.0x the raw channel's time"));
}

TEST(SessionSummary, ShowsBothDigestsOfTheLastStepAndTheVerdict) {
    const QStringList lines = summaryLines(handBuilt());
    const int digests = indexStarting(lines, QStringLiteral("digests      "));
    ASSERT_GE(digests, 0);
    EXPECT_EQ(lines[digests],
              QStringLiteral("digests      2 of 2 steps agree; the last, after hide:"));
    EXPECT_EQ(lines[digests + 1], QStringLiteral("  host       hidden=1 b"));
    EXPECT_EQ(lines[digests + 2], QStringLiteral("  window     hidden=1 b"));
    EXPECT_TRUE(
        lines.contains(QStringLiteral("verdict      OK: every step arrived and both sides agree")));
    EXPECT_TRUE(lines.contains(QStringLiteral("picture      /work/orvanta_view.png")));
    EXPECT_EQ(lines.last(), QStringLiteral("log          /work/orvanta_host_driver.log"));
}

TEST(SessionSummary, AFailedSessionSaysWhyAndWhichDigestsDiffered) {
    SessionSummary s = handBuilt();
    s.digests.push_back({QStringLiteral("move"), QStringLiteral("x"), QStringLiteral("y")});
    s.ok = false;
    s.failure = QStringLiteral("the scene digests after move differ");
    s.rawChannelSeconds.reset();
    s.rawChannelFailure = QStringLiteral("exit code 1");
    s.received.clear();
    const QStringList lines = summaryLines(s);
    EXPECT_TRUE(lines.contains(QStringLiteral("messages     (the render window counted none)")));
    EXPECT_TRUE(lines.contains(QStringLiteral("raw channel  not measured: exit code 1")));
    EXPECT_TRUE(
        lines.contains(QStringLiteral("digests      2 of 3 steps agree; the last, after move:")));
    EXPECT_TRUE(lines.contains(QStringLiteral("  window     y")));
    EXPECT_TRUE(
        lines.contains(QStringLiteral("verdict      FAILED: the scene digests after move differ")));
}

TEST(SessionSummary, ReadsTheRenderWindowsReceivedLineBack) {
    const std::vector<MessageCount> counts = {{QStringLiteral("addMesh"), 6, 114943},
                                              {QStringLiteral("DicMes"), 14, 2100}};
    const QString line = receivedMessagesLine(counts);
    EXPECT_EQ(line, QStringLiteral("messages received DicMes=14/2100 addMesh=6/114943"));
    const auto parsed = parseReceivedMessages(line);
    ASSERT_TRUE(parsed.has_value());
    ASSERT_EQ(parsed->size(), 2u);
    EXPECT_EQ((*parsed)[0], counts[1]);
    EXPECT_EQ((*parsed)[1], counts[0]);
    EXPECT_TRUE(parseReceivedMessages(QStringLiteral("messages received"))->empty());
    EXPECT_FALSE(parseReceivedMessages(QStringLiteral("messages received x=1")).has_value());
    EXPECT_FALSE(parseReceivedMessages(QStringLiteral("messages receivedx=1/2")).has_value());
    EXPECT_FALSE(parseReceivedMessages(QStringLiteral("scene digest x")).has_value());
}

TEST(SessionSummary, TheExportIsWhatTheFirstEnumerationBracketHeld) {
    const QStringList log = {
        QStringLiteral("sent enumEnt Model"),
        QStringLiteral("held addMaterial (99 bytes)"),  // not in a bracket: not counted
        QStringLiteral("onBeginTransaction name=EnumeratingScene"),
        QStringLiteral("held addMaterial (68 bytes)"),
        QStringLiteral("held addMesh (17026 bytes)"),
        QStringLiteral("onEndTransaction abort=0 held=2"),
        QStringLiteral("onBeginTransaction name=EnumeratingScene"),
        QStringLiteral("held addMesh (5 bytes)"),
        QStringLiteral("onEndTransaction abort=0 held=1"),
    };
    const MessageCount stream = exportedStream(log);
    EXPECT_EQ(stream.count, 2);
    EXPECT_EQ(stream.bytes, 17094);
    EXPECT_EQ(exportedStream(log.mid(0, 4)).count, 0) << "a bracket still open";
    EXPECT_EQ(exportedStream({}).count, 0);
}

TEST(SessionSummary, BytesReadAsSiUnits) {
    EXPECT_EQ(readableBytes(0), QStringLiteral("0 B"));
    EXPECT_EQ(readableBytes(999), QStringLiteral("999 B"));
    EXPECT_EQ(readableBytes(1000), QStringLiteral("1.00 kB"));
    EXPECT_EQ(readableBytes(45678), QStringLiteral("45.7 kB"));
    EXPECT_EQ(readableBytes(1.5e9), QStringLiteral("1.50 GB"));
}

}  // namespace
