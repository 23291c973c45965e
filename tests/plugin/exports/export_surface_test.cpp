// The plug-in library as the host loads it: every export of the C header is found under its
// undecorated name.
#include <QFile>
#include <QLibrary>
#include <QRegularExpression>

#include <set>
#include <string>

#include <gtest/gtest.h>

namespace {

// Every export declared in OrvantaForSketchup.h.
const char* const kExports[] = {
    // Start-up and shutdown.
    "obrInitialize",
    "obrInitialized",
    "obrUninitialize",
    "obrRestartRender",
    "obrSetApplicationPaused",
    // Settings and log.
    "obrGetAppSetting",
    "obrExistsAppSetting",
    "obrSetAppSetting",
    "obrSetAppSettingStr",
    "obrAppendLog",
    "obrClearLog",
    "obrEnumModelInfo",
    // Units, hashes and small utilities.
    "obrSkpStringHash",
    "obrComputeStringHash",
    "obrSkpFileHash",
    "obrConvertLengthFromInches",
    "obrConvertLengthToInches",
    "obrGetSkpLenghtUnit",
    "obrCreateIntRef",
    "obrDestroyIntRef",
    "obrModelLatitude",
    "obrModelLongitude",
    "obrModelTimestamp",
    "obrModelUseGeoreference",
    // Windows.
    "obrShowWindow",
    "obrHideWindow",
    "obrIsWindowVisible",
    "obrShowRenderWindow",
    "obrHideRenderWindow",
    "obrIsRenderWindowVisible",
    "obrShowMaterialsDialog",
    "obrHideMaterialsDialog",
    "obrIsMaterialsDialogVisible",
    "obrShowImagesDialog",
    "obrHideImagesDialog",
    "obrShowProdutionDialog",
    "obrIsProductionWindowVisible",
    "obrActivateWindows",
    "obrHideAllWindows",
    "obrSetRenderWindowMode",
    "obrRenderWindowMode",
    "obrSetWindowMode",
    "obrWindowMode",
    "obrSetParentWindowHandle",
    "obrGetWindowHandle",
    "obrParentWindowHandle",
    "obrMainSkpWindowHandle",
    "obrGetWindowOwnerProcess",
    // Content library.
    "obrContentLibraryFolder",
    "obrContentLibraryFolderW",
    "obrSetContentLibraryFolder",
    "obrSetContentLibraryFolderW",
    "obrGetLibraryPath",
    "obrGetTexturesPath",
    "obrSetSelectedGalleryMaterial",
    "obrGetSelectedGalleryMaterial",
    "obrGetGalleryMaterialTexture",
    "obrExportMI",
    // Session entity registry.
    "obrAddEntityToParent",
    "obrSetEntityRenderId",
    "obrEntityExists",
    "obrIsEntityMarkedOnRender",
    "obrIsEntityParentedInSession",
    "obrClearEntityParents",
    "obrAddInstanceVersion",
    "obrClearInstanceVersions",
    "obrAddMeshInEntity",
    "obrClearEntityMeshes",
    "obrIsEntityTypeManaged",
    "obrIsMesh",
    // Host requests.
    "obrSkpEnumEntityContent",
    "obrSkpEnumEntityAttributes",
    "obrSkpExportTexture",
    "obrSkpSetEntityAttribute",
    "obrSkpDestroyPointer",
    "obrSkpExecuteCustomAction",
    "obrCheckMessages",
    "obrPendingMessagesCount",
    // Scene content.
    "obrOnEnumMesh",
    "obrOnEnumMaterials",
    "obrGetMaterialName",
    "obrEnumSectionPlane",
    "obrSetSectionCaps",
    "obrEnumShadowsInfo",
    "obrSetMissingSceneValues",
    "obrSetDefaultSessionAttributes",
    // Hierarchy.
    "obrOnEnumGroup",
    "obrOnEnumInstance",
    "obrOnEnumComponentDef",
    "obrOnEnumLayers",
    "obrSetLayersColorMode",
    "obrIsColorByLayer",
    // Enumeration bracket.
    "obrEnumerationProcessStarted",
    "obrEnumerationProcessCompleted",
    "obrModelEnumerationProcessStatus",
    "obrCurrentModelEnumPercent",
    "obrIsSceneSuspended",
    // Changes and session clear.
    "obrRemoveEntity",
    "obrRemoveEntityFromParent",
    "obrRemoveMeshInEntity",
    "obrOnEnumHiddenEntity",
    "obrResetHiddenEntities",
    "obrEntityMessage",
    "obrModelMessage",
    "obrClearSession",
    // The view.
    "obrSetCamera",
    "obrSetViewPort",
    "obrSetProductionAspectRatio",
    "obrSetProductionPreviewEnabled",
    "obrIsProductionAspectRatio",
    "obrIsProductionPreviewEnabled",
    // Attributes.
    "obrOnEnumAttributeDictionariesCallback",
    "obrOnEnumAttributesCallback",
    "obrGetBase64DictionaryValueContent",
    "obrGetBase64DictionaryValueHash",
    "obrReceiveBase64Attributes",
    "obrIsReceiveBase64AttributesEnabled",
    "obrGetAnimationLenghtSeconds",
    "obrGetSkpRootEntitiesCount",
};

TEST(ExportSurface, EveryExportResolvesByItsUndecoratedName) {
    QLibrary library(QStringLiteral(ORVANTA_PLUGIN_LIBRARY));
    library.setLoadHints(QLibrary::ResolveAllSymbolsHint);
    ASSERT_TRUE(library.load()) << library.errorString().toStdString();
    for (const char* name : kExports)
        EXPECT_NE(library.resolve(name), nullptr) << name << " is not exported";
    // Left loaded: the library's threads and state live until the process ends.
}

TEST(ExportSurface, TableListsEveryExportOfTheHeader) {
    QFile header(QStringLiteral(ORVANTA_PLUGIN_HEADER));
    ASSERT_TRUE(header.open(QIODevice::ReadOnly | QIODevice::Text));
    const QString text = QString::fromUtf8(header.readAll());
    std::set<std::string> declared;
    const QRegularExpression declaration(QStringLiteral("ORVANTA_EXPORT[^;(]*\\b(obr\\w+)\\s*\\("));
    for (auto match = declaration.globalMatch(text); match.hasNext();)
        declared.insert(match.next().captured(1).toStdString());
    const std::set<std::string> listed(std::begin(kExports), std::end(kExports));
    EXPECT_EQ(declared, listed);
}

}  // namespace
