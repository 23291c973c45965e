// The render window's log lines that other programs wait on: the host driver follows the log to
// pace its script, the end-to-end tests to check the render window's life. One definition for the
// render window that writes them and for everyone who reads them. Latin-1 texts; a "prefix" is the
// start of a line that goes on with the values the comment names.
#pragma once

#include <QRegularExpression>
#include <QString>

namespace orvanta::tools {

// "started <arguments> pid=<process id>": the render window's first line.
inline constexpr char kStartedLinePrefix[] = "started ";
inline constexpr char kStartedPidLabel[] = " pid=";
// The render window took the plug-in's INIT answer and is ready for the scene.
inline constexpr char kPluginReadyLine[] = "plug-in ready";
// The render window answered the plug-in's EXIT with its own.
inline constexpr char kSentExitLine[] = "sent EXIT";
// The render window's last line: its receiver is gone.
inline constexpr char kClosedLine[] = "closed";
// "exported <path>": a PNG export was written.
inline constexpr char kExportedLinePrefix[] = "exported ";
// "export failed <path>: <reason>": a PNG export was not written.
inline constexpr char kExportFailedLinePrefix[] = "export failed ";
// "scene digest <digest text>": the scene digest of what the render window holds.
inline constexpr char kDigestLinePrefix[] = "scene digest ";

// The pattern of the started line, whole: capture 1 the arguments, capture 2 the process id.
inline QString startedLinePattern() {
    return QLatin1Char('^') + QRegularExpression::escape(QLatin1String(kStartedLinePrefix)) +
           QStringLiteral("(.*)") + QRegularExpression::escape(QLatin1String(kStartedPidLabel)) +
           QStringLiteral("(\\d+)$");
}

}  // namespace orvanta::tools
