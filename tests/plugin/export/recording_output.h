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
// <label>", "beginTransaction <name>", "endTransaction <abort>", "setLoadingModel <loading>".
// Numbers print with %g, booleans as 0 or 1, a null text as "(null)".
class RecordingOutput final : public RenderOutput {
public:
    explicit RecordingOutput(std::vector<std::string>& events) : m_events(events) {}

    bool loading = false;
    // The ids isProxyEntity() answers true for.
    std::vector<std::string> proxies;
    // The transaction depth, counted as the sender counts it.
    int depth = 0;
    // The session busy count at each event this output recorded, in order.
    std::vector<int> busyCounts;
    // The array pointers of the last addMesh, as the output received them.
    const float* lastPositions = nullptr;
    const int* lastIndices = nullptr;

    bool isLoadingModel() const override { return loading; }
    void addMesh(const char* meshId, const char* entityId, const char* meshLabel,
                 const float* positions, const float* normals, const float* frontUVs,
                 const float* backUVs, const bool* vertexFlags, const int* indices, int indexCount,
                 int vertexCount, const char* frontMaterial, const char* backMaterial) override;
    void addMaterial(const char* materialId, const char* materialName, const char* detailText,
                     int intValue, float floatValue, const char* extraText) override;
    void setSectionPlane(int planeNumber, bool active, const float* firstVector,
                         const float* secondVector, bool capsOn, int capsValue) override;
    void removeSectionPlane(int planeNumber) override;
    void setSceneLight(int p1, float p2, float p3, float p4, float p5, int p6, float p7, float p8,
                       float p9) override;
    void sendDictionaryMessage(const char* owner, const char* dictionary, const char* key,
                               const char* value) override;
    void addGroup(const char* groupId, const char* parentId, const char* recordLabel,
                  const char* passText, const float* transform, const char* recordNote) override;
    void addInstance(const char* instanceId, const char* parentId, const char* definitionId,
                     const char* recordLabel, const char* passText, const float* transform,
                     const char* recordNote) override;
    void addComponentDef(const char* definitionId, const char* defText, bool defFlag,
                         const char* defNote) override;
    void addLayer(const char* layerId, bool layerFlag, int layerValue, bool defaultLayer) override;
    void removeEntity(const char* entityId, const char* parentId, bool contentTable,
                      bool forUpdate) override;
    void removeEntityMeshes(const char* entityId) override;
    void clearSession() override;
    void setEntityVisible(const char* entityId, bool visible, const char* recordLabel) override;
    bool isProxyEntity(const char* entityId) const override;
    void beginTransaction(const char* name) override;
    void endTransaction(bool abort) override;
    bool transactionInProgress() const override { return depth > 0; }
    void setLoadingModel(bool loading) override;
    void setCamera(float v1, float v2, float v3, float v4, float v5, float v6, float v7, float v8,
                   float v9, bool flag1, bool flag2, float v10, float v11, float v12, float v13,
                   const char* sceneName) override;
    void invalidateRender() override;
    void echo(const char* text) override;

private:
    void record(std::string event);

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
