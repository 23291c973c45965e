// The export guard: whatever a module or a host callback throws, the export returns its failure
// value and the log tells which export failed and why, in one line.

#include <QThread>

#include <functional>
#include <new>
#include <stdexcept>
#include <string>

#include <gtest/gtest.h>

#include "OrvantaForSketchup.h"
#include "plugin/exports/export_guard.h"
#include "plugin/lifecycle/plugin_state.h"
#include "tests/support/address_space_limit.h"
#include "tests/support/captured_log.h"

namespace {

using orvanta::guarded;
using xel::test::CapturedLog;

// Something thrown that is no std::exception.
struct Unrelated {};

struct Thrown {
    const char* kind;
    std::function<void()> raise;
    const char* logged;  // what the log line says of it
};

const Thrown kThrown[] = {
    {"std::bad_alloc", [] { throw std::bad_alloc(); }, "std::bad_alloc"},
    {"std::runtime_error", [] { throw std::runtime_error("disk on fire"); }, "disk on fire"},
    {"std::length_error", [] { throw std::length_error("too long"); }, "too long"},
    {"an int", [] { throw 7; }, "an exception of unknown kind"},
    {"another class", [] { throw Unrelated(); }, "an exception of unknown kind"},
};

TEST(ExportGuard, EachKindOfExceptionAnswersTheFallbackWithOneLogLine) {
    for (const Thrown& thrown : kThrown) {
        const CapturedLog log;
        EXPECT_EQ(guarded("obrCount", 17,
                          [&]() -> int {
                              thrown.raise();
                              return 1;
                          }),
                  17)
            << thrown.kind;
        EXPECT_STREQ(guarded("obrText", "",
                             [&]() -> const char* {
                                 thrown.raise();
                                 return "answer";
                             }),
                     "")
            << thrown.kind;
        EXPECT_EQ(guarded("obrBlock", static_cast<int*>(nullptr),
                          [&]() -> int* {
                              thrown.raise();
                              static int block = 0;
                              return &block;
                          }),
                  nullptr)
            << thrown.kind;
        bool finished = false;
        guarded("obrAction", [&] {
            thrown.raise();
            finished = true;
        });
        EXPECT_FALSE(finished) << thrown.kind;

        const QStringList lines = log.lines();
        ASSERT_EQ(lines.size(), 4) << thrown.kind;
        const char* const names[] = {"obrCount", "obrText", "obrBlock", "obrAction"};
        for (int i = 0; i < 4; ++i) {
            EXPECT_TRUE(lines[i].contains(QString::fromLatin1(names[i]) + " failed: "))
                << lines[i].toStdString();
            EXPECT_TRUE(lines[i].contains(QString::fromLatin1(thrown.logged)))
                << lines[i].toStdString();
        }
    }
}

TEST(ExportGuard, ACallThatReturnsAnswersItsOwnValueAndLogsNothing) {
    const CapturedLog log;
    EXPECT_EQ(guarded("obrCount", 17, [] { return 3; }), 3);
    EXPECT_STREQ(guarded("obrText", "", [] { return "answer"; }), "answer");
    bool finished = false;
    guarded("obrAction", [&] { finished = true; });
    EXPECT_TRUE(finished);
    EXPECT_TRUE(log.lines().isEmpty());
}

// The host callbacks of the tests below: the content callback throws, the others record.
int g_contentCalls = 0;
std::vector<std::string> g_attributes;

void throwingContent(const char* entityId) {
    ++g_contentCalls;
    if (std::string(entityId) == "throws")
        throw std::bad_alloc();
}

void throwingSetAttribute(const char*, const char*, const char* key, const char*) {
    g_attributes.push_back(key);
    throw std::runtime_error("host script error");
}

class ThrowingHost : public ::testing::Test {
protected:
    void SetUp() override {
        orvanta::PluginState& state = orvanta::pluginState();
        state.hostThreadId = QThread::currentThreadId();
        state.host.enumEntityContent = &throwingContent;
        state.host.setEntityAttribute = &throwingSetAttribute;
        g_contentCalls = 0;
        g_attributes.clear();
    }
    void TearDown() override { orvanta::pluginState().host = {}; }
};

TEST_F(ThrowingHost, ARequestRunNowReturnsWhenTheHostThrows) {
    const CapturedLog log;
    obrSkpEnumEntityContent("throws", false, 0);
    obrSkpSetEntityAttribute("ExecuteAction", "Act", "key", "value", 0);
    EXPECT_EQ(g_contentCalls, 1);
    EXPECT_EQ(g_attributes, std::vector<std::string>{"key"});
    EXPECT_EQ(
        log.linesWith(QStringLiteral("obrSkpEnumEntityContent failed: std::bad_alloc")).size(), 1);
    EXPECT_EQ(
        log.linesWith(QStringLiteral("obrSkpSetEntityAttribute failed: host script error")).size(),
        1);
}

TEST_F(ThrowingHost, PendingRequestsAfterOneThatThrowsStayForTheNextPoll) {
    obrSkpEnumEntityContent("throws", false, 1);
    obrSkpEnumEntityContent("7", false, 1);
    ASSERT_EQ(obrPendingMessagesCount(), 2);
    const CapturedLog log;
    obrCheckMessages();  // the oldest throws
    EXPECT_EQ(g_contentCalls, 1);
    EXPECT_EQ(obrPendingMessagesCount(), 1);
    EXPECT_EQ(log.linesWith(QStringLiteral("obrCheckMessages failed")).size(), 1);
    obrCheckMessages();
    EXPECT_EQ(g_contentCalls, 2);
    EXPECT_EQ(obrPendingMessagesCount(), 0);
}

TEST(ExportGuard, AnAllocationThatFailsInsideAnExportAnswersItsFailureValue) {
    if (xel::test::kSanitized)
        GTEST_SKIP() << "a sanitizer's allocator ends the process when memory runs out";
    if (!xel::test::AddressSpaceLimit::available())
        GTEST_SKIP() << "the system gives a process no cap of its own address space";
    // An id of 64 MiB holding "_", which makes it a mesh id; its conversion needs twice that.
    std::string id(std::size_t{64} << 20, 'a');
    id[1] = '_';
    ASSERT_TRUE(obrIsMesh("a_b"));

    const CapturedLog log;
    bool answer = true;
    {
        const xel::test::AddressSpaceLimit limit(std::size_t{32} << 20);
        ASSERT_TRUE(limit.set());
        answer = obrIsMesh(id.c_str());
    }

    EXPECT_FALSE(answer);
    EXPECT_EQ(log.linesWith(QStringLiteral("obrIsMesh failed: std::bad_alloc")).size(), 1)
        << log.lines().join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(obrIsMesh(id.c_str())) << "with the memory back, the same call succeeds";
}

}  // namespace
