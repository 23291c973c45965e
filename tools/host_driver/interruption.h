// Trouble for the render window in the middle of an export, as a host meets it: the render window
// killed, or stopped for a while, at half of the walk; and the host's way back to a view.
#pragma once

#include <QString>

#include <memory>

#include "tools/host_driver/log_follower.h"
#include "tools/host_driver/plugin_library.h"

namespace xel::platform {
class ProcessWatch;
}

namespace orvanta::tools {

// The render windows the log says were started ("started <arguments> pid=<pid>"), in order.
QList<qint64> startedRenderWindows(const QStringList& lines);

// Has the log's waits end when the render window last started ends. False when none started yet.
bool followRenderWindow(const LogFollower& log);

class Interruption {
public:
    enum class Kind { None, Kill, Stop };

    // `kind` "kill" or "stop" (see the driver's --interrupt), else None. `log` is the render
    // window's log, which names its process.
    static Kind kindOf(const QString& text, bool* known);
    Interruption(Kind kind, const LogFollower& log);
    ~Interruption();

    bool active() const { return m_kind != Kind::None; }
    // The walk's progress: at half of it, kills or stops the render window, once. Host thread.
    void onProgress(int percent);
    // After the walk: a stopped render window runs again; for a killed one, waits for its end and
    // has the plug-in start a new one (obrRestartRender) until one is started, within
    // `deadlineMs`. False, with a line saying why, if that did not happen. Host thread.
    bool recover(const PluginLibrary& plugin, int deadlineMs);
    // Whether the render window was interrupted.
    bool happened() const { return m_watch != nullptr; }

private:
    Kind m_kind;
    const LogFollower& m_log;
    std::unique_ptr<xel::platform::ProcessWatch> m_watch;
};

}  // namespace orvanta::tools
