// The scene session: everything the plug-in keeps about the model it exports to the render window,
// gathered in one object so that the session's operations can work on a session of their own in
// tests and on the process's one in the plug-in.
#pragma once

#include <QByteArray>

#include <atomic>
#include <cstdint>
#include <functional>

#include "plugin/export/attribute_export.h"
#include "plugin/export/material_export.h"
#include "plugin/export/section_planes.h"
#include "plugin/export/session_attributes.h"
#include "plugin/requests/host_request_queue.h"
#include "plugin/session/entity_registry.h"

namespace orvanta {

// Asks the host to enumerate the content of `entityId` in request mode `mode` (RunNow: at once on
// the calling thread; PostOffHostThread: at once on the host thread, posted from any other).
// Returns when the host's callback has run or the request is posted; the callback may call other
// exports.
using EnumerateContent = std::function<void(const char* entityId, RequestMode mode)>;
// Runs `request` now on the calling thread: the host's callback of its kind, if there is one.
using RunHostRequest = std::function<void(const HostRequest& request)>;

// What the model's attributes say of the model; zero, false or empty until an attribute sets it.
// Host thread.
struct ModelValues {
    std::int64_t rootEntitiesCount = 0;
    QByteArray lengthUnit;  // the display unit's name, as the model gives it
    float animationLengthSeconds = 0.0f;
    float longitude = 0.0f;
    float latitude = 0.0f;
    std::int32_t timestamp = 0;
    bool geoReferencing = false;
};

// The tables guarded by the registry lock (the registry, the material tables, the section plane
// list) take it as their own comments say; the rest belongs to the host thread, except the
// atomics, which any thread may read.
struct SceneSession {
    SceneSession(EntityRegistry& registry, HostRequestQueue& requests,
                 EnumerateContent enumerateContent, RunHostRequest runHostRequest)
        : registry(registry),
          requests(requests),
          enumerateContent(std::move(enumerateContent)),
          runHostRequest(std::move(runHostRequest)) {}
    SceneSession(const SceneSession&) = delete;
    SceneSession& operator=(const SceneSession&) = delete;

    EntityRegistry& registry;
    // Where the enumeration completion posts its actions.
    HostRequestQueue& requests;
    EnumerateContent enumerateContent;
    RunHostRequest runHostRequest;
    // The session folder, UTF-8 path; set before any attribute arrives.
    QString sessionFolder;
    MaterialTables materials{registry};
    SectionPlaneList sectionPlanes{registry.lock()};
    SessionAttributeList sessionAttributes;
    // The colour-by-layer display mode, false until the host turns it on and after a new model.
    std::atomic<bool> colorByLayer{false};
    // The host's last progress report of its model walk; no reset touches it.
    std::atomic<int> enumerationPercent{0};
    ModelValues model;
    // The scene of the last camera report; under the registry lock, since the attribute requests
    // of the render window map the owner "Camera" to it on their own thread.
    QByteArray currentSceneName;
    // The scene that was current when a "Camera" attribute last arrived. Host thread.
    QByteArray attributeSceneName;
    // The production view's switches. Host thread.
    bool productionAspectRatio = false;
    bool productionPreviewEnabled = false;
    std::atomic<bool> receiveBase64Attributes{false};
    // Under the registry lock.
    Base64Cache base64;

    // The owner under which the Base64 cache files an attribute: the current scene for "Camera",
    // so that camera attributes are cached per scene. Caller holds the registry lock.
    QByteArray mappedOwner(const QByteArray& owner) const {
        return owner == "Camera" ? currentSceneName : owner;
    }
};

// The session of this process, over sessionRegistry() and hostRequestQueue(), enumerating through
// the host callbacks given at start-up: made at first use, never destroyed.
SceneSession& sceneSession();

}  // namespace orvanta
