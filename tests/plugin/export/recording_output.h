// A render output that writes down every call, for the exporter tests.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "plugin/export/render_output.h"
#include "plugin/requests/host_request_queue.h"
#include "plugin/session/entity_registry.h"
#include "plugin/session/scene_session.h"

namespace orvanta::test {

// Each call becomes one line of `events`, which the test may share with other recorders to see
// the order of everything: "addMesh <meshId> <entityId> <label> I=<n> V=<n> <front>|<back>",
// "addMaterial <id> <name> <detail> <int> <float> <extra>", "setSectionPlane <number> <active>
// <x1>,<y1>,<z1> <x2>,<y2>,<z2> <capsOn> <capsValue as 8 hex digits>", "removeSectionPlane <n>",
// "setSceneLight <nine values>", "dictionary <owner> <dictionary> <key> <value>", "addGroup <id>
// <parent> <label> <pass> <note> <16 values, comma-separated>", "addInstance <id> <parent>
// <definition> <label> <pass> <note> <16 values>", "addComponentDef <id> <text> <flag> <note>",
// "addLayer <id> <flag> <value> <default>", "setCamera <scene> <fifteen values>",
// "invalidateRender", "echo <text>", "removeEntity <id> <parent> <contentTable>
// <forUpdate>", "removeEntityMeshes <id>", "clearSession", "setEntityVisible <id> <visible>
// <label>", "beginTransaction <name>", "endTransaction <abort>", "setLoadingModel <loading>",
// "exportScene <path>", "showSettingsUI <visible>", "setRenderWindowVisible <visible>",
// "showMaterialsUI <visible>", "showImagesGallery <visible>", "showProductionDialog",
// "setCurrentState <eight flags> <parent>", "setRenderWindowParent <handle>",
// "setDockedWindowsMode <docked>". Numbers print with %g, booleans as 0 or 1, a null text as
// "(null)". A test double of one area derives from it and records that area's calls its own way.
class RecordingOutput : public RenderOutput {
public:
    explicit RecordingOutput(std::vector<std::string>& events) : m_events(events) {}
    // Records into a list of its own.
    RecordingOutput() : m_events(m_ownEvents) {}
    RecordingOutput(const RecordingOutput&) = delete;
    RecordingOutput& operator=(const RecordingOutput&) = delete;

    bool loading = false;
    // What settingsUIVisible(), renderWindowVisible() and materialsUIVisible() answer.
    bool windowsVisible = false;
    // The ids isProxyEntity() answers true for.
    std::vector<std::string> proxies;
    // The transaction depth, counted as the sender counts it.
    int depth = 0;
    // The session busy count at each event this output recorded, in order.
    std::vector<int> busyCounts;
    // The array pointers of the last addMesh, as the output received them.
    const float* lastPositions = nullptr;
    const int* lastIndices = nullptr;

    // Every operation of the seam's list; isLoadingModel() answers `loading`,
    // transactionInProgress() whether `depth` is above 0; the queries record nothing.
    ORVANTA_RENDER_OUTPUT_OPERATIONS(ORVANTA_RENDER_OUTPUT_OVERRIDE)

private:
    void record(std::string event);

    std::vector<std::string> m_ownEvents;
    std::vector<std::string>& m_events;
};

// A session of its own for a test, with a recording output and a host whose content enumeration
// is written down in the same events ("enumerate <id> mode <mode>") before `onEnumerate` runs,
// as are the requests it runs at once ("host <kind>|<text>|...").
struct RecordingSession {
    std::vector<std::string> events;
    RecordingOutput output{events};
    EntityRegistry registry;
    HostRequestQueue requests;
    std::function<void(const char* entityId, int mode)> onEnumerate;
    SceneSession session{
        registry, requests,
        [this](const char* entityId, int mode) {
            events.push_back(std::string("enumerate ") + entityId + " mode " +
                             std::to_string(mode));
            if (onEnumerate)
                onEnumerate(entityId, mode);
        },
        [this](const HostRequest& request) {
            events.push_back("host " + request.join(QLatin1Char('|')).toStdString());
        }};

    // Registers `id` as a present entity of `table` under each of `parents`.
    void addEntity(const char* id, EntityTable table, std::initializer_list<const char*> parents);
};

}  // namespace orvanta::test
