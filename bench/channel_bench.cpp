// Benchmarks of the message channel between two real processes. The benchmark process creates the
// channel with the production options and starts a copy of itself as the peer, which attaches and
// answers:
//
//   channel_bench [benchmark options]
//   channel_bench --peer QUEUE_ID        (the peer; started by the program itself)
//
// Every figure is end to end: an iteration ends only when the peer has confirmed what it received,
// or its answer has arrived, and every confirmation is checked against what was sent.
//
// What travels, benchmark to peer:
//   "bulk"   N bytes carrying a sequence number in the first and last 8 bytes;
//            answered by "ack" {first, last, N}
//   "small"  64 bytes carrying their index within the batch in the first 8; counted
//   "batch"  ends a batch of "small"; answered by "batchack" {received, out of order}
//   "echo"   64 bytes: a sequence number, then the bytes 8 to 63; answered by "echores" with the
//            same bytes
//   "quit"   answered by "bye", after which the peer exits
// and the peer says "hello" once its reader runs. All numbers are 64-bit little-endian.
#include <benchmark/benchmark.h>

#include <limits.h>
#include <pthread.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "XelInterProcessMessagesManager.h"
#include "bench/bench_support.h"
#include "render_link/channel/message_channel.h"

namespace {

using xel::bench::get64;
using xel::bench::isType;
using xel::bench::put64;

using Clock = std::chrono::steady_clock;
using xel::MessageChannel;

constexpr std::size_t kBulkBytes = std::size_t(64) << 20;
constexpr std::size_t kSmallBytes = 64;
constexpr std::uint64_t kBatchMessages = 16384;  // small messages per flood iteration
constexpr auto kAnswerTimeout = std::chrono::seconds(60);

// A value that the channel's reader thread publishes and another thread waits for.
class Published {
public:
    void publish(std::uint64_t value) {
        m_value.store(value);
        std::lock_guard<std::mutex> guard(m_mutex);
        m_changed.notify_all();
    }
    std::uint64_t get() const { return m_value.load(); }

    // Waits until `accept(value)` holds, up to `timeout`; returns whether it did. Whatever the
    // publisher stored before publishing is visible once this returns true. Blocks rather than
    // spins: on two cores a spinning waiter takes the core the answering threads need.
    template <class Accept>
    bool waitFor(Accept accept, Clock::duration timeout = kAnswerTimeout) {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, timeout, [&] { return accept(get()); });
    }

private:
    std::atomic<std::uint64_t> m_value{0};
    std::mutex m_mutex;
    std::condition_variable m_changed;
};

// ---- The peer process. ----------------------------------------------------------------------

class PeerEnd : public XelInterProcessMessagesObserver {
public:
    void answerOn(MessageChannel* channel) { m_channel = channel; }

    void onMessage(const char* type, const void* data, long size) override {
        const auto* bytes = static_cast<const char*>(data);
        if (isType(type, "small")) {
            if (size != long(kSmallBytes) || get64(bytes) != m_received)
                ++m_disorder;
            ++m_received;
        } else if (isType(type, "bulk")) {
            char ack[24] = {};
            if (size >= 16) {
                put64(ack, get64(bytes));
                put64(ack + 8, get64(bytes + size - 8));
            }
            put64(ack + 16, std::uint64_t(size));
            m_channel->sendMessageAsync("ack", ack, sizeof ack);
        } else if (isType(type, "batch")) {
            char answer[16];
            put64(answer, m_received);
            put64(answer + 8, m_disorder);
            m_channel->sendMessageAsync("batchack", answer, sizeof answer);
            m_received = 0;
            m_disorder = 0;
        } else if (isType(type, "echo")) {
            m_channel->sendMessageAsync("echores", bytes, std::uint64_t(size));
        } else if (isType(type, "quit")) {
            m_channel->sendMessageAsync("bye", nullptr, 0);
            quit.publish(1);
        } else {
            ++m_disorder;
        }
    }
    void onChannelConnected() override { connected.publish(1); }
    void onChannelDisconnected() override {}
    void onError(int code, const char* text) override {
        std::fprintf(stderr, "channel_bench peer: channel error %d: %s\n", code, text);
        connected.publish(2);
    }

    Published connected;  // 1 once the reader runs, 2 if set-up failed
    Published quit;

private:
    MessageChannel* m_channel = nullptr;
    // Reader thread only: the current batch of small messages.
    std::uint64_t m_received = 0;
    std::uint64_t m_disorder = 0;
};

