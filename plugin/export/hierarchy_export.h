// Hierarchy export: groups, component definitions and instances with their transforms, and
// layers, recorded in the session registry and sent to the render window one message per node.
#pragma once

#include <cstdint>

namespace orvanta {

class RenderOutput;
struct SceneSession;

// Texts are UTF-8 and may be null (read as empty), except a null `parentId`: no parent in
// particular, recorded without adding a parent, and already placed when the entity has any parent.
// `transform` is 16 floats, sent in the order given, or null: the node is recorded but not sent,
// and the refusal is logged (rate-limited).
struct GroupReport {
    const char* groupId = nullptr;
    const char* parentId = nullptr;
    const char* recordLabel = nullptr;
    const char* passText = nullptr;
    const float* transform = nullptr;
    const char* recordNote = nullptr;
};

struct InstanceReport {
    const char* instanceId = nullptr;
    const char* parentId = nullptr;
    const char* recordLabel = nullptr;
    const char* definitionId = nullptr;
    const char* passText = nullptr;
    const float* transform = nullptr;
    const char* recordNote = nullptr;
};

struct ComponentDefReport {
    const char* definitionId = nullptr;
    const char* defText = nullptr;
    bool defFlag = false;
    const char* defNote = nullptr;
};

// Each of the following does nothing at all without an output, runs on the host thread, and never
// holds the registry lock across a send or a host callback, so the host may call other exports
// from its content callback.

// Writes `enumResult` (two bytes, unless null): 1, then whether the group was not yet recorded
// as a container. Records the group in the content table without a parent and in the placement
// table under `parentId` (each unless already so), stores its note and label, sends it.
void exportGroup(SceneSession& session, const GroupReport& group, std::uint8_t* enumResult,
                 RenderOutput* output);

// Has the host enumerate an unknown definition first. An instance already recorded under the same
// parent is removed from the render window (from all its parents for a null `parentId`) and sent
// again, unless the render window keeps it as a proxy; its parent stays listed once. The definition
// gains the instance as a parent in the content table. Stores the note and label, sends the
// instance, and has the host enumerate the definition once more if it is still unknown.
void exportInstance(SceneSession& session, const InstanceReport& instance, RenderOutput* output);

// Writes 1, 1 to `enumResult` (unless null). Records and sends a definition not yet recorded in
// the content table; a known one is not sent again.
void exportComponentDef(SceneSession& session, const ComponentDefReport& definition,
                        std::uint8_t* enumResult, RenderOutput* output);

// Sends the layer, the default layer being the one whose id reads as the integer 0 (as entity
// keys are read: a non-numeric id counts).
void exportLayer(const char* layerId, bool layerFlag, int layerValue, RenderOutput* output);

// Stores the colour-by-layer mode and, with an output, tells the render window
// ("App", "obrSetLayersColorMode", "Data", "true" or "false").
void setLayersColorMode(SceneSession& session, bool enabled, RenderOutput* output);

}  // namespace orvanta
