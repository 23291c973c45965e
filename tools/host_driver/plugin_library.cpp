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
    if (!target && m_error.isEmpty())
        m_error = QStringLiteral("%1 does not export %2").arg(m_library.fileName(), name);
    return target != nullptr;
}

template <typename Visit>
void PluginLibrary::forEachExport(Visit&& visit) {
    visit(initialize, "obrInitialize");
    visit(initialized, "obrInitialized");
    visit(uninitialize, "obrUninitialize");
    visit(restartRender, "obrRestartRender");
    visit(getAppSetting, "obrGetAppSetting");
    visit(existsAppSetting, "obrExistsAppSetting");
    visit(setAppSetting, "obrSetAppSetting");
    visit(appendLog, "obrAppendLog");
    visit(checkMessages, "obrCheckMessages");
    visit(getTexturesPath, "obrGetTexturesPath");
    visit(pendingMessagesCount, "obrPendingMessagesCount");
    visit(enumerationProcessStarted, "obrEnumerationProcessStarted");
    visit(enumerationProcessCompleted, "obrEnumerationProcessCompleted");
    visit(modelEnumerationProcessStatus, "obrModelEnumerationProcessStatus");
    visit(onEnumMaterials, "obrOnEnumMaterials");
    visit(onEnumLayers, "obrOnEnumLayers");
    visit(onEnumComponentDef, "obrOnEnumComponentDef");
    visit(onEnumGroup, "obrOnEnumGroup");
    visit(onEnumInstance, "obrOnEnumInstance");
    visit(onEnumMesh, "obrOnEnumMesh");
    visit(addMeshInEntity, "obrAddMeshInEntity");
    visit(setEntityRenderId, "obrSetEntityRenderId");
    visit(setCamera, "obrSetCamera");
    visit(receiveBase64Attributes, "obrReceiveBase64Attributes");
    visit(onEnumAttributeDictionariesCallback, "obrOnEnumAttributeDictionariesCallback");
    visit(onEnumAttributesCallback, "obrOnEnumAttributesCallback");
    visit(exportMI, "obrExportMI");
    visit(onEnumHiddenEntity, "obrOnEnumHiddenEntity");
    visit(resetHiddenEntities, "obrResetHiddenEntities");
    visit(entityMessage, "obrEntityMessage");
    visit(modelMessage, "obrModelMessage");
}

bool PluginLibrary::load() {
    m_error.clear();
    if (!m_library.load()) {
        m_error = m_library.errorString();
        return false;
    }
    // Every export is looked up, so that errorString() names the first one missing.
    bool all = true;
    forEachExport([&](auto& target, const char* name) { all = resolve(target, name) && all; });
    if (!all)
        forEachExport([](auto& target, const char*) { target = nullptr; });
    return all;
}

}  // namespace orvanta::tools
