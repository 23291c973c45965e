// Runs the message channel between two real processes: this program starts a copy of itself as the
// peer, sends it a few thousand messages of mixed sizes (one larger than a whole segment), and
// prints what arrived and how fast. Exit code 0 when every message arrived whole and in order.
//
//   xel_channel_demo [MESSAGE_COUNT]
//   xel_channel_demo --peer QUEUE_ID     (the peer; started by the program itself)
#include <QCoreApplication>
#include <QProcess>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "XelInterProcessMessagesManager.h"

namespace {

constexpr std::uint64_t kSegmentBytes = 671088640;

// FNV-1a over 8-byte words: order-sensitive digest of the payload stream.
std::uint64_t mix(std::uint64_t h, const unsigned char* data, std::size_t size) {
    std::size_t i = 0;
    for (; i + 8 <= size; i += 8) {
        std::uint64_t word;
        std::memcpy(&word, data + i, 8);
        h = (h ^ word) * 0x100000001b3ull;
    }
    for (; i < size; ++i)
        h = (h ^ data[i]) * 0x100000001b3ull;
    return h;
}

// One end of the demo. Messages arrive on the channel's reader thread; the main thread waits for
// the few it needs through a condition variable.
class DemoEnd : public XelInterProcessMessagesManager, public XelInterProcessMessagesObserver {
public:
    explicit DemoEnd(long queueId) : XelInterProcessMessagesManager(this, queueId) {}

    using XelInterProcessMessagesManager::popSize;
    using XelInterProcessMessagesManager::writeSize;

    void onMessage(const char* type, const void* data, long size) override {
        std::lock_guard<std::mutex> guard(m_mutex);
        const auto* bytes = static_cast<const unsigned char*>(data);
        if (std::strcmp(type, "data") == 0 && size >= 8) {
            void* cursor = const_cast<void*>(data);
            m_inOrder = m_inOrder && popSize(cursor) == m_count;
            m_digest = mix(m_digest, bytes, static_cast<std::size_t>(size));
            ++m_count;
            m_bytes += static_cast<std::uint64_t>(size);
            return;
        }
        m_control.emplace_back(type, std::vector<unsigned char>(bytes, bytes + size));
        m_changed.notify_all();
    }
    void onChannelConnected() override {}
    void onChannelDisconnected() override {}
    void onError(int code, const char* text) override {
        std::fprintf(stderr, "channel error %d: %s\n", code, text);
        std::lock_guard<std::mutex> guard(m_mutex);
        m_control.emplace_back("error", std::vector<unsigned char>());
        m_changed.notify_all();
    }

    // Waits for the next control message (any type but "data").
    std::pair<std::string, std::vector<unsigned char>> next(int timeoutSeconds = 300) {
        std::unique_lock<std::mutex> lock(m_mutex);
        if (!m_changed.wait_for(lock, std::chrono::seconds(timeoutSeconds),
                                [&] { return !m_control.empty(); }))
            return {"timeout", {}};
        auto message = std::move(m_control.front());
        m_control.erase(m_control.begin());
        return message;
    }
    struct Totals {
        std::uint64_t count, bytes, digest;
        bool inOrder;
    };
    Totals totals() {
        std::lock_guard<std::mutex> guard(m_mutex);
        return {m_count, m_bytes, m_digest, m_inOrder};
    }

