// Texts crossing the export boundary: one longer than the maximum is refused, reading as the empty
// text, and is logged; shorter ones, and null, read as before.
#include <QByteArray>
#include <QString>

#include <string>

#include <gtest/gtest.h>

#include "OrvantaForSketchup.h"
#include "plugin/exports/export_text.h"
#include "tests/support/captured_log.h"

namespace {

using orvanta::kMaxHostTextBytes;

const QString kRefusal = QStringLiteral("refused: a text of more than");

TEST(ExportText, TheLimitIsOnTheTextsLengthInBytes) {
    EXPECT_TRUE(orvanta::hostTextFits(0));
    EXPECT_TRUE(orvanta::hostTextFits(kMaxHostTextBytes));
    EXPECT_FALSE(orvanta::hostTextFits(kMaxHostTextBytes + 1));
    // Lengths Qt's int cannot count.
    EXPECT_FALSE(orvanta::hostTextFits(std::size_t{1} << 31));
    EXPECT_FALSE(orvanta::hostTextFits(std::size_t{1} << 32));
}

TEST(ExportText, NullAndShortTextsReadAsBefore) {
    const xel::test::CapturedLog log;
    EXPECT_EQ(orvanta::fromHostText(nullptr), QString());
    EXPECT_EQ(orvanta::fromHostText("Bibliothèque"), QStringLiteral("Bibliothèque"));
    EXPECT_EQ(orvanta::hostBytes(nullptr), QByteArray(""));
    EXPECT_EQ(orvanta::hostBytes("a\xE9"), QByteArray("a\xE9"));
    EXPECT_EQ(orvanta::boundedHostText(nullptr), nullptr);
    const char text[] = "id";
    EXPECT_EQ(orvanta::boundedHostText(text), text);
    EXPECT_EQ(orvanta::fromHostWideText(nullptr), QString());
    EXPECT_EQ(orvanta::fromHostWideText(L"Bibliothèque"), QStringLiteral("Bibliothèque"));
    EXPECT_TRUE(log.linesWith(kRefusal).isEmpty());
}

TEST(ExportText, ALongerTextIsRefusedAndLogged) {
    // Ends in a NUL one byte past the limit.
    const std::string longText(kMaxHostTextBytes + 1, '_');
    const xel::test::CapturedLog log;
    EXPECT_TRUE(orvanta::fromHostText(longText.c_str()).isEmpty());
    EXPECT_EQ(log.linesWith(kRefusal).size(), 1);
    EXPECT_EQ(orvanta::hostBytes(longText.c_str()), QByteArray(""));
    EXPECT_STREQ(orvanta::boundedHostText(longText.c_str()), "");
    // Through an export: read as the empty text, which holds no "_".
    EXPECT_FALSE(obrIsMesh(longText.c_str()));
    // Four refusals, one line: the first of each thousand is logged.
    ASSERT_EQ(log.linesWith(kRefusal).size(), 1);
    EXPECT_TRUE(log.linesWith(kRefusal)[0].contains(QStringLiteral("(1 refused so far)")));
}

TEST(ExportText, ALongerWideTextIsRefusedWithOneLogLine) {
    const std::wstring longText(kMaxHostTextBytes / sizeof(wchar_t) + 1, L'a');
    const xel::test::CapturedLog log;
    EXPECT_TRUE(orvanta::fromHostWideText(longText.c_str()).isEmpty());
    EXPECT_EQ(log.linesWith(kRefusal).size(), 1);
}

}  // namespace
