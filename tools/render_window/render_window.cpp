#include "tools/render_window/render_window.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QStringList>
#include <QTimer>
#include <QtGlobal>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <utility>

#include "render_link/messages/message_catalogue.h"
#include "tools/common/render_log_texts.h"
#include "tools/render_window/handler_text.h"
#include "tools/render_window/scene_view.h"

namespace orvanta::render_window {
namespace {

// Entity ids, comma-separated, whose content the window asks the host for once the plug-in is
// ready; the model root when the variable is not set.
constexpr char kRequestsVariable[] = "ORVANTA_RENDER_REQUESTS";
constexpr char kDefaultRequests[] = "Model";
// The echo text that has the window log its scene digest.
constexpr char kDigestEcho[] = "digest";
// The message type of a section plane's removal, which the receiver hands to onSetSectionPlane().
constexpr char kRemoveSectionPlaneType[] = "remCutP";
// The plug-in's request for the window's state, which the receiver answers itself.
constexpr char kStateRequestType[] = "STATE";
// The transaction in which the host sends its whole model.
constexpr char kModelTransaction[] = "EnumeratingScene";
// The attribute round trip: the dictionary asked for again, and the attribute set.
constexpr char kModelOwner[] = "Model";
constexpr char kGeoReferenceDictionary[] = "GeoReference";
constexpr char kWindowDictionary[] = "RenderWindow";
constexpr char kShownKey[] = "Shown";
constexpr char kShownValue[] = "1";

QString flag(bool value) {
    return value ? QStringLiteral("1") : QStringLiteral("0");
}

// Nine significant digits: read back, the text gives the same float.
QString number(float value) {
    return QString::number(static_cast<double>(value), 'g', 9);
}

QString vectorText(const std::array<float, 3>& values) {
    return QStringLiteral("%1,%2,%3").arg(number(values[0]), number(values[1]), number(values[2]));
}

QString describePlane(const SceneSectionPlane& plane) {
    return QStringLiteral("active=%1 first=%2 second=%3 caps=%4 capsValue=%5")
        .arg(flag(plane.active), vectorText(plane.first), vectorText(plane.second),
             flag(plane.capsOn))
        .arg(plane.capsValue);
}

// "[<number> <plane>] ...", by ascending number, or "(none)".
QString describePlanes(const std::map<int, SceneSectionPlane>& planes) {
    if (planes.empty())
        return QStringLiteral("(none)");
    QStringList parts;
    for (const auto& [planeNumber, plane] : planes)
        parts << QStringLiteral("[%1 %2]").arg(planeNumber).arg(describePlane(plane));
    return parts.join(QLatin1Char(' '));
}

// The text of an "echo" payload, decoded as the receiver decodes it; the empty text when the
// payload does not fit the message's layout (the receiver refuses it, and answers nothing).
QString echoText(const void* data, long size, RenderLog& log) {
    namespace messages = xel::messages;
    messages::DecodedMessage echo;
    if (size < 0 || !echo.decode(messages::layoutOf(messages::type::kEcho), data,
                                 static_cast<std::size_t>(size)))
        return QString();
    return handlerText(echo.str(messages::field::Echo::kText), log);
}

ScenePlacement placementOf(PlacementKind kind, const QString& definitionId, const float* transform,
                           const QString& label, const QString& passText, const QString& note) {
    ScenePlacement placement;
    placement.kind = kind;
    placement.definitionId = definitionId;
    // The receiver hands on no transform of fewer than 16 floats.
    if (transform)
        std::copy(transform, transform + 16, placement.transform.begin());
    placement.label = label;
    placement.passText = passText;
    placement.note = note;
    return placement;
}

QString transformText(const std::array<float, 16>& transform) {
    QStringList values;
    for (float value : transform)
        values << number(value);
    return values.join(QLatin1Char(','));
}

}  // namespace

RenderWindow::RenderWindow(const LaunchArguments& launch, RenderLog& log, bool showView)
    : XelRemoteRenderReceiver(launch.sessionFolder.toStdWString().c_str(), launch.queueId),
      m_log(log),
      m_navigation([this](QSize size) { return startCamera(m_store.snapshot(), size); }),
      m_exporter(m_store, log, &m_navigation),
      m_textures(launch.sessionFolder, m_store, log,
                 [this](const QByteArray& materialId, const QByteArray& path) {
                     requestTextureExport(materialId.constData(), path.constData());
                 }),
      m_timerContext(std::make_unique<QObject>()) {
    if (!showView)
        return;
    // The view renders from a snapshot, so the reader thread waits only while it is taken.
    m_view = std::make_unique<ViewWindow>(
        [this](QSize size) { return renderScene(m_navigation.applyTo(m_store.snapshot()), size); },
        [this] {
            m_log.line(QStringLiteral("view window closed"));
            onExitRequested();
        });
    m_view->setNavigation(&m_navigation);
    m_view->show();
    m_view->requestRender();
    m_log.line(QStringLiteral("view window shown"));
}

RenderWindow::~RenderWindow() {
    stopReceiving();
}

void RenderWindow::announce() {
    if (m_exiting.load() || m_announced.exchange(true))
        return;
    notifyRenderStarted();
    m_log.line(QStringLiteral("sent INIT"));
    notifyRenderStarted();
    m_log.line(QStringLiteral("sent INIT again (readiness check)"));
}

void RenderWindow::onMessage(const char* type, const void* data, long size) {
    const std::string name(type ? type : "", type ? ::strnlen(type, 12) : 0);
    if (!m_replaying)
        m_messages.add(name, size);
    if (m_transactionOpen && name != "BEGINTRAN" && name != "ENDTRAN")
        m_log.line(
            QStringLiteral("held %1 (%2 bytes)").arg(QString::fromStdString(name)).arg(size));
    else if (name == xel::messages::type::kEcho)
        logEcho(echoText(data, size, m_log));
    // Only the receiver's call for this very message can reach onSetSectionPlane(); a held
    // message comes back through here when its transaction ends.
    m_removingSectionPlane = name == kRemoveSectionPlaneType;
    XelRemoteRenderReceiver::onMessage(type, data, size);
    m_removingSectionPlane = false;
    // The receiver has queued its answer by now, and the requests go out after it.
    if (name == kStateRequestType && m_roundTripDue)
        sendAttributeRoundTrip();
}

void RenderWindow::logEcho(const QString& echo) {
    m_log.line(QStringLiteral("echo text=%1 (the receiver answers it)").arg(logged(echo)));
    if (echo == QLatin1String(kDigestEcho))
        logDigest();
}

void RenderWindow::logDigest() {
    const tools::SceneDigest digest = m_store.digest();
    m_log.line(QLatin1String(tools::kDigestLinePrefix) + digest.text());
    m_log.line(m_messages.line());
    m_titleMeshes = digest.meshes;
    m_titleTriangles = digest.triangles;
    const QString change = m_messages.changesSinceLastCall();
    if (!change.isEmpty())
        m_lastChange = change;
    showTitle();
}

void RenderWindow::showTitle() {
    if (!m_view)
        return;
    const QString title = viewTitle(m_modelTitle, m_titleMeshes, m_titleTriangles, m_lastChange);
    ViewWindow* view = m_view.get();
    QMetaObject::invokeMethod(
        view, [view, title] { view->setTitle(title); }, Qt::QueuedConnection);
}

QString RenderWindow::text(const char* utf8) {
    return handlerText(utf8, m_log);
}

void RenderWindow::onChannelConnected() {
    m_log.line(QStringLiteral("channel connected"));
}

void RenderWindow::onError(int code, const char* message) {
    m_log.line(QStringLiteral("channel error %1: %2").arg(code).arg(logged(text(message))));
    // A message that did not reach the plug-in is logged; without a channel there is no session.
    if (code == kSetUpFailed)
        quitEventLoop(1);
}

void RenderWindow::quitEventLoop(int exitCode) {
    QCoreApplication* application = QCoreApplication::instance();
    if (exitCode == 0)
        QMetaObject::invokeMethod(application, "quit", Qt::QueuedConnection);
    else
        QMetaObject::invokeMethod(
            application, [exitCode] { QCoreApplication::exit(exitCode); }, Qt::QueuedConnection);
}

void RenderWindow::onGenerateMaterialMaps(const char* materialName, int m1, int m2, int m3, int m4,
                                          float mapValue, int quality, int format) {
    const QString material = logged(text(materialName));
    m_log.line(QStringLiteral("onGenerateMaterialMaps material=%1 values=%2,%3,%4,%5 mapValue=%6 "
                              "quality=%7 format=%8")
                   .arg(material)
                   .arg(m1)
                   .arg(m2)
                   .arg(m3)
                   .arg(m4)
                   .arg(mapValue)
                   .arg(quality)
                   .arg(format));
    // This window makes no maps: it answers at once with seven empty paths.
    sendMaterialMaps(materialName, L"", L"", L"", L"", L"", L"", L"");
    m_log.line(QStringLiteral("sent MATMAPS material=%1 (no maps)").arg(material));
}

void RenderWindow::onSetCamera(float v1, float v2, float v3, float v4, float v5, float v6, float v7,
                               float v8, float v9, bool flag1, bool flag2, float v10, float v11,
                               float v12, float, const char* sceneName) {
    SceneCamera camera;
    camera.eye = {v1, v2, v3};
    camera.target = {v4, v5, v6};
    camera.up = {v7, v8, v9};
    camera.perspective = flag1;
    camera.modelsOwn = flag2;
    camera.fieldOfViewDegrees = v10;
    camera.parallelHeight = v11;
    camera.aspect = v12;
    camera.sceneName = text(sceneName);
    m_store.setCamera(camera);
    const int count = m_scene.add(SceneTally::Camera);
    // One pass over the placeholders, so that a text holding "%1" stays as it is.
    m_log.line(QStringLiteral("onSetCamera scene=%1 first=%2 target=%3 up=%4 flags=%5%6 fov=%7 "
                              "height=%8 aspect=%9 (cameras %10)")
                   .arg(logged(camera.sceneName), vectorText(camera.eye), vectorText(camera.target),
                        vectorText(camera.up), flag(flag1), flag(flag2), number(v10), number(v11),
                        number(v12), QString::number(count)));
    if (m_navigation.moved())
        m_log.line(QStringLiteral("camera kept for snap-back: the view shows the user's camera"));
    sceneChanged();
}

void RenderWindow::onSetSunLight(int p1, float p2, float p3, float p4, float p5, int p6, float p7,
                                 float p8, float p9) {
    m_store.setLight({p1, p2, p3, p4, p5, p6, p7, p8, p9});
    const int count = m_scene.add(SceneTally::SunLight);
    m_log.line(QStringLiteral("onSetSunLight values=%1,%2,%3,%4,%5,%6,%7,%8,%9 (sun lights %10)")
                   .arg(QString::number(p1), number(p2), number(p3), number(p4), number(p5),
                        QString::number(p6), number(p7), number(p8), number(p9))
                   .arg(count));
}

void RenderWindow::onRemoveEntity(const char* entityId, const char* parentId, bool contentTable,
                                  bool forUpdate) {
    const QString entity = text(entityId);
    const QString parent = text(parentId);
    const SceneRemoval removal = m_store.removeEntity(entity, parent, forUpdate);
    const int count = m_scene.add(SceneTally::EntityRemoval);
    m_log.line(QStringLiteral("onRemoveEntity entity=%1 parent=%2 contentTable=%3 forUpdate=%4 "
                              "dropped placements=%5 meshes=%6 (removals %7)")
                   .arg(logged(entity), logged(parent), flag(contentTable), flag(forUpdate),
                        QString::number(removal.placements), QString::number(removal.meshes),
                        QString::number(count)));
    sceneChanged();
}

void RenderWindow::onRemoveEntityMeshes(const char* entityId) {
    const QString entity = text(entityId);
    const int dropped = m_store.removeEntityMeshes(entity);
    const int count = m_scene.add(SceneTally::MeshRemoval);
    m_log.line(QStringLiteral("onRemoveEntityMeshes entity=%1 dropped=%2 (mesh removals %3)")
                   .arg(logged(entity), QString::number(dropped), QString::number(count)));
    sceneChanged();
}

void RenderWindow::onClearSession() {
    m_store.clearScene();
    m_scene.clearScene();
    m_textures.clear();
    m_log.line(QStringLiteral("onClearSession"));
    sceneChanged();
    writeWaitingExports(false);
}

void RenderWindow::onAddMesh(const char* meshId, const char* entityId, const char* meshLabel,
                             const float* positions, const float* normals, const float* frontUVs,
                             const float* backUVs, const bool* vertexFlags, const int* indices,
                             int indexCount, int vertexCount, const char* frontMaterial,
                             const char* backMaterial) {
    const QString id = text(meshId);
    const QString entity = text(entityId);
    SceneMesh mesh = SceneMesh::fromArrays(text(meshLabel), positions, normals, frontUVs, backUVs,
                                           vertexFlags, indices, indexCount, vertexCount,
                                           text(frontMaterial), text(backMaterial));
    // One pass over the placeholders, so that a text holding "%1" stays as it is.
    const QString line =
        QStringLiteral(
            "onAddMesh mesh=%1 entity=%2 vertices=%3 indices=%4 front=%5 back=%6 "
            "label=%7 xxh3=%8")
            .arg(logged(id), logged(entity), QString::number(mesh.vertexCount),
                 QString::number(mesh.indexCount), logged(mesh.frontMaterial),
                 logged(mesh.backMaterial), logged(mesh.label), QString::fromLatin1(mesh.digest));
    m_store.addMesh(entity, id, std::move(mesh));
    const int count = m_scene.add(SceneTally::Mesh);
    m_log.line(line + QStringLiteral(" (meshes %1)").arg(count));
    sceneChanged();
}

void RenderWindow::onAddGroup(const char* groupId, const char* parentId, const char* recordLabel,
                              const char* passText, const float* transform,
                              const char* recordNote) {
    const QString group = text(groupId);
    const QString parent = text(parentId);
    const ScenePlacement placement =
        placementOf(PlacementKind::Group, QString(), transform, text(recordLabel), text(passText),
                    text(recordNote));
    m_store.addPlacement(group, parent, placement);
    const int count = m_scene.add(SceneTally::Group);
    // One pass over the placeholders, so that a text holding "%1" stays as it is.
    m_log.line(QStringLiteral("onAddGroup group=%1 parent=%2 label=%3 pass=%4 note=%5 "
                              "transform=%6 (groups %7)")
                   .arg(logged(group), logged(parent), logged(placement.label),
                        logged(placement.passText), logged(placement.note),
                        transformText(placement.transform), QString::number(count)));
    sceneChanged();
}

void RenderWindow::onAddInstance(const char* instanceId, const char* parentId,
                                 const char* recordLabel, const char* definitionId,
                                 const char* passText, const float* transform,
                                 const char* recordNote) {
    const QString instance = text(instanceId);
    const QString parent = text(parentId);
    const ScenePlacement placement =
        placementOf(PlacementKind::Instance, text(definitionId), transform, text(recordLabel),
                    text(passText), text(recordNote));
    m_store.addPlacement(instance, parent, placement);
    const int count = m_scene.add(SceneTally::Instance);
    m_log.line(QStringLiteral("onAddInstance instance=%1 parent=%2 definition=%3 label=%4 pass=%5 "
                              "note=%6 transform=%7 (instances %8)")
                   .arg(logged(instance), logged(parent), logged(placement.definitionId),
                        logged(placement.label), logged(placement.passText), logged(placement.note),
                        transformText(placement.transform), QString::number(count)));
    sceneChanged();
}

void RenderWindow::onAddComponentDef(const char* definitionId, const char* defText, bool defFlag,
                                     const char* defNote) {
    const QString id = text(definitionId);
    const SceneDefinition definition{text(defText), defFlag, text(defNote)};
    m_store.addComponentDef(id, definition);
    const int count = m_scene.add(SceneTally::ComponentDefinition);
    m_log.line(QStringLiteral("onAddComponentDef definition=%1 text=%2 flag=%3 note=%4 "
                              "(definitions %5)")
                   .arg(logged(id), logged(definition.defText), flag(defFlag),
                        logged(definition.defNote), QString::number(count)));
}

void RenderWindow::onAddMaterial(const char* materialId, const char* materialName,
                                 const char* detailText, int intValue, float floatValue,
                                 const char* extraText) {
    const QString id = text(materialId);
    const SceneMaterial material{text(materialName), text(detailText), intValue, floatValue,
                                 text(extraText)};
    m_store.addMaterial(id, material);
    const int count = m_scene.add(SceneTally::Material);
    m_log.line(QStringLiteral("onAddMaterial material=%1 name=%2 detail=%3 int=%4 float=%5 "
                              "extra=%6 (materials %7)")
                   .arg(logged(id), logged(material.name), logged(material.detailText),
                        QString::number(intValue), number(floatValue), logged(material.extraText),
                        QString::number(count)));
    m_textures.materialArrived(id, material);
    sceneChanged();
}

void RenderWindow::onAddLayer(const char* layerId, bool layerFlag, bool defaultLayer,
                              bool layerValue) {
    const QString layer = text(layerId);
    m_store.addLayer(layer, {layerFlag, defaultLayer, layerValue});
    const int count = m_scene.add(SceneTally::Layer);
    m_log.line(QStringLiteral("onAddLayer layer=%1 flag=%2 default=%3 value=%4 (layers %5)")
                   .arg(logged(layer), flag(layerFlag), flag(defaultLayer), flag(layerValue))
                   .arg(count));
    // A layer shown or hidden shows or hides what lies on it.
    sceneChanged();
}

void RenderWindow::onDictionaryMessage(const char* owner, const char* dictionary, const char* key,
                                       const char* value) {
    const DictionaryRecord message{text(owner), text(dictionary), text(key), text(value)};
    m_store.addDictionaryMessage(message);
    const int count = m_scene.add(SceneTally::Dictionary);
    m_log.line(QStringLiteral("onDictionaryMessage owner=%1 dictionary=%2 key=%3 value=%4 "
                              "(dictionary messages %5)")
                   .arg(logged(message.owner), logged(message.dictionary), logged(message.key),
                        logged(message.value))
                   .arg(count));
    if (m_textures.answerArrived(message)) {
        sceneChanged();
        writeWaitingExports(false);
    }
    if (message.owner == QLatin1String("Model") && message.dictionary == QLatin1String("Info") &&
        message.key == QLatin1String("Title") && message.value != m_modelTitle) {
        m_modelTitle = message.value;
        showTitle();
    }
}

void RenderWindow::onBeginTransaction(const char* name) {
    m_transactionName = text(name);
    m_log.line(QStringLiteral("onBeginTransaction name=%1").arg(logged(m_transactionName)));
    XelRemoteRenderReceiver::onBeginTransaction(name);
    m_transactionOpen = true;
}

void RenderWindow::onEndTransaction(bool abort) {
    m_log.line(QStringLiteral("onEndTransaction abort=%1 held=%2")
                   .arg(flag(abort))
                   .arg(pendingMessagesCount()));
    const bool wasOpen = m_transactionOpen;
    // Closed before the receiver replays what it held, through onMessage().
    m_transactionOpen = false;
    m_replaying = true;
    XelRemoteRenderReceiver::onEndTransaction(abort);
    m_replaying = false;
    m_log.line(QStringLiteral("scene now: %1").arg(m_scene.summary()));
    // An end without an open transaction (a nested bracket's) applies nothing.
    if (!wasOpen)
        return;
    if (!abort) {
        noteCompletedTransaction();
        if (m_view)
            m_view->requestRender();
        // Before the digest, which the host waits on before its next step: the picture is
        // written by then, and the render does not hold up the plug-in's state messages that
        // follow the transaction while the host already acts on that state.
        m_exporter.writeSnapshot();
    }
    logDigest();
}

void RenderWindow::noteCompletedTransaction() {
    if (m_transactionName == QLatin1String(kModelTransaction))
        m_modelArrived = true;
}

void RenderWindow::sceneChanged() {
    if (m_view && !m_replaying)
        m_view->requestRender();
}

void RenderWindow::noteLoadingState(bool loadingModel) {
    // The plug-in drops attribute writes while a model loads; it says when loading ends only
    // after the transaction that brought the model.
    m_roundTripDue = !loadingModel && m_modelArrived && !m_attributesRequested;
}

void RenderWindow::sendAttributeRoundTrip() {
    m_roundTripDue = false;
    m_attributesRequested = true;
    requestEntityAttributes(kModelOwner, kGeoReferenceDictionary);
    m_log.line(QStringLiteral("sent enumEAT %1 %2")
                   .arg(QLatin1String(kModelOwner), QLatin1String(kGeoReferenceDictionary)));
    requestSetEntityAttribute(kModelOwner, kWindowDictionary, kShownKey, kShownValue);
    m_log.line(QStringLiteral("sent setEnt %1 %2 %3 %4")
                   .arg(QLatin1String(kModelOwner), QLatin1String(kWindowDictionary),
                        QLatin1String(kShownKey), QLatin1String(kShownValue)));
}

void RenderWindow::onExitRequested() {
    if (m_exiting.exchange(true))
        return;
    m_log.line(QStringLiteral("exit requested"));
    m_log.line(m_messages.line());
    notifyRenderExit();
    m_log.line(QLatin1String(tools::kSentExitLine));
    quitEventLoop(0);
}

void RenderWindow::onGetState(bool& reserved, bool& loadingModel, bool& closing,
                              bool& renderWindowVisible, bool& settingsUIVisible,
                              bool& materialsUIVisible, bool& productionDialogRequested,
                              bool& dockedWindowsMode, long long& renderWindowParent) {
    const RenderState state = m_state.get();
    reserved = state.reserved;
    loadingModel = state.loadingModel;
    closing = state.closing;
    renderWindowVisible = state.renderWindowVisible;
    settingsUIVisible = state.settingsUIVisible;
    materialsUIVisible = state.materialsUIVisible;
    productionDialogRequested = state.productionDialogRequested;
    dockedWindowsMode = state.dockedWindowsMode;
    renderWindowParent = state.renderWindowParent;
    m_log.line(QStringLiteral("onGetState %1").arg(state.describe()));
    // A "STATE" request comes only from a plug-in that counts this window as running.
    if (m_announced.load() && !m_pluginReady.exchange(true)) {
        m_log.line(QLatin1String(tools::kPluginReadyLine));
        sendConfiguredRequests();
    }
}

void RenderWindow::sendConfiguredRequests() {
    const QString ids = qEnvironmentVariableIsSet(kRequestsVariable)
                            ? qEnvironmentVariable(kRequestsVariable)
                            : QString::fromLatin1(kDefaultRequests);
    for (const QString& id : ids.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        requestEntityContent(id.toUtf8().constData());
        m_log.line(QStringLiteral("sent enumEnt %1").arg(id));
    }
}

void RenderWindow::onSetState(bool reserved, bool loadingModel, bool closing,
                              bool renderWindowVisible, bool settingsUIVisible,
                              bool materialsUIVisible, bool productionDialogRequested,
                              bool dockedWindowsMode, long long renderWindowParent) {
    RenderState state;
    state.reserved = reserved;
    state.loadingModel = loadingModel;
    state.closing = closing;
    state.renderWindowVisible = renderWindowVisible;
    state.settingsUIVisible = settingsUIVisible;
    state.materialsUIVisible = materialsUIVisible;
    state.productionDialogRequested = productionDialogRequested;
    state.dockedWindowsMode = dockedWindowsMode;
    state.renderWindowParent = renderWindowParent;
    m_log.line(QStringLiteral("onSetState %1").arg(state.describe()));
    if (state.productionDialogRequested) {
        // A one-shot request: this window has no production dialog, so it is handled here and
        // no longer pending when the plug-in reads the state back.
        state.productionDialogRequested = false;
        m_log.line(QStringLiteral("production dialog requested (handled)"));
    }
    m_state.set(state);
    noteLoadingState(loadingModel);
}

void RenderWindow::onSaveRequested() {
    m_log.line(QStringLiteral("onSaveRequested"));
    // Nothing of the session is kept on disk yet: saved at once.
    notifyRenderSessionSaved();
    m_log.line(QStringLiteral("sent SAVED"));
}

void RenderWindow::onSetEntityVisible(const char* entityId, const char* recordLabel, bool visible) {
    const QString entity = text(entityId);
    m_store.setEntityVisible(entity, visible);
    const int count = m_scene.add(SceneTally::Visibility);
    m_log.line(QStringLiteral("onSetEntityVisible entity=%1 label=%2 visible=%3 (changes %4)")
                   .arg(logged(entity), logged(text(recordLabel)), flag(visible))
                   .arg(count));
    // Visibility travels apart from the scene stream, so it is no part of a transaction's order:
    // one applied on its own gets a digest of its own.
    if (!m_replaying)
        logDigest();
    sceneChanged();
}

void RenderWindow::onSetSectionPlane(int planeNumber, float firstX, float firstY, float firstZ,
                                     float secondX, float secondY, float secondZ, bool active,
                                     bool capsOn, int capsValue) {
    const int count = m_scene.add(SceneTally::SectionPlane);
    if (m_removingSectionPlane) {
        m_store.removeSectionPlane(planeNumber);
        m_log.line(QStringLiteral("onSetSectionPlane plane=%1 removed (section plane changes %2)")
                       .arg(planeNumber)
                       .arg(count));
    } else {
        const SceneSectionPlane plane{
            active, {firstX, firstY, firstZ}, {secondX, secondY, secondZ}, capsOn, capsValue};
        m_store.setSectionPlane(planeNumber, plane);
        m_log.line(QStringLiteral("onSetSectionPlane plane=%1 %2 (section plane changes %3)")
                       .arg(planeNumber)
                       .arg(describePlane(plane))
                       .arg(count));
    }
    m_log.line(
        QStringLiteral("section planes now: %1").arg(describePlanes(m_store.sectionPlanes())));
    sceneChanged();
}

void RenderWindow::onSetLanguage(const char* language) {
    m_log.line(QStringLiteral("onSetLanguage language=%1").arg(logged(text(language))));
}

void RenderWindow::onRedraw() {
    m_log.line(QStringLiteral("onRedraw"));
    sceneChanged();
}

void RenderWindow::onExportScene(const char* path) {
    const QString file = text(path);
    m_log.line(QStringLiteral("onExportScene path=%1").arg(logged(file)));
    const int awaited = m_textures.awaited();
    if (awaited > 0) {
        {
            std::lock_guard<std::mutex> guard(m_waitingMutex);
            m_waitingExports << file;
        }
        m_log.line(QStringLiteral("export waits for %1 texture(s)").arg(awaited));
        QObject* context = m_timerContext.get();
        QMetaObject::invokeMethod(
            context,
            [this, context] {
                QTimer::singleShot(kTextureWaitMs, context, [this] { writeWaitingExports(true); });
            },
            Qt::QueuedConnection);
        return;
    }
    // Rendered here on the reader thread: a large scene holds the next messages for a fraction of
    // a second, and the file is whole by the time the log says so.
    m_exporter.exportScene(file);
}

void RenderWindow::writeWaitingExports(bool force) {
    const int awaited = m_textures.awaited();
    if (awaited > 0 && !force)
        return;
    QStringList files;
    {
        std::lock_guard<std::mutex> guard(m_waitingMutex);
        files.swap(m_waitingExports);
    }
    if (files.isEmpty())
        return;
    if (awaited > 0)
        m_log.line(QStringLiteral("export goes ahead without %1 texture(s) the host has not "
                                  "answered for within %2 ms")
                       .arg(awaited)
                       .arg(kTextureWaitMs));
    for (const QString& file : files)
        m_exporter.exportScene(file);
}

}  // namespace orvanta::render_window
