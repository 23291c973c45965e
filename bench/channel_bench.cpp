// Benchmarks of the message channel between two real processes, beside what a user would pick
// instead: a Boost.Interprocess message_queue and a Unix-domain stream socket pair. Each transport
// has a peer process of its own, a copy of this program that the benchmark starts:
//
//   channel_bench [benchmark options] [--summary_json=PATH]
//   channel_bench --peer QUEUE_ID          (the channel's peer; started by the program itself)
//   channel_bench --queue-peer QUEUE_ID    (the message queues' peer; likewise)
//   channel_bench --socket-peer FD         (the socket's peer, FD its end of the pair; likewise)
//
// The channel is created with the production options. Every figure is end to end: an iteration
// ends only when the peer has confirmed what it received, or its answer has arrived, and every
// confirmation is checked against what was sent. Every benchmark warms up before it measures, so
// the table shows the steady state; the first 64 MiB channel message after start-up (onto segment
// pages nothing touched yet) is measured once on its own. After the table a summary puts each of
// our figures beside the peers' figures and the targets; --summary_json=PATH writes the same
// figures as one JSON object.
//
// What travels, benchmark to peer (channel messages, and socket frames alike):
//   "bulk"   N bytes carrying a sequence number in the first and last 8 bytes;
//            answered by "ack" {first, last, N}
//   "small"  64 bytes carrying their index within the batch in the first 8; counted
//   "batch"  ends a batch of "small"; answered by "batchack" {received, out of order}
//   "echo"   64 bytes: a sequence number, then the bytes 8 to 63; answered by "echores" with the
//            same bytes
//   "quit"   answered by "bye", after which the peer exits
// and the peer says "hello" once it is ready. A socket frame is laid out like a channel record: an
// 8-byte length (20 + payload), 12 type bytes padded with NULs, the payload.
//
// The message queues, named after the queue id: "bulk" messages travel through a queue of two
// 64 MiB slots; "small" messages (64 bytes), batch ends (8 bytes: the count) and the quit (empty)
// through a queue with a slot for every message of a batch; "bulk" also takes an empty message at
// the quit. Answers come back through a reply queue as a Reply. All numbers are 64-bit
// little-endian.
#include <benchmark/benchmark.h>

#include <errno.h>
#include <pthread.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/types.h>
#include <sys/uio.h>
#include <unistd.h>

#include <boost/date_time/posix_time/posix_time_types.hpp>
#include <boost/interprocess/exceptions.hpp>
#include <boost/interprocess/ipc/message_queue.hpp>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "XelInterProcessMessagesManager.h"
#include "bench/bench_support.h"
#include "platform/process.h"
#include "platform/process_watch.h"
#include "render_link/channel/message_channel.h"

namespace {

using xel::bench::get64;
using xel::bench::isType;
using xel::bench::put64;

using Clock = std::chrono::steady_clock;
using xel::MessageChannel;
using MessageQueue = boost::interprocess::message_queue;

constexpr std::size_t kBulkBytes = std::size_t(64) << 20;
constexpr std::size_t kSmallBytes = 64;
constexpr std::uint64_t kBatchMessages = 16384;  // small messages per flood iteration
constexpr long kAnswerTimeoutSeconds = 60;
constexpr auto kAnswerTimeout = std::chrono::seconds(kAnswerTimeoutSeconds);
// How long a waiter checks for an answer before it blocks; see spinBriefly().
constexpr auto kSpinBeforeBlocking = std::chrono::microseconds(30);

// Frames on the socket pair, laid out like the channel's records.
constexpr std::size_t kFrameHeaderBytes = xel::kRecordHeaderBytes;
constexpr std::size_t kFrameTypeBytes = xel::kTypeBytes;
constexpr int kSocketBufferBytes = 4 << 20;        // SO_SNDBUF and SO_RCVBUF of both ends
constexpr std::size_t kStagingBytes = 256u << 10;  // a socket reader's read-ahead

// The message queues.
constexpr std::size_t kBulkQueueSlots = 2;
constexpr std::size_t kSmallQueueSlots = kBatchMessages + 1;  // a whole batch and its end
constexpr std::size_t kReplyQueueSlots = 16;

// Google Benchmark 1.7.1 honours a benchmark's own warm-up time only when the benchmark also has
// its own minimum time, so every benchmark sets both.
constexpr double kMeasureSeconds = 1.0;
constexpr double kBulkWarmUpSeconds = 0.5;
constexpr double kSmallWarmUpSeconds = 0.3;

// The benchmark functions, by the names the summary looks them up by.
constexpr char kMemcpyName[] = "BM_Memcpy64MiB";
constexpr char kBulkName[] = "BM_Bulk64MiB";
constexpr char kBulkQueueName[] = "BM_Bulk64MiB_BoostQueue";
constexpr char kBulkSocketName[] = "BM_Bulk64MiB_UnixSocket";
constexpr char kSyncName[] = "BM_Small64Sync";
constexpr char kAsyncName[] = "BM_Small64Async";
constexpr char kSmallQueueName[] = "BM_Small64_BoostQueue";
constexpr char kSmallSocketName[] = "BM_Small64_UnixSocket";
constexpr char kRoundTripName[] = "BM_RoundTrip64";
constexpr char kRoundTripSocketName[] = "BM_RoundTrip64_UnixSocket";
constexpr char kIdleName[] = "BM_IdleChannel";

// The targets the summary holds our figures against.
constexpr double kBulkVsBoundTarget = 0.9;   // at least, of the two-copy bound
constexpr double kBulkVsSocketTarget = 1.1;  // at least, of the socket pair
constexpr double kSyncVsQueueTarget = 1.2;   // at least, of the message queue
constexpr double kAsyncRateTarget = 1.5e6;   // at least, messages per second
constexpr double kIdleTarget = 1.0;          // at most, percent of a core, both processes
constexpr double kIdleSeconds = 10;
constexpr double kAsyncVsQueueTarget = 1.0;       // at least, of the message queue
constexpr double kRoundTripVsSocketTarget = 0.5;  // at most, of the socket ping-pong median

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// ---- Pieces every transport shares. ----------------------------------------------------------

inline void cpuRelax() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#else
    std::this_thread::yield();
#endif
}

// Checks `ready` for about kSpinBeforeBlocking, pausing between checks; returns whether it held.
// The caller blocks afterwards if it did not. Why spin at all: an answer reaches this process on
// the channel's reader thread, which must hand it over to the waiting thread, and a waiter that
// blocks at once adds a futex wake-up and a context switch to every answer. The socket's caller
// pays no such hop: it blocks in read() and the kernel wakes it with the data. The spin stays
// brief so that on two cores a waiter does not hold a core long that the answering threads need.
template <class Ready>
bool spinBriefly(Ready ready) {
    const auto until = Clock::now() + kSpinBeforeBlocking;
    for (;;) {
        for (int i = 0; i < 16; ++i) {
            if (ready())
                return true;
            cpuRelax();
        }
        if (Clock::now() >= until)
            return ready();
    }
}

// A value that the channel's reader thread publishes and another thread waits for.
class Published {
public:
    // Any thread; wakes the waiters that block.
    void publish(std::uint64_t value) {
        m_value.store(value);
        if (m_sleepers.load() == 0)
            return;
        std::lock_guard<std::mutex> guard(m_mutex);
        m_changed.notify_all();
    }
    std::uint64_t get() const { return m_value.load(); }

