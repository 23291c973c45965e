#include "tools/render_window/render_log.h"

namespace orvanta::render_window {

RenderLog::RenderLog() {
    const QString path = qEnvironmentVariable(kVariable);
    if (path.isEmpty())
        return;
    m_file.setFileName(path);
    // Unbuffered append: every line is one write at the end of the file, also when several
    // processes share it.
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered))
        m_file.setFileName(QString());
}

void RenderLog::line(const QString& text) {
    const QByteArray bytes = text.toUtf8() + '\n';
    std::lock_guard<std::mutex> guard(m_mutex);
    if (m_file.isOpen()) {
        m_file.write(bytes);
        m_file.flush();
    }
}

}  // namespace orvanta::render_window
