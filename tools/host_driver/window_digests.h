// The render window's scene digest lines, taken one step at a time from its log.
#pragma once

#include <QString>
#include <QStringList>

#include <optional>

#include "tools/host_driver/log_follower.h"

namespace orvanta::tools {

class WindowDigests {
public:
    // `log` must outlive this object.
    explicit WindowDigests(const LogFollower& log);

    // Waits until the log holds `count` digest lines beyond those taken so far, the render window
    // has closed, or `timeoutMs` has passed. When the lines are there, takes them and returns the
    // digest text of the last (the line without its "scene digest " start); nothing otherwise.
    // Runs the calling thread's event loop meanwhile (see LogFollower::waitUntil).
    std::optional<QString> awaitNext(int count, int timeoutMs);
    // Waits for a digest equal to `expected` among those not taken yet, up to `timeoutMs`, and
    // takes every digest up to it. Returns the last digest seen (equal or not), nothing if none
    // came. For a render window that passes through other scenes first (a resync clears it).
    std::optional<QString> awaitMatching(const QString& expected, int timeoutMs);
    // How many digest lines have been taken, and how many the log holds now.
    int taken() const { return m_taken; }
    int logged() const;

private:
    static QStringList digestsIn(const QStringList& lines);

    const LogFollower& m_log;
    int m_taken = 0;
};

}  // namespace orvanta::tools