    // Waits until `accept(value)` holds, up to `timeout`; returns whether it did. Whatever the
    // publisher stored before publishing is visible once this returns true. Spins briefly, then
    // blocks (see spinBriefly()).
    template <class Accept>
    bool waitFor(Accept accept, Clock::duration timeout = kAnswerTimeout) {
        if (spinBriefly([&] { return accept(get()); }))
            return true;
        std::unique_lock<std::mutex> lock(m_mutex);
        // Counted before the value is checked under the lock: a publisher that stores after the
        // check sees the sleeper and notifies.
        m_sleepers.fetch_add(1);
        const bool accepted = m_changed.wait_for(lock, timeout, [&] { return accept(get()); });
        m_sleepers.fetch_sub(1);
        return accepted;
    }

private:
    std::atomic<std::uint64_t> m_value{0};
    std::atomic<int> m_sleepers{0};
    std::mutex m_mutex;
    std::condition_variable m_changed;
};

bool nonZero(std::uint64_t v) {
    return v != 0;
}

// The 64-byte echo message of `seq`: the sequence number, then the bytes 8 to 63.
void fillEcho(char* message, std::uint64_t seq) {
    put64(message, seq);
    for (std::size_t i = 8; i < kSmallBytes; ++i)
        message[i] = char(i);
}

// Whether `bytes` is the echo message of `seq`, byte for byte.
bool isEchoOf(const char* bytes, std::uint64_t size, std::uint64_t seq) {
    if (size != kSmallBytes || get64(bytes) != seq)
        return false;
    for (std::size_t i = 8; i < kSmallBytes; ++i) {
        if (bytes[i] != char(i))
            return false;
    }
    return true;
}

// Whether an acknowledgement {first, last, size} confirms bulk message `seq` of kBulkBytes.
bool ackConfirms(std::uint64_t first, std::uint64_t last, std::uint64_t size, std::uint64_t seq) {
    return first == seq && last == seq && size == kBulkBytes;
}

// Stamps bulk message `seq` into the payload: its first and last 8 bytes.
void stampBulk(char* payload, std::uint64_t seq) {
    put64(payload, seq);
    put64(payload + kBulkBytes - 8, seq);
}

// A peer's count of one batch of "small" messages. One thread.
class BatchCounter {
public:
    void count(const char* bytes, std::uint64_t size) {
        if (size != kSmallBytes || get64(bytes) != m_received)
            ++m_disorder;
        ++m_received;
    }
    // Something that belongs to no batch.
    void countStray() { ++m_disorder; }
    std::uint64_t received() const { return m_received; }
    std::uint64_t disorder() const { return m_disorder; }
    void reset() {
        m_received = 0;
        m_disorder = 0;
    }

private:
    std::uint64_t m_received = 0;
    std::uint64_t m_disorder = 0;
};

bool batchComplete(std::uint64_t received, std::uint64_t disorder) {
    return received == kBatchMessages && disorder == 0;
}

// A copy of this program started as a peer, with the arguments `mode` and `argument`. The peer is
// killed when the thread that started it ends, so start it from the main thread (which runs the
// benchmarks). Owner's thread only.
class PeerProcess {
public:
    // `inheritedFd`, unless -1, stays open in the peer; the program's other descriptors are
    // close-on-exec or of no use to the peer.
    bool start(const char* mode, const std::string& argument, int inheritedFd = -1) {
        const std::string self = xel::platform::currentExecutablePath();
        if (self.empty())
            return false;
        m_pid = xel::platform::startChildProcess(self, {mode, argument}, inheritedFd);
        if (m_pid <= 0)
            return false;
        m_watch = std::make_unique<xel::platform::ProcessWatch>(m_pid);
        return true;
    }

    // Whether the peer still runs.
    bool running() const { return m_watch && !m_watch->hasEnded(); }

    // Ends the peer: waits for it if it confirmed the quit (`answered`), kills it otherwise.
    // Returns whether it answered and exited with status 0; says on stderr what went wrong.
    bool finish(bool answered, const char* name) {
        if (m_pid <= 0)
            return true;
        if (!answered)
            m_watch->terminate();
        const int status = xel::platform::waitForChildExit(m_pid);
        m_watch.reset();
        m_pid = -1;
        if (!answered) {
            std::fprintf(stderr, "channel_bench: the %s peer did not answer \"quit\"\n", name);
            return false;
        }
        if (status != 0) {
            std::fprintf(stderr, "channel_bench: the %s peer ended with status %d\n", name, status);
            return false;
        }
        return true;
    }

    pid_t pid() const { return static_cast<pid_t>(m_pid); }

private:
    std::int64_t m_pid = -1;
    std::unique_ptr<xel::platform::ProcessWatch> m_watch;
};

// What every session shares: its peer, and whether it still works. A broken session (the peer
// stopped answering, or answered wrongly) fails every later benchmark on it at once.
class SessionBase {
public:
    bool broken() const { return m_broken; }
    void markBroken() { m_broken = true; }

protected:
    bool fail(const std::string& what) {
        std::fprintf(stderr, "channel_bench: %s\n", what.c_str());
        m_broken = true;
        return false;
    }

    PeerProcess m_peer;
    bool m_broken = false;
};

// ---- Frames on a stream socket. ---------------------------------------------------------------

// Writes one frame of `type` (at most 12 characters) and `size` payload bytes, header and payload
// in one call where the socket takes them. Returns false if the socket failed or timed out.
bool writeFrame(int fd, const char* type, const void* data, std::uint64_t size) {
    char header[kFrameHeaderBytes] = {};
    put64(header, kFrameHeaderBytes + size);
    std::memcpy(header + 8, type, std::min(std::strlen(type), kFrameTypeBytes));
    iovec parts[2] = {{header, kFrameHeaderBytes}, {const_cast<void*>(data), size}};
    msghdr message{};
    message.msg_iov = parts;
    message.msg_iovlen = size > 0 ? 2 : 1;
    while (message.msg_iovlen > 0) {
        ssize_t sent = ::sendmsg(fd, &message, MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR)
            continue;
        if (sent <= 0)
            return false;
        while (message.msg_iovlen > 0 && std::size_t(sent) >= message.msg_iov->iov_len) {
            sent -= ssize_t(message.msg_iov->iov_len);
            ++message.msg_iov;
            --message.msg_iovlen;
        }
        if (message.msg_iovlen > 0) {
            message.msg_iov->iov_base = static_cast<char*>(message.msg_iov->iov_base) + sent;
            message.msg_iov->iov_len -= std::size_t(sent);
        }
    }
    return true;
}

// Reads frames from a stream socket. A frame that fits the read-ahead buffer is handed out from
// it; a larger one is read whole into a payload buffer of the reader's own, reused from frame to
// frame, as the channel's reader delivers. Owner's thread only.
class FrameReader {
public:
    explicit FrameReader(int fd) : m_fd(fd), m_staging(new char[kStagingBytes]) {}

    // Reads the next frame; false at the end of the stream, on an error or a timeout, or on a
    // malformed length. type(), data() and size() describe the frame until the next call.
    bool next() {
        m_begin += m_consumed;
        m_consumed = 0;
        if (!fill(kFrameHeaderBytes))
            return false;
        const char* header = m_staging.get() + m_begin;
        const std::uint64_t length = get64(header);
        if (length < kFrameHeaderBytes)
            return false;
        std::memcpy(m_type, header + 8, kFrameTypeBytes);
        m_type[kFrameTypeBytes] = 0;
        m_size = length - kFrameHeaderBytes;
        if (length <= kStagingBytes) {
            if (!fill(std::size_t(length)))
                return false;
            m_data = m_staging.get() + m_begin + kFrameHeaderBytes;
            m_consumed = std::size_t(length);
            return true;
        }
        // What is read ahead goes first, the rest comes straight from the socket.
        if (m_size > m_capacity) {
            m_payload.reset(new (std::nothrow) char[m_size]);
            m_capacity = m_payload ? m_size : 0;
            if (!m_payload)
                return false;
        }
        m_begin += kFrameHeaderBytes;
        const std::size_t staged = std::min<std::uint64_t>(m_end - m_begin, m_size);
        std::memcpy(m_payload.get(), m_staging.get() + m_begin, staged);
        m_begin += staged;
        if (!readFully(m_payload.get() + staged, m_size - staged))
            return false;
        m_data = m_payload.get();
        return true;
    }

