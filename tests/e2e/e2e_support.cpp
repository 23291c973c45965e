#include "tests/e2e/e2e_support.h"

#include <QCoreApplication>
#include <QFile>
#include <QRegularExpression>

#include <cstdio>

#include "tools/common/render_log_texts.h"

namespace orvanta::e2e {
namespace {

// "started <arguments> pid=<pid>": the arguments, then the id.
QRegularExpressionMatch matchStartLine(const LogFollower& log) {
    static const QRegularExpression startLine(tools::startedLinePattern());
    return startLine.match(log.findLine(QLatin1String(tools::kStartedLinePrefix)));
}

}  // namespace

void ensureApplication() {
    static int argc = 1;
    static char name[] = "orvanta_e2e_tests";
    static char* argv[] = {name, nullptr};
    if (!QCoreApplication::instance())
        new QCoreApplication(argc, argv);  // kept until the process ends
}

std::int64_t renderWindowPid(const LogFollower& log) {
    const QRegularExpressionMatch match = matchStartLine(log);
    return match.hasMatch() ? match.captured(2).toLongLong() : 0;
}

QStringList renderWindowArguments(const LogFollower& log) {
    const QRegularExpressionMatch match = matchStartLine(log);
    return match.hasMatch() ? match.captured(1).split(QLatin1Char(' ')) : QStringList();
}

void printLog(const LogFollower& log) {
    std::printf("--- the render window's log (%s) ---\n", qUtf8Printable(log.path()));
    for (const QString& line : log.lines())
        std::printf("  %s\n", qUtf8Printable(line));
    std::fflush(stdout);
}

int threadCount() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly | QIODevice::Text))
        return -1;
    for (;;) {
        const QByteArray line = status.readLine();
        if (line.isEmpty())
            return -1;
        if (line.startsWith("Threads:")) {
            bool ok = false;
            const int count = line.mid(8).trimmed().toInt(&ok);
            return ok ? count : -1;
        }
    }
}

}  // namespace orvanta::e2e
