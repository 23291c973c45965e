// The session reset, which brings the plug-in's picture of the scene back to an empty model, and
// the host's session clear built on it.
#pragma once

namespace orvanta {

class RenderOutput;
struct SceneSession;

// Deletes every registry record, the section planes, the material names and the Base64 cache,
// then seeds the model root in both registry tables: id "Model" with the one parent "Model",
// present, render id "Root", label "0", note "Default" in the placement table and "" in the content
// table. Keeps the texture sizes, the mesh refresh list, the session attributes, the host request
// queue, the enumeration percent and the model values. Holds the registry lock from the first
// step to the last, so no other thread sees the tables half cleared. Sends nothing. Host thread.
void resetSession(SceneSession& session);

// The host's clear, inside one transaction named "Clear" and with the session busy count raised:
// the colour-by-layer mode goes off and the root entities count back to 0 first. Full:
// resetSession(), then "clear the session" and every session attribute, in list order, to the
// render window. Partial: for each content-table record in ascending key order, its meshes removed
// in the render window when `removeMeshes` (model root included), and its parents forgotten when
// `clearParents`; with `clearParents` also the placement table's parents. A partial clear keeps
// every record, its presence and the rest. Without an output the tables change all the same and
// nothing is sent. Host thread; the lock is never held across a send.
void clearSession(SceneSession& session, bool full, bool clearParents, bool removeMeshes,
                  RenderOutput* output);

}  // namespace orvanta