int runPeer(long queueId) {
    PeerEnd end;
    MessageChannel channel(&end, queueId);
    if (channel.isCreator()) {
        std::fprintf(stderr, "channel_bench peer: no channel %ld to attach to\n", queueId);
        return 2;
    }
    end.answerOn(&channel);
    channel.run();
    if (!end.connected.waitFor([](std::uint64_t v) { return v != 0; }) || end.connected.get() != 1)
        return 1;
    channel.sendMessage("hello", nullptr, 0);
    // The benchmark process decides when the session ends; the parent-death signal covers the
    // case that it never does.
    while (!end.quit.waitFor([](std::uint64_t v) { return v != 0; })) {
    }
    channel.waitForAsyncIdle();
    return 0;
}

// ---- The benchmark process. -----------------------------------------------------------------

class BenchEnd : public XelInterProcessMessagesObserver {
public:
    void onMessage(const char* type, const void* data, long size) override {
        const auto* bytes = static_cast<const char*>(data);
        if (isType(type, "ack") && size == 24) {
            m_ackConsistent.store(get64(bytes) == get64(bytes + 8));
            m_ackSize.store(get64(bytes + 16));
            bulkAck.publish(get64(bytes));
        } else if (isType(type, "batchack") && size == 16) {
            m_batchReceived.store(get64(bytes));
            m_batchDisorder.store(get64(bytes + 8));
            batchAcks.publish(batchAcks.get() + 1);
        } else if (isType(type, "echores") && size == long(kSmallBytes)) {
            bool intact = true;
            for (std::size_t i = 8; i < kSmallBytes; ++i)
                intact = intact && bytes[i] == char(i);
            m_echoIntact.store(intact);
            echo.publish(get64(bytes));
        } else if (isType(type, "hello")) {
            hello.publish(1);
        } else if (isType(type, "bye")) {
            bye.publish(1);
        } else {
            std::fprintf(stderr, "channel_bench: unexpected message \"%s\" of %ld bytes\n", type,
                         size);
        }
    }
    void onChannelConnected() override { connected.publish(1); }
    void onChannelDisconnected() override {}
    void onError(int code, const char* text) override {
        std::fprintf(stderr, "channel_bench: channel error %d: %s\n", code, text);
        connected.publish(2);
    }

    // After bulkAck reached `seq`: whether the peer confirmed exactly that message of `size`.
    bool bulkAckMatches(std::uint64_t seq, std::uint64_t size) const {
        return bulkAck.get() == seq && m_ackConsistent.load() && m_ackSize.load() == size;
    }
    // After a batch acknowledgement: whether the peer got all `count` messages, in order.
    bool batchMatches(std::uint64_t count) const {
        return m_batchReceived.load() == count && m_batchDisorder.load() == 0;
    }
    // After echo reached `seq`: whether the answer was the echo of `seq`, byte for byte.
    bool echoMatches(std::uint64_t seq) const { return echo.get() == seq && m_echoIntact.load(); }

    Published connected;  // 1 once the reader runs, 2 if set-up failed
    Published hello;
    Published bulkAck;    // the sequence number of the last acknowledged bulk message
    Published batchAcks;  // how many batches the peer acknowledged
    Published echo;       // the sequence number of the last echo answer
    Published bye;

private:
    std::atomic<bool> m_ackConsistent{false};
    std::atomic<std::uint64_t> m_ackSize{0};
    std::atomic<std::uint64_t> m_batchReceived{0};
    std::atomic<std::uint64_t> m_batchDisorder{0};
    std::atomic<bool> m_echoIntact{false};
};

bool nonZero(std::uint64_t v) {
    return v != 0;
}

// The channel and the peer process, for the whole run.
class Session {
public:
    explicit Session(qint32 queueId) : m_queueId(queueId) {}

    // Creates the channel and starts the peer; false, with a message, if either fails.
    bool start() {
        MessageChannel::removeLeftovers(m_queueId);
        m_channel = std::make_unique<MessageChannel>(&m_end, m_queueId);
        if (!m_channel->isCreator())
            return fail("could not create channel " + std::to_string(m_queueId));
        m_channel->run();
        if (!m_end.connected.waitFor(nonZero) || m_end.connected.get() != 1)
            return fail("the channel did not start");

        char self[PATH_MAX] = {};
        if (::readlink("/proc/self/exe", self, sizeof self - 1) <= 0)
            return fail("cannot find this program's file");
        std::string id = std::to_string(m_queueId);
        char peerFlag[] = "--peer";
        char* arguments[] = {self, peerFlag, id.data(), nullptr};
        const pid_t parent = ::getpid();
        m_peer = ::fork();
        if (m_peer == 0) {
            // Only async-signal-safe calls until exec: this process has other threads.
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
            sigset_t none;
            ::sigemptyset(&none);
            ::sigprocmask(SIG_SETMASK, &none, nullptr);
            if (::getppid() == parent)
                ::execv(self, arguments);
            ::_exit(127);
        }
        if (m_peer < 0)
            return fail("fork failed");
        if (!m_end.hello.waitFor(nonZero))
            return fail("the peer did not attach");
        return true;
    }

