// The render-window side of the render link.
//
// The render-window program derives from XelRemoteRenderReceiver and implements its handlers. The
// receiver attaches to the channel that the plug-in created for the queue id, decodes every message
// of the plug-in and calls the matching handler, holds scene messages back while a transaction is
// open, and watches the process that started the render window.
//
// Threads. Every handler, onMessage() and the transaction replay run on the channel's reader
// thread, one call at a time, except onGenerateMaterialMaps() (a pool thread while the reader
// waits for it) and onExitRequested() (also the constructing thread, from the parent watch). The
// plug-in's segment stays locked while a handler runs: a handler must not wait for an answer of
// the plug-in.
//
// Pointers. Strings handed to a handler are NUL-terminated UTF-8; a string that carried a NUL ends
// there. Strings and arrays belong to the receiver and are valid only during the call; an array
// with no elements is passed as null. A message whose fields do not fit its payload is dropped
// whole, with no handler call.
#pragma once

#include <memory>

#include "XelInterProcessMessagesManager.h"

class XELREMOTERENDER_EXPORT XelRemoteRenderReceiver : public XelInterProcessMessagesObserver {
public:
    // Attaches to the channel of `queueId` (the id the plug-in gave on the command line), starts
    // its reader, and starts the parent watch: every 5000 ms, on the constructing thread, which
    // must run a Qt event loop, onExitRequested() is called if the starter process is gone. The
    // starter is the process whose decimal id the environment variable XEL_RENDER_STARTER_PID
    // holds, or else the parent process; it is held from construction on, so a later process with
    // the same id is not taken for it. `sessionPath` is copied; null counts as empty.
    //
    // The reader starts here, but hands nothing to this object (messages, set-up reports) until
    // the constructing thread's event loop has run after construction, so derived constructors
    // have finished by then. Messages the plug-in wrote before wait in the channel.
    XelRemoteRenderReceiver(const wchar_t* sessionPath, long queueId);

    // First stage of decoding; called for every message of the channel, and by the transaction
    // replay again for each held message. Transaction markers are acted on at once; any other
    // message is held while a transaction is open and handled at once otherwise. `data` is read
    // only during the call.
    void onMessage(const char* type, const void* data, long size) override;
    // Do nothing. Connected comes on the reader thread, disconnected on the thread that stops the
    // receiver; a set-up error (kSetUpFailed) on the reader thread, a message that could not be
    // delivered on the thread that sent it (see XelInterProcessMessagesObserver::onError).
    void onChannelConnected() override;
    void onChannelDisconnected() override;
    void onError(int code, const char* text) override;

    // Stops the parent watch, then closes the channel and joins its reader. Must run on the
    // constructing thread. A handler can still be running while a derived destructor runs: see
    // stopReceiving().
    virtual ~XelRemoteRenderReceiver();
    XelRemoteRenderReceiver(const XelRemoteRenderReceiver&) = delete;
    XelRemoteRenderReceiver& operator=(const XelRemoteRenderReceiver&) = delete;

    // "INIT": the render window is ready for scene messages. "EXIT": it is closing. "SAVED": it has
    // saved its session. Written on the calling thread, in order; any thread, handlers included.
    virtual void notifyRenderStarted();
    virtual void notifyRenderExit();
    virtual void notifyRenderSessionSaved();

protected:
    // Handlers, implemented by the render-window program. Each receives the fields of its message.
    // "MAPSGEN": runs on a pool thread; the reader reads no further message until it returns.
    // `quality` and `format` are the sender's MaterialQualityType and MaterialImageFormat values.
    virtual void onGenerateMaterialMaps(const char* materialName, int m1, int m2, int m3, int m4,
                                        float mapValue, int quality, int format) = 0;
    // "setCamera": the values pass through from the plug-in unchanged, in its order.
    virtual void onSetCamera(float v1, float v2, float v3, float v4, float v5, float v6, float v7,
                             float v8, float v9, bool flag1, bool flag2, float v10, float v11,
                             float v12, float v13, const char* sceneName) = 0;
    // "setSunLight": in the parameter order of the plug-in's setSceneLight().
    virtual void onSetSunLight(int p1, float p2, float p3, float p4, float p5, int p6, float p7,
                               float p8, float p9) = 0;
    // "remEntity" (also "removeEntity").
    virtual void onRemoveEntity(const char* entityId, const char* parentId, bool contentTable,
                                bool forUpdate) = 0;
    // "remMeshes" (also "removeMeshes").
    virtual void onRemoveEntityMeshes(const char* entityId) = 0;
    // "clearSess" (also "clearSession").
    virtual void onClearSession() = 0;
    // "addMesh": `vertexCount` vertices with 3 position, 3 normal, 2 + 2 texture-coordinate floats
    // and one flag each, and `indexCount` indices. A mesh whose arrays do not hold exactly that
    // many elements is dropped.
    virtual void onAddMesh(const char* meshId, const char* entityId, const char* meshLabel,
                           const float* positions, const float* normals, const float* frontUVs,
                           const float* backUVs, const bool* vertexFlags, const int* indices,
                           int indexCount, int vertexCount, const char* frontMaterial,
                           const char* backMaterial) = 0;
    // "addGroup": `transform` holds 16 floats in the plug-in's order.
    virtual void onAddGroup(const char* groupId, const char* parentId, const char* recordLabel,
                            const char* passText, const float* transform,
                            const char* recordNote) = 0;
    // "addInstance": `transform` holds 16 floats. The label comes before the definition here,
    // after it in the plug-in's addInstance().
    virtual void onAddInstance(const char* instanceId, const char* parentId,
                               const char* recordLabel, const char* definitionId,
                               const char* passText, const float* transform,
                               const char* recordNote) = 0;
    // "addComp" (also "addComponentDef").
    virtual void onAddComponentDef(const char* definitionId, const char* defText, bool defFlag,
                                   const char* defNote) = 0;
    // "addMaterial".
    virtual void onAddMaterial(const char* materialId, const char* materialName,
                               const char* detailText, int intValue, float floatValue,
                               const char* extraText) = 0;
    // "addLayer": `layerValue` is the plug-in's integer value, true when not 0.
    virtual void onAddLayer(const char* layerId, bool layerFlag, bool defaultLayer,
                            bool layerValue) = 0;
    // "DicMes".
    virtual void onDictionaryMessage(const char* owner, const char* dictionary, const char* key,
                                     const char* value) = 0;

