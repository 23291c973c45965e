#include "render_link/channel/payload_codec.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

using xel::PayloadReader;
using xel::PayloadWriter;

namespace {

using Bytes = std::vector<unsigned char>;

TEST(PayloadWriter, WritesSizesLittleEndian) {
    Bytes out(8);
    PayloadWriter writer(out.data(), out.size());
    ASSERT_TRUE(writer.putSize(0x0102030405060708ull));
    EXPECT_EQ(out, (Bytes{0x08, 0x07, 0x06, 0x05, 0x04, 0x03, 0x02, 0x01}));
}

// One fixed-width value and its bytes on the wire, written out by hand.
struct FixedWidthCase {
    const char* what;
    int width;  // 8, 32 or 64
    std::uint64_t value;
    Bytes bytes;
};

const FixedWidthCase kFixedWidthCases[] = {
    {"u8 0", 8, 0x00, {0x00}},
    {"u8 1", 8, 0x01, {0x01}},
    {"u8 high bit", 8, 0xA5, {0xA5}},
    {"u32 bytes in order", 32, 0x01020304u, {0x04, 0x03, 0x02, 0x01}},
    {"u32 -2 as i32", 32, 0xFFFFFFFEu, {0xFE, 0xFF, 0xFF, 0xFF}},
    {"u32 float 1.5", 32, 0x3FC00000u, {0x00, 0x00, 0xC0, 0x3F}},
    {"u64 bytes in order",
     64,
     0x0102030405060708ull,
     {0x08, 0x07, 0x06, 0x05, 0x04, 0x03, 0x02, 0x01}},
    {"u64 high half only",
     64,
     0x8000000100000000ull,
     {0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x80}},
};

bool putFixed(PayloadWriter& writer, int width, std::uint64_t value) {
    switch (width) {
        case 8:
            return writer.putU8(static_cast<std::uint8_t>(value));
        case 32:
            return writer.putU32(static_cast<std::uint32_t>(value));
        default:
            return writer.putU64(value);
    }
}

std::uint64_t getFixed(PayloadReader& reader, int width) {
    switch (width) {
        case 8:
            return reader.getU8();
        case 32:
            return reader.getU32();
        default:
            return reader.getU64();
    }
}

TEST(PayloadWriter, WritesFixedWidthValuesLittleEndianInTheirWidthOnly) {
    for (const FixedWidthCase& c : kFixedWidthCases) {
        Bytes out(c.bytes.size() + 1, 0xEE);  // the byte after the value stays untouched
        PayloadWriter writer(out.data(), out.size());
        ASSERT_TRUE(putFixed(writer, c.width, c.value)) << c.what;
        EXPECT_EQ(writer.written(), c.bytes.size()) << c.what;
        Bytes expected = c.bytes;
        expected.push_back(0xEE);
        EXPECT_EQ(out, expected) << c.what;
    }
}

TEST(PayloadWriter, AFixedWidthValueThatDoesNotFitWritesNothing) {
    for (const FixedWidthCase& c : kFixedWidthCases) {
        Bytes out(c.bytes.size(), 0xEE);  // the writer gets one byte less than the value needs
        PayloadWriter writer(out.data(), c.bytes.size() - 1);
        EXPECT_FALSE(putFixed(writer, c.width, c.value)) << c.what;
        EXPECT_FALSE(writer.ok()) << c.what;
        EXPECT_EQ(writer.written(), 0u) << c.what;
        EXPECT_EQ(out, Bytes(out.size(), 0xEE)) << c.what;
    }
}

// A value whose bytes straddle the edge of a window: only the bytes inside it land.
TEST(PayloadWriter, AWindowTakesOnlyItsBytesOfAFixedWidthValue) {
    Bytes out(2, 0xEE);
    PayloadWriter writer = PayloadWriter::window(out.data(), 3, 2);
    ASSERT_TRUE(writer.putU32(0x44332211u));  // payload bytes 0..3
    ASSERT_TRUE(writer.putU8(0x55));          // payload byte 4
    EXPECT_EQ(out, (Bytes{0x44, 0x55}));
}

TEST(PayloadReader, ReadsFixedWidthValuesLittleEndianAndFailsOnAShortPayload) {
    for (const FixedWidthCase& c : kFixedWidthCases) {
        PayloadReader reader(c.bytes.data(), c.bytes.size());
        EXPECT_EQ(getFixed(reader, c.width), c.value) << c.what;
        EXPECT_TRUE(reader.ok()) << c.what;
        EXPECT_EQ(reader.consumed(), c.bytes.size()) << c.what;

        PayloadReader shortReader(c.bytes.data(), c.bytes.size() - 1);
        EXPECT_EQ(getFixed(shortReader, c.width), 0u) << c.what;
        EXPECT_FALSE(shortReader.ok()) << c.what;
        EXPECT_EQ(shortReader.consumed(), 0u) << c.what;
    }
}

TEST(PayloadWriter, AWriteThatDoesNotFitWritesNothingAndFailsForGood) {
    Bytes out(10, 0xEE);
    PayloadWriter writer(out.data(), out.size());
    EXPECT_FALSE(writer.putString("abc"));  // needs 11
    EXPECT_EQ(out, Bytes(10, 0xEE));
    EXPECT_FALSE(writer.putBytes("x", 1));  // would fit, but the writer has failed
    EXPECT_FALSE(writer.ok());
    EXPECT_EQ(writer.written(), 0u);
}

TEST(PayloadWriter, Utf16IsLittleEndianUnitsWithTheirByteLength) {
    Bytes out(16);
    PayloadWriter writer(out.data(), out.size());
    ASSERT_TRUE(writer.putUtf16(u"a\u00e9\U0001F600"));
    EXPECT_EQ(out, (Bytes{8, 0, 0, 0, 0, 0, 0, 0, 0x61, 0x00, 0xE9, 0x00, 0x3D, 0xD8, 0x00, 0xDE}));
    EXPECT_FALSE(writer.putUtf16(u"x"));  // full
}

TEST(PayloadReader, ReadsFieldsInOrderAndCountsWhatItConsumed) {
    const Bytes in{2, 0, 0, 0, 0, 0, 0, 0, 'h', 'i', 0x2A, 0, 0, 0, 0, 0, 0, 0};
    PayloadReader reader(in.data(), in.size());
    EXPECT_EQ(reader.getString(), "hi");
    EXPECT_EQ(reader.getSize(), 42u);
    EXPECT_TRUE(reader.ok());
    EXPECT_EQ(reader.consumed(), in.size());
    EXPECT_EQ(reader.remaining(), 0u);
}

// Every way a field can run past the payload: nothing is read, the reader fails, later reads fail.
TEST(PayloadReader, NeverReadsPastItsPayload) {
    struct Case {
        const char* what;
        Bytes bytes;
    };
    const Case cases[] = {
        {"short size", {1, 0, 0}},
        {"string longer than the payload", {5, 0, 0, 0, 0, 0, 0, 0, 'a', 'b'}},
        {"huge string length", {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 'a'}},
    };
    for (const Case& c : cases) {
        PayloadReader reader(c.bytes.data(), c.bytes.size());
        if (c.bytes.size() < 8) {
            EXPECT_EQ(reader.getSize(), 0u) << c.what;
        } else {
            EXPECT_EQ(reader.getString(), "") << c.what;
        }
        EXPECT_FALSE(reader.ok()) << c.what;
        EXPECT_EQ(reader.getBytes(0), nullptr) << c.what;
    }
}

TEST(PayloadReader, StringsEndAtTheirFirstNulButConsumeTheirLength) {
    const Bytes in{4, 0, 0, 0, 0, 0, 0, 0, 'a', 0, 'b', 'c', 7, 0, 0, 0, 0, 0, 0, 0};
    PayloadReader reader(in.data(), in.size());
    EXPECT_EQ(reader.getString(), "a");
    EXPECT_EQ(reader.getSize(), 7u);
    EXPECT_TRUE(reader.ok());
}

TEST(PayloadReader, Utf16StopsAtANulUnit) {
    const Bytes in{6, 0, 0, 0, 0, 0, 0, 0, 'x', 0, 0, 0, 'y', 0};
    PayloadReader reader(in.data(), in.size());
    EXPECT_EQ(reader.getUtf16(), u"x");
    EXPECT_TRUE(reader.ok());
}

TEST(Utf16, RoundTripsEveryPlaneAndKeepsUnpairedSurrogates) {
    const std::wstring text = L"a\u00e9\u4e2d\U0001F600\U0010FFFF";
    EXPECT_EQ(xel::fromUtf16(xel::toUtf16(text)), text);
    EXPECT_EQ(xel::toUtf16(L"\U0001F600"), (std::u16string{0xD83D, 0xDE00}));
    const std::u16string unpaired{0xD800, u'a', 0xDC00};
    EXPECT_EQ(xel::toUtf16(xel::fromUtf16(unpaired)), unpaired);
}

}  // namespace
