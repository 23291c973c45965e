// Shared pieces of the end-to-end tests: the plug-in side and the real render-window program in
// two processes, met through the render window's log.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdint>

#include "tests/support/scoped_variable.h"
#include "tools/common/render_log_texts.h"
#include "tools/host_driver/log_follower.h"

namespace orvanta::e2e {

using tools::LogFollower;
// The render window's log lines the tests wait on.
using tools::kClosedLine;
using tools::kDigestLinePrefix;
using tools::kExportedLinePrefix;
using tools::kPluginReadyLine;
using tools::kSentExitLine;
using tools::kStartedLinePrefix;

// How long one step of the render window may take: a process started from scratch, maybe under
// a sanitizer, on a busy machine. Waits end as soon as their event arrives.
constexpr int kStepDeadlineMs = 120000;

// The process's QCoreApplication, made on first use: waiting on a log needs an event loop. Main
// thread.
void ensureApplication();

// From the render window's first line, "started <four arguments> pid=<pid>": its process id (0
// when the line is missing) and its arguments, split at spaces (the tests' paths hold none).
std::int64_t renderWindowPid(const LogFollower& log);
QStringList renderWindowArguments(const LogFollower& log);

// Prints the render window's log, for the diagnosis of a failed test.
void printLog(const LogFollower& log);

// The number of threads of this process now, -1 if the system does not tell.
int threadCount();

using xel::test::ScopedVariable;

}  // namespace orvanta::e2e
