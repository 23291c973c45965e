// Where the plug-in sends what it tells the render window (the scene exporters' content, the window
// control's window states, the content library's commands): the render link sender in the
// plug-in, a recording in tests.
#pragma once

#include <optional>

class XelRemoteRenderSender;

// The sender operations the plug-in uses: the one list of the seam's signatures. Each entry is
//   X(result, name, (parameters), (arguments), qualifier)
// with the signature and meaning the sender gives the operation (XelRemoteRenderSender.h), and
// the arguments naming the parameters in order, for an implementation that passes the call on.
// Arrays and texts are read during the call only. A setSectionPlane vector is three floats; a
// transform is 16 floats.
// clang-format off
#define ORVANTA_RENDER_OUTPUT_OPERATIONS(X)                                                        \
    X(bool, isLoadingModel, (), (), const)                                                         \
    X(void, addMesh,                                                                               \
      (const char* meshId, const char* entityId, const char* meshLabel, const float* positions,    \
       const float* normals, const float* frontUVs, const float* backUVs, const bool* vertexFlags, \
       const int* indices, int indexCount, int vertexCount, const char* frontMaterial,             \
       const char* backMaterial),                                                                  \
      (meshId, entityId, meshLabel, positions, normals, frontUVs, backUVs, vertexFlags, indices,   \
       indexCount, vertexCount, frontMaterial, backMaterial), )                                    \
    X(void, addMaterial,                                                                           \
      (const char* materialId, const char* materialName, const char* detailText, int intValue,     \
       float floatValue, const char* extraText),                                                   \
      (materialId, materialName, detailText, intValue, floatValue, extraText), )                   \
    X(void, setSectionPlane,                                                                       \
      (int planeNumber, bool active, const float* firstVector, const float* secondVector,          \
       bool capsOn, int capsValue),                                                                \
      (planeNumber, active, firstVector, secondVector, capsOn, capsValue), )                       \
    X(void, removeSectionPlane, (int planeNumber), (planeNumber), )                                \
    X(void, setSceneLight,                                                                         \
      (int p1, float p2, float p3, float p4, float p5, int p6, float p7, float p8, float p9),      \
      (p1, p2, p3, p4, p5, p6, p7, p8, p9), )                                                      \
    X(void, sendDictionaryMessage,                                                                 \
      (const char* owner, const char* dictionary, const char* key, const char* value),             \
      (owner, dictionary, key, value), )                                                           \
    X(void, addGroup,                                                                              \
      (const char* groupId, const char* parentId, const char* recordLabel, const char* passText,   \
       const float* transform, const char* recordNote),                                            \
      (groupId, parentId, recordLabel, passText, transform, recordNote), )                         \
    X(void, addInstance,                                                                           \
      (const char* instanceId, const char* parentId, const char* definitionId,                     \
       const char* recordLabel, const char* passText, const float* transform,                      \
       const char* recordNote),                                                                    \
      (instanceId, parentId, definitionId, recordLabel, passText, transform, recordNote), )        \
    X(void, addComponentDef,                                                                       \
      (const char* definitionId, const char* defText, bool defFlag, const char* defNote),          \
      (definitionId, defText, defFlag, defNote), )                                                 \
    X(void, addLayer, (const char* layerId, bool layerFlag, int layerValue, bool defaultLayer),    \
      (layerId, layerFlag, layerValue, defaultLayer), )                                            \
    X(void, removeEntity,                                                                          \
      (const char* entityId, const char* parentId, bool contentTable, bool forUpdate),             \
      (entityId, parentId, contentTable, forUpdate), )                                             \
    X(void, removeEntityMeshes, (const char* entityId), (entityId), )                              \
    X(void, clearSession, (), (), )                                                                \
    X(void, setEntityVisible, (const char* entityId, bool visible, const char* recordLabel),       \
      (entityId, visible, recordLabel), )                                                          \
    X(bool, isProxyEntity, (const char* entityId), (entityId), const)                              \
    X(void, beginTransaction, (const char* name), (name), )                                        \
    X(void, endTransaction, (bool abort), (abort), )                                               \
    X(bool, transactionInProgress, (), (), const)                                                  \
    X(void, setLoadingModel, (bool loading), (loading), )                                          \
    X(void, setCamera,                                                                             \
      (float v1, float v2, float v3, float v4, float v5, float v6, float v7, float v8, float v9,   \
       bool flag1, bool flag2, float v10, float v11, float v12, float v13, const char* sceneName), \
      (v1, v2, v3, v4, v5, v6, v7, v8, v9, flag1, flag2, v10, v11, v12, v13, sceneName), )         \
    X(void, invalidateRender, (), (), )                                                            \
    X(void, echo, (const char* text), (text), )                                                    \
    X(void, exportScene, (const char* targetPath), (targetPath), )                                 \
    X(void, showSettingsUI, (bool visible), (visible), )                                           \
    X(bool, settingsUIVisible, (), (), const)                                                      \
    X(void, setRenderWindowVisible, (bool visible), (visible), )                                   \
    X(bool, renderWindowVisible, (), (), const)                                                    \
    X(void, showMaterialsUI, (bool visible), (visible), )                                          \
    X(bool, materialsUIVisible, (), (), const)                                                     \
    X(void, showImagesGallery, (bool visible), (visible), )                                        \
    X(void, showProductionDialog, (), (), )                                                        \
    X(void, setCurrentState,                                                                       \
      (bool reserved, bool loadingModel, bool closing, bool renderWindowVisible,                   \
       bool settingsUIVisible, bool materialsUIVisible, bool productionDialogRequested,            \
       bool dockedWindowsMode, long long renderWindowParent),                                      \
      (reserved, loadingModel, closing, renderWindowVisible, settingsUIVisible,                    \
       materialsUIVisible, productionDialogRequested, dockedWindowsMode, renderWindowParent), )    \
    X(void, setRenderWindowParent, (long long handle), (handle), )                                 \
    X(void, setDockedWindowsMode, (bool docked), (docked), )
// clang-format on

// One list entry as a pure virtual function (RenderOutput) and as the override of it that an
// implementation declares.
#define ORVANTA_RENDER_OUTPUT_PURE(result, name, parameters, arguments, qualifier) \
    virtual result name parameters qualifier = 0;
#define ORVANTA_RENDER_OUTPUT_OVERRIDE(result, name, parameters, arguments, qualifier) \
    result name parameters qualifier override;

namespace orvanta {

// The seam itself: every operation of the list, pure virtual. Called on the host thread.
class RenderOutput {
public:
    virtual ~RenderOutput() = default;

    ORVANTA_RENDER_OUTPUT_OPERATIONS(ORVANTA_RENDER_OUTPUT_PURE)
};

// The output over one sender, which must outlive it: every operation passes on to the sender's
// operation of the same name.
class SenderOutput final : public RenderOutput {
public:
    explicit SenderOutput(XelRemoteRenderSender& sender) : m_sender(sender) {}

    ORVANTA_RENDER_OUTPUT_OPERATIONS(ORVANTA_RENDER_OUTPUT_OVERRIDE)

private:
    XelRemoteRenderSender& m_sender;
};

// The output over the plug-in's sender, as it stands when constructed; get() is null before
// start-up. The sender is never deleted, so the output stays usable for the object's life. Host
// thread, one export call long.
class PluginOutput {
public:
    PluginOutput();
    RenderOutput* get() { return m_output ? &*m_output : nullptr; }

private:
    std::optional<SenderOutput> m_output;
};

}  // namespace orvanta
