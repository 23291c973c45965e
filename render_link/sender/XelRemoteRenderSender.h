// The plug-in side of the render link.
//
// One sender per plug-in session: it creates the channel, starts the render-window program, keeps a
// mirror of the render window's state, turns each scene change and window command into a message,
// and hands the render window's requests to the host callbacks given at construction.
//
// Guard: until the render window has announced itself ("INIT"), and after it has ended ("EXIT", or
// its process ending), every operation that sends does nothing, except the transaction markers,
// which always go out. Scene content and the transaction markers are sent on the caller's thread,
// in order; commands and view settings are sent asynchronously and may overtake the scene stream or
// be overtaken by it. State changes reach the render window in the order they were made.
#pragma once

#include <cstdint>
#include <memory>

#include "XelInterProcessMessagesManager.h"

class XELREMOTERENDER_EXPORT XelRemoteRenderSender : public XelInterProcessMessagesObserver {
public:
    // Host callbacks: plain functions owned by the plug-in. They are called on the channel's
    // reader thread, never on the plug-in's own threads; the texts they get live only for the call.
    // A null callback drops its requests.
    using SetEntityAttributeCallback = void (*)(const char* first, const char* second,
                                                const char* third, const char* fourth);
    using EnumEntityContentCallback = void (*)(const char* entityId);
    using EnumEntityAttributesCallback = void (*)(const char* first, const char* second);
    using ExportTextureCallback = void (*)(const char* first, const char* second);
    using DestroyPointerCallback = void (*)(void* pointer);  // kept, never called here
    // The render window's answer to generateMaterialMaps(): the material name, always true, and
    // seven map paths in the order the answer carries them. Called on the reader thread.
    using MaterialMapsCallback = void (*)(const char* materialName, bool generated,
                                          const wchar_t* map1, const wchar_t* map2,
                                          const wchar_t* map3, const wchar_t* map4,
                                          const wchar_t* map5, const wchar_t* map6,
                                          const wchar_t* map7);
    // Their values belong to the render window; they travel as 32-bit integers.
    enum MaterialQualityType : std::int32_t {};
    enum MaterialImageFormat : std::int32_t {};

    // Creates the channel (this side creates the segments) for `queueId`, 0 meaning this process's
    // id, and starts its reader. `sessionPath` is copied.
    XelRemoteRenderSender(const wchar_t* sessionPath, SetEntityAttributeCallback setEntityAttribute,
                          EnumEntityContentCallback enumEntityContent,
                          EnumEntityAttributesCallback enumEntityAttributes,
                          ExportTextureCallback exportTexture,
                          DestroyPointerCallback destroyPointer, long queueId);
    // Sends nothing: ask the render window to exit first if it should go. Joins the threads of
    // this sender.
    virtual ~XelRemoteRenderSender();
    XelRemoteRenderSender(const XelRemoteRenderSender&) = delete;
    XelRemoteRenderSender& operator=(const XelRemoteRenderSender&) = delete;

    // Starts `program` detached with four arguments (queue id, the two window handles in decimal,
    // the session path) and the session path as working directory. Returns 0: success is learnt
    // from the render window's "INIT". The sender watches the started process: if it ends without
    // saying "EXIT", the sender acts as if it had.
    long long startRender(const wchar_t* program, long long mainWindowHandle,
                          long long parentWindowHandle);
    // Whether the render window last started is gone for good: none was started (or it did not
    // start), its process ended, it said "EXIT", it took nothing for the channel's stall limit
    // (until it is heard from again), or it has not announced itself within 30 s of its start.
    // Its channel is closed, and nothing of it is left behind, once its process is known to have
    // ended. Any thread.
    bool renderWindowGone() const;
    // When the render window is gone (renderWindowGone()): ends its process if it lingers, closes
    // its channel and starts `program` as startRender() does, on a fresh channel of the same
    // queue id; returns true. Otherwise does nothing and returns false. The new render window
    // starts empty: whatever should show in it must be sent again once it announces itself
    // (onRenderInit()). A render window counted as stalled that answers again (the sender probes
    // it with an "echo") counts as announced anew in the same way. Owner's thread.
    bool restartRender(const wchar_t* program, long long mainWindowHandle,
                       long long parentWindowHandle);
    const wchar_t* sessionPath() const;
    bool isRenderRunning() const;
    // The channel's queue id (this process's id for 0).
    long queueId() const;

    // The state mirror: eight flags in wire order and the render window's parent window handle.
    void getCurrentState(bool& reserved, bool& loadingModel, bool& closing,
                         bool& renderWindowVisible, bool& settingsUIVisible,
                         bool& materialsUIVisible, bool& productionDialogRequested,
                         bool& dockedWindowsMode, long long& renderWindowParent) const;
    // Stores the state and, while the render window runs, sends it ("SETSTATE") and then asks for
    // the render window's resulting state ("STATE"), on the sender's state thread. The render
    // window's answer replaces the mirror only when it answers the latest request, so a change
    // made here is never undone by an answer that predates it. Requests stop counting when the
    // render window announces itself again or ends, and once the latest has waited 3 s, so that
    // one left unanswered does not have every later answer discarded.
    void setCurrentState(bool reserved, bool loadingModel, bool closing, bool renderWindowVisible,
                         bool settingsUIVisible, bool materialsUIVisible,
                         bool productionDialogRequested, bool dockedWindowsMode,
                         long long renderWindowParent);
    bool isLoadingModel() const;
    bool isClosing() const;
    bool renderWindowVisible() const;
    bool settingsUIVisible() const;
    bool materialsUIVisible() const;
    bool transactionInProgress() const;
    // Setters: setCurrentState() with the mirror and one change. Each sends the one-shot
    // production-dialog request as false, except showProductionDialog().
    void setLoadingModel(bool loading);  // nothing if unchanged
    void setRenderWindowVisible(bool visible);
    void showSettingsUI(bool visible);
    void showMaterialsUI(bool visible);
    void showProductionDialog();
    void setDockedWindowsMode(bool docked);
    void setRenderWindowParent(long long handle);    // nothing if unchanged
    void showImagesGallery(bool visible);            // does nothing
    bool isProxyEntity(const char* entityId) const;  // always false

