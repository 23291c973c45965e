#include "plugin/lifecycle/app_settings.h"

#include <QDebug>
#include <QSettings>
#include <QThread>

#include <cstdint>

#include "plugin/lifecycle/plugin_state.h"

namespace orvanta {

QSettings& openAppSettings() {
    PluginState& state = pluginState();
    if (!state.appSettings)
        state.appSettings =
            new QSettings(QStringLiteral("Plimsor"), QStringLiteral("Orvanta Render"));
    return *state.appSettings;
}

int appSettingAsInt(const QString& key) {
    const QSettings* settings = pluginState().appSettings;
    return settings ? settings->value(key).toInt() : 0;
}

bool appSettingExists(const QString& key) {
    const QSettings* settings = pluginState().appSettings;
    return settings && settings->contains(key);
}

void setAppSetting(const QString& key, const QVariant& value) {
    QSettings* settings = pluginState().appSettings;
    if (!settings || !settings->isWritable())
        return;
    settings->setValue(key, value);
    settings->sync();
}

void appendLog(const QString& message) {
    const auto threadId = static_cast<std::int32_t>(
        static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(QThread::currentThreadId())));
    // One pass over the pattern, so that a "%2" inside the message stays as it is.
    qDebug() << QStringLiteral("%1 - ThreadId: %2").arg(message, QString::number(threadId));
}

void appendRefusal(xel::RefusalCount& count, const char* exportName, const QString& why) {
    if (const std::uint64_t refused = count.add())
        appendLog(QStringLiteral("%1 refused: %2 (%3 refused so far)")
                      .arg(QString::fromUtf8(exportName), why, QString::number(refused)));
}

void ignoreCall() {}

}  // namespace orvanta
