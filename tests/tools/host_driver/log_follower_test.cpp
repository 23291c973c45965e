// Following a log that another process appends to: what lines() returns as the file grows, while a
// line is half written, and after the file was started anew.
#include "tools/host_driver/log_follower.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

namespace orvanta::tools {
namespace {

void append(const QString& path, const QByteArray& bytes, bool truncate = false) {
    QFile file(path);
    ASSERT_TRUE(
        file.open(QIODevice::WriteOnly | (truncate ? QIODevice::Truncate : QIODevice::Append)));
    ASSERT_EQ(file.write(bytes), bytes.size());
}

TEST(LogFollower, ReadsWhatIsAppendedAndOnlyWholeLines) {
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QString path = folder.filePath(QStringLiteral("log"));
    const LogFollower log(path);
    EXPECT_TRUE(log.lines().isEmpty()) << "no file yet";

    append(path, "first\nsecond\nthi");
    EXPECT_EQ(log.lines(), (QStringList{"first", "second"}));
    append(path, "rd \xc3\xa9t\xc3\xa9\n");
    EXPECT_EQ(log.lines(), (QStringList{"first", "second", QStringLiteral("third \u00e9t\u00e9")}));
    EXPECT_EQ(log.findLine(QStringLiteral("sec")), QStringLiteral("second"));

    // A shorter file is a new one: read from its start.
    append(path, "new\n", true);
    EXPECT_EQ(log.lines(), (QStringList{"new"}));
}

}  // namespace
}  // namespace orvanta::tools