    const char* type() const { return m_type; }
    const char* data() const { return m_data; }
    std::uint64_t size() const { return m_size; }

private:
    // Reads until at least `bytes` wait in the read-ahead buffer from m_begin.
    bool fill(std::size_t bytes) {
        if (m_begin == m_end)
            m_begin = m_end = 0;
        if (m_end - m_begin >= bytes)
            return true;
        if (m_begin + bytes > kStagingBytes) {
            std::memmove(m_staging.get(), m_staging.get() + m_begin, m_end - m_begin);
            m_end -= m_begin;
            m_begin = 0;
        }
        while (m_end - m_begin < bytes) {
            const ssize_t got = ::read(m_fd, m_staging.get() + m_end, kStagingBytes - m_end);
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0)
                return false;
            m_end += std::size_t(got);
        }
        return true;
    }

    bool readFully(char* to, std::uint64_t bytes) {
        while (bytes > 0) {
            const ssize_t got = ::read(m_fd, to, bytes);
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0)
                return false;
            to += got;
            bytes -= std::uint64_t(got);
        }
        return true;
    }

    const int m_fd;
    std::unique_ptr<char[]> m_staging;
    std::size_t m_begin = 0;     // the first byte not yet handed out
    std::size_t m_end = 0;       // one past the last byte read
    std::size_t m_consumed = 0;  // bytes of m_staging that the current frame occupies
    std::unique_ptr<char[]> m_payload;
    std::uint64_t m_capacity = 0;
    char m_type[kFrameTypeBytes + 1] = {};
    const char* m_data = nullptr;
    std::uint64_t m_size = 0;
};

// ---- The message queues. ----------------------------------------------------------------------

// An answer on the reply queue.
struct Reply {
    enum Kind : std::uint64_t { Hello = 1, Ack, BatchAck, Bye };
    std::uint64_t kind = 0;
    std::uint64_t a = 0;  // Ack: first; BatchAck: received
    std::uint64_t b = 0;  // Ack: last; BatchAck: out of order
    std::uint64_t c = 0;  // Ack: size
};

std::string queueName(qint32 queueId, const char* role) {
    return "xel_channel_bench_" + std::to_string(queueId) + "_" + role;
}

// Removes the message queues of `queueId`; any thread.
void removeQueues(qint32 queueId) {
    for (const char* role : {"bulk", "small", "reply"})
        MessageQueue::remove(queueName(queueId, role).c_str());
}

// ---- The peer processes. ----------------------------------------------------------------------

class PeerEnd : public XelInterProcessMessagesObserver {
public:
    void answerOn(MessageChannel* channel) { m_channel = channel; }

