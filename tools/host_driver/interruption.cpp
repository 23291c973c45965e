#include "tools/host_driver/interruption.h"

#include <QRegularExpression>

#include "platform/process_watch.h"
#include "tools/common/render_log_texts.h"
#include "tools/host_driver/console.h"

namespace orvanta::tools {

QList<qint64> startedRenderWindows(const QStringList& lines) {
    static const QRegularExpression startLine(startedLinePattern());
    QList<qint64> pids;
    for (const QString& line : lines) {
        const QRegularExpressionMatch match = startLine.match(line);
        if (match.hasMatch())
            pids << match.captured(2).toLongLong();
    }
    return pids;
}

bool followRenderWindow(const LogFollower& log) {
    const QList<qint64> pids = startedRenderWindows(log.lines());
    if (pids.isEmpty())
        return false;
    log.endWaitsWith(std::make_shared<const xel::platform::ProcessWatch>(pids.last()));
    return true;
}

Interruption::Kind Interruption::kindOf(const QString& text, bool* known) {
    *known = true;
    if (text.isEmpty())
        return Kind::None;
    if (text == QLatin1String("kill"))
        return Kind::Kill;
    if (text == QLatin1String("stop"))
        return Kind::Stop;
    *known = false;
    return Kind::None;
}

Interruption::Interruption(Kind kind, const LogFollower& log) : m_kind(kind), m_log(log) {}

Interruption::~Interruption() {
    if (m_watch && m_kind == Kind::Stop)
        m_watch->resume();  // never left stopped
}

void Interruption::onProgress(int percent) {
    if (m_kind == Kind::None || m_watch || percent < 50)
        return;
    const QList<qint64> pids = startedRenderWindows(m_log.lines());
    if (pids.isEmpty())
        return;
    m_log.endWaitsWith(nullptr);  // its end is no news now
    m_watch = std::make_unique<xel::platform::ProcessWatch>(pids.last());
    if (m_kind == Kind::Kill) {
        step("host: killing the render window (pid %lld) at %d%% of the walk",
             static_cast<long long>(pids.last()), percent);
        m_watch->terminate();
    } else {
        step("host: stopping the render window (pid %lld) at %d%% of the walk",
             static_cast<long long>(pids.last()), percent);
        m_watch->suspend();
    }
}

bool Interruption::recover(const PluginLibrary& plugin, int deadlineMs) {
    if (!m_watch) {
        say("host: FAILED: the render window was not interrupted (no walk reached half)");
        return false;
    }
    if (m_kind == Kind::Stop) {
        step("host: the render window runs again");
        m_watch->resume();
        return true;
    }
    m_watch->waitForEnd();
    const int before = startedRenderWindows(m_log.lines()).size();
    const auto restarted = [&](const QStringList& lines) {
        return startedRenderWindows(lines).size() > before;
    };
    // The plug-in notices the end on a thread of its own; until it has, a restart is a redraw:
    // asked again in slices until a new render window is started.
    say("host: obrRestartRender() until a new render window starts");
    constexpr int kSliceMs = 200;
    for (int waited = 0; waited < deadlineMs; waited += kSliceMs) {
        plugin.restartRender();
        if (m_log.waitUntil(restarted, kSliceMs))
            return followRenderWindow(m_log);
    }
    say("host: FAILED: no new render window within %d s", deadlineMs / 1000);
    return false;
}

}  // namespace orvanta::tools
