// The static payload primitives of the public manager, against hand-written bytes.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "XelInterProcessMessagesManager.h"

namespace {

struct Primitives : XelInterProcessMessagesManager {
    using XelInterProcessMessagesManager::appendString;
    using XelInterProcessMessagesManager::appendStringW;
    using XelInterProcessMessagesManager::popSize;
    using XelInterProcessMessagesManager::popString;
    using XelInterProcessMessagesManager::popStringW;
    using XelInterProcessMessagesManager::readSize;
    using XelInterProcessMessagesManager::readString;
    using XelInterProcessMessagesManager::readStringW;
    using XelInterProcessMessagesManager::writeSize;
    using XelInterProcessMessagesManager::writeString;
    using XelInterProcessMessagesManager::writeStringW;
};

using Bytes = std::vector<unsigned char>;

// The payload of an "echo" with the text abc: a size of 3 and the three letters.
const Bytes kEchoAbc{0x03, 0, 0, 0, 0, 0, 0, 0, 0x61, 0x62, 0x63};

TEST(Primitives, WriteStringProducesTheEchoPayload) {
    Bytes out(kEchoAbc.size() + 2, 0xEE);
    Primitives::writeString(out.data(), "abc");
    EXPECT_EQ(Bytes(out.begin(), out.begin() + kEchoAbc.size()), kEchoAbc);
    EXPECT_EQ(out[kEchoAbc.size()], 0xEE);  // no terminator
}

TEST(Primitives, AppendAdvancesPastEachStringAndPopReadsThemBack) {
    Bytes out(64, 0);
    void* cursor = out.data();
    Primitives::appendString(cursor, "abc");
    Primitives::appendStringW(cursor, L"\U0001F600");
    Primitives::writeSize(cursor, 9);  // does not advance
    EXPECT_EQ(static_cast<unsigned char*>(cursor) - out.data(), 11 + 12);
    const Bytes expected{3, 0, 0, 0,    0,    0,    0,    0, 'a', 'b', 'c', 4, 0, 0, 0, 0,
                         0, 0, 0, 0x3D, 0xD8, 0x00, 0xDE, 9, 0,   0,   0,   0, 0, 0, 0};
    EXPECT_EQ(Bytes(out.begin(), out.begin() + expected.size()), expected);

    void* read = out.data();
    EXPECT_EQ(Primitives::popString(read), "abc");
    EXPECT_EQ(Primitives::popStringW(read), L"\U0001F600");
    EXPECT_EQ(Primitives::popSize(read), 9u);
    EXPECT_EQ(static_cast<unsigned char*>(read), static_cast<unsigned char*>(cursor) + 8);
}

TEST(Primitives, ReadsDoNotAdvance) {
    Bytes in = kEchoAbc;
    EXPECT_EQ(Primitives::readSize(in.data()), 3u);
    EXPECT_EQ(Primitives::readString(in.data()), "abc");
    EXPECT_EQ(Primitives::readString(in.data()), "abc");
}

TEST(Primitives, WideStringsTravelAsUtf16WithTheirByteLength) {
    Bytes out(16, 0);
    Primitives::writeStringW(out.data(), L"h\u00e9");
    EXPECT_EQ(out, (Bytes{4, 0, 0, 0, 0, 0, 0, 0, 'h', 0, 0xE9, 0, 0, 0, 0, 0}));
    EXPECT_EQ(Primitives::readStringW(out.data()), L"h\u00e9");
}

TEST(Primitives, AStringReadStopsAtAnEmbeddedNul) {
    Bytes in{5, 0, 0, 0, 0, 0, 0, 0, 'a', 'b', 0, 'c', 'd'};
    EXPECT_EQ(Primitives::readString(in.data()), "ab");
    void* cursor = in.data();
    EXPECT_EQ(Primitives::popString(cursor), "ab");
    EXPECT_EQ(static_cast<unsigned char*>(cursor) - in.data(), 13);
}

TEST(Primitives, NullTargetsAreIgnored) {
    Primitives::writeSize(nullptr, 1);
    Primitives::writeString(nullptr, "a");
    Primitives::writeStringW(nullptr, L"a");
    void* cursor = nullptr;
    Primitives::appendString(cursor, "a");
    Primitives::appendStringW(cursor, L"a");
    EXPECT_EQ(cursor, nullptr);
    EXPECT_EQ(Primitives::popSize(cursor), 0u);
    EXPECT_EQ(cursor, nullptr);
}

}  // namespace