    void onMessage(const char* type, const void* data, long size) override {
        const auto* bytes = static_cast<const char*>(data);
        if (isType(type, "small")) {
            m_batch.count(bytes, std::uint64_t(size));
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
            put64(answer, m_batch.received());
            put64(answer + 8, m_batch.disorder());
            m_channel->sendMessageAsync("batchack", answer, sizeof answer);
            m_batch.reset();
        } else if (isType(type, "echo")) {
            m_channel->sendMessageAsync("echores", bytes, std::uint64_t(size));
        } else if (isType(type, "quit")) {
            m_channel->sendMessageAsync("bye", nullptr, 0);
            quit.publish(1);
        } else {
            m_batch.countStray();
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
    BatchCounter m_batch;  // reader thread only
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
    if (!end.connected.waitFor(nonZero) || end.connected.get() != 1)
        return 1;
    channel.sendMessage("hello", nullptr, 0);
    // The benchmark process decides when the session ends; the parent-death signal covers the
    // case that it never does.
    while (!end.quit.waitFor(nonZero)) {
    }
    channel.waitForAsyncIdle();
    return 0;
}

[[noreturn]] void queuePeerFailed(const char* what) {
    std::fprintf(stderr, "channel_bench queue peer: %s\n", what);
    std::_Exit(2);
}

// The message queues' peer: one thread takes the bulk queue, the main thread the small one; both
// answer through the reply queue. Any failure ends the process with status 2.
int runQueuePeer(qint32 queueId) {
    using boost::interprocess::open_only;
    try {
        MessageQueue bulk(open_only, queueName(queueId, "bulk").c_str());
        MessageQueue small(open_only, queueName(queueId, "small").c_str());
        MessageQueue reply(open_only, queueName(queueId, "reply").c_str());
        std::thread bulkReader([&] {
            try {
                std::unique_ptr<char[]> buffer(new char[kBulkBytes]);
                for (;;) {
                    MessageQueue::size_type size = 0;
                    unsigned int priority = 0;
                    bulk.receive(buffer.get(), kBulkBytes, size, priority);
                    if (size == 0)
                        return;
                    Reply ack;
                    ack.kind = Reply::Ack;
                    if (size >= 16) {
                        ack.a = get64(buffer.get());
                        ack.b = get64(buffer.get() + size - 8);
                    }
                    ack.c = size;
                    reply.send(&ack, sizeof ack, 0);
                }
            } catch (const std::exception& e) {
                queuePeerFailed(e.what());
            }
        });
        Reply hello;
        hello.kind = Reply::Hello;
        reply.send(&hello, sizeof hello, 0);
        char message[kSmallBytes];
        BatchCounter batch;
        for (;;) {
            MessageQueue::size_type size = 0;
            unsigned int priority = 0;
            small.receive(message, sizeof message, size, priority);
            if (size == 0)
                break;
            if (size == 8) {
                Reply answer;
                answer.kind = Reply::BatchAck;
                answer.a = batch.received();
                answer.b = batch.disorder();
                reply.send(&answer, sizeof answer, 0);
                batch.reset();
            } else {
                batch.count(message, size);
            }
        }
        bulkReader.join();
        Reply bye;
        bye.kind = Reply::Bye;
        reply.send(&bye, sizeof bye, 0);
        return 0;
    } catch (const std::exception& e) {
        queuePeerFailed(e.what());
    }
}

// The socket's peer, on its end `fd` of the pair. Returns 1 if the stream ends or fails before
// "quit".
int runSocketPeer(int fd) {
    FrameReader reader(fd);
    BatchCounter batch;
    if (!writeFrame(fd, "hello", nullptr, 0))
        return 1;
    while (reader.next()) {
        const char* type = reader.type();
        const char* bytes = reader.data();
        const std::uint64_t size = reader.size();
        bool written = true;
        if (isType(type, "small")) {
            batch.count(bytes, size);
        } else if (isType(type, "bulk")) {
            char ack[24] = {};
            if (size >= 16) {
                put64(ack, get64(bytes));
                put64(ack + 8, get64(bytes + size - 8));
            }
            put64(ack + 16, size);
            written = writeFrame(fd, "ack", ack, sizeof ack);
        } else if (isType(type, "batch")) {
            char answer[16];
            put64(answer, batch.received());
            put64(answer + 8, batch.disorder());
            written = writeFrame(fd, "batchack", answer, sizeof answer);
            batch.reset();
        } else if (isType(type, "echo")) {
            written = writeFrame(fd, "echores", bytes, size);
        } else if (isType(type, "quit")) {
            return writeFrame(fd, "bye", nullptr, 0) ? 0 : 1;
        } else {
            batch.countStray();
        }
        if (!written)
            return 1;
    }
    return 1;
}

// ---- The benchmark process. -------------------------------------------------------------------

// Two warm buffers of kBulkBytes: the bulk payload, and the memcpy target.
char* g_source = nullptr;
char* g_target = nullptr;

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
            m_echoIntact.store(isEchoOf(bytes, kSmallBytes, get64(bytes)));
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
    // After a batch acknowledgement: whether the peer got the whole batch, in order.
    bool batchMatches() const {
        return batchComplete(m_batchReceived.load(), m_batchDisorder.load());
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

// The channel and its peer process, for the whole run. Main thread only.
class ChannelSession : public SessionBase {
public:
    explicit ChannelSession(qint32 queueId) : m_queueId(queueId) {}

    // Creates the channel, starts the peer and sends the first bulk message; false, with a
    // message, if any of it fails.
    bool start() {
        MessageChannel::removeLeftovers(m_queueId);
        m_channel = std::make_unique<MessageChannel>(&m_end, m_queueId);
        if (!m_channel->isCreator())
            return fail("could not create channel " + std::to_string(m_queueId));
        m_channel->run();
        if (!m_end.connected.waitFor(nonZero) || m_end.connected.get() != 1)
            return fail("the channel did not start");
        if (!m_peer.start("--peer", std::to_string(m_queueId)))
            return fail("could not start the channel's peer");
        if (!m_end.hello.waitFor(nonZero))
            return fail("the peer did not attach");
        // The session's first bulk message lands on segment pages nothing has touched yet, and
        // the peer delivers it into a fresh buffer: measured once, before any warm-up.
        const auto start = Clock::now();
        if (!sendBulk())
            return fail("the first bulk message was not acknowledged as sent");
        m_firstBulkSeconds = secondsSince(start);
        return true;
    }

    // Ends the peer, destroys the channel and removes what it left. Returns whether the peer
    // ended cleanly.
    bool stop() {
        bool answered = false;
        if (m_peer.running()) {
            m_channel->sendMessage("quit", nullptr, 0);
            answered = m_end.bye.waitFor(nonZero);
        }
        const bool clean = m_peer.finish(answered, "channel");
        m_channel.reset();
        MessageChannel::removeLeftovers(m_queueId);
        return clean;
    }

    // One bulk message of kBulkBytes from g_source; true once the peer confirmed it exactly.
    bool sendBulk() {
        const std::uint64_t seq = ++m_bulkSeq;
        stampBulk(g_source, seq);
        m_channel->sendMessage("bulk", g_source, long(kBulkBytes));
        return m_end.bulkAck.waitFor([&](std::uint64_t v) { return v >= seq; }) &&
               m_end.bulkAckMatches(seq, kBulkBytes);
    }

    // One batch of small messages and its end; true once the peer confirmed the whole batch in
    // order.
    bool sendBatch(bool async) {
        char message[kSmallBytes] = {};
        char batch[8];
        put64(batch, kBatchMessages);
        for (std::uint64_t i = 0; i < kBatchMessages; ++i) {
            put64(message, i);
            if (async)
                m_channel->sendMessageAsync("small", message, kSmallBytes);
            else
                m_channel->sendMessage("small", message, long(kSmallBytes));
        }
        const std::uint64_t acks = m_end.batchAcks.get() + 1;
        if (async)
            m_channel->sendMessageAsync("batch", batch, sizeof batch);
        else
            m_channel->sendMessage("batch", batch, sizeof batch);
        return m_end.batchAcks.waitFor([&](std::uint64_t v) { return v >= acks; }) &&
               m_end.batchMatches();
    }

    // One echo; true once its answer arrived intact. The peer answers from its reader thread.
    bool echo() {
        const std::uint64_t seq = ++m_echoSeq;
        fillEcho(m_echoMessage, seq);
        m_channel->sendMessage("echo", m_echoMessage, long(kSmallBytes));
        return m_end.echo.waitFor([&](std::uint64_t v) { return v >= seq; }) &&
               m_end.echoMatches(seq);
    }

    double firstBulkSeconds() const { return m_firstBulkSeconds; }
    pid_t peerPid() const { return m_peer.pid(); }

private:
    BenchEnd m_end;  // outlives the channel
    const qint32 m_queueId;
    std::unique_ptr<MessageChannel> m_channel;
    std::uint64_t m_bulkSeq = 0;
    std::uint64_t m_echoSeq = 0;
    char m_echoMessage[kSmallBytes] = {};
    double m_firstBulkSeconds = 0;
};

// The message queues and their peer process. Main thread only.
class QueueSession : public SessionBase {
public:
    explicit QueueSession(qint32 queueId) : m_queueId(queueId) {}

    // Creates the queues and starts the peer; false, with a message, if either fails.
    bool start() {
        using boost::interprocess::create_only;
        removeQueues(m_queueId);
        try {
            m_bulk = std::make_unique<MessageQueue>(create_only, name("bulk").c_str(),
                                                    kBulkQueueSlots, kBulkBytes);
            m_small = std::make_unique<MessageQueue>(create_only, name("small").c_str(),
                                                     kSmallQueueSlots, kSmallBytes);
            m_reply = std::make_unique<MessageQueue>(create_only, name("reply").c_str(),
                                                     kReplyQueueSlots, sizeof(Reply));
        } catch (const std::exception& e) {
            return fail(std::string("could not create the message queues: ") + e.what());
        }
        if (!m_peer.start("--queue-peer", std::to_string(m_queueId)))
            return fail("could not start the message queues' peer");
        Reply hello;
        if (!receiveReply(hello) || hello.kind != Reply::Hello)
            return fail("the message queues' peer did not start");
        return true;
    }

    // Ends the peer and removes the queues. Returns whether the peer ended cleanly.
    bool stop() {
        bool answered = false;
        if (m_peer.running()) {
            try {
                const auto deadline = answerDeadline();
                Reply bye;
                answered = m_bulk->timed_send(g_source, 0, 0, deadline) &&
                           m_small->timed_send(g_source, 0, 0, deadline) && receiveReply(bye) &&
                           bye.kind == Reply::Bye;
            } catch (const std::exception& e) {
                std::fprintf(stderr, "channel_bench: message queue failed: %s\n", e.what());
            }
        }
        const bool clean = m_peer.finish(answered, "message queues'");
        m_bulk.reset();
        m_small.reset();
        m_reply.reset();
        removeQueues(m_queueId);
        return clean;
    }

    // Like ChannelSession::sendBulk(), through the bulk queue.
    bool sendBulk() {
        const std::uint64_t seq = ++m_bulkSeq;
        stampBulk(g_source, seq);
        Reply ack;
        try {
            m_bulk->send(g_source, kBulkBytes, 0);
        } catch (const std::exception& e) {
            return fail(std::string("message queue failed: ") + e.what());
        }
        return receiveReply(ack) && ack.kind == Reply::Ack && ackConfirms(ack.a, ack.b, ack.c, seq);
    }

    // Like ChannelSession::sendBatch(), through the small queue, with blocking sends.
    bool sendBatch() {
        char message[kSmallBytes] = {};
        char batch[8];
        put64(batch, kBatchMessages);
        try {
            for (std::uint64_t i = 0; i < kBatchMessages; ++i) {
                put64(message, i);
                m_small->send(message, kSmallBytes, 0);
            }
            m_small->send(batch, sizeof batch, 0);
        } catch (const std::exception& e) {
            return fail(std::string("message queue failed: ") + e.what());
        }
        Reply answer;
        return receiveReply(answer) && answer.kind == Reply::BatchAck &&
               batchComplete(answer.a, answer.b);
    }

private:
    std::string name(const char* role) const { return queueName(m_queueId, role); }

    static boost::posix_time::ptime answerDeadline() {
        return boost::posix_time::microsec_clock::universal_time() +
               boost::posix_time::seconds(kAnswerTimeoutSeconds);
    }

    // Waits for the next answer, up to kAnswerTimeoutSeconds; false if none came whole.
    bool receiveReply(Reply& reply) {
        MessageQueue::size_type size = 0;
        unsigned int priority = 0;
        try {
            return m_reply->timed_receive(&reply, sizeof reply, size, priority, answerDeadline()) &&
                   size == sizeof reply;
        } catch (const std::exception& e) {
            return fail(std::string("message queue failed: ") + e.what());
        }
    }

    const qint32 m_queueId;
    std::unique_ptr<MessageQueue> m_bulk;
    std::unique_ptr<MessageQueue> m_small;
    std::unique_ptr<MessageQueue> m_reply;
    std::uint64_t m_bulkSeq = 0;
};

// The socket pair and its peer process. Main thread only.
class SocketSession : public SessionBase {
public:
    ~SocketSession() {
        if (m_fd >= 0)
            ::close(m_fd);
    }

    // Creates the pair with buffers of kSocketBufferBytes and starts the peer on one end; false,
    // with a message, if either fails.
    bool start() {
        int ends[2];
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0)
            return fail("socketpair failed");
        m_fd = ends[0];
        const bool prepared = prepare(ends);
        const bool started =
            prepared && m_peer.start("--socket-peer", std::to_string(ends[1]), ends[1]);
        ::close(ends[1]);
        if (!prepared)
            return fail("could not set the socket options");
        if (!started)
            return fail("could not start the socket's peer");
        m_reader = std::make_unique<FrameReader>(m_fd);
        if (!m_reader->next() || !isType(m_reader->type(), "hello"))
            return fail("the socket's peer did not start");
        return true;
    }

    // Ends the peer and closes the socket. Returns whether the peer ended cleanly.
    bool stop() {
        bool answered = false;
        if (m_peer.running() && m_fd >= 0) {
            answered = writeFrame(m_fd, "quit", nullptr, 0) && m_reader->next() &&
                       isType(m_reader->type(), "bye");
        }
        const bool clean = m_peer.finish(answered, "socket's");
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
        return clean;
    }

    // Like ChannelSession::sendBulk(), as one frame.
    bool sendBulk() {
        const std::uint64_t seq = ++m_bulkSeq;
        stampBulk(g_source, seq);
        if (!writeFrame(m_fd, "bulk", g_source, kBulkBytes) || !answer("ack", 24))
            return false;
        const char* ack = m_reader->data();
        return ackConfirms(get64(ack), get64(ack + 8), get64(ack + 16), seq);
    }

    // Like ChannelSession::sendBatch(), one frame per message.
    bool sendBatch() {
        char message[kSmallBytes] = {};
        char batch[8];
        put64(batch, kBatchMessages);
        for (std::uint64_t i = 0; i < kBatchMessages; ++i) {
            put64(message, i);
            if (!writeFrame(m_fd, "small", message, kSmallBytes))
                return false;
        }
        if (!writeFrame(m_fd, "batch", batch, sizeof batch) || !answer("batchack", 16))
            return false;
        return batchComplete(get64(m_reader->data()), get64(m_reader->data() + 8));
    }

    // Like ChannelSession::echo(): one frame out, blocking in read for the answer.
    bool echo() {
        const std::uint64_t seq = ++m_echoSeq;
        fillEcho(m_echoMessage, seq);
        return writeFrame(m_fd, "echo", m_echoMessage, kSmallBytes) &&
               answer("echores", kSmallBytes) && isEchoOf(m_reader->data(), kSmallBytes, seq);
    }

private:
    // Sizes the buffers of both ends and gives this end its timeouts; false if the system refused.
    bool prepare(const int (&ends)[2]) {
        for (int fd : ends) {
            for (int option : {SO_SNDBUF, SO_RCVBUF}) {
                int bytes = kSocketBufferBytes;
                socklen_t length = sizeof bytes;
                if (::setsockopt(fd, SOL_SOCKET, option, &bytes, length) != 0 ||
                    ::getsockopt(fd, SOL_SOCKET, option, &bytes, &length) != 0)
                    return false;
                // Linux reports twice what it was asked for; less means that it capped the size.
                if (bytes < kSocketBufferBytes)
                    std::fprintf(stderr,
                                 "channel_bench: a socket buffer is %d bytes, not %d "
                                 "(net.core.wmem_max and rmem_max cap it)\n",
                                 bytes, kSocketBufferBytes);
            }
        }
        // A peer that stops answering fails the benchmark instead of hanging it.
        const timeval timeout{kAnswerTimeoutSeconds, 0};
        return ::setsockopt(m_fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout) == 0 &&
               ::setsockopt(m_fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout) == 0;
    }

    // Reads the next frame; whether it is of `type` and `size`.
    bool answer(const char* type, std::uint64_t size) {
        return m_reader->next() && isType(m_reader->type(), type) && m_reader->size() == size;
    }

    int m_fd = -1;
    std::unique_ptr<FrameReader> m_reader;
    std::uint64_t m_bulkSeq = 0;
    std::uint64_t m_echoSeq = 0;
    char m_echoMessage[kSmallBytes] = {};
};

// Removes what the channel and the message queues of `queueId` may leave and ends the program
// when it is interrupted (SIGINT, SIGTERM, SIGHUP); the peers end with it through their
// parent-death signal. Must be called before any other thread starts: threads inherit the blocked
// signals.
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
        removeQueues(queueId);
        ::_exit(128 + signal);
    }).detach();
}

