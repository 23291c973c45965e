#include "plugin/lifecycle/content_library.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "plugin/export/render_output.h"
#include "plugin/lifecycle/app_settings.h"
#include "plugin/lifecycle/plugin_state.h"
#include "plugin/util/file_names.h"

namespace orvanta {
namespace {

// Remakes `wide` from `text` when `source` shows it was made from another text.
const wchar_t* wideCopy(const QString& text, QString& source, std::wstring& wide) {
    if (source != text) {
        source = text;
        wide = text.toStdWString();
    }
    return wide.c_str();
}

}  // namespace

const char* ContentLibrary::folder() const {
    return pluginState().contentLibraryFolderUtf8.constData();
}

const wchar_t* ContentLibrary::folderWide() {
    return wideCopy(pluginState().contentLibraryFolder, m_folderWideSource, m_folderWide);
}

const wchar_t* ContentLibrary::pluginFolderWide() {
    return wideCopy(pluginState().pluginFolder, m_pluginFolderWideSource, m_pluginFolderWide);
}

const char* ContentLibrary::texturesFolder() const {
    return pluginState().sessionFolder.constData();
}

void ContentLibrary::moveTo(const QString& folder, RenderOutput* output) {
    if (folder.isEmpty() || !QFileInfo(folder).isDir())
        return;
    setContentLibraryFolder(folder);
    setAppSetting(QStringLiteral("RenderContentsPath"), folder);
    if (output)
        output->sendDictionaryMessage("App", "obrSetContentLibraryFolder", "Data",
                                      pluginState().contentLibraryFolderUtf8.constData());
}

void ContentLibrary::selectGalleryMaterial(const QByteArray& materialFile, RenderOutput* output) {
    const QDir materials(pluginState().contentLibraryFolder + QStringLiteral("/Materials"));
    QString relative = materials.relativeFilePath(QString::fromUtf8(materialFile));
    relative.remove(QStringLiteral(".xml"), Qt::CaseSensitive);
    m_selectedGalleryMaterial = relative.toUtf8();
    if (output)
        output->sendDictionaryMessage("App", "obrSetSelectedGalleryMaterial", "Data",
                                      materialFile.constData());
}

const char* ContentLibrary::galleryMaterialTexture(const QString& material,
                                                   const QString& textureName) {
    const PluginState& state = pluginState();
    // Both names are joined to folders of ours; anything but a plain name could reach outside.
    if (!isPlainFileName(textureName) || (!material.isEmpty() && !isPlainFileName(material)) ||
        state.sessionFolder.isEmpty())
        return "";
    const QString sessionFolder = QString::fromUtf8(state.sessionFolder);
    const QString selection = sessionFolder + QStringLiteral("/selected.jpg");
    // Without a library folder the picture's path would start at the root of the file system.
    const bool hasMaterialPicture = !material.isEmpty() && !state.contentLibraryFolder.isEmpty();
    const QString materialPicture = hasMaterialPicture ? state.contentLibraryFolder +
                                                             QStringLiteral("/Materials/") +
                                                             material + QStringLiteral("_skp.jpg")
                                                       : QString();

    QString picture;
    if (hasMaterialPicture && QFileInfo::exists(materialPicture))
        picture = materialPicture;
    else if (QFileInfo::exists(selection))
        picture = selection;
    else
        return "";

    const QString target = sessionFolder + QLatin1Char('/') + textureName + QStringLiteral(".jpg");
    m_galleryTexturePath = target.toUtf8();
    // A texture named "selected" is the selection picture itself: removing it would lose it.
    if (QFileInfo(picture).canonicalFilePath() != QFileInfo(target).canonicalFilePath()) {
        if (QFileInfo::exists(target))
            QFile::remove(target);
        QFile::copy(picture, target);
    }
    return m_galleryTexturePath.constData();
}

void ContentLibrary::exportScene(const char* file, RenderOutput* output) {
    if (output)
        output->exportScene(file);
}

ContentLibrary& contentLibrary() {
    static ContentLibrary* const library = new ContentLibrary;
    return *library;
}

}  // namespace orvanta
