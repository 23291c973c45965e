// Where the plug-in finds and keeps its files.
#pragma once

#include <QByteArray>
#include <QString>

class QSettings;

namespace orvanta {

// The session folder, UTF-8: the last standard temporary location, "/", this process's id in
// decimal. Computed only; the folder is not made here.
QByteArray sessionFolderPath();

// The content library folder: the setting "RenderContentsPath" when it names an existing folder,
// taken as it is; otherwise "Zelquin Render 4 Library/content_library" in the public documents
// folder. Reads the store, never writes it.
QString resolveContentLibraryFolder(const QSettings& settings);

// The render-window program in `pluginFolder`, with the system's executable suffix.
QString renderWindowProgram(const QString& pluginFolder);

}  // namespace orvanta