qint32 g_queueId = 0;
// Each started by the first benchmark that needs it, stopped by main().
std::unique_ptr<ChannelSession> g_channel;
std::unique_ptr<QueueSession> g_queues;
std::unique_ptr<SocketSession> g_socket;
// memcpy bandwidth of kBulkBytes between the warm buffers, in bytes per second, taken from the
// fastest copy so that a copy slowed by other load does not lower the bound: what the memcpy
// benchmark last measured, or, if it did not run, what measureMemcpy() found; 0 until either.
double g_memcpyBytesPerSecond = 0;

// Copies the source buffer to the target once; returns the seconds it took.
double timedCopy() {
    const auto start = Clock::now();
    std::memcpy(g_target, g_source, kBulkBytes);
    benchmark::ClobberMemory();
    return secondsSince(start);
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

// The session a benchmark runs on, or nullptr after marking the benchmark skipped.
template <class Session>
Session* usable(benchmark::State& state, Session* session) {
    if (!session || session->broken()) {
        state.SkipWithError("no peer");
        return nullptr;
    }
    return session;
}

ChannelSession* channelSession(benchmark::State& state) {
    if (!g_channel) {
        g_channel = std::make_unique<ChannelSession>(g_queueId);
        g_channel->start();
    }
    return usable(state, g_channel.get());
}

QueueSession* queueSession(benchmark::State& state) {
    if (!g_queues) {
        g_queues = std::make_unique<QueueSession>(g_queueId);
        g_queues->start();
    }
    return usable(state, g_queues.get());
}

SocketSession* socketSession(benchmark::State& state) {
    if (!g_socket) {
        g_socket = std::make_unique<SocketSession>();
        g_socket->start();
    }
    return usable(state, g_socket.get());
}

void failed(benchmark::State& state, SessionBase& session, const char* what) {
    session.markBroken();
    state.SkipWithError(what);
}

// One bulk message per iteration, each confirmed by the peer before the next is sent.
template <class Session>
void measureBulk(benchmark::State& state, Session& session) {
    for (auto _ : state) {
        if (!session.sendBulk()) {
            failed(state, session, "bulk message not acknowledged as sent");
            break;
        }
    }
    state.SetBytesProcessed(std::int64_t(state.iterations() * kBulkBytes));
}

// One batch of small messages per iteration, each confirmed whole and in order by the peer.
template <class SendBatch>
void measureBatches(benchmark::State& state, SessionBase& session, SendBatch sendBatch) {
    for (auto _ : state) {
        if (!sendBatch()) {
            failed(state, session, "batch not confirmed whole and in order");
            break;
        }
    }
    state.SetItemsProcessed(std::int64_t(state.iterations() * kBatchMessages));
}

// One echo per iteration; reports the median iteration time as "median_us".
template <class Session>
void measureRoundTrips(benchmark::State& state, Session& session) {
    std::vector<double> seconds;
    seconds.reserve(
        std::size_t(std::min<benchmark::IterationCount>(state.max_iterations, 1 << 24)));
    for (auto _ : state) {
        const auto start = Clock::now();
        if (!session.echo()) {
            failed(state, session, "echo not answered with the bytes sent");
            break;
        }
        seconds.push_back(secondsSince(start));
    }
    state.SetItemsProcessed(std::int64_t(state.iterations()));
    if (seconds.empty())
        return;
    const auto middle = seconds.begin() + std::ptrdiff_t(seconds.size() / 2);
    std::nth_element(seconds.begin(), middle, seconds.end());
    state.counters["median_us"] = *middle * 1e6;
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

void BM_Bulk64MiB(benchmark::State& state) {
    ChannelSession* session = channelSession(state);
    if (!session)
        return;
    measureBulk(state, *session);
    if (g_memcpyBytesPerSecond == 0)
        g_memcpyBytesPerSecond = measureMemcpy();
    state.counters["two_copy_bound"] = benchmark::Counter(
        g_memcpyBytesPerSecond / 2, benchmark::Counter::kDefaults, benchmark::Counter::kIs1024);
}

void BM_Bulk64MiB_BoostQueue(benchmark::State& state) {
    if (QueueSession* session = queueSession(state))
        measureBulk(state, *session);
}

void BM_Bulk64MiB_UnixSocket(benchmark::State& state) {
    if (SocketSession* session = socketSession(state))
        measureBulk(state, *session);
}

void BM_Small64Sync(benchmark::State& state) {
    if (ChannelSession* session = channelSession(state))
        measureBatches(state, *session, [session] { return session->sendBatch(false); });
}

void BM_Small64Async(benchmark::State& state) {
    if (ChannelSession* session = channelSession(state))
        measureBatches(state, *session, [session] { return session->sendBatch(true); });
}

void BM_Small64_BoostQueue(benchmark::State& state) {
    if (QueueSession* session = queueSession(state))
        measureBatches(state, *session, [session] { return session->sendBatch(); });
}

void BM_Small64_UnixSocket(benchmark::State& state) {
    if (SocketSession* session = socketSession(state))
        measureBatches(state, *session, [session] { return session->sendBatch(); });
}

void BM_RoundTrip64(benchmark::State& state) {
    if (ChannelSession* session = channelSession(state))
        measureRoundTrips(state, *session);
}

void BM_RoundTrip64_UnixSocket(benchmark::State& state) {
    if (SocketSession* session = socketSession(state))
        measureRoundTrips(state, *session);
}

// Steady state: warm up for `warmUpSeconds`, then measure for kMeasureSeconds at least.
benchmark::internal::Benchmark* steady(benchmark::internal::Benchmark* b, double warmUpSeconds,
                                       benchmark::TimeUnit unit) {
    return b->Unit(unit)->UseRealTime()->MinTime(kMeasureSeconds)->MinWarmUpTime(warmUpSeconds);
}

// Processor seconds this process, and the process `pid`, have used so far; negative if the peer's
// could not be read.
double processorSeconds(pid_t pid) {
    std::FILE* stat = std::fopen(("/proc/" + std::to_string(pid) + "/stat").c_str(), "r");
    if (!stat)
        return -1;
    char line[1024] = {};
    const bool read = std::fgets(line, sizeof line, stat) != nullptr;
    std::fclose(stat);
    // The fields after the command's closing parenthesis: state is the 3rd, utime the 14th.
    const char* rest = read ? std::strrchr(line, ')') : nullptr;
    unsigned long long user = 0;
    unsigned long long system = 0;
    if (!rest || std::sscanf(rest + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %llu %llu",
                             &user, &system) != 2)
        return -1;
    return double(user + system) / double(::sysconf(_SC_CLK_TCK));
}

double ownProcessorSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// The channel open and quiet for kIdleSeconds: the processor time both processes use meanwhile,
// in percent of one core. Nothing but the channel's threads runs in either process then.
void BM_IdleChannel(benchmark::State& state) {
    ChannelSession* session = channelSession(state);
    if (!session)
        return;
    double percent = 0;
    for (auto _ : state) {
        const double peerBefore = processorSeconds(session->peerPid());
        const double ownBefore = ownProcessorSeconds();
        const auto start = Clock::now();
        std::this_thread::sleep_for(std::chrono::duration<double>(kIdleSeconds));
        const double elapsed = secondsSince(start);
        const double peerAfter = processorSeconds(session->peerPid());
        const double ownAfter = ownProcessorSeconds();
        if (peerBefore < 0 || peerAfter < 0) {
            state.SkipWithError("cannot read the peer's processor time");
            return;
        }
        percent = 100 * ((ownAfter - ownBefore) + (peerAfter - peerBefore)) / elapsed;
    }
    state.counters["cpu_percent"] = percent;
}

void registerBenchmarks() {
    using benchmark::RegisterBenchmark;
    const auto ms = benchmark::kMillisecond;
    steady(RegisterBenchmark(kMemcpyName, BM_Memcpy64MiB), kSmallWarmUpSeconds, ms);
    steady(RegisterBenchmark(kBulkName, BM_Bulk64MiB), kBulkWarmUpSeconds, ms);
    steady(RegisterBenchmark(kBulkQueueName, BM_Bulk64MiB_BoostQueue), kBulkWarmUpSeconds, ms);
    steady(RegisterBenchmark(kBulkSocketName, BM_Bulk64MiB_UnixSocket), kBulkWarmUpSeconds, ms);
    steady(RegisterBenchmark(kSyncName, BM_Small64Sync), kSmallWarmUpSeconds, ms);
    steady(RegisterBenchmark(kAsyncName, BM_Small64Async), kSmallWarmUpSeconds, ms);
    steady(RegisterBenchmark(kSmallQueueName, BM_Small64_BoostQueue), kSmallWarmUpSeconds, ms);
    steady(RegisterBenchmark(kSmallSocketName, BM_Small64_UnixSocket), kSmallWarmUpSeconds, ms);
    const auto us = benchmark::kMicrosecond;
    steady(RegisterBenchmark(kRoundTripName, BM_RoundTrip64), kSmallWarmUpSeconds, us);
    steady(RegisterBenchmark(kRoundTripSocketName, BM_RoundTrip64_UnixSocket), kSmallWarmUpSeconds,
           us);
    RegisterBenchmark(kIdleName, BM_IdleChannel)
        ->Iterations(1)
        ->UseRealTime()
        ->Unit(benchmark::kSecond);
}

// ---- The summary. -----------------------------------------------------------------------------

// What the summary takes of one benchmark function's report.
struct Reported {
    bool failed = false;
    std::string error;
    benchmark::UserCounters counters;

    double counter(const char* name) const {
        const auto found = counters.find(name);
        return found == counters.end() ? 0.0 : found->second.value;
    }
};

// Forwards every report to the display reporter that the command line chose, and keeps per
// benchmark function what its reported run measured: the run itself, or with repetitions the
// median aggregate. A failure in any run of a function sticks. Main thread only.
class FigureCollector : public benchmark::BenchmarkReporter {
public:
    // The library owns the display reporter.
    FigureCollector() : m_display(benchmark::CreateDefaultDisplayReporter()) {}

    bool ReportContext(const Context& context) override {
        return m_display->ReportContext(context);
    }
    void ReportRuns(const std::vector<Run>& runs) override {
        m_display->ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name != "median")
                continue;
            Reported& reported = m_reported[run.run_name.function_name];
            if (run.error_occurred) {
                reported.failed = true;
                reported.error = run.error_message;
            } else {
                reported.counters = run.counters;
            }
        }
    }
    void Finalize() override { m_display->Finalize(); }

    // The report of `function`, or nullptr if it did not run.
    const Reported* find(const char* function) const {
        const auto found = m_reported.find(function);
        return found == m_reported.end() ? nullptr : &found->second;
    }
    // Whether the display is the console table (the summary then goes to stdout as well).
    bool console() const { return dynamic_cast<benchmark::ConsoleReporter*>(m_display) != nullptr; }

private:
    benchmark::BenchmarkReporter* m_display;
    std::map<std::string, Reported> m_reported;
};

