#include "plugin/lifecycle/plugin_folders.h"

#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
#include <QStringList>

#include <string>

#include "platform/known_folders.h"
#include "platform/process.h"

namespace orvanta {

QByteArray sessionFolderPath() {
    const QStringList temporary = QStandardPaths::standardLocations(QStandardPaths::TempLocation);
    const QString base = temporary.isEmpty() ? QString() : temporary.last();
    return base.toUtf8() + '/' +
           QByteArray::number(static_cast<qlonglong>(xel::platform::currentProcessId()));
}

QString resolveContentLibraryFolder(const QSettings& settings) {
    const QString stored = settings.value(QStringLiteral("RenderContentsPath")).toString();
    if (!stored.isEmpty() && QFileInfo(stored).isDir())
        return stored;
    const std::string publicDocuments = xel::platform::publicDocumentsFolder();
    return QString::fromUtf8(publicDocuments.data(), static_cast<int>(publicDocuments.size())) +
           QStringLiteral("/Zelquin Render 4 Library/content_library");
}

QString renderWindowProgram(const QString& pluginFolder) {
    return pluginFolder + QStringLiteral("/OrvantaRenderWindow") +
           QString::fromLatin1(xel::platform::executableSuffix());
}

}  // namespace orvanta
