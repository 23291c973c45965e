// Texts of the render window's handlers: a text longer than the maximum is refused with one log
// line, and a log line carries at most a fixed number of characters of each value.
#include <QFile>
#include <QTemporaryDir>

#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "tests/support/file_lines.h"
#include "tests/support/scoped_variable.h"
#include "tools/render_window/handler_text.h"
#include "tools/render_window/render_log.h"

namespace {

using namespace orvanta::render_window;

// A render log writing to a file of its own, and the lines it holds.
class HandlerTextTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_folder.isValid());
        // The log takes its file from the environment when made.
        const xel::test::ScopedVariable logVariable(RenderLog::kVariable,
                                                    QFile::encodeName(logPath()));
        m_log = std::make_unique<RenderLog>();
    }

    QString logPath() const { return m_folder.filePath(QStringLiteral("render.log")); }
    QStringList lines() const { return xel::test::fileLines(logPath()); }

    QTemporaryDir m_folder;
    std::unique_ptr<RenderLog> m_log;
};

TEST_F(HandlerTextTest, TheLimitIsOnTheTextsLengthInBytes) {
    EXPECT_TRUE(handlerTextFits(0));
    EXPECT_TRUE(handlerTextFits(kMaxHandlerTextBytes));
    EXPECT_FALSE(handlerTextFits(kMaxHandlerTextBytes + 1));
    // Lengths Qt's int cannot count.
    EXPECT_FALSE(handlerTextFits(std::size_t{1} << 31));
    EXPECT_FALSE(handlerTextFits(std::size_t{1} << 32));
}

TEST_F(HandlerTextTest, TextsWithinTheLimitReadAsThemselves) {
    EXPECT_EQ(handlerText("Bibliothèque", *m_log), QStringLiteral("Bibliothèque"));
    EXPECT_EQ(handlerText("abcdef", 3, *m_log), QStringLiteral("abc"));
    EXPECT_TRUE(handlerText(nullptr, *m_log).isEmpty());
    EXPECT_TRUE(handlerText(nullptr, 5, *m_log).isEmpty());
    EXPECT_TRUE(lines().isEmpty());
}

TEST_F(HandlerTextTest, ALongerTextIsRefusedWithOneLogLine) {
    // Ends in a NUL one byte past the limit.
    const std::string longText(kMaxHandlerTextBytes + 1, 'a');
    EXPECT_TRUE(handlerText(longText.c_str(), *m_log).isEmpty());
    ASSERT_EQ(lines().size(), 1);
    EXPECT_TRUE(lines()[0].contains(QStringLiteral("refused"))) << lines()[0].toStdString();

    // With a length: refused by the length alone, whatever the bytes (a text the sender said was
    // 2^31 bytes long would have wrapped Qt's int).
    const char shortText[] = "abc";
    for (const std::size_t bytes : {kMaxHandlerTextBytes + 1, std::size_t{1} << 31})
        EXPECT_TRUE(handlerText(shortText, bytes, *m_log).isEmpty()) << bytes;
    EXPECT_EQ(lines().size(), 3);
}

TEST_F(HandlerTextTest, LoggedValuesAreCutAtTheirMaximum) {
    const QString marker = QStringLiteral(" ... (%1 characters)");
    struct Case {
        int length;
        QString expectedEnd;
        int expectedLength;
    };
    const Case cases[] = {
        {0, QString(), 0},
        {kMaxLoggedCharacters, QStringLiteral("x"), kMaxLoggedCharacters},
        {kMaxLoggedCharacters + 1, marker.arg(kMaxLoggedCharacters + 1),
         kMaxLoggedCharacters + marker.arg(kMaxLoggedCharacters + 1).size()},
        {3 * kMaxLoggedCharacters, marker.arg(3 * kMaxLoggedCharacters),
         kMaxLoggedCharacters + marker.arg(3 * kMaxLoggedCharacters).size()},
    };
    for (const Case& c : cases) {
        const QString value(c.length, QLatin1Char('x'));
        const QString line = logged(value);
        EXPECT_EQ(line.size(), c.expectedLength) << c.length;
        EXPECT_TRUE(line.endsWith(c.expectedEnd)) << c.length;
        EXPECT_TRUE(line.startsWith(value.left(kMaxLoggedCharacters))) << c.length;
    }
}

}  // namespace
