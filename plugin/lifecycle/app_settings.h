// The plug-in's settings store and its log.
#pragma once

#include <QString>
#include <QVariant>

#include "render_link/refusal_count.h"

class QSettings;

namespace orvanta {

// Creates the settings store (organisation "Plimsor", application "Orvanta Render", native
// format, user scope) on the first call and returns it on every call; it is never destroyed.
// Needs no application object. Host thread.
QSettings& openAppSettings();

// The settings operations of the exports: they find no store before openAppSettings() has run,
// and then answer 0 or false, or do nothing. Host thread.
//
// The value under `key` as an integer; 0 when the key is missing or its value is no number.
int appSettingAsInt(const QString& key);
bool appSettingExists(const QString& key);
// Stores `value` and writes the store through at once (the store is never destroyed, so nothing
// else would write it), but only when the store is writable; otherwise nothing happens.
void setAppSetting(const QString& key, const QVariant& value);

// Writes "<message> - ThreadId: <id>" as one debug-level message through the Qt message logger,
// quoted as the debug stream quotes texts; <id> is the calling thread's id truncated to a signed
// 32-bit integer. The process's message handler decides where it goes; nothing is kept. Any
// thread.
void appendLog(const QString& message);

// Writes "<exportName> refused: <why> (<n> refused so far)" through appendLog() for the
// first refusal `count` counts and every 1000th after it, so that a host script that keeps passing
// bad input leaves a few lines. Any thread.
void appendRefusal(xel::RefusalCount& count, const char* exportName, const QString& why);

// The shared body of the exports that have nothing to do (log clearing, model summary): the
// plug-in keeps no log buffer and no model summary. Any thread.
void ignoreCall();

}  // namespace orvanta
