// The scene session: everything the plug-in keeps about the model it exports to the render window,
// gathered in one object so that the session's operations can work on a session of their own in
// tests and on the process's one in the plug-in.
#pragma once

#include <atomic>
#include <functional>

#include "plugin/export/material_export.h"
#include "plugin/export/section_planes.h"
#include "plugin/export/session_attributes.h"
#include "plugin/session/entity_registry.h"

namespace orvanta {

class HostRequestQueue;

// Asks the host to enumerate the content of `entityId`, in request mode `mode` (0: at once on the
// calling thread; 2: at once on the host thread, posted from any other). Returns when the host's
// callback has run or the request is posted; the callback may call other exports.
using EnumerateContent = std::function<void(const char* entityId, int mode)>;

// The tables guarded by the registry lock (the registry, the material tables, the section plane
// list) take it as their own comments say; the rest belongs to the host thread, except the
// atomics, which any thread may read.
struct SceneSession {
    SceneSession(EntityRegistry& registry, HostRequestQueue& requests,
                 EnumerateContent enumerateContent)
        : registry(registry), requests(requests), enumerateContent(std::move(enumerateContent)) {}
    SceneSession(const SceneSession&) = delete;
    SceneSession& operator=(const SceneSession&) = delete;

    EntityRegistry& registry;
    // Where the enumeration completion posts its actions.
    HostRequestQueue& requests;
    EnumerateContent enumerateContent;
    MaterialTables materials{registry};
    SectionPlaneList sectionPlanes{registry.lock()};
    SessionAttributeList sessionAttributes;
    // The colour-by-layer display mode, false until the host turns it on and after a new model.
    std::atomic<bool> colorByLayer{false};
    // The host's last progress report of its model walk; no reset touches it.
    std::atomic<int> enumerationPercent{0};
};

// The session of this process, over sessionRegistry() and hostRequestQueue(), enumerating through
// the host callbacks given at start-up: made at first use, never destroyed.
SceneSession& sceneSession();

}  // namespace orvanta