enum class Unit { BytesPerSecond, MessagesPerSecond, Microseconds, Milliseconds, PercentOfCore };

std::string show(double value, Unit unit) {
    char text[64];
    switch (unit) {
        case Unit::BytesPerSecond:
            std::snprintf(text, sizeof text, "%.2f GiB/s", value / double(1u << 30));
            break;
        case Unit::MessagesPerSecond:
            std::snprintf(text, sizeof text, "%.2f M msgs/s", value / 1e6);
            break;
        case Unit::Microseconds:
            std::snprintf(text, sizeof text, "%.1f us", value);
            break;
        case Unit::Milliseconds:
            std::snprintf(text, sizeof text, "%.1f ms", value);
            break;
        case Unit::PercentOfCore:
            std::snprintf(text, sizeof text, "%.3f%% of a core", value);
            break;
    }
    return text;
}

const char* unitName(Unit unit) {
    switch (unit) {
        case Unit::BytesPerSecond:
            return "bytes/s";
        case Unit::MessagesPerSecond:
            return "msgs/s";
        case Unit::Microseconds:
            return "us";
        case Unit::Milliseconds:
            return "ms";
        case Unit::PercentOfCore:
            return "percent of a core";
    }
    return "";
}

// The summary's lines, and the same figures as JSON entries.
class Summary {
public:
    // Starts a line on our figure `ours`; `oursText` shows it.
    void begin(const char* label, double ours, Unit unit, const std::string& oursText) {
        m_line = pad(label) + "ours " + oursText;
        m_ours = ours;
        m_unit = unit;
    }