    // Ends the peer, destroys the channel and removes what it left. Returns whether the peer
    // ended cleanly.
    bool stop() {
        bool clean = true;
        if (m_peer > 0) {
            int status = 0;
            if (::waitpid(m_peer, &status, WNOHANG) == 0) {
                m_channel->sendMessage("quit", nullptr, 0);
                if (!m_end.bye.waitFor(nonZero)) {
                    std::fprintf(stderr, "channel_bench: the peer did not answer \"quit\"\n");
                    ::kill(m_peer, SIGKILL);
                    clean = false;
                }
                ::waitpid(m_peer, &status, 0);
            }
            if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
                std::fprintf(stderr, "channel_bench: the peer ended with status %d\n", status);
                clean = false;
            }
            m_peer = -1;
        }
        m_channel.reset();
        MessageChannel::removeLeftovers(m_queueId);
        return clean;
    }

    MessageChannel& channel() { return *m_channel; }
    BenchEnd& end() { return m_end; }

    // A broken session (the peer stopped answering) fails every later benchmark at once.
    bool broken() const { return m_broken; }
    void markBroken() { m_broken = true; }

    std::uint64_t nextBulkSeq() { return ++m_bulkSeq; }
    std::uint64_t nextEchoSeq() { return ++m_echoSeq; }

private:
    bool fail(const std::string& what) {
        std::fprintf(stderr, "channel_bench: %s\n", what.c_str());
        m_broken = true;
        return false;
    }

    BenchEnd m_end;  // outlives the channel
    const qint32 m_queueId;
    std::unique_ptr<MessageChannel> m_channel;
    pid_t m_peer = -1;
    bool m_broken = false;
    std::uint64_t m_bulkSeq = 0;
    std::uint64_t m_echoSeq = 0;
};

// Removes what a channel of `queueId` may leave and ends the program when it is interrupted
// (SIGINT, SIGTERM, SIGHUP); the peer ends with it through its parent-death signal. Must be called
// before any other thread starts: threads inherit the blocked signals.
void cleanUpOnInterrupt(qint32 queueId) {
    sigset_t signals;
    ::sigemptyset(&signals);
    for (int signal : {SIGINT, SIGTERM, SIGHUP})
        ::sigaddset(&signals, signal);
    ::pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    std::thread([signals, queueId] {
        int signal = 0;
        if (::sigwait(&signals, &signal) != 0)
            return;
        MessageChannel::removeLeftovers(queueId);
        ::_exit(128 + signal);
    }).detach();
}

Session* g_session = nullptr;
// Two warm buffers of kBulkBytes: the bulk payload, and the memcpy target.
char* g_source = nullptr;
char* g_target = nullptr;
// memcpy bandwidth of kBulkBytes between the warm buffers, in bytes per second, taken from the
// fastest copy so that a copy slowed by other load does not lower the bound: what the memcpy
// benchmark last measured, or, if it did not run, what measureMemcpy() found; 0 until either.
double g_memcpyBytesPerSecond = 0;

