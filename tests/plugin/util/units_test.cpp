#include "plugin/util/units.h"

#include <QByteArray>

#include <cstdint>
#include <string>

#include <gtest/gtest.h>

#include "OrvantaForSketchup.h"
#include "plugin/session/scene_session.h"
#include "tests/support/address_space_limit.h"
#include "tests/support/captured_log.h"

namespace {

struct LengthCase {
    double value;
    const char* unit;
    double expected;
};

TEST(Units, FromInchesComparesNamesExactly) {
    const LengthCase cases[] = {
        {12.0, "ft", 1.0},   {1.0, "mm", 25.4},  {10.0, "cm", 25.4}, {100.0, "m", 2.54},
        {7.0, "in", 7.0},    {7.0, "", 7.0},     {1.0, " mm", 1.0},  {12.0, "FT", 12.0},
        {12.0, "ft ", 12.0}, {12.0, "yd", 12.0},
    };
    for (const LengthCase& c : cases)
        EXPECT_DOUBLE_EQ(orvanta::lengthFromInches(c.value, c.unit), c.expected)
            << c.value << " '" << c.unit << "'";
}

TEST(Units, ToInchesTrimsTheName) {
    const LengthCase cases[] = {
        {1.0, "ft", 12.0}, {1.0, " ft ", 12.0}, {1.0, "\tft\n", 12.0}, {25.4, "mm", 1.0},
        {2.54, "cm", 1.0}, {7.0, "in", 7.0},    {7.0, "", 7.0},        {7.0, "  ", 7.0},
        {5.0, "FT", 5.0},  {5.0, "feet", 5.0},
    };
    for (const LengthCase& c : cases)
        EXPECT_DOUBLE_EQ(orvanta::lengthToInches(c.value, c.unit, "mm"), c.expected)
            << c.value << " '" << c.unit << "'";
}

TEST(Units, MetresToInchesGoThroughCentimetres) {
    // 7 m: 700 / 2.54 and 7 / 0.0254 differ in the last bit.
    EXPECT_EQ(orvanta::lengthToInches(7.0, "m", ""), 700.0 / 2.54);
    EXPECT_EQ(orvanta::lengthToInches(1.0, "m", ""), 100.0 / 2.54);
}

TEST(Units, NullUnitToInchesIsTheModelUnitTrimmed) {
    EXPECT_DOUBLE_EQ(orvanta::lengthToInches(5.0, nullptr, "ft"), 60.0);
    EXPECT_DOUBLE_EQ(orvanta::lengthToInches(5.0, nullptr, " ft "), 60.0);
    EXPECT_DOUBLE_EQ(orvanta::lengthToInches(5.0, nullptr, ""), 5.0);
    // A given unit wins over the model's.
    EXPECT_DOUBLE_EQ(orvanta::lengthToInches(5.0, "in", "ft"), 5.0);
}

TEST(Units, ExportsUseTheModelUnit) {
    orvanta::ModelValues& model = orvanta::sceneSession().model;
    model.lengthUnit = "ft";
    EXPECT_DOUBLE_EQ(obrConvertLengthToInches(5.0, nullptr), 60.0);
    // From inches, null is the empty name, not the model unit.
    EXPECT_DOUBLE_EQ(obrConvertLengthFromInches(5.0, nullptr), 5.0);
    EXPECT_DOUBLE_EQ(obrConvertLengthFromInches(24.0, "ft"), 2.0);

    const char* unit = obrGetSkpLenghtUnit();
    model.lengthUnit = "mm";
    EXPECT_STREQ(unit, "ft") << "the text handed out stays until the next call";
    EXPECT_STREQ(obrGetSkpLenghtUnit(), "mm");
    model.lengthUnit.clear();
}

TEST(Units, ModelLocationExportsReadTheirOwnFields) {
    orvanta::ModelValues& model = orvanta::sceneSession().model;
    model.latitude = 1.5f;
    model.longitude = -2.25f;
    model.timestamp = 1700000000;
    model.geoReferencing = true;
    EXPECT_EQ(obrModelLatitude(), 1.5f);
    EXPECT_EQ(obrModelLongitude(), -2.25f);
    EXPECT_EQ(obrModelTimestamp(), 1700000000);
    EXPECT_TRUE(obrModelUseGeoreference());
    model = orvanta::ModelValues{};
}

TEST(Units, IntegerBlocksAreZeroFilledAndNegativeCountsRefused) {
    for (std::int32_t count : {0, 1, 1000}) {
        std::int32_t* block = obrCreateIntRef(count);
        ASSERT_NE(block, nullptr) << count;
        for (std::int32_t i = 0; i < (count == 0 ? 1 : count); ++i) {
            EXPECT_EQ(block[i], 0) << "cell " << i << " of " << count;
            block[i] = -1;  // the whole block is writable (the sanitizer build checks it)
        }
        obrDestroyIntRef(block);
    }
    const xel::test::CapturedLog log;
    EXPECT_EQ(obrCreateIntRef(-1), nullptr);
    EXPECT_EQ(obrCreateIntRef(INT32_MIN), nullptr);
    const QStringList refusals = log.linesWith(QStringLiteral("obrCreateIntRef refused: "));
    ASSERT_EQ(refusals.size(), 1);  // the first of a thousand
    EXPECT_TRUE(refusals[0].contains(QStringLiteral("a negative count (-1)")));
    obrDestroyIntRef(nullptr);
}

TEST(Units, AnIntegerBlockThatFindsNoMemoryIsNullAndTheGuardTellsOfIt) {
    if (xel::test::kSanitized)
        GTEST_SKIP() << "a sanitizer's allocator ends the process when memory runs out";
    if (!xel::test::AddressSpaceLimit::available())
        GTEST_SKIP() << "the system gives a process no cap of its own address space";
    const xel::test::CapturedLog log;
    std::int32_t* block = nullptr;
    {
        const xel::test::AddressSpaceLimit limit(std::size_t{32} << 20);
        ASSERT_TRUE(limit.set());
        block = obrCreateIntRef(INT32_MAX);  // 8 GiB
    }

    EXPECT_EQ(block, nullptr);
    EXPECT_EQ(log.linesWith(QStringLiteral("obrCreateIntRef failed: std::bad_alloc")).size(), 1)
        << log.lines().join(QLatin1Char('\n')).toStdString();
    obrDestroyIntRef(block);
}

}  // namespace
