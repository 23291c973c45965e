#include "tests/support/captured_log.h"

#include <mutex>

namespace xel::test {
namespace {

std::mutex s_mutex;
QStringList s_lines;  // under s_mutex

void capture(QtMsgType, const QMessageLogContext&, const QString& message) {
    std::lock_guard<std::mutex> guard(s_mutex);
    s_lines << message;
}

}  // namespace

CapturedLog::CapturedLog() {
    {
        std::lock_guard<std::mutex> guard(s_mutex);
        s_lines.clear();
    }
    m_previous = qInstallMessageHandler(capture);
}

CapturedLog::~CapturedLog() {
    qInstallMessageHandler(m_previous);
}

QStringList CapturedLog::lines() const {
    std::lock_guard<std::mutex> guard(s_mutex);
    return s_lines;
}

QStringList CapturedLog::linesWith(const QString& text) const {
    return lines().filter(text);
}

}  // namespace xel::test