// Copies the source buffer to the target once; returns the seconds it took.
double timedCopy() {
    const auto start = Clock::now();
    std::memcpy(g_target, g_source, kBulkBytes);
    benchmark::ClobberMemory();
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double measureMemcpy() {
    timedCopy();
    double fastest = timedCopy();
    for (double total = fastest; total < 0.3;) {
        const double seconds = timedCopy();
        fastest = std::min(fastest, seconds);
        total += seconds;
    }
    return double(kBulkBytes) / fastest;
}

Session* usableSession(benchmark::State& state) {
    if (!g_session || g_session->broken()) {
        state.SkipWithError("no peer");
        return nullptr;
    }
    return g_session;
}

void failed(benchmark::State& state, Session& session, const char* what) {
    session.markBroken();
    state.SkipWithError(what);
}

void BM_Memcpy64MiB(benchmark::State& state) {
    double fastest = 1e9;
    for (auto _ : state)
        fastest = std::min(fastest, timedCopy());
    state.SetBytesProcessed(std::int64_t(state.iterations() * kBulkBytes));
    g_memcpyBytesPerSecond = double(kBulkBytes) / fastest;
    state.counters["fastest"] = benchmark::Counter(
        g_memcpyBytesPerSecond, benchmark::Counter::kDefaults, benchmark::Counter::kIs1024);
}

// One 64 MiB message per iteration, acknowledged by the peer before the next is sent.
void BM_Bulk64MiB(benchmark::State& state) {
    Session* session = usableSession(state);
    if (!session)
        return;
    const auto start = Clock::now();
    for (auto _ : state) {
        const std::uint64_t seq = session->nextBulkSeq();
        put64(g_source, seq);
        put64(g_source + kBulkBytes - 8, seq);
        session->channel().sendMessage("bulk", g_source, long(kBulkBytes));
        if (!session->end().bulkAck.waitFor([&](std::uint64_t v) { return v >= seq; }) ||
            !session->end().bulkAckMatches(seq, kBulkBytes)) {
            failed(state, *session, "bulk message not acknowledged as sent");
            break;
        }
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    const double bytes = double(state.iterations()) * double(kBulkBytes);
    state.SetBytesProcessed(std::int64_t(bytes));
    if (g_memcpyBytesPerSecond == 0)
        g_memcpyBytesPerSecond = measureMemcpy();
    const double twoCopyBound = g_memcpyBytesPerSecond / 2;
    state.counters["two_copy_bound"] = benchmark::Counter(
        twoCopyBound, benchmark::Counter::kDefaults, benchmark::Counter::kIs1024);
    state.counters["vs_two_copy_bound"] = bytes / seconds / twoCopyBound;
}

// Floods the peer with 64-byte messages; an iteration is one batch, ended when the peer confirmed
// the whole batch in order.
void flood(benchmark::State& state, bool async) {
    Session* session = usableSession(state);
    if (!session)
        return;
    MessageChannel& channel = session->channel();
    char message[kSmallBytes] = {};
    char batch[8];
    put64(batch, kBatchMessages);
    for (auto _ : state) {
        for (std::uint64_t i = 0; i < kBatchMessages; ++i) {
            put64(message, i);
            if (async)
                channel.sendMessageAsync("small", message, kSmallBytes);
            else
                channel.sendMessage("small", message, long(kSmallBytes));
        }
        const std::uint64_t acks = session->end().batchAcks.get() + 1;
        if (async)
            channel.sendMessageAsync("batch", batch, sizeof batch);
        else
            channel.sendMessage("batch", batch, sizeof batch);
        if (!session->end().batchAcks.waitFor([&](std::uint64_t v) { return v >= acks; }) ||
            !session->end().batchMatches(kBatchMessages)) {
            failed(state, *session, "batch not confirmed whole and in order");
            break;
        }
    }
    state.SetItemsProcessed(std::int64_t(state.iterations() * kBatchMessages));
}

void BM_Small64Sync(benchmark::State& state) {
    flood(state, false);
}

void BM_Small64Async(benchmark::State& state) {
    flood(state, true);
}

// One "echo" of 64 bytes per iteration; the peer answers from its reader thread.
void BM_RoundTrip64(benchmark::State& state) {
    Session* session = usableSession(state);
    if (!session)
        return;
    char message[kSmallBytes];
    for (std::size_t i = 8; i < kSmallBytes; ++i)
        message[i] = char(i);
    for (auto _ : state) {
        const std::uint64_t seq = session->nextEchoSeq();
        put64(message, seq);
        session->channel().sendMessage("echo", message, long(kSmallBytes));
        if (!session->end().echo.waitFor([&](std::uint64_t v) { return v >= seq; }) ||
            !session->end().echoMatches(seq)) {
            failed(state, *session, "echo not answered with the bytes sent");
            break;
        }
    }
    state.SetItemsProcessed(std::int64_t(state.iterations()));
}

BENCHMARK(BM_Memcpy64MiB)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Bulk64MiB)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Small64Sync)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Small64Async)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_RoundTrip64)->Unit(benchmark::kMicrosecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--peer") == 0)
        return runPeer(std::atol(argv[2]));

    auto source = std::make_unique<char[]>(kBulkBytes);
    auto target = std::make_unique<char[]>(kBulkBytes);
    g_source = source.get();
    g_target = target.get();
    for (std::size_t i = 0; i < kBulkBytes; i += 4096)
        g_source[i] = char(i >> 12);

    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    // Positive, apart from the ids the tests use, and distinct for concurrent runs.
    const qint32 queueId = 0x30000000 + static_cast<qint32>(::getpid() % 0x400000) * 16;
    cleanUpOnInterrupt(queueId);
    Session session(queueId);
    const bool started = session.start();
    if (started)
        g_session = &session;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    g_session = nullptr;
    const bool clean = session.stop();
    return started && clean && !session.broken() ? 0 : 1;
}
