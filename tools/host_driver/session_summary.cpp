#include "tools/host_driver/session_summary.h"

#include <QRegularExpression>

#include <algorithm>

namespace orvanta::tools {
namespace {

constexpr char kReceivedPrefix[] = "messages received";

// "0.42 ms", "18.3 ms", "2.51 s", "31.4 s".
QString seconds(double value) {
    if (value < 0.01)
        return QString::number(value * 1e3, 'f', 2) + QStringLiteral(" ms");
    if (value < 1)
        return QString::number(value * 1e3, 'f', 1) + QStringLiteral(" ms");
    return QString::number(value, 'f', value < 10 ? 2 : 1) + QStringLiteral(" s");
}

// "12.3 MB/s" for `bytes` in `secondsTaken`; empty when there is no time to divide by.
QString rate(double bytes, double secondsTaken) {
    if (secondsTaken <= 0)
        return QString();
    return readableBytes(bytes / secondsTaken) + QStringLiteral("/s");
}

}  // namespace

QString plural(std::int64_t count, const char* one, const char* many) {
    return QStringLiteral("%1 %2").arg(count).arg(QLatin1String(count == 1 ? one : many));
}

QString readableBytes(double bytes) {
    static const char* const units[] = {"B", "kB", "MB", "GB", "TB"};
    int unit = 0;
    while (bytes >= 999.5 && unit < 4) {
        bytes /= 1000;
        ++unit;
    }
    if (unit == 0)
        return QStringLiteral("%1 B").arg(static_cast<qint64>(bytes));
    const int decimals = bytes < 9.995 ? 2 : bytes < 99.95 ? 1 : 0;
    return QStringLiteral("%1 %2").arg(bytes, 0, 'f', decimals).arg(QLatin1String(units[unit]));
}

std::optional<std::vector<MessageCount>> parseReceivedMessages(const QString& line) {
    if (!line.startsWith(QLatin1String(kReceivedPrefix)))
        return std::nullopt;
    const QString rest = line.mid(static_cast<int>(sizeof kReceivedPrefix) - 1);
    if (!rest.isEmpty() && !rest.startsWith(QLatin1Char(' ')))
        return std::nullopt;
    static const QRegularExpression item(QStringLiteral("^(\\S+)=(\\d+)/(\\d+)$"));
    std::vector<MessageCount> counts;
    for (const QString& text : rest.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        const QRegularExpressionMatch match = item.match(text);
        if (!match.hasMatch())
            return std::nullopt;
        counts.push_back(
            {match.captured(1), match.captured(2).toLongLong(), match.captured(3).toLongLong()});
    }
    return counts;
}

QString receivedMessagesLine(const std::vector<MessageCount>& received) {
    std::vector<MessageCount> sorted = received;
    std::sort(sorted.begin(), sorted.end(),
              [](const MessageCount& a, const MessageCount& b) { return a.type < b.type; });
    QString line = QLatin1String(kReceivedPrefix);
    for (const MessageCount& count : sorted)
        line += QStringLiteral(" %1=%2/%3").arg(count.type).arg(count.count).arg(count.bytes);
    return line;
}

MessageCount exportedStream(const QStringList& lines) {
    static const QRegularExpression held(QStringLiteral("^held \\S+ \\((\\d+) bytes\\)$"));
    const int begin = lines.indexOf(QStringLiteral("onBeginTransaction name=EnumeratingScene"));
    MessageCount stream{QStringLiteral("export"), 0, 0};
    if (begin < 0)
        return stream;
    for (int i = begin + 1; i < lines.size(); ++i) {
        if (lines[i].startsWith(QLatin1String("onEndTransaction ")))
            return stream;
        // A render window killed in the bracket, and a new one that opens its own: that one.
        if (lines[i].startsWith(QLatin1String("onBeginTransaction "))) {
            stream.count = 0;
            stream.bytes = 0;
        }
        const QRegularExpressionMatch match = held.match(lines[i]);
        if (match.hasMatch()) {
            ++stream.count;
            stream.bytes += match.captured(1).toLongLong();
        }
    }
    return {QStringLiteral("export"), 0, 0};
}

QStringList summaryLines(const SessionSummary& s) {
    QStringList lines;
    lines << QStringLiteral("== summary ==");
    lines << QStringLiteral("model        \"%1\" (%2): %3, %4, %5, %6, %7, %8")
                 .arg(s.modelTitle, s.modelSource, plural(s.triangles, "triangle", "triangles"),
                      plural(s.meshes, "mesh", "meshes"),
                      plural(s.materials, "material", "materials"),
                      plural(s.definitions, "definition", "definitions"),
                      plural(s.groups, "group", "groups"),
                      plural(s.instances, "instance", "instances"));

    if (s.received.empty()) {
        lines << QStringLiteral("messages     (the render window counted none)");
    } else {
        std::vector<MessageCount> sorted = s.received;
        std::stable_sort(sorted.begin(), sorted.end(),
                         [](const MessageCount& a, const MessageCount& b) {
                             return a.bytes != b.bytes ? a.bytes > b.bytes : a.type < b.type;
                         });
        std::int64_t count = 0;
        std::int64_t bytes = 0;
        lines << QStringLiteral("messages     received by the render window, by type:");
        for (const MessageCount& m : sorted) {
            lines << QStringLiteral("  %1 %2 %3")
                         .arg(m.type, -12)
                         .arg(m.count, 8)
                         .arg(readableBytes(static_cast<double>(m.bytes)), 10);
            count += m.count;
            bytes += m.bytes;
        }
        lines << QStringLiteral("  %1 %2 %3")
                     .arg(QStringLiteral("all"), -12)
                     .arg(count, 8)
                     .arg(readableBytes(static_cast<double>(bytes)), 10);
    }

    QString exportLine = QStringLiteral("export       %1, %2")
                             .arg(plural(s.exportMessages, "message", "messages"),
                                  readableBytes(static_cast<double>(s.exportBytes)));
    if (s.hostExportSeconds)
        exportLine +=
            QStringLiteral("; the host's export calls took %1").arg(seconds(*s.hostExportSeconds));
    if (s.endToEndSeconds) {
        exportLine += QStringLiteral("; end to end (enumeration start to the window's digest) %1")
                          .arg(seconds(*s.endToEndSeconds));
        const QString speed = rate(static_cast<double>(s.exportBytes), *s.endToEndSeconds);
        if (!speed.isEmpty())
            exportLine += QStringLiteral(", %1").arg(speed);
    }
    lines << exportLine;
    if (s.rawChannelSeconds) {
        QString raw = QStringLiteral("raw channel  the same %1 and bytes between two processes: %2")
                          .arg(plural(s.exportMessages, "message", "messages"),
                               seconds(*s.rawChannelSeconds));
        const QString speed = rate(static_cast<double>(s.exportBytes), *s.rawChannelSeconds);
        if (!speed.isEmpty())
            raw += QStringLiteral(", %1").arg(speed);
        if (s.endToEndSeconds && *s.rawChannelSeconds > 0)
            raw += QStringLiteral("; end to end took %1x the raw channel's time")
                       .arg(*s.endToEndSeconds / *s.rawChannelSeconds, 0, 'f', 1);
        lines << raw;
    } else if (!s.rawChannelFailure.isEmpty()) {
        lines << QStringLiteral("raw channel  not measured: %1").arg(s.rawChannelFailure);
    }

    if (s.digests.empty()) {
        lines << QStringLiteral("digests      none compared");
    } else {
        const DigestPair& last = s.digests.back();
        const auto agreeing = std::count_if(s.digests.begin(), s.digests.end(),
                                            [](const DigestPair& pair) { return pair.agree(); });
        lines << QStringLiteral("digests      %1 of %2 steps agree; the last, after %3:")
                     .arg(agreeing)
                     .arg(s.digests.size())
                     .arg(last.step);
        lines << QStringLiteral("  host       %1").arg(last.host);
        lines << QStringLiteral("  window     %1")
                     .arg(last.window.isEmpty() ? QStringLiteral("(none)") : last.window);
    }
    if (s.ok)
        lines << QStringLiteral("verdict      OK: every step arrived and both sides agree");
    else
        lines << QStringLiteral("verdict      FAILED: %1")
                     .arg(s.failure.isEmpty() ? QStringLiteral("see the log") : s.failure);
    if (!s.picturePath.isEmpty())
        lines << QStringLiteral("picture      %1").arg(s.picturePath);
    lines << QStringLiteral("log          %1").arg(s.logPath);
    return lines;
}

}  // namespace orvanta::tools
