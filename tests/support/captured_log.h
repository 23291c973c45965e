// Test support: the process's Qt message stream (the plug-in's log, the render link's warnings)
// while an object lives.
#pragma once

#include <QStringList>
#include <QtGlobal>

namespace xel::test {

// Collects every message of the process's message stream instead of printing it, from
// construction to destruction; one at a time per process. Messages from any thread.
class CapturedLog {
public:
    CapturedLog();
    ~CapturedLog();
    CapturedLog(const CapturedLog&) = delete;
    CapturedLog& operator=(const CapturedLog&) = delete;

    QStringList lines() const;
    // The lines that contain `text`.
    QStringList linesWith(const QString& text) const;

private:
    QtMessageHandler m_previous;
};

}  // namespace xel::test
