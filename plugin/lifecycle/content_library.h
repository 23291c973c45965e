// The content library folder and the material gallery in it: which gallery material the host
// selected, and the material pictures the host takes as textures.
#pragma once

#include <QByteArray>
#include <QString>

#include <string>

namespace orvanta {

class RenderOutput;

// The library works on the process's plug-in state (pluginState()): the content library folder,
// the plug-in folder, the session folder and the settings store. It keeps of its own the selected
// gallery material and the last texture path handed out, and the wide copies of the folders.
// Every operation that takes an output tells the render window through it, and leaves that out
// when it is null (before start-up). The texts it returns belong to it. Host thread.
class ContentLibrary {
public:
    // The content library folder, UTF-8; valid until the folder changes.
    const char* folder() const;
    // The same as a wide text; valid until the folder changes and this is called again.
    const wchar_t* folderWide();
    // The plug-in folder as a wide text; valid until the folder changes and this is called again.
    const wchar_t* pluginFolderWide();
    // The session folder, UTF-8, where texture files go; valid until the session folder changes.
    const char* texturesFolder() const;

    // Moves the library to `folder` when it names an existing folder, remembers it in the settings
    // store under "RenderContentsPath" (when the store is open and writable), and tells the render
    // window the folder. An empty text or a folder that does not exist changes nothing.
    void moveTo(const QString& folder, RenderOutput* output);

    // Records the gallery material whose file is `materialFile` (UTF-8): its path relative to the
    // library's "Materials" folder ("../" steps when outside it) with every ".xml" removed; tells
    // the render window the file as given.
    void selectGalleryMaterial(const QByteArray& materialFile, RenderOutput* output);
    // The recorded gallery material, UTF-8; "" before the first; valid until the next selection.
    const char* selectedGalleryMaterial() const { return m_selectedGalleryMaterial.constData(); }

    // Copies a picture into the session folder as `textureName` + ".jpg" and answers that path,
    // UTF-8, valid until the next call that copies. The picture is the session folder's
    // "selected.jpg" when `material` is empty or has no picture "Materials/<material>_skp.jpg" in
    // the library, else that material picture. An older file of that name is removed first; the
    // path is answered even when the copy fails. "" (a constant text), touching no file, when
    // `textureName` is not a plain file name (isPlainFileName(); the empty name included), when
    // `material` is neither empty nor a plain file name, when there is no picture, or before
    // start-up (no session folder). So nothing outside the session folder is written or removed,
    // and nothing outside the library's "Materials" folder and the session folder is read.
    const char* galleryMaterialTexture(const QString& material, const QString& textureName);

    // Asks the render window to export its scene to `file` (UTF-8).
    void exportScene(const char* file, RenderOutput* output);

private:
    QByteArray m_selectedGalleryMaterial;
    QByteArray m_galleryTexturePath;
    // Each wide copy with the text it was made from, to remake it when that text has changed.
    QString m_folderWideSource;
    std::wstring m_folderWide;
    QString m_pluginFolderWideSource;
    std::wstring m_pluginFolderWide;
};

// The process's content library: made at first use, never destroyed. Host thread.
ContentLibrary& contentLibrary();

}  // namespace orvanta
