#include "tools/host_driver/plugin_library.h"

#include <QFileInfo>

namespace orvanta::tools {

PluginLibrary::PluginLibrary(const QString& path) : m_library(QFileInfo(path).absoluteFilePath()) {}

QString PluginLibrary::folder() const {
    return QFileInfo(m_library.fileName()).absolutePath();
}

template <typename Function>
bool PluginLibrary::resolve(Function& target, const char* name) {
    target = reinterpret_cast<Function>(m_library.resolve(name));
    if (!target)
        m_error = QStringLiteral("%1 does not export %2").arg(m_library.fileName(), name);
    return target != nullptr;
}

bool PluginLibrary::load() {
    if (!m_library.load()) {
        m_error = m_library.errorString();
        return false;
    }
    const bool all =
        resolve(initialize, "obrInitialize") && resolve(initialized, "obrInitialized") &&
        resolve(uninitialize, "obrUninitialize") && resolve(restartRender, "obrRestartRender") &&
        resolve(getAppSetting, "obrGetAppSetting") &&
        resolve(existsAppSetting, "obrExistsAppSetting") &&
        resolve(setAppSetting, "obrSetAppSetting") && resolve(appendLog, "obrAppendLog") &&
        resolve(checkMessages, "obrCheckMessages") &&
        resolve(pendingMessagesCount, "obrPendingMessagesCount");
    if (!all) {
        initialize = nullptr;
        initialized = nullptr;
        uninitialize = nullptr;
        restartRender = nullptr;
        getAppSetting = nullptr;
        existsAppSetting = nullptr;
        setAppSetting = nullptr;
        appendLog = nullptr;
        checkMessages = nullptr;
        pendingMessagesCount = nullptr;
    }
    return all;
}

}  // namespace orvanta::tools
