// orvanta_raw_channel: the bare message channel between two processes, for the host driver's
// summary to set its end-to-end figure beside. It starts a copy of itself as the peer, sends it
// COUNT messages of BYTES bytes in all (the same size each, the remainder in the last), waits until
// the peer reports that all of them arrived, and prints one line:
//
//   raw channel: <count> messages, <bytes> bytes in <seconds> s
//
//   orvanta_raw_channel COUNT BYTES
//   orvanta_raw_channel --peer QUEUE_ID   (the peer; started by the program itself)
//
// The time runs from the first message sent to the peer's report. Exit code 0 when every message
// and every byte arrived, 1 otherwise, 2 for a wrong command line.
#include <QCoreApplication>
#include <QProcess>
#include <QStringList>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "XelInterProcessMessagesManager.h"

namespace {

constexpr int kPeerStartSeconds = 60;
constexpr int kReportSeconds = 300;

// One end. Messages arrive on the channel's reader thread; the main thread waits for the control
// messages through a condition variable; "data" messages are only counted.
class RawEnd : public XelInterProcessMessagesManager, public XelInterProcessMessagesObserver {
public:
    explicit RawEnd(long queueId) : XelInterProcessMessagesManager(this, queueId) {}

    using XelInterProcessMessagesManager::popSize;
    using XelInterProcessMessagesManager::writeSize;

    void onMessage(const char* type, const void* data, long size) override {
        std::lock_guard<std::mutex> guard(m_mutex);
        if (std::strcmp(type, "data") == 0) {
            ++m_count;
            m_bytes += static_cast<std::uint64_t>(size);
            return;
        }
        const auto* bytes = static_cast<const unsigned char*>(data);
        m_control.emplace_back(type, std::vector<unsigned char>(bytes, bytes + size));
        m_changed.notify_all();
    }
    void onChannelConnected() override {}
    void onChannelDisconnected() override {}
    void onError(int code, const char* text) override {
        std::fprintf(stderr, "orvanta_raw_channel: channel error %d: %s\n", code, text);
        std::lock_guard<std::mutex> guard(m_mutex);
        m_control.emplace_back("error", std::vector<unsigned char>());
        m_changed.notify_all();
    }

    // The next control message, or "timeout".
    std::pair<std::string, std::vector<unsigned char>> next(int timeoutSeconds) {
        std::unique_lock<std::mutex> lock(m_mutex);
        if (!m_changed.wait_for(lock, std::chrono::seconds(timeoutSeconds),
                                [&] { return !m_control.empty(); }))
            return {"timeout", {}};
        auto message = std::move(m_control.front());
        m_control.pop_front();
        return message;
    }
    std::pair<std::uint64_t, std::uint64_t> totals() {
        std::lock_guard<std::mutex> guard(m_mutex);
        return {m_count, m_bytes};
    }

    void sendWords(const char* type, std::initializer_list<std::uint64_t> words) {
        std::vector<unsigned char> payload(8 * words.size());
        std::size_t at = 0;
        for (std::uint64_t word : words) {
            writeSize(payload.data() + at, word);
            at += 8;
        }
        sendMessage(type, payload.data(), static_cast<long>(payload.size()));
    }
    static std::uint64_t word(std::vector<unsigned char>& payload, std::size_t index) {
        if (payload.size() < 8 * (index + 1))
            return 0;
        void* cursor = payload.data() + 8 * index;
        return popSize(cursor);
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<std::pair<std::string, std::vector<unsigned char>>> m_control;
    std::uint64_t m_count = 0;
    std::uint64_t m_bytes = 0;
};

int runPeer(long queueId) {
    RawEnd end(queueId);
    end.run();
    end.sendWords("hello", {});
    for (;;) {
        auto [type, payload] = end.next(kReportSeconds);
        if (type == "done") {
            const auto [count, bytes] = end.totals();
            end.sendWords("report", {count, bytes});
        } else if (type == "bye" || type == "timeout" || type == "error") {
            return type == "bye" ? 0 : 1;
        }
    }
}

int runSender(const QString& self, std::uint64_t count, std::uint64_t bytes) {
    RawEnd end(0);
    end.run();
    QProcess peer;
    peer.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    peer.start(self, {QStringLiteral("--peer"), QString::number(end.queueId())});
    if (!peer.waitForStarted() || end.next(kPeerStartSeconds).first != "hello") {
        std::fprintf(stderr, "orvanta_raw_channel: the peer process did not come up\n");
        peer.kill();
        peer.waitForFinished();
        return 1;
    }
    const std::uint64_t each = bytes / count;
    const std::uint64_t last = each + bytes % count;
    std::vector<unsigned char> buffer(static_cast<std::size_t>(last));
    for (std::size_t i = 0; i < buffer.size(); ++i)
        buffer[i] = static_cast<unsigned char>(i * 131 + (i >> 12));

    const auto start = std::chrono::steady_clock::now();
    for (std::uint64_t i = 0; i < count; ++i)
        end.sendMessage("data", buffer.data(), static_cast<long>(i + 1 == count ? last : each));
    end.sendWords("done", {});
    auto [type, report] = end.next(kReportSeconds);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    end.sendWords("bye", {});
    peer.waitForFinished(kPeerStartSeconds * 1000);
    if (type != "report") {
        std::fprintf(stderr, "orvanta_raw_channel: no report from the peer (%s)\n", type.c_str());
        return 1;
    }
    const std::uint64_t arrived = RawEnd::word(report, 0);
    const std::uint64_t arrivedBytes = RawEnd::word(report, 1);
    if (arrived != count || arrivedBytes != bytes) {
        std::fprintf(
            stderr, "orvanta_raw_channel: %llu messages of %llu bytes arrived, not %llu of %llu\n",
            static_cast<unsigned long long>(arrived), static_cast<unsigned long long>(arrivedBytes),
            static_cast<unsigned long long>(count), static_cast<unsigned long long>(bytes));
        return 1;
    }
    std::printf("raw channel: %llu messages, %llu bytes in %.6f s\n",
                static_cast<unsigned long long>(count), static_cast<unsigned long long>(bytes),
                seconds);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    const QStringList arguments = application.arguments();
    if (arguments.size() == 3 && arguments[1] == QLatin1String("--peer"))
        return runPeer(arguments[2].toLong());
    bool countOk = false;
    bool bytesOk = false;
    const std::uint64_t count = arguments.size() == 3 ? arguments[1].toULongLong(&countOk) : 0;
    const std::uint64_t bytes = arguments.size() == 3 ? arguments[2].toULongLong(&bytesOk) : 0;
    if (!countOk || !bytesOk || count == 0 || bytes / count > (std::uint64_t(1) << 40)) {
        std::fprintf(stderr, "usage: orvanta_raw_channel COUNT BYTES\n");
        return 2;
    }
    return runSender(application.applicationFilePath(), count, bytes);
}
