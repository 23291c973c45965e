// The host driver's closing summary: what the session sent, how fast, and whether both sides
// agree, in a few lines. Plain data in, text out; the driver gathers the figures from its own
// measurements and from the render window's log.
#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>
#include <vector>

namespace orvanta::tools {

// Messages of one type: how many, and their payload bytes in all.
struct MessageCount {
    QString type;
    std::int64_t count = 0;
    std::int64_t bytes = 0;

    bool operator==(const MessageCount& other) const {
        return type == other.type && count == other.count && bytes == other.bytes;
    }
};

// One comparison of the two sides' scene digests.
struct DigestPair {
    QString step;    // "export", "hide", ...
    QString host;    // the host model's digest
    QString window;  // the render window's; empty when none came
    bool agree() const { return !window.isEmpty() && host == window; }
};

struct SessionSummary {
    QString modelTitle;
    QString modelSource;  // "built-in", "generated", or the file's path
    std::int64_t triangles = 0;
    int meshes = 0;
    int materials = 0;
    int definitions = 0;
    int groups = 0;
    int instances = 0;

    // What the render window counted as received, every message of the session by type (its
    // "messages received" line); empty when it logged none.
    std::vector<MessageCount> received;
    // The model's export: the messages of its enumeration bracket, as the render window held them.
    std::int64_t exportMessages = 0;
    std::int64_t exportBytes = 0;
    // The host's export calls, and the start of the enumeration to the render window's digest of
    // the scene; nothing when not measured.
    std::optional<double> hostExportSeconds;
    std::optional<double> endToEndSeconds;
    // The bare channel between two processes carrying as many messages of the same bytes.
    std::optional<double> rawChannelSeconds;
    QString rawChannelFailure;  // why there is no raw figure, when it was tried

    std::vector<DigestPair> digests;
    bool ok = false;
    QString failure;  // the first failure, when not ok
    QString logPath;
    QString picturePath;  // empty: none exported
};

// The render window's "messages received ..." line read back: "type=count/bytes" items; nothing
// for a line that is not one.
std::optional<std::vector<MessageCount>> parseReceivedMessages(const QString& line);
// The render window's line for `received`, as the driver reads it: "messages received " and the
// items in type order.
QString receivedMessagesLine(const std::vector<MessageCount>& received);
// The messages the render window held in the first enumeration bracket of `lines` (its log):
// those of the model's export, summed from the "held <type> (<n> bytes)" lines; when a bracket
// opens before it closes (a render window killed in the middle), the later one. Zero counts when
// the bracket is missing or still open.
MessageCount exportedStream(const QStringList& lines);

// The summary's lines: the model, the messages by type (the largest first, with a total), the
// timings beside the raw channel's, both sides' digests of the last step (and how many steps
// agreed), the verdict, the picture and the log file. No line ends.
QStringList summaryLines(const SessionSummary& summary);

// "1.2 kB", "3.4 MB": bytes in SI units, three significant figures.
QString readableBytes(double bytes);

// "1 mesh", "2 meshes": the count with the noun that fits it.
QString plural(std::int64_t count, const char* one, const char* many);

}  // namespace orvanta::tools
