// The reference render window: the render link's receiving side with every handler written down.
// Once the plug-in is ready it asks the host for the model's content ("Model"), or for the entities
// that ORVANTA_RENDER_REQUESTS names.
// Each handler logs one line (its name and fields) and counts what it got. The scene (definitions,
// groups and instances with their placements, meshes, materials, layers, hidden entities, section
// planes, the light, the camera, dictionary messages) is kept in a SceneStore, and the log lines
// carry the values that arrived, meshes as a digest of their arrays, so that whoever sent them can
// compare; after each section plane change the whole plane list is logged as "section planes now:
// ...". The scene digest ("scene digest ...", see tools/common/scene_digest.h) is logged after each
// transaction has been applied, after each visibility change applied outside a transaction, and
// when the plug-in sends the echo "digest". The render state is kept for the plug-in to read back,
// with the one-shot production-dialog request cleared once handled.
// The scene is shown (tools/render_window/scene_view.h): in a ViewWindow when there is a display,
// re-rendered on the main thread after each change applied (a transaction's once, at its end); as
// a PNG file for the plug-in's export request, and after each completed transaction, before its
// digest line, when ORVANTA_RENDER_SNAPSHOTS names a folder (scene_export.h), both rendered on
// the reader thread. The user may move the view with the mouse (view_window.h); once moved, the
// view, the exports and the snapshots show the user's camera until the user snaps back to the
// host's (view_navigation.h); a camera the host sends meanwhile is kept, logged with
// "camera kept for snap-back: the view shows the user's camera", and shown after the snap-back.
// Once the host's model has arrived (the first completed transaction "EnumeratingScene", then the
// plug-in's state saying the model no longer loads, and this window's answer to the state request
// after it), the window asks once for the model's "GeoReference" attributes and sets
// (Model, RenderWindow, Shown) to "1", logging "sent enumEAT Model GeoReference" and
// "sent setEnt Model RenderWindow Shown 1".
// Textures: each material that arrives with a texture is asked for through "expTx" and loaded when
// the host answers (texture_requests.h). An export asked for while answers are awaited waits for
// them, up to kTextureWaitMs, so that the picture shows the textures on their way.
#pragma once

#include <QString>

#include <QObject>
#include <QStringList>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

#include "XelRemoteRenderReceiver.h"
#include "tools/render_window/message_tally.h"
#include "tools/render_window/render_log.h"
#include "tools/render_window/render_state.h"
#include "tools/render_window/scene_export.h"
#include "tools/render_window/scene_store.h"
#include "tools/render_window/scene_tally.h"
#include "tools/render_window/texture_requests.h"
#include "tools/render_window/view_navigation.h"
#include "tools/render_window/view_window.h"

namespace orvanta::render_window {

// The four command-line arguments the plug-in starts the program with.
struct LaunchArguments {
    long queueId = 0;
    long long mainWindowHandle = 0;
    long long parentWindowHandle = 0;
    QString sessionFolder;
};

class RenderWindow final : public XelRemoteRenderReceiver {
public:
    // How long an export waits for the host's answers to texture requests.
    static constexpr int kTextureWaitMs = 5000;

    // Attaches to the plug-in's channel. Construct on the main thread, which must then run the
    // application's event loop: the receiver's parent watch, the quit requests and the view's
    // renders go through it. With `showView` (which needs a QGuiApplication on a platform with a
    // display) it shows a ViewWindow; the user closing it closes the program as the plug-in's
    // "EXIT" does. `log` must outlive this object.
    RenderWindow(const LaunchArguments& launch, RenderLog& log, bool showView);
    // Main thread. Stops every handler before the members they use go.
    ~RenderWindow() override;

    // Tells the plug-in the render window is ready ("INIT"), then learns when the plug-in counts
    // it as running: the plug-in answers an "INIT" with a "STATE" request only while it counts the
    // render window as running, so a second "INIT" brings one, and the first "STATE" request logs
    // "plug-in ready". Main thread, from the event loop; later calls do nothing.
    void announce();

