// Runs the message channel between two real processes: this program starts a copy of itself as the
// peer, sends it a few thousand messages of mixed sizes (one larger than a whole segment), and
// prints what arrived and how fast. Exit code 0 when every message arrived whole and in order.
//
//   xel_channel_demo [MESSAGE_COUNT]
//   xel_channel_demo --peer QUEUE_ID     (the peer; started by the program itself)
#include <QCoreApplication>
#include <QProcess>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tools/common/channel_end.h"

namespace {

constexpr std::uint64_t kSegmentBytes = 671088640;

using orvanta::tools::ChannelEnd;

int runPeer(long queueId) {
    ChannelEnd end(queueId, true);
    end.run();
    return end.servePeer(300);
}

int runDemo(const QString& self, int messageCount) {
    ChannelEnd end(0, true);
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

    std::uint64_t digest = ChannelEnd::kDigestStart;
    std::uint64_t bytes = 0;
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i <= messageCount; ++i) {
        const std::size_t size = i == messageCount ? hugeSize : sizes[i % 5];
        std::uint64_t saved;
        std::memcpy(&saved, buffer.data(), 8);
        end.writeSize(buffer.data(), static_cast<std::uint64_t>(i));  // the sequence number
        end.sendMessage("data", buffer.data(), static_cast<long>(size));
        digest = ChannelEnd::mix(digest, buffer.data(), size);
        std::memcpy(buffer.data(), &saved, 8);
        bytes += size;
    }
    end.sendWords("done", {});
    auto [type, report] = end.next(300);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (type != "report") {
        std::fprintf(stderr, "no report from the peer (%s)\n", type.c_str());
        return 1;
    }
    const std::uint64_t count = ChannelEnd::word(report, 0);
    const bool whole =
        ChannelEnd::word(report, 1) == bytes && ChannelEnd::word(report, 2) == digest;
    const bool inOrder = ChannelEnd::word(report, 3) == 1;
    std::printf("sent     %d messages, %.1f MiB, the largest %zu bytes\n", messageCount + 1,
                bytes / 1048576.0, hugeSize);
    std::printf("arrived  %llu messages, %.1f MiB, %s, %s\n",
                static_cast<unsigned long long>(count), ChannelEnd::word(report, 1) / 1048576.0,
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
