// The render window's event log: one line per event, for whoever started the program.
#pragma once

#include <QFile>
#include <QString>

#include <mutex>

namespace orvanta::render_window {

// Appends lines to the file named by the environment variable ORVANTA_RENDER_LOG, each written
// and flushed whole, so a reader in another process never sees half a line once it has seen its
// line end. With the variable unset or the file not openable, lines go nowhere. Any thread.
class RenderLog {
public:
    static constexpr char kVariable[] = "ORVANTA_RENDER_LOG";

    RenderLog();
    RenderLog(const RenderLog&) = delete;
    RenderLog& operator=(const RenderLog&) = delete;

    // `text` must hold no line break.
    void line(const QString& text);

private:
    std::mutex m_mutex;
    QFile m_file;  // under m_mutex
};

}  // namespace orvanta::render_window