    // First stage of decoding, on the reader thread: logs the echoes (the receiver answers them
    // itself) and the messages an open transaction holds, notes whether the message is a section
    // plane's removal (which reaches onSetSectionPlane() like a plane), then hands everything on.
    void onMessage(const char* type, const void* data, long size) override;
    // Reader thread.
    void onChannelConnected() override;
    // Reader thread: the channel could not be set up; the program ends with exit code 1.
    void onError(int code, const char* text) override;

protected:
    void onGenerateMaterialMaps(const char* materialName, int m1, int m2, int m3, int m4,
                                float mapValue, int quality, int format) override;
    void onSetCamera(float v1, float v2, float v3, float v4, float v5, float v6, float v7, float v8,
                     float v9, bool flag1, bool flag2, float v10, float v11, float v12, float v13,
                     const char* sceneName) override;
    void onSetSunLight(int p1, float p2, float p3, float p4, float p5, int p6, float p7, float p8,
                       float p9) override;
    void onRemoveEntity(const char* entityId, const char* parentId, bool contentTable,
                        bool forUpdate) override;
    void onRemoveEntityMeshes(const char* entityId) override;
    void onClearSession() override;
    void onAddMesh(const char* meshId, const char* entityId, const char* meshLabel,
                   const float* positions, const float* normals, const float* frontUVs,
                   const float* backUVs, const bool* vertexFlags, const int* indices,
                   int indexCount, int vertexCount, const char* frontMaterial,
                   const char* backMaterial) override;
    void onAddGroup(const char* groupId, const char* parentId, const char* recordLabel,
                    const char* passText, const float* transform, const char* recordNote) override;
    void onAddInstance(const char* instanceId, const char* parentId, const char* recordLabel,
                       const char* definitionId, const char* passText, const float* transform,
                       const char* recordNote) override;
    void onAddComponentDef(const char* definitionId, const char* defText, bool defFlag,
                           const char* defNote) override;
    void onAddMaterial(const char* materialId, const char* materialName, const char* detailText,
                       int intValue, float floatValue, const char* extraText) override;
    void onAddLayer(const char* layerId, bool layerFlag, bool defaultLayer,
                    bool layerValue) override;
    void onDictionaryMessage(const char* owner, const char* dictionary, const char* key,
                             const char* value) override;
    void onBeginTransaction(const char* name) override;
    void onEndTransaction(bool abort) override;
    // Reader thread or main thread (parent watch), possibly both at once: the first call sends
    // "EXIT" and ends the event loop; later calls do nothing.
    void onExitRequested() override;
    void onGetState(bool& reserved, bool& loadingModel, bool& closing, bool& renderWindowVisible,
                    bool& settingsUIVisible, bool& materialsUIVisible,
                    bool& productionDialogRequested, bool& dockedWindowsMode,
                    long long& renderWindowParent) override;
    void onSetState(bool reserved, bool loadingModel, bool closing, bool renderWindowVisible,
                    bool settingsUIVisible, bool materialsUIVisible, bool productionDialogRequested,
                    bool dockedWindowsMode, long long renderWindowParent) override;
    void onSaveRequested() override;
    void onSetEntityVisible(const char* entityId, const char* recordLabel, bool visible) override;
    // A plane, or, for a removal message, the removal of the plane at `planeNumber`, the later
    // planes moving up one number.
    void onSetSectionPlane(int planeNumber, float firstX, float firstY, float firstZ, float secondX,
                           float secondY, float secondZ, bool active, bool capsOn,
                           int capsValue) override;
    void onSetLanguage(const char* language) override;
    void onRedraw() override;
    void onExportScene(const char* path) override;

private:
    // A handler's text argument as handlerText() takes it, a refusal logged here. Any thread.
    QString text(const char* utf8);
    // Reader thread, once the plug-in counts this window as running: asks the host, through the
    // plug-in, to enumerate the content of each entity named in the environment variable
    // ORVANTA_RENDER_REQUESTS (ids separated by commas), in that order, logging "sent enumEnt <id>"
    // for each; of "Model" when the variable is not set; of nothing when it is set but empty.
    void sendConfiguredRequests();
    // Reader thread: logs an echo's text, and the scene digest after it when the text is "digest".
    void logEcho(const QString& echo);
    // Reader thread: logs the scene digest as one line.
    void logDigest();
    // Reader thread: the scene changed, or a redraw was asked for; has the view render it again,
    // unless a transaction is being replayed (its end does that once).
    void sceneChanged();
    // Reader thread, after a completed transaction: notes the model's arrival when it is the
    // host's enumeration.
    void noteCompletedTransaction();
    // Reader thread, for each state the plug-in sets: the round trip is due once the model has
    // arrived and no longer loads, and was not made yet.
    void noteLoadingState(bool loadingModel);
    // Reader thread, right after the answer to the plug-in's state request that follows: sends
    // the round trip's two requests. The plug-in takes the window's answer for its own state, and
    // drops attribute writes that arrive while that says the model loads, so the requests must
    // follow the answer that says it no longer does.
    void sendAttributeRoundTrip();
    // Ends the event loop with `exitCode`. Any thread.
    static void quitEventLoop(int exitCode);
    // Any thread: writes the exports that wait for texture answers, when no answer is awaited any
    // more or `force` (the wait is over), logging why when forced with answers still awaited.
    void writeWaitingExports(bool force);

    RenderLog& m_log;
    RenderStateStore m_state;
    SceneTally m_scene;
    SceneStore m_store;
    // The user's moves of the view, which the view and the pictures show.
    ViewNavigation m_navigation;
    SceneExporter m_exporter;
    TextureRequests m_textures;
    // The exports waiting for texture answers, in the order asked for.
    std::mutex m_waitingMutex;
    QStringList m_waitingExports;
    // Lives on the main thread: the context of the export waits' timers, which go with it.
    std::unique_ptr<QObject> m_timerContext;
    // Main thread only but for requestRender(); null without a display. Destroyed before
    // m_store, which its renderer reads.
    std::unique_ptr<ViewWindow> m_view;
    std::atomic<bool> m_announced{false};
    std::atomic<bool> m_pluginReady{false};
    std::atomic<bool> m_exiting{false};
    // Reader thread only: a transaction is open, so the receiver holds what arrives.
    bool m_transactionOpen = false;
    // Reader thread only: the receiver is handing over what a transaction held.
    bool m_replaying = false;
    // Reader thread only: the message being handled is a section plane's removal.
    bool m_removingSectionPlane = false;
    // Reader thread only: the name of the open transaction.
    QString m_transactionName;
    // Reader thread only: a transaction "EnumeratingScene" has completed.
    bool m_modelArrived = false;
    // Reader thread only: the attribute round trip's requests are to go out after the next
    // answer to a state request; they went out.
    bool m_roundTripDue = false;
    bool m_attributesRequested = false;
    // Every message received, by type, logged after each digest and at the exit request; and,
    // reader thread only, what the view window's title shows (message_tally.h): the model's title
    // (the host's attribute Model/Info/Title), its size at the last digest, the last change.
    MessageTally m_messages;
    QString m_modelTitle;
    int m_titleMeshes = 0;
    std::int64_t m_titleTriangles = 0;
    QString m_lastChange;
    // Reader thread: sets the view window's title from the members above (none without a view).
    void showTitle();
};

}  // namespace orvanta::render_window