    // Transactions, called on the reader thread for "BEGINTRAN" (unless one is open already:
    // transactions do not nest) and "ENDTRAN" (`abort` when its payload is exactly "ABORT").
    // Begin: while the channel runs, opens the transaction; every later message but the markers is
    // held. End: while the channel runs, closes it, then hands the held messages to onMessage() in
    // arrival order, or drops them if `abort`. An override must do the same, through these.
    virtual void onBeginTransaction(const char* name);
    virtual void onEndTransaction(bool abort);

    // "EXIT" on the reader thread; also on the constructing thread at every parent-watch tick
    // while the starter is gone, so possibly at the same time. The program is expected to close,
    // calling notifyRenderExit() on the way.
    virtual void onExitRequested() = 0;
    // "STATE": fill in the render window's state; each value starts false or 0. The values go
    // back to the plug-in as set here, the reserved flag included.
    virtual void onGetState(bool& reserved, bool& loadingModel, bool& closing,
                            bool& renderWindowVisible, bool& settingsUIVisible,
                            bool& materialsUIVisible, bool& productionDialogRequested,
                            bool& dockedWindowsMode, long long& renderWindowParent) = 0;
    // "SETSTATE": the state the plug-in wants.
    virtual void onSetState(bool reserved, bool loadingModel, bool closing,
                            bool renderWindowVisible, bool settingsUIVisible,
                            bool materialsUIVisible, bool productionDialogRequested,
                            bool dockedWindowsMode, long long renderWindowParent) = 0;
    // "SAVE".
    virtual void onSaveRequested() = 0;
    // "setVisible".
    virtual void onSetEntityVisible(const char* entityId, const char* recordLabel,
                                    bool visible) = 0;
    // "setCutP", and "remCutP" as (planeNumber, six zeros, false, false, 0).
    virtual void onSetSectionPlane(int planeNumber, float firstX, float firstY, float firstZ,
                                   float secondX, float secondY, float secondZ, bool active,
                                   bool capsOn, int capsValue) = 0;
    // "setLang".
    virtual void onSetLanguage(const char* language) = 0;
    // "redraw".
    virtual void onRedraw() = 0;
    // "export".
    virtual void onExportScene(const char* path) = 0;

public:
    // Answers the plug-in's generateMaterialMaps() ("MATMAPS"). Null texts count as empty. Copies
    // everything and returns at once; any thread, handlers included.
    void sendMaterialMaps(const char* materialName, const wchar_t* map1, const wchar_t* map2,
                          const wchar_t* map3, const wchar_t* map4, const wchar_t* map5,
                          const wchar_t* map6, const wchar_t* map7);
    // Ask the plug-in for host work: "enumEnt" (enumerate an entity's content), "enumEAT"
    // (enumerate an owner's attributes in a dictionary), "expTx" (export a texture) and "setEnt"
    // (set an attribute, or run an action with the owner "ExecuteAction"). The plug-in hands them
    // to its host when the host next polls; nothing answers here. Null texts count as empty.
    // Copy everything and return at once; sent in the order of the calls. Any thread, handlers
    // included.
    void requestEntityContent(const char* entityId);
    void requestEntityAttributes(const char* owner, const char* dictionary);
    void requestTextureExport(const char* first, const char* second);
    void requestSetEntityAttribute(const char* owner, const char* dictionary, const char* key,
                                   const char* value);
    // The number of messages held by the open transaction. Any thread; a snapshot.
    int pendingMessagesCount() const;
    // The session path given at construction, valid as long as this object.
    const wchar_t* sessionPath() const;

protected:
    // Stops the parent watch, closes the channel and joins its reader: once it returns no handler
    // runs, and none will. A derived class whose handlers use its own members calls it first in
    // its destructor. Constructing thread only, never from a handler; afterwards nothing is sent
    // and no other member may be called but the destructor. A second call does nothing.
    void stopReceiving();

private:
    void checkParentProcessOrExit();
    void parseMessageContent(const char* type, const void* data, long size);

    struct Private;
    std::unique_ptr<Private> d;
};
