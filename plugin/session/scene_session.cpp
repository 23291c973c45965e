#include "plugin/session/scene_session.h"

#include "plugin/requests/host_request_queue.h"

namespace orvanta {

SceneSession& sceneSession() {
    static SceneSession* const session = new SceneSession(
        sessionRegistry(), hostRequestQueue(),
        [](const char* entityId, RequestMode mode) { enumEntityContent(entityId, mode); },
        [](const HostRequest& request) { callHost(request); });
    return *session;
}

}  // namespace orvanta
