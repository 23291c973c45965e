// Exports of the content library and its material gallery: thin entries to the process's content
// library, which tells the render window through the plug-in's sender when there is one.
#include <QByteArray>
#include <QString>

#include "OrvantaForSketchup.h"
#include "plugin/export/render_output.h"
#include "plugin/exports/export_guard.h"
#include "plugin/exports/export_text.h"
#include "plugin/lifecycle/content_library.h"

extern "C" {

const char* obrContentLibraryFolder(void) {
    return orvanta::guarded(__func__, "", [&] { return orvanta::contentLibrary().folder(); });
}

const wchar_t* obrContentLibraryFolderW(void) {
    return orvanta::guarded(__func__, L"", [&] { return orvanta::contentLibrary().folderWide(); });
}

void obrSetContentLibraryFolder(const char* folder) {
    orvanta::guarded(__func__, [&] {
        orvanta::PluginOutput output;
        orvanta::contentLibrary().moveTo(orvanta::fromHostText(folder), output.get());
    });
}

void obrSetContentLibraryFolderW(const wchar_t* folder) {
    orvanta::guarded(__func__, [&] {
        orvanta::contentLibrary().moveTo(orvanta::fromHostWideText(folder), nullptr);
    });
}

const wchar_t* obrGetLibraryPath(void) {
    return orvanta::guarded(__func__, L"",
                            [&] { return orvanta::contentLibrary().pluginFolderWide(); });
}

const char* obrGetTexturesPath(void) {
    return orvanta::guarded(__func__, "",
                            [&] { return orvanta::contentLibrary().texturesFolder(); });
}

void obrSetSelectedGalleryMaterial(const char* materialFile) {
    orvanta::guarded(__func__, [&] {
        orvanta::PluginOutput output;
        orvanta::contentLibrary().selectGalleryMaterial(orvanta::hostBytes(materialFile),
                                                        output.get());
    });
}

const char* obrGetSelectedGalleryMaterial(void) {
    return orvanta::guarded(__func__, "",
                            [&] { return orvanta::contentLibrary().selectedGalleryMaterial(); });
}

const char* obrGetGalleryMaterialTexture(const char* material, const char* textureName) {
    return orvanta::guarded(__func__, "", [&] {
        return orvanta::contentLibrary().galleryMaterialTexture(orvanta::fromHostText(material),
                                                                orvanta::fromHostText(textureName));
    });
}

void obrExportMI(const char* file) {
    orvanta::guarded(__func__, [&] {
        orvanta::PluginOutput output;
        orvanta::contentLibrary().exportScene(orvanta::boundedHostText(file ? file : ""),
                                              output.get());
    });
}
}
