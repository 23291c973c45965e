#include "plugin/lifecycle/plugin_folders.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
#include <QStringList>

#include <string>

#include "platform/known_folders.h"
#include "platform/private_folder.h"
#include "platform/process.h"
#include "plugin/lifecycle/app_settings.h"

namespace orvanta {

namespace {

constexpr char kRuntimeFolderVariable[] = "XDG_RUNTIME_DIR";

QByteArray processIdText() {
    return QByteArray::number(static_cast<qlonglong>(xel::platform::currentProcessId()));
}

}  // namespace

QString sessionFolderParent() {
    const QString runtime = qEnvironmentVariable(kRuntimeFolderVariable);
    if (!runtime.isEmpty() && QDir::isAbsolutePath(runtime) && QFileInfo(runtime).isDir())
        return runtime;
    const QStringList temporary = QStandardPaths::standardLocations(QStandardPaths::TempLocation);
    return temporary.isEmpty() ? QString() : temporary.last();
}

QByteArray sessionFolderPath() {
    return sessionFolderParent().toUtf8() + '/' + processIdText();
}

QByteArray makeSessionFolder() {
    const QString parent = sessionFolderParent();
    QDir().mkpath(parent);
    const QByteArray path = sessionFolderPath();
    if (xel::platform::makePrivateFolder(path.toStdString()))
        return path;
    const QByteArray fresh = QByteArray::fromStdString(xel::platform::makeUniquePrivateFolder(
        parent.toUtf8().toStdString(), processIdText().toStdString()));
    appendLog(QStringLiteral("Session folder %1 is no private folder of this user: using %2")
                  .arg(QString::fromUtf8(path),
                       fresh.isEmpty() ? QStringLiteral("none, as no folder could be made")
                                       : QString::fromUtf8(fresh)));
    return fresh;
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
