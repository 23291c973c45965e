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
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "tools/common/channel_end.h"

namespace {

constexpr int kPeerStartSeconds = 60;
constexpr int kReportSeconds = 300;

using orvanta::tools::ChannelEnd;

int runPeer(long queueId) {
    ChannelEnd end(queueId, false);
    end.run();
    return end.servePeer(kReportSeconds);
}

int runSender(const QString& self, std::uint64_t count, std::uint64_t bytes) {
    ChannelEnd end(0, false);
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
    const std::uint64_t arrived = ChannelEnd::word(report, 0);
    const std::uint64_t arrivedBytes = ChannelEnd::word(report, 1);
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
