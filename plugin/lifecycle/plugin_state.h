// The plug-in's process-global state: one plug-in per host process, one render link sender, one
// render window.
#pragma once

#include <QtCore/qnamespace.h>
#include <QByteArray>
#include <QString>

#include <atomic>
#include <cstdint>

#include "OrvantaForSketchup.h"

class QSettings;
class XelRemoteRenderSender;

namespace orvanta {

// The host's functions handed over at start-up; the host owns them, any may be null.
struct HostCallbacks {
    ObrHostSetEntityAttribute setEntityAttribute = nullptr;
    ObrHostEnumEntityContent enumEntityContent = nullptr;
    ObrHostEnumEntityAttributes enumEntityAttributes = nullptr;
    ObrHostExportTexture exportTexture = nullptr;
    ObrHostDestroyPointer destroyPointer = nullptr;
};

// Written by start-up on the host thread, and afterwards by the exports, all on the host thread.
// The render link's reader thread reads `host` and `hostThreadId` only: start-up writes both
// before it creates the sender, whose construction starts that thread, and nothing writes them
// again.
struct PluginState {
    // The folder of the plug-in library and of the render-window program.
    QString pluginFolder;
    // Native window handles: the host's main window, and the window that may hold the render
    // window.
    std::int64_t mainWindowHandle = 0;
    std::int64_t parentWindowHandle = 0;
    HostCallbacks host;
    // The thread that ran start-up; null before.
    Qt::HANDLE hostThreadId = nullptr;
    // The settings store: null before start-up, then owned here and never destroyed.
    QSettings* appSettings = nullptr;
    // The per-process session folder, UTF-8: the render link's session path.
    QByteArray sessionFolder;
    // The content library folder; change it only through setContentLibraryFolder().
    QString contentLibraryFolder;
    QByteArray contentLibraryFolderUtf8;
    // The one sender: null before start-up, then owned here and never deleted. Any thread.
    std::atomic<XelRemoteRenderSender*> sender{nullptr};
    // What the host last said about its application being paused; nothing depends on it.
    bool applicationPaused = false;
};

// The state, made at first use and kept until the process ends (never destroyed, so the render
// link's threads may still use it while the process exits).
PluginState& pluginState();

// The sender, or null before start-up. Any thread.
XelRemoteRenderSender* renderSender();

// Sets the content library folder and its UTF-8 copy together. Host thread.
void setContentLibraryFolder(const QString& folder);

}  // namespace orvanta
