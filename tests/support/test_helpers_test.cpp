// The shared test helpers hold what the tests built on them take for granted: the FNV-1a hash gives
// the published values, a scoped variable restores the environment it found, and a picture counts
// as uniform only when no pixel differs.
#include <QByteArray>
#include <QColor>
#include <QImage>
#include <QString>
#include <QtGlobal>

#include <cstdint>
#include <cstring>

#include <gtest/gtest.h>

#include "tests/support/fnv.h"
#include "tests/support/image_checks.h"
#include "tests/support/scoped_variable.h"
#include "tests/support/system.h"

namespace {

using xel::test::Fnv;
using xel::test::isUniform;
using xel::test::ScopedVariable;

TEST(Fnv, BytesGiveThePublishedValues) {
    struct Case {
        const char* input;
        std::uint64_t expected;
    };
    const Case cases[] = {
        {"", 0xcbf29ce484222325ULL},
        {"a", 0xaf63dc4c8601ec8cULL},
        {"foobar", 0x85944171f73967e8ULL},
    };
    for (const Case& c : cases) {
        Fnv fnv;
        fnv.bytes(c.input, std::strlen(c.input));
        EXPECT_EQ(fnv.value, c.expected) << '"' << c.input << '"';
    }
}

TEST(Fnv, TextsEndWithAZeroByteAndQStringsGoAsUtf8) {
    Fnv bytes;
    bytes.text(QByteArray("a"));
    EXPECT_EQ(bytes.value, 0x089be207b544f1e4ULL);
    Fnv utf8;
    utf8.text(QString::fromUtf8("\xc3\xa9"));
    EXPECT_EQ(utf8.value, 0x5feb231c1dfafbb3ULL);
}

TEST(ScopedVariable, RestoresWhatItFound) {
    constexpr char kName[] = "XEL_TEST_HELPERS_SCOPED";
    struct Case {
        const char* before;  // null: unset
        const char* during;  // null: unset
    };
    const Case cases[] = {
        {nullptr, "set"}, {nullptr, nullptr}, {"old", "new"}, {"old", nullptr}, {"", "new"},
    };
    const auto shown = [](const char* value) { return value ? value : "(unset)"; };
    for (const Case& c : cases) {
        if (xel::test::kWindows && c.before && !*c.before)
            continue;  // Windows has no variable set to the empty text: setting one unsets it
        if (c.before)
            qputenv(kName, c.before);
        else
            qunsetenv(kName);
        {
            const ScopedVariable variable(kName, c.during ? QByteArray(c.during) : QByteArray());
            EXPECT_EQ(qEnvironmentVariableIsSet(kName), c.during != nullptr) << shown(c.during);
            if (c.during) {
                EXPECT_EQ(qgetenv(kName), QByteArray(c.during));
            }
        }
        EXPECT_EQ(qEnvironmentVariableIsSet(kName), c.before != nullptr) << shown(c.before);
        if (c.before) {
            EXPECT_EQ(qgetenv(kName), QByteArray(c.before));
        }
    }
    qunsetenv(kName);
}

TEST(IsUniform, OnePixelOfAnotherColourAnywhereMakesAPictureMixed) {
    QImage image(5, 4, QImage::Format_RGB32);
    image.fill(QColor(10, 20, 30));
    EXPECT_TRUE(isUniform(image));
    EXPECT_TRUE(isUniform(QImage()));
    struct Case {
        int x;
        int y;
    };
    for (const Case& c : {Case{0, 0}, Case{4, 0}, Case{0, 3}, Case{4, 3}, Case{2, 1}}) {
        QImage mixed = image;
        mixed.setPixel(c.x, c.y, QColor(10, 20, 31).rgb());
        EXPECT_FALSE(isUniform(mixed)) << c.x << "," << c.y;
    }
}

}  // namespace
