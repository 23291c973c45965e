// Where the plug-in finds and keeps its files.
#pragma once

#include <QByteArray>
#include <QString>

class QSettings;

namespace orvanta {

// The folder the session folder goes in: $XDG_RUNTIME_DIR when it names an existing folder by an
// absolute path, else the last standard temporary location. Reads the environment on every call.
QString sessionFolderParent();

// The foreseeable session folder, UTF-8: sessionFolderParent(), "/", this process's id in decimal.
// Computed only; the folder is not made here.
QByteArray sessionFolderPath();

// Makes the session folder, private to the calling user (xel::platform::makePrivateFolder()), and
// answers the folder made, UTF-8. That is sessionFolderPath() when it was missing or is such a
// folder already; anything else there (a link, a file, another user's folder, a folder others may
// use) is left alone, and a new folder of an unforeseeable name in sessionFolderParent(), starting
// with the process id and "-", is made instead, with one log line saying so. Empty when no folder
// could be made. Makes sessionFolderParent() first when it is missing. Host thread.
QByteArray makeSessionFolder();

// The content library folder: the setting "RenderContentsPath" when it names an existing folder,
// taken as it is; otherwise "Zelquin Render 4 Library/content_library" in the public documents
// folder. Reads the store, never writes it.
QString resolveContentLibraryFolder(const QSettings& settings);

// The render-window program in `pluginFolder`, with the system's executable suffix.
QString renderWindowProgram(const QString& pluginFolder);

}  // namespace orvanta
