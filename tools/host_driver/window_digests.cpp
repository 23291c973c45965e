#include "tools/host_driver/window_digests.h"

#include "tools/common/render_log_texts.h"
#include "tools/common/scene_digest.h"

namespace orvanta::tools {

WindowDigests::WindowDigests(const LogFollower& log) : m_log(log) {}

QStringList WindowDigests::digestsIn(const QStringList& lines) {
    const QString prefix = QString::fromLatin1(kDigestLinePrefix);
    QStringList digests;
    for (const QString& line : lines) {
        if (line.startsWith(prefix))
            digests << line.mid(prefix.size());
    }
    return digests;
}

int WindowDigests::logged() const {
    return digestsIn(m_log.lines()).size();
}

std::optional<QString> WindowDigests::awaitMatching(const QString& expected, int timeoutMs) {
    const auto matchAt = [&](const QStringList& digests) {
        const int at = digests.indexOf(expected, m_taken);
        return at;
    };
    m_log.waitUntil([&](const QStringList& lines) { return matchAt(digestsIn(lines)) >= 0; },
                    timeoutMs);
    const QStringList digests = digestsIn(m_log.lines());
    const int at = matchAt(digests);
    if (at >= 0) {
        m_taken = at + 1;
        return digests[at];
    }
    if (digests.size() <= m_taken)
        return std::nullopt;
    m_taken = digests.size();
    return digests.last();
}

std::optional<QString> WindowDigests::awaitNext(int count, int timeoutMs) {
    const int wanted = m_taken + count;
    m_log.waitUntil(
        [&](const QStringList& lines) {
            return digestsIn(lines).size() >= wanted || lines.contains(QLatin1String(kClosedLine));
        },
        timeoutMs);
    const QStringList digests = digestsIn(m_log.lines());
    if (digests.size() < wanted)
        return std::nullopt;
    m_taken = wanted;
    return digests[wanted - 1];
}

}  // namespace orvanta::tools