    // Commands.
    void requestRenderExit();
    void requestSaveData();
    void invalidateRender();
    void echo(const char* text);
    void exportScene(const char* targetPath);  // nothing for a null or empty path
    void sendDictionaryMessage(const char* owner, const char* dictionary, const char* key,
                               const char* value);
    void setLanguage(const char* language);
    // Keeps `done` (replacing an earlier one, even when nothing is sent) for the answer.
    void generateMaterialMaps(const char* materialName, int m1, int m2, int m3, int m4,
                              float mapValue, MaterialQualityType quality,
                              MaterialImageFormat format, MaterialMapsCallback done);

    // Scene content. Arrays are read during the call only.
    void addMesh(const char* meshId, const char* entityId, const char* meshLabel,
                 const float* positions, const float* normals, const float* frontUVs,
                 const float* backUVs, const bool* vertexFlags, const int* indices, int indexCount,
                 int vertexCount, const char* frontMaterial, const char* backMaterial);
    void addMaterial(const char* materialId, const char* materialName, const char* detailText,
                     int intValue, float floatValue, const char* extraText);
    void addGroup(const char* groupId, const char* parentId, const char* recordLabel,
                  const char* passText, const float* transform, const char* recordNote);
    void addInstance(const char* instanceId, const char* parentId, const char* definitionId,
                     const char* recordLabel, const char* passText, const float* transform,
                     const char* recordNote);
    void addComponentDef(const char* definitionId, const char* defText, bool defFlag,
                         const char* defNote);
    void addLayer(const char* layerId, bool layerFlag, int layerValue, bool defaultLayer);
    void removeEntity(const char* entityId, const char* parentId, bool contentTable,
                      bool forUpdate);
    void removeEntityMeshes(const char* entityId);
    void clearSession();
    void setCamera(float v1, float v2, float v3, float v4, float v5, float v6, float v7, float v8,
                   float v9, bool flag1, bool flag2, float v10, float v11, float v12, float v13,
                   const char* sceneName);
    void setSceneLight(int p1, float p2, float p3, float p4, float p5, int p6, float p7, float p8,
                       float p9);
    // Each vector is three floats.
    void setSectionPlane(int planeNumber, bool active, const float* firstVector,
                         const float* secondVector, bool capsOn, int capsValue);
    void removeSectionPlane(int planeNumber);
    void setEntityVisible(const char* entityId, bool visible, const char* recordLabel);

    // Transactions nest; the render window sees only the outermost one, whose contents it applies
    // (or drops) as a whole. The markers are sent even before the render window announces itself:
    // "BEGINTRAN" when the depth rises from 0, "ENDTRAN" when it falls to 0 (or was 0 already),
    // aborted when this or any end inside it aborted. The depth never falls below 0. The host
    // thread, or one thread at a time.
    void beginTransaction(const char* name);
    void endTransaction(bool abort);

    // Incoming dispatch of one message from the render window. The channel's reader thread
    // delivers through an internal relay (it starts while a derived class is still being built),
    // so an override here does not see the channel's messages.
    void onMessage(const char* type, const void* data, long size) override;
    void onChannelConnected() override;
    void onChannelDisconnected() override;
    void onError(int code, const char* text) override;

protected:
    // The render window announced itself ("INIT", after a 100 ms pause, or a stalled render window
    // answered again) or ended ("EXIT", its process ended, or it took nothing for the channel's
    // stall limit while a send waited for it). Called on the reader thread, on the process watch's
    // thread, or on the thread whose send found the render window stalled. An ended process's end
    // comes after the messages it wrote before it ended (unless one of them never completes).
    virtual void onRenderInit();
    virtual void onRenderExit();
    virtual void onRenderDataSaved();

    // Ends every thread of the sender (reader, state thread, process watch) and the channel; a
    // second call does nothing. A class that overrides the virtual functions above calls it first
    // in its destructor, so that no thread calls into a half-destroyed object. Afterwards the
    // sender sends and receives nothing. Not from the sender's own callbacks.
    void stopSending();
    // Removes the names of the channel's segments, events and locks at once, so that the system
    // frees them when the processes using them end, however they end; no render window can
    // attach afterwards. For a plug-in that is being unloaded, or whose process is exiting: joins
    // nothing. Any thread.
    void releaseChannelNames();

private:
    friend class SenderRelay;
    void dispatch(const char* type, const void* data, long size);
    // The channel gave a message up because the render window took nothing for the stall limit:
    // counted as its end, and what waits for it is dropped.
    void renderStalled();

    struct Private;
    std::unique_ptr<Private> d;
};