    void sendWords(const char* type, std::initializer_list<std::uint64_t> words) {
        std::vector<unsigned char> payload(8 * words.size());
        std::size_t at = 0;
        for (std::uint64_t w : words) {
            writeSize(payload.data() + at, w);
            at += 8;
        }
        sendMessage(type, payload.data(), static_cast<long>(payload.size()));
    }
    static std::uint64_t word(const std::vector<unsigned char>& payload, std::size_t index) {
        void* cursor = const_cast<unsigned char*>(payload.data()) + 8 * index;
        return payload.size() >= 8 * (index + 1) ? popSize(cursor) : 0;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<std::pair<std::string, std::vector<unsigned char>>> m_control;
    std::uint64_t m_count = 0;
    std::uint64_t m_bytes = 0;
    std::uint64_t m_digest = 0xcbf29ce484222325ull;
    bool m_inOrder = true;
};

int runPeer(long queueId) {
    DemoEnd end(queueId);
    end.run();
    end.sendWords("hello", {});
    for (;;) {
        auto [type, payload] = end.next();
        if (type == "done") {
            const DemoEnd::Totals t = end.totals();
            end.sendWords("report", {t.count, t.bytes, t.digest, t.inOrder ? 1u : 0u});
        } else if (type == "bye" || type == "timeout" || type == "error") {
            return type == "bye" ? 0 : 1;
        }
    }
}

int runDemo(const QString& self, int messageCount) {
    DemoEnd end(0);
    end.run();
    std::printf("channel demo: queue %ld, two segments of %llu bytes\n", end.queueId(),
                static_cast<unsigned long long>(kSegmentBytes));

    QProcess peer;
    peer.setProcessChannelMode(QProcess::ForwardedChannels);
    peer.start(self, {"--peer", QString::number(end.queueId())});
    if (!peer.waitForStarted() || end.next(60).first != "hello") {
        std::fprintf(stderr, "the peer process did not come up\n");
        return 1;
    }
    std::printf("peer process %lld attached\n", static_cast<long long>(peer.processId()));

    // Mixed sizes; the last message is larger than a whole segment and travels in chunks.
    const std::size_t sizes[] = {16, 256, 4096, 65536, 1 << 20};
    const std::size_t hugeSize = kSegmentBytes + (32u << 20);
    std::vector<unsigned char> buffer(hugeSize);
    for (std::size_t i = 0; i < buffer.size(); ++i)
        buffer[i] = static_cast<unsigned char>(i * 131 + (i >> 12));

    std::uint64_t digest = 0xcbf29ce484222325ull;
    std::uint64_t bytes = 0;
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i <= messageCount; ++i) {
        const std::size_t size = i == messageCount ? hugeSize : sizes[i % 5];
        std::uint64_t saved;
        std::memcpy(&saved, buffer.data(), 8);
        end.writeSize(buffer.data(), static_cast<std::uint64_t>(i));  // the sequence number
        end.sendMessage("data", buffer.data(), static_cast<long>(size));
        digest = mix(digest, buffer.data(), size);
        std::memcpy(buffer.data(), &saved, 8);
        bytes += size;
    }
    end.sendWords("done", {});
    auto [type, report] = end.next();
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (type != "report") {
        std::fprintf(stderr, "no report from the peer (%s)\n", type.c_str());
        return 1;
    }
    const std::uint64_t count = DemoEnd::word(report, 0);
    const bool whole = DemoEnd::word(report, 1) == bytes && DemoEnd::word(report, 2) == digest;
    const bool inOrder = DemoEnd::word(report, 3) == 1;
    std::printf("sent     %d messages, %.1f MiB, the largest %zu bytes\n", messageCount + 1,
                bytes / 1048576.0, hugeSize);
    std::printf("arrived  %llu messages, %.1f MiB, %s, %s\n",
                static_cast<unsigned long long>(count), DemoEnd::word(report, 1) / 1048576.0,
                inOrder ? "in order" : "OUT OF ORDER",
                whole ? "contents match" : "CONTENTS DIFFER");
    std::printf("elapsed  %.3f s, %.0f MiB/s, %.0f messages/s\n", seconds,
                bytes / 1048576.0 / seconds, (messageCount + 1) / seconds);
    end.sendWords("bye", {});
    peer.waitForFinished(60000);
    const bool ok = count == static_cast<std::uint64_t>(messageCount + 1) && whole && inOrder &&
                    peer.exitStatus() == QProcess::NormalExit && peer.exitCode() == 0;
    std::printf("%s\n", ok ? "OK" : "FAILED");
    return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 3 && args[1] == "--peer")
        return runPeer(args[2].toLong());
    const int count = args.size() > 1 ? args[1].toInt() : 4000;
    return runDemo(app.applicationFilePath(), count > 0 ? count : 4000);
}