    // Compares ours with a peer's figure; `target` (0: none) bounds ours / peer from below, or
    // with `atMost` from above.
    void against(const char* key, const char* peer, double value, double target = 0,
                 bool atMost = false) {
        const double ratio = value > 0 ? m_ours / value : 0;
        char text[160];
        std::snprintf(text, sizeof text, " | %s %s (%.2fx", peer, show(value, m_unit).c_str(),
                      ratio);
        m_line += text;
        Entry entry{key, m_ours, value, ratio, target, atMost, false, m_unit};
        if (target > 0) {
            entry.ok = atMost ? ratio <= target : ratio >= target;
            std::snprintf(text, sizeof text, ", target %s %.1f) %s", atMost ? "<=" : ">=", target,
                          verdict(entry.ok));
            m_line += text;
        } else {
            m_line += ")";
        }
        m_entries.push_back(entry);
    }

    // Holds ours against a figure in its own unit, at least `target`.
    void atLeast(const char* key, double target) {
        Entry entry{key, m_ours, 0, 0, target, false, m_ours >= target, m_unit};
        entry.absolute = true;
        m_line += " (target >= " + show(target, m_unit) + ") " + verdict(entry.ok);
        m_entries.push_back(entry);
    }

    // Holds ours against a figure in its own unit, at most `target`.
    void atMost(const char* key, double target) {
        Entry entry{key, m_ours, 0, 0, target, true, m_ours <= target, m_unit};
        entry.absolute = true;
        m_line += " (target < " + show(target, m_unit) + ") " + verdict(entry.ok);
        m_entries.push_back(entry);
    }

    // Says that the peer's benchmark failed.
    void peerFailed(const char* peer, const Reported& reported) {
        m_line += std::string(" | ") + peer + " failed: " + reported.error;
    }

    void note(const std::string& text) { m_line += text; }

    // Ends the line.
    void end() { m_lines.push_back(m_line); }

    // A line on its own: `label`, then `text`.
    void line(const char* label, const std::string& text) { m_lines.push_back(pad(label) + text); }

    // A JSON entry without a target: ours beside `peer`.
    void figure(const char* key, double ours, double peer, Unit unit) {
        m_entries.push_back({key, ours, peer, peer > 0 ? ours / peer : 0, 0, false, false, unit});
    }

    bool empty() const { return m_lines.empty(); }

    void print(std::FILE* out) const {
        std::fprintf(out, "\nSummary (steady state; ratio = ours / peer):\n");
        for (const std::string& line : m_lines)
            std::fprintf(out, "  %s\n", line.c_str());
        int targets = 0;
        int met = 0;
        for (const Entry& entry : m_entries) {
            if (entry.target > 0) {
                ++targets;
                met += entry.ok ? 1 : 0;
            }
        }
        std::fprintf(out, "  targets met: %d of %d\n", met, targets);
        std::fflush(out);
    }

    // Writes {key: {ours, peer, ratio, target, ok, unit, compare}} to `path`; false if it could
    // not.
    bool writeJson(const std::string& path) const {
        std::FILE* out = std::fopen(path.c_str(), "w");
        if (!out)
            return false;
        std::fprintf(out, "{");
        for (std::size_t i = 0; i < m_entries.size(); ++i) {
            const Entry& e = m_entries[i];
            std::fprintf(out, "%s\n  \"%s\": {\"ours\": %.6g, \"peer\": ", i ? "," : "",
                         e.key.c_str(), e.ours);
            number(out, !e.absolute, e.peer);
            std::fprintf(out, ", \"ratio\": ");
            number(out, !e.absolute && e.peer > 0, e.ratio);
            std::fprintf(out, ", \"target\": ");
            number(out, e.target > 0, e.target);
            std::fprintf(out, ", \"ok\": %s, \"unit\": \"%s\", \"compare\": \"%s\"}",
                         e.target > 0 ? (e.ok ? "true" : "false") : "null", unitName(e.unit),
                         e.target > 0
                             ? (e.absolute ? (e.atMost ? "ours <= target" : "ours >= target")
                                : e.atMost ? "ratio <= target"
                                           : "ratio >= target")
                             : "none");
        }
        std::fprintf(out, "\n}\n");
        return std::fclose(out) == 0;
    }

private:
    struct Entry {
        std::string key;
        double ours;
        double peer;
        double ratio;
        double target;  // 0: none
        bool atMost;
        bool ok;
        Unit unit;
        bool absolute = false;  // target is a figure in `unit`, not a ratio; no peer
    };

