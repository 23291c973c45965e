// The plug-in library as the host loads it: by path, its exports found by their undecorated
// names.
#pragma once

#include <QLibrary>
#include <QString>

#include "OrvantaForSketchup.h"

namespace orvanta::tools {

class PluginLibrary {
public:
    explicit PluginLibrary(const QString& path);
    // Leaves the library loaded: its threads and state live until the process ends.
    ~PluginLibrary() = default;
    PluginLibrary(const PluginLibrary&) = delete;
    PluginLibrary& operator=(const PluginLibrary&) = delete;

    // Loads the library and resolves every export below. On failure every pointer is null and
    // errorString() says why.
    bool load();
    QString errorString() const { return m_error; }
    // The absolute folder of the library: where the plug-in looks for the render-window program.
    QString folder() const;

    // Start-up, settings, log and requests.
    decltype(&obrInitialize) initialize = nullptr;
    decltype(&obrInitialized) initialized = nullptr;
    decltype(&obrUninitialize) uninitialize = nullptr;
    decltype(&obrRestartRender) restartRender = nullptr;
    decltype(&obrGetAppSetting) getAppSetting = nullptr;
    decltype(&obrExistsAppSetting) existsAppSetting = nullptr;
    decltype(&obrSetAppSetting) setAppSetting = nullptr;
    decltype(&obrAppendLog) appendLog = nullptr;
    decltype(&obrCheckMessages) checkMessages = nullptr;
    decltype(&obrGetTexturesPath) getTexturesPath = nullptr;
    decltype(&obrPendingMessagesCount) pendingMessagesCount = nullptr;

    // The model walk.
    decltype(&obrEnumerationProcessStarted) enumerationProcessStarted = nullptr;
    decltype(&obrEnumerationProcessCompleted) enumerationProcessCompleted = nullptr;
    decltype(&obrModelEnumerationProcessStatus) modelEnumerationProcessStatus = nullptr;
    decltype(&obrOnEnumMaterials) onEnumMaterials = nullptr;
    decltype(&obrOnEnumLayers) onEnumLayers = nullptr;
    decltype(&obrOnEnumComponentDef) onEnumComponentDef = nullptr;
    decltype(&obrOnEnumGroup) onEnumGroup = nullptr;
    decltype(&obrOnEnumInstance) onEnumInstance = nullptr;
    decltype(&obrOnEnumMesh) onEnumMesh = nullptr;
    decltype(&obrAddMeshInEntity) addMeshInEntity = nullptr;
    decltype(&obrSetEntityRenderId) setEntityRenderId = nullptr;

    // The view, the attributes and the render window's picture.
    decltype(&obrSetCamera) setCamera = nullptr;
    decltype(&obrReceiveBase64Attributes) receiveBase64Attributes = nullptr;
    decltype(&obrOnEnumAttributeDictionariesCallback) onEnumAttributeDictionariesCallback = nullptr;
    decltype(&obrOnEnumAttributesCallback) onEnumAttributesCallback = nullptr;
    decltype(&obrExportMI) exportMI = nullptr;

    // Changes after the walk.
    decltype(&obrOnEnumHiddenEntity) onEnumHiddenEntity = nullptr;
    decltype(&obrResetHiddenEntities) resetHiddenEntities = nullptr;
    decltype(&obrEntityMessage) entityMessage = nullptr;
    decltype(&obrModelMessage) modelMessage = nullptr;

private:
    // Calls visit(pointer, export name) for every pointer above.
    template <typename Visit>
    void forEachExport(Visit&& visit);
    template <typename Function>
    bool resolve(Function& target, const char* name);

    QLibrary m_library;
    QString m_error;
};

}  // namespace orvanta::tools
