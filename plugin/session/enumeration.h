// The enumeration bracket: the host's walk of its whole model, held by the render window as one
// transaction named "EnumeratingScene" with the render state saying a model is loading, and
// followed by the re-export of meshes whose material's texture size changed.
#pragma once

namespace orvanta {

class RenderOutput;
struct SceneSession;

// Opens the bracket: begins the transaction and sets the loading state. Nothing without an
// output. Host thread.
void startEnumeration(RenderOutput* output);

// Closes one level of the bracket: the enumeration completion, the transaction's end, then, once
// the outermost bracket is closed, the loading state cleared (the render window applies nested
// brackets once, at the outermost end). Without an open transaction it only writes a trace line
// about a completion fired twice. Host thread.
void completeEnumeration(SceneSession& session, RenderOutput* output);

// The enumeration completion: when the mesh refresh list holds entities, posts to the session's
// request queue the actions "SuspendScene", one "EnumEntityMeshes" per listed entity id in the
// list's text order, then "ResumeScene", and empties the list; nothing when it is empty. Takes the
// registry lock to take the list over. Any thread.
void postMeshRefreshActions(SceneSession& session);

// Whether the render window holds the scene in a transaction; false without an output.
bool sceneSuspended(const RenderOutput* output);

}  // namespace orvanta