    static std::string pad(const char* label) {
        std::string text = label;
        text.resize(std::max<std::size_t>(text.size() + 1, 24), ' ');
        return text;
    }
    static const char* verdict(bool ok) { return ok ? "ok" : "MISSED"; }
    static void number(std::FILE* out, bool present, double value) {
        if (present)
            std::fprintf(out, "%.6g", value);
        else
            std::fprintf(out, "null");
    }

    std::string m_line;
    double m_ours = 0;
    Unit m_unit = Unit::BytesPerSecond;
    std::vector<std::string> m_lines;
    std::vector<Entry> m_entries;
};

// A peer's benchmark function beside one of ours, under the JSON name `key`, printed as `name`;
// `target` (0: none) bounds ours / theirs from below, or with `atMost` from above.
struct PeerFigure {
    const char* function;
    const char* key;
    const char* name;
    double target;
    bool atMost;
};

// Starts the line of our benchmark function `ours`, its figure taken from `counter`. Returns false
// if the line has nothing more to take: ours did not run, or it failed (which the line then says).
bool beginLine(Summary& summary, const FigureCollector& figures, const char* label,
               const char* ours, const char* counter, Unit unit) {
    const Reported* reported = figures.find(ours);
    if (!reported)
        return false;
    if (reported->failed) {
        summary.line(label, "failed: " + reported->error);
        return false;
    }
    const double value = reported->counter(counter);
    summary.begin(label, value, unit, show(value, unit));
    return true;
}

// Adds to the current line a comparison with each peer that ran, its figure from `counter`.
void addPeers(Summary& summary, const FigureCollector& figures, const char* counter,
              std::initializer_list<PeerFigure> peers) {
    for (const PeerFigure& peer : peers) {
        const Reported* theirs = figures.find(peer.function);
        if (!theirs)
            continue;
        if (theirs->failed)
            summary.peerFailed(peer.name, *theirs);
        else
            summary.against(peer.key, peer.name, theirs->counter(counter), peer.target,
                            peer.atMost);
    }
}

Summary buildSummary(const FigureCollector& figures, const ChannelSession* session) {
    Summary summary;
    if (const Reported* memcpy = figures.find(kMemcpyName)) {
        if (memcpy->failed) {
            summary.line("memcpy 64 MiB", "failed: " + memcpy->error);
        } else {
            const double fastest = memcpy->counter("fastest");
            summary.line("memcpy 64 MiB", "fastest copy " + show(fastest, Unit::BytesPerSecond) +
                                              ", two-copy bound " +
                                              show(fastest / 2, Unit::BytesPerSecond));
        }
    }

    const char* bytesRate = "bytes_per_second";
    double steadyBulk = 0;
    if (beginLine(summary, figures, "bulk 64 MiB", kBulkName, bytesRate, Unit::BytesPerSecond)) {
        const Reported& bulk = *figures.find(kBulkName);
        steadyBulk = bulk.counter(bytesRate);
        summary.against("bulk_64mib_vs_two_copy_bound", "two-copy bound",
                        bulk.counter("two_copy_bound"), kBulkVsBoundTarget);
        addPeers(summary, figures, bytesRate,
                 {{kBulkSocketName, "bulk_64mib_vs_unix_socket", "unix socket", kBulkVsSocketTarget,
                   false},
                  {kBulkQueueName, "bulk_64mib_vs_boost_queue", "boost message_queue", 0, false}});
        summary.end();
    }

    if (session && session->firstBulkSeconds() > 0) {
        const double seconds = session->firstBulkSeconds();
        const double rate = double(kBulkBytes) / seconds;
        summary.begin("first 64 MiB message", rate, Unit::BytesPerSecond,
                      show(rate, Unit::BytesPerSecond) + " (" +
                          show(seconds * 1e3, Unit::Milliseconds) +
                          "), measured once right after start-up");
        if (steadyBulk > 0)
            summary.against("first_bulk_64mib_vs_steady_state", "steady state", steadyBulk);
        else
            summary.figure("first_bulk_64mib", rate, 0, Unit::BytesPerSecond);
        summary.end();
    }

    const char* itemRate = "items_per_second";
    if (beginLine(summary, figures, "64 B sync flood", kSyncName, itemRate,
                  Unit::MessagesPerSecond)) {
        addPeers(summary, figures, itemRate,
                 {{kSmallQueueName, "small_64_sync_vs_boost_queue", "boost message_queue",
                   kSyncVsQueueTarget, false},
                  {kSmallSocketName, "small_64_sync_vs_unix_socket", "unix socket", 0, false}});
        summary.end();
    }
    if (beginLine(summary, figures, "64 B async flood", kAsyncName, itemRate,
                  Unit::MessagesPerSecond)) {
        summary.atLeast("small_64_async_rate", kAsyncRateTarget);
        addPeers(summary, figures, itemRate,
                 {{kSmallQueueName, "small_64_async_vs_boost_queue", "boost message_queue",
                   kAsyncVsQueueTarget, false}});
        summary.end();
    }
    if (beginLine(summary, figures, "64 B round trip median", kRoundTripName, "median_us",
                  Unit::Microseconds)) {
        addPeers(summary, figures, "median_us",
                 {{kRoundTripSocketName, "round_trip_64_vs_unix_socket", "unix socket ping-pong",
                   kRoundTripVsSocketTarget, true}});
        summary.end();
    }
    if (beginLine(summary, figures, "idle channel, 10 s", kIdleName, "cpu_percent",
                  Unit::PercentOfCore)) {
        summary.atMost("idle_cpu_percent", kIdleTarget);
        summary.end();
    }
    return summary;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--peer") == 0)
        return runPeer(std::atol(argv[2]));
    if (argc == 3 && std::strcmp(argv[1], "--queue-peer") == 0)
        return runQueuePeer(qint32(std::atol(argv[2])));
    if (argc == 3 && std::strcmp(argv[1], "--socket-peer") == 0)
        return runSocketPeer(std::atoi(argv[2]));

    // Our own option, taken out before the library reads the rest.
    std::string summaryJson;
    int kept = 1;
    for (int i = 1; i < argc; ++i) {
        constexpr char kJsonFlag[] = "--summary_json=";
        if (std::strncmp(argv[i], kJsonFlag, sizeof kJsonFlag - 1) == 0)
            summaryJson = argv[i] + sizeof kJsonFlag - 1;
        else
            argv[kept++] = argv[i];
    }
    argc = kept;
    argv[argc] = nullptr;

    auto source = std::make_unique<char[]>(kBulkBytes);
    auto target = std::make_unique<char[]>(kBulkBytes);
    g_source = source.get();
    g_target = target.get();
    for (std::size_t i = 0; i < kBulkBytes; i += 4096)
        g_source[i] = char(i >> 12);

    registerBenchmarks();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    // Positive, apart from the ids the tests use, and distinct for concurrent runs.
    g_queueId = 0x30000000 + static_cast<qint32>(::getpid() % 0x400000) * 16;
    cleanUpOnInterrupt(g_queueId);
    FigureCollector figures;
    benchmark::RunSpecifiedBenchmarks(&figures);
    benchmark::Shutdown();
    const Summary summary = buildSummary(figures, g_channel.get());
    if (!summary.empty())
        summary.print(figures.console() ? stdout : stderr);
    bool ok = true;
    if (!summaryJson.empty() && !summary.writeJson(summaryJson)) {
        std::fprintf(stderr, "channel_bench: could not write %s\n", summaryJson.c_str());
        ok = false;
    }

    // A session that broke (its start included) fails the run, and so does a peer that does not
    // end cleanly.
    const auto stop = [&ok](auto& session) {
        if (session) {
            const bool broken = session->broken();
            ok = session->stop() && !broken && ok;
        }
    };
    stop(g_channel);
    stop(g_queues);
    stop(g_socket);
    return ok ? 0 : 1;
}
