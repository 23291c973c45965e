// Entity change and removal: what the host reports after the model was exported (erasures,
// re-parenting, removed meshes, hidden entities, model switches), turned into render window
// messages with the registry kept in step.
#pragma once

#include <QString>

#include <cstdint>

namespace orvanta {

class RenderOutput;
struct SceneSession;

// Removes the entity from one or all of its parents in `table` (0 content, 1 placement; any other
// number does nothing). Ids other than "Model" whose record is missing or not present are ignored.
// With `mode` 0 only the record's parents are forgotten; otherwise "remove" is sent once per
// parent (`parentId` when not empty, else each of the record's parents, which stay recorded), and
// for "Model" exactly once as ("Model", "Model", content table). An entity other than the model
// root that is left without parents is no longer present. Host thread; the registry lock is taken
// around the reads and the writes, never across a send.
void removeEntity(SceneSession& session, const QString& id, const QString& parentId, int mode,
                  int table, bool forUpdate, RenderOutput* output);

// Forgets the first recorded parent equal to `parentId` of an entity that exists in `table`;
// presence stays. Sends nothing. Takes the registry lock.
void removeEntityFromParent(SceneSession& session, const QString& id, int table,
                            const QString& parentId);

// Drops `meshId` from the mesh table of its owner's content record (the key read from the mesh
// id); nothing when there is no such record or mesh. Takes the registry lock.
void removeMeshInEntity(SceneSession& session, const QString& meshId);

// Marks the entity hidden in the placement table, registering it (present, one empty parent) when
// the table has no record for its key, and tells the render window once: an entity already hidden
// is not sent again. Nothing at all without an output. Holds the registry lock throughout.
void hideEntity(SceneSession& session, const QString& id, RenderOutput* output);

// Shows every hidden placement record again, in ascending key order: clears its flag, has the host
// enumerate its content (request mode 2), then tells the render window it is visible, with the
// record's stored id text and label. Holds the registry lock throughout, across the host's
// callback, which may add records: the walk goes on from the key after the current one, records
// added behind it included, and never keeps a record across the callback. Nothing at all without
// an output. Host thread.
void showHiddenEntities(SceneSession& session, RenderOutput* output);

// The result bytes of the two message entries: each written as 0 or 1 where its table says so,
// untouched otherwise. A null pointer is never written.
struct MessageResults {
    std::uint8_t* flags = nullptr;  // two bytes
    std::uint8_t* flag = nullptr;   // one byte
};

// A per-entity event of the host (`kind`) for an entity of type `typeName`: writes the results
// first, then removes, re-enumerates or updates as the kind asks. Nothing at all without an
// output. Host thread.
void entityMessage(SceneSession& session, int kind, const QString& id, const QString& typeName,
                   const QString& parentId, const MessageResults& results, RenderOutput* output);

// A model event of the host. Kinds 0 and 1 (a new or opened model): the session reset, "clear the
// session" to the render window, the root entities count back to 0 and the length unit emptied
// (the new model's attributes say them again), the colour-by-layer mode off and every session
// attribute sent again, with the session busy count raised meanwhile. Nothing at all without an
// output. Host thread.
void modelMessage(SceneSession& session, int kind, const MessageResults& results,
                  RenderOutput* output);

}  // namespace orvanta
