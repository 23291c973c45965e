/* The exports of the plug-in library, as the host extension script calls them: undecorated C
 * names, UTF-8 texts (a null text reads as the empty text). Input that an export refuses to protect
 * itself is logged: "<export> refused: <why> (<n> refused so far)", for the first refusal of each
 * kind and every thousandth after it. The refusals: a text of more than 256 MiB (wide texts: that
 * many bytes), which reads as the empty text (only the two string hashes take texts of any
 * length); in obrOnEnumMesh a negative count or a null array for a count above 0; a null transform
 * in obrOnEnumGroup and obrOnEnumInstance; a negative count in obrCreateIntRef. Every export may
 * be called from the host thread only, the thread that called obrInitialize, unless noted. No
 * export reports a failure: one that cannot act does nothing, and a query then answers false or 0.
 * No exception leaves an export either: one that fails inside (memory running out, a host callback
 * that throws) logs one line with its name and the reason and answers its failure value: false, 0,
 * "" for a text (L"" for a wide one), null for obrCreateIntRef; one without an answer just returns.
 */
#ifndef ORVANTA_FOR_SKETCHUP_H
#define ORVANTA_FOR_SKETCHUP_H

#include <stddef.h>
#include <stdint.h>
#ifndef __cplusplus
#include <stdbool.h>
#endif

#if defined(_WIN32)
#if defined(ORVANTA_BUILDING)
#define ORVANTA_EXPORT __declspec(dllexport)
#else
#define ORVANTA_EXPORT __declspec(dllimport)
#endif
#else
#define ORVANTA_EXPORT __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Host callbacks: functions of the host that the plug-in calls on the host thread only, to have
 * the host do work that the render window asked for. The host owns them; any may be null, and
 * requests of that kind are then dropped. The texts they receive are UTF-8, owned by the plug-in
 * and valid only during the call. */
typedef void (*ObrHostSetEntityAttribute)(const char* owner, const char* dictionary,
                                          const char* key, const char* value);
typedef void (*ObrHostEnumEntityContent)(const char* entityId);
typedef void (*ObrHostEnumEntityAttributes)(const char* owner, const char* dictionary);
typedef void (*ObrHostExportTexture)(const char* first, const char* second);
/* `pointer` is a host-side pointer value, as a signed 64-bit integer. */
typedef void (*ObrHostDestroyPointer)(int64_t pointer);

/* Start-up and shutdown. */

/* The first call after loading. Records the plug-in folder (the folder of the render-window
 * program), the native handles of the host's main window and of the window that may hold the
 * render window, the five host callbacks and the calling thread as the host thread; opens the
 * settings store, creates the session folder, starts the render link and the render-window
 * program. Reports nothing: whether the render window came up is learnt through the render link.
 * A later call does nothing. */
ORVANTA_EXPORT void obrInitialize(const char* pluginFolder, int64_t mainWindowHandle,
                                  int64_t parentWindowHandle,
                                  ObrHostSetEntityAttribute setEntityAttribute,
                                  ObrHostEnumEntityContent enumEntityContent,
                                  ObrHostEnumEntityAttributes enumEntityAttributes,
                                  ObrHostExportTexture exportTexture,
                                  ObrHostDestroyPointer destroyPointer);
/* Whether obrInitialize has run; stays true after obrUninitialize. */
ORVANTA_EXPORT bool obrInitialized(void);
/* Asks the render window to end. The plug-in keeps running; the host unloads it afterwards. When
 * the library is unloaded, or the host process exits, the render link's shared memory and named
 * objects are released, whether or not a render window ever took them. */
ORVANTA_EXPORT void obrUninitialize(void);
/* Asks a running render window to render its view again. When the render window is gone (it
 * exited, crashed, stopped taking messages for the stall limit, or has not announced itself within
 * 30 s of its start), ends it if it lingers and starts a new one on a fresh channel; a render
 * window still starting is left alone. Once a new render window announces itself, and likewise
 * when a render window counted as stalled answers again, the next obrCheckMessages clears the
 * render session (as obrClearSession(true, false, false) does) and asks the host for the model's
 * content through the enumerate-content callback with "Model", so that the render window gets the
 * whole scene again; the host needs to do nothing else. */
ORVANTA_EXPORT void obrRestartRender(void);
/* Records whether the host application is paused. */
ORVANTA_EXPORT void obrSetApplicationPaused(bool paused);

/* Settings and log. The settings store is the per-user store of the plug-in; it opens with
 * obrInitialize: before that the getters answer 0 and false and the setters do nothing. */

/* The value under `key` as an integer: 0 when the key is missing or its value is no number. */
ORVANTA_EXPORT int obrGetAppSetting(const char* key);
ORVANTA_EXPORT bool obrExistsAppSetting(const char* key);
/* Stores `value` under `key` and writes the store through, when the store is writable. */
ORVANTA_EXPORT void obrSetAppSetting(const char* key, int value);
/* Writes "<message> - ThreadId: <calling thread's id>" to the debug message stream of the
 * process. Any thread. */
ORVANTA_EXPORT void obrAppendLog(const char* message);
/* Do nothing: the plug-in keeps no log buffer and no model summary. */
ORVANTA_EXPORT void obrClearLog(void);
ORVANTA_EXPORT void obrEnumModelInfo(void);

/* Units, hashes and small utilities. */

/* The text hash: 0 for the empty text, else h = 5381 and h = h * 33 + b for each byte b read as a
 * signed 8-bit value, modulo 2^32. The two names are one operation. Any thread. */
ORVANTA_EXPORT uint32_t obrSkpStringHash(const char* text);
ORVANTA_EXPORT uint32_t obrComputeStringHash(const char* text);
/* The text hash of the file's bytes in standard Base64; 0 for a missing, empty or unreadable
 * file, and for anything but a regular file (a folder, FIFO, device or socket), which is never
 * opened. A symbolic link to a regular file hashes as that file. Reads the file in fixed-size
 * blocks, in constant memory whatever its size. Any thread. */
ORVANTA_EXPORT uint32_t obrSkpFileHash(const char* path);
/* Inches to the unit "in", "ft", "mm", "cm" or "m" (names compared exactly, not trimmed; "" and
 * null mean inches; any other name leaves the value). */
ORVANTA_EXPORT double obrConvertLengthFromInches(double inches, const char* unit);
/* A length in `unit` to inches; the unit name is trimmed, and null means the model's length
 * unit. Metres go through centimetres: value * 100 / 2.54. */
ORVANTA_EXPORT double obrConvertLengthToInches(double value, const char* unit);
/* The model's length unit as its attributes gave it; "" before. The text stays valid until the
 * next call. */
ORVANTA_EXPORT const char* obrGetSkpLenghtUnit(void);
/* A zero-filled block of `count` integers (one for 0) that the caller owns until it hands it to
 * obrDestroyIntRef; null for a negative count (refused). */
ORVANTA_EXPORT int32_t* obrCreateIntRef(int32_t count);
/* Releases a block of obrCreateIntRef; null is ignored. */
ORVANTA_EXPORT void obrDestroyIntRef(int32_t* block);
/* The model's location, as its attributes gave it; 0 and false before. */
ORVANTA_EXPORT float obrModelLatitude(void);
ORVANTA_EXPORT float obrModelLongitude(void);
ORVANTA_EXPORT int32_t obrModelTimestamp(void);
ORVANTA_EXPORT bool obrModelUseGeoreference(void);

/* Windows of the render window program. The setters and the actions need obrInitialize (they do
 * nothing before) and the queries answer false before it, unless noted. Window handles are
 * native handles carried as integers. */
ORVANTA_EXPORT void obrShowWindow(void);
ORVANTA_EXPORT void obrHideWindow(void);
ORVANTA_EXPORT bool obrIsWindowVisible(void);
ORVANTA_EXPORT void obrShowRenderWindow(void);
ORVANTA_EXPORT void obrHideRenderWindow(void);
ORVANTA_EXPORT bool obrIsRenderWindowVisible(void);
ORVANTA_EXPORT void obrShowMaterialsDialog(void);
ORVANTA_EXPORT void obrHideMaterialsDialog(void);
ORVANTA_EXPORT bool obrIsMaterialsDialogVisible(void);
ORVANTA_EXPORT void obrShowImagesDialog(void);
ORVANTA_EXPORT void obrHideImagesDialog(void);
ORVANTA_EXPORT void obrShowProdutionDialog(void);
/* Always false. */
ORVANTA_EXPORT bool obrIsProductionWindowVisible(void);
/* Brings the host's main window forward (where the system lets a program ask for it), then shows
 * the settings window and the render window. */
ORVANTA_EXPORT void obrActivateWindows(void);
/* Hides every window of the render window program, keeping the docked mode and, when embedded,
 * the parent window. */
ORVANTA_EXPORT void obrHideAllWindows(void);
/* Mode 0 embeds the render window into the parent window (once a parent handle is known); any
 * other value lets it float. The getter answers 0 (embedded) or 1; 1 until mode 0 is set. */
ORVANTA_EXPORT void obrSetRenderWindowMode(int32_t mode);
ORVANTA_EXPORT int32_t obrRenderWindowMode(void);
/* Mode 0 docks the program's windows; any other value lets them float. The getter answers 0 or 1.
 */
ORVANTA_EXPORT void obrSetWindowMode(int32_t mode);
ORVANTA_EXPORT int32_t obrWindowMode(void);
/* Stores the parent window handle (also before obrInitialize) and, while embedded, hands it to
 * the render window. */
ORVANTA_EXPORT void obrSetParentWindowHandle(int64_t handle);
/* Both answer the parent window handle. */
ORVANTA_EXPORT int64_t obrGetWindowHandle(void);
ORVANTA_EXPORT int64_t obrParentWindowHandle(void);
ORVANTA_EXPORT int64_t obrMainSkpWindowHandle(void);
/* The id of the process that made `window`, a native window handle as a pointer-sized value; for
 * 0 the calling thread's active window (else the foreground window), or its owner when it has one.
 * 0 when the window is invalid, and always 0 where the system offers no window to ask (Linux
 * without a window system of its own). */
ORVANTA_EXPORT uint64_t obrGetWindowOwnerProcess(intptr_t window);

/* The content library and its material gallery. */

/* The content library folder, UTF-8 and wide. Valid until the folder changes. */
ORVANTA_EXPORT const char* obrContentLibraryFolder(void);
ORVANTA_EXPORT const wchar_t* obrContentLibraryFolderW(void);
/* Moves the content library to an existing folder (an empty or missing one is ignored) and
 * remembers it in the settings. The UTF-8 variant also tells the render window; the wide one does
 * not. */
ORVANTA_EXPORT void obrSetContentLibraryFolder(const char* folder);
ORVANTA_EXPORT void obrSetContentLibraryFolderW(const wchar_t* folder);
/* The plug-in folder. */
ORVANTA_EXPORT const wchar_t* obrGetLibraryPath(void);
/* The session folder, where texture files go: "<pid>" in $XDG_RUNTIME_DIR, else in the temporary
 * folder, private to the user (see README.md). */
ORVANTA_EXPORT const char* obrGetTexturesPath(void);
/* Records the gallery material whose ".xml" file is `materialFile`, as its path relative to the
 * library's Materials folder without ".xml", and tells the render window the file. */
ORVANTA_EXPORT void obrSetSelectedGalleryMaterial(const char* materialFile);
ORVANTA_EXPORT const char* obrGetSelectedGalleryMaterial(void);
/* Copies the picture of gallery material `material` (else the session folder's "selected.jpg",
 * when there is no such material picture) into the session folder as `textureName` + ".jpg",
 * replacing an older file, and answers its path; "" when there is no picture. Both names must be
 * plain file names (the material may also be empty): not empty, neither "." nor "..", without "/",
 * "\", ":" or control characters; otherwise the answer is "" and no file is read, written or
 * removed. The text stays valid until the next call. */
ORVANTA_EXPORT const char* obrGetGalleryMaterialTexture(const char* material,
                                                        const char* textureName);
/* Asks the render window to export its scene to `file`. */
ORVANTA_EXPORT void obrExportMI(const char* file);

/* The exports of the session entity registry. Host thread only; none reports a failure. `id` names
 * an entity by its id text: decimal digits, or "Model" for the model root; texts that read as the
 * same number share one record, and queries also compare the record's stored id text exactly.
 * `table` is 0 for the content table and 1 for the placement table; any other number makes an
 * export do nothing and answer false. A null text stores as the empty text. No export returns a
 * text, and none keeps a pointer it was given: every text is copied before the export returns. */

/* Records `id` as the entity's id text, appends `parentId` to its parents unless it is null (even
 * an empty or repeated text), and makes the entity present; creates its record if missing. */
ORVANTA_EXPORT void obrAddEntityToParent(const char* id, const char* parentId, int32_t table);
/* Stores the entity's id in the renderer and makes it present exactly when `renderId` is not empty;
 * creates its record if missing. Changes nothing for the model root. */
ORVANTA_EXPORT void obrSetEntityRenderId(const char* id, const char* renderId, int32_t table);
/* Whether the entity is registered under this id text and present. */
ORVANTA_EXPORT bool obrEntityExists(const char* id, int32_t table);
/* Whether obrEntityExists and the entity has a non-empty render id. */
ORVANTA_EXPORT bool obrIsEntityMarkedOnRender(const char* id, int32_t table);
/* Whether the entity is registered under this id text with parent `parentId`, or with any parent
 * when `parentId` is null; presence is not consulted. */
ORVANTA_EXPORT bool obrIsEntityParentedInSession(const char* id, const char* parentId,
                                                 int32_t table);
/* Forgets the parents of an entity that obrEntityExists; presence stays. */
ORVANTA_EXPORT void obrClearEntityParents(const char* id, int32_t table);
/* Adds `version` to the entity's instance versions; true when added, false for a null or empty
 * version, an entity without a record, or a version listed already. */
ORVANTA_EXPORT bool obrAddInstanceVersion(const char* id, const char* version, int32_t table);
ORVANTA_EXPORT void obrClearInstanceVersions(const char* id, int32_t table);
/* Stores `meshInfo` under `meshId` (owner id, "_", suffix) in the owner's content record,
 * replacing an earlier value; nothing when the owner has no content record. */
ORVANTA_EXPORT void obrAddMeshInEntity(const char* meshId, const char* meshInfo);
/* Forgets every mesh of the entity's content record; nothing when it has none. */
ORVANTA_EXPORT void obrClearEntityMeshes(const char* id);
/* Whether `typeName` is exactly one of Face, Group, ComponentDefinition, ComponentInstance,
 * Image, Layer, Layers, Model, Surface, Mesh, Material, SectionPlane. Any thread. */
ORVANTA_EXPORT bool obrIsEntityTypeManaged(const char* typeName);
/* Whether `id` is a mesh id: it contains "_". Any thread. */
ORVANTA_EXPORT bool obrIsMesh(const char* id);

/* Requests: work that only the host can do, handed to the host callbacks. `mode` is the last
 * argument of each: 0 runs the request at once on the calling thread, 1 posts it to the plug-in's
 * request queue, 2 posts it when the calling thread is not the host thread and runs it at once on
 * the host thread; any other value behaves like 0. Running a request calls the host callback of
 * its kind with the texts, and does nothing when that callback is null. Posting copies the texts
 * (a null text becomes the empty text) and replaces a pending request for the same work. These
 * exports may be called from any thread; a request that runs at once runs on the caller's. */

/* Asks the host to enumerate the entity's content. The second argument is not used. */
ORVANTA_EXPORT void obrSkpEnumEntityContent(const char* entityId, bool unused, int mode);
/* Asks the host to enumerate the attributes of `owner` in `dictionary`. A posted request first
 * forwards the cached Base64 attributes of that dictionary to the render window, while Base64
 * attributes are received. */
ORVANTA_EXPORT void obrSkpEnumEntityAttributes(const char* owner, const char* dictionary, int mode);
/* Asks the host to export a texture. */
ORVANTA_EXPORT void obrSkpExportTexture(const char* first, const char* second, int mode);
/* Asks the host to set an attribute, or, with the owner "ExecuteAction", to run an action. A
 * posted request for the same owner, dictionary and key replaces the pending one whatever its
 * value. An owner beginning with "%" only edits the remembered per-scene render settings (owner
 * without the "%"). Except for actions, nothing happens while the session is being reset or a
 * model is loading, nor for a Base64 value equal to the cached one. */
ORVANTA_EXPORT void obrSkpSetEntityAttribute(const char* owner, const char* dictionary,
                                             const char* key, const char* value, int mode);
/* Asks the host to release a host-side pointer. A posted release replaces any pending one. */
ORVANTA_EXPORT void obrSkpDestroyPointer(int64_t pointer, int mode);
/* obrSkpSetEntityAttribute("ExecuteAction", action, subject, parameter, 2). */
ORVANTA_EXPORT void obrSkpExecuteCustomAction(const char* action, const char* subject,
                                              const char* parameter);

/* Runs the pending requests, oldest first, on the calling thread (the host thread), requests
 * posted meanwhile included; first, a resync that a render window's return made due (see
 * obrRestartRender). An attribute request whose owner is neither "ExecuteAction" nor
 * begins with "%" waits, in order, for a later call while the session is being reset or the
 * render window is loading a model. Returns at once when nothing is pending. */
ORVANTA_EXPORT void obrCheckMessages(void);
/* The number of pending requests at the moment of the call; never waits. Any thread. */
ORVANTA_EXPORT int obrPendingMessagesCount(void);

/* Scene content: what the host reports of its model, forwarded to the render window. Each sends
 * nothing before obrInitialize or while the render window is not running (what is sent then is
 * lost, not queued); the tables they keep are updated all the same unless noted. */

/* One mesh of the entity `entityId` ("Model" for the model root). The arrays hold, for V =
 * vertexCount vertices and I = indexCount indices: positions and normals 3 x V floats, front and
 * back texture coordinates 2 x V floats each, V one-byte vertex flags, I vertex indices (three per
 * triangle). They are forwarded unchanged and read only during the call; the caller must pass
 * arrays of those sizes. Both faces carry one material name: the front one when given, else the
 * back one. Nothing happens when either count is 0; a negative count, or a null array for a count
 * above 0, is refused. An owner other than "Model" that is not yet in
 * the session is first enumerated through the host's content callback, at once, on this thread,
 * so the host may call other exports from inside it. */
ORVANTA_EXPORT void obrOnEnumMesh(const char* meshId, const char* entityId, const char* meshLabel,
                                  const float* positions, const float* normals,
                                  const float* frontUVs, const float* backUVs,
                                  const bool* vertexFlags, const int32_t* indices,
                                  int32_t indexCount, int32_t vertexCount,
                                  const char* frontMaterial, const char* backMaterial);
/* One material. Records its name and texture size; when the size differs from the one last
 * recorded for the id ((1, 1) before the first), both values are above 0 and no model is loading,
 * the meshes whose ids contain "f[materialId]" or "r[materialId]" are exported again when the
 * enumeration completes. The texture size is not sent; the other values are carried unchanged. */
ORVANTA_EXPORT void obrOnEnumMaterials(const char* materialId, const char* materialName,
                                       const char* detailText, float textureWidth,
                                       float textureHeight, int32_t intValue, float floatValue,
                                       const char* extraText);
/* The name recorded for the material id, or "" for an unknown id; never null. The text belongs to
 * the plug-in and stays valid until the material is reported again or the session is reset: copy
 * it, never free it. */
ORVANTA_EXPORT const char* obrGetMaterialName(const char* materialId);

/* One section plane, (x1, y1, z1) and (x2, y2, z2) its two vectors. A known plane reported
 * inactive is removed; any other report adds or updates the plane. The render window numbers the
 * planes by their position in the order first reported, which moves up when an earlier plane is
 * removed. */
ORVANTA_EXPORT void obrEnumSectionPlane(const char* sectionId, bool active, bool capsOn, float x1,
                                        float y1, float z1, float x2, float y2, float z2);
/* The section caps of every plane: on when capsMode is 1, coloured AARRGGBB from the four values
 * (the low 8 bits of capsAlpha). Each plane is sent again, numbered by its position as
 * obrEnumSectionPlane numbers it. Does nothing before obrInitialize. */
ORVANTA_EXPORT void obrSetSectionCaps(int32_t capsMode, uint8_t capsRed, uint8_t capsGreen,
                                      uint8_t capsBlue, uint32_t capsAlpha);
/* The model's shadow settings, sent as the scene light (a, b, c, 0, 0, d, e, f, g). */
ORVANTA_EXPORT void obrEnumShadowsInfo(int32_t a, float b, float c, int32_t d, float e, float f,
                                       float g);
/* Re-sends the remembered per-scene render settings that a scene lacks: with mask 0 all of them,
 * otherwise those of the dictionaries whose bits are set: 1 "DoF", 2 "FlashLight", 4 "Bloom",
 * 8 "ToneMapper", 16 "Environment", 32 "ImageProduction" (names compared ignoring case). */
ORVANTA_EXPORT void obrSetMissingSceneValues(uint32_t missingMask);

/* The model's hierarchy. Each does nothing before obrInitialize (result bytes included). A
 * transform is 16 floats, sent in the order given; with a null one the node is recorded in the
 * session but not sent, and the plug-in's log says so. */

/* A group under `parentId`. enumResult (two bytes) receives 1, then 1 when the group was not yet
 * recorded in the session, else 0. */
ORVANTA_EXPORT void obrOnEnumGroup(const char* groupId, const char* parentId,
                                   const char* recordLabel, const char* passText,
                                   const float* transform, const char* recordNote,
                                   uint8_t* enumResult);
/* A component instance of `definitionId` under `parentId`. An unknown definition is first
 * enumerated through the host's content callback (at once, on this thread), and again after the
 * instance was sent if it is still unknown. An instance reported again under the same parent is
 * removed and sent anew. */
ORVANTA_EXPORT void obrOnEnumInstance(const char* instanceId, const char* parentId,
                                      const char* recordLabel, const char* definitionId,
                                      const char* passText, const float* transform,
                                      const char* recordNote);
/* A component definition; sent once per session. enumResult (two bytes) receives 1, 1. */
ORVANTA_EXPORT void obrOnEnumComponentDef(const char* definitionId, const char* defText,
                                          bool defFlag, const char* defNote, uint8_t* enumResult);
/* A layer; the one whose id reads as the integer 0 (or not as a number) is the default layer. */
ORVANTA_EXPORT void obrOnEnumLayers(const char* layerId, bool layerFlag, int32_t layerValue);
/* The colour-by-layer display mode; stored also before obrInitialize. A new model or a session
 * clear turns it off. */
ORVANTA_EXPORT void obrSetLayersColorMode(bool enabled);
ORVANTA_EXPORT bool obrIsColorByLayer(void);

/* The enumeration bracket around a walk of the whole model: the render window holds what arrives
 * in between and applies it at once when the bracket closes. Brackets nest (each start needs its
 * completion); the render window applies what it held once, when the outermost bracket closes, and
 * the model counts as loading until then. */
ORVANTA_EXPORT void obrEnumerationProcessStarted(void);
/* Closes one bracket; after it the host's set-attribute callback receives, at its next
 * obrCheckMessages, "ExecuteAction" with "SuspendScene", "EnumEntityMeshes" with each entity whose
 * meshes need exporting again (their material's texture size changed), then "ResumeScene". A
 * completion without an open bracket does nothing. */
ORVANTA_EXPORT void obrEnumerationProcessCompleted(void);
/* The host's progress, stored as given. */
ORVANTA_EXPORT void obrModelEnumerationProcessStatus(int32_t percent);
ORVANTA_EXPORT int32_t obrCurrentModelEnumPercent(void);
/* Whether the render window holds the scene (a bracket or a session clear is open). */
ORVANTA_EXPORT bool obrIsSceneSuspended(void);

/* Changes after the export. `table` is 0 for the content table, 1 for the placement table. */

/* With a non-zero mode, tells the render window the entity is gone from `parentId` (when not
 * empty) or from each recorded parent; "Model" is always removed once. With mode 0 only forgets
 * the entity's parents. An entity left without parents is no longer in the session. Ids not in
 * the session are ignored, except "Model". */
ORVANTA_EXPORT void obrRemoveEntity(const char* id, const char* parentId, int32_t mode,
                                    int32_t table, bool forUpdate);
/* Forgets the first recorded parent equal to parentId; the table comes before the parent. */
ORVANTA_EXPORT void obrRemoveEntityFromParent(const char* id, int32_t table, const char* parentId);
/* Forgets a mesh of its owner entity (the owner read from the mesh id). */
ORVANTA_EXPORT void obrRemoveMeshInEntity(const char* meshId);
/* Hides the entity in the render window, once; registers it when unknown. */
ORVANTA_EXPORT void obrOnEnumHiddenEntity(const char* id);
/* Shows every hidden entity again, in ascending id order: its content is enumerated through the
 * host's content callback first (posted when called off the host thread). */
ORVANTA_EXPORT void obrResetHiddenEntities(void);
/* A per-entity event; resultFlags (two bytes) and resultFlag (one byte) receive 0 or 1 as the
 * event kind says, and stay untouched for unknown kinds. */
ORVANTA_EXPORT void obrEntityMessage(int32_t messageKind, const char* id, const char* typeName,
                                     const char* parentId, uint8_t* resultFlags,
                                     uint8_t* resultFlag);
/* A model event; kinds 0 and 1 (new or opened model) reset the session and clear the render
 * window's scene. The title is not used. */
ORVANTA_EXPORT void obrModelMessage(int32_t messageKind, const char* title, uint8_t* resultFlags,
                                    uint8_t* resultFlag);
/* Clears the session inside one "Clear" transaction. Full: every entity forgotten but the model
 * roots, the render window's scene cleared and the per-scene render settings sent again; the two
 * other flags are then ignored. Partial: the meshes of every entity removed from the render window
 * (removeMeshes) and/or every entity's parents forgotten (clearParents), entities kept. */
ORVANTA_EXPORT void obrClearSession(bool full, bool clearParents, bool removeMeshes);

/* The view. */

/* The camera of the scene `sceneName`; the fifteen values are carried to the render window
 * unchanged. The first report of a scene records it; a repeated report of the same scene while
 * none of its camera attributes arrived re-sends the remembered per-scene render settings. */
ORVANTA_EXPORT void obrSetCamera(float v1, float v2, float v3, float v4, float v5, float v6,
                                 float v7, float v8, float v9, bool flag1, bool flag2, float v10,
                                 float v11, float v12, float v13, const char* sceneName);
/* The viewport, sent as the text of its thirteen values separated by ";" (floats with 6
 * significant digits: 1.5, 0.25, 1.23457e+06). */
ORVANTA_EXPORT void obrSetViewPort(int32_t i1, int32_t i2, float f1, float f2, float f3, float f4,
                                   float f5, float f6, float f7, float f8, float f9, float f10,
                                   float f11);
/* The production view's switches: on for mode 1, resp. when enabled. Sent, with a new render, only
 * when they change; stored also before obrInitialize. */
ORVANTA_EXPORT void obrSetProductionAspectRatio(int32_t mode);
ORVANTA_EXPORT void obrSetProductionPreviewEnabled(bool enabled);
ORVANTA_EXPORT bool obrIsProductionAspectRatio(void);
ORVANTA_EXPORT bool obrIsProductionPreviewEnabled(void);

/* Attributes of the model, its entities and its scenes (owner "Camera"). */

/* Whether the host should enumerate the attributes of `dictionary`: always, except a dictionary
 * whose name ends in "Base64" (any letter case), which only while Base64 attributes are received.
 */
ORVANTA_EXPORT void obrOnEnumAttributeDictionariesCallback(const char* owner,
                                                           const char* dictionary, bool* answer);
/* One attribute: forwarded to the render window; sets the model values it names; the first
 * attribute of each "Camera" dictionary is remembered as a per-scene render setting. A Base64
 * attribute is cached (per scene for "Camera") and, unless empty, written decoded into the session
 * folder under its key when that is a plain file name (as for obrGetGalleryMaterialTexture) and the
 * file's size differs. */
ORVANTA_EXPORT void obrOnEnumAttributesCallback(const char* owner, const char* dictionary,
                                                const char* key, const char* value);
/* The cached Base64 text of an attribute ("" when none; valid until the attribute changes or the
 * session is reset), and its text hash (0 when none). Any thread. */
ORVANTA_EXPORT const char* obrGetBase64DictionaryValueContent(const char* owner,
                                                              const char* dictionary,
                                                              const char* key);
ORVANTA_EXPORT uint32_t obrGetBase64DictionaryValueHash(const char* owner, const char* dictionary,
                                                        const char* key);
ORVANTA_EXPORT void obrReceiveBase64Attributes(bool enabled);
ORVANTA_EXPORT bool obrIsReceiveBase64AttributesEnabled(void);
ORVANTA_EXPORT float obrGetAnimationLenghtSeconds(void);
ORVANTA_EXPORT int64_t obrGetSkpRootEntitiesCount(void);

#ifdef __cplusplus
}
#endif

/* The exports with Qt parameters, still under their undecorated names; seen only by C++ code built
 * against Qt 5. The caller must use the same Qt 5 as the plug-in, since the containers' layout
 * crosses the boundary. Each takes its arguments by value: the export owns its copies, which
 * share their data with the caller's until either side changes them. */
#if defined(__cplusplus) && defined(__has_include)
#if __has_include(<QString>) && __has_include(<QVector>)
#include <QString>
#include <QVector>

/* Stores the text `value` under `key` and writes the store through, when the store is writable. */
extern "C" ORVANTA_EXPORT void obrSetAppSettingStr(const char* key, QString value);

/* One remembered per-scene render setting: an attribute of the owner "Camera". */
struct ObrSessionAttribute {
    QString owner;
    QString dictionary;
    QString key;
    QString value;
};
/* Replaces the remembered per-scene render settings by `records`, in their order. They live as
 * long as the plug-in; obrSetMissingSceneValues sends them. May be called before obrInitialize. */
extern "C" ORVANTA_EXPORT void obrSetDefaultSessionAttributes(QVector<ObrSessionAttribute> records);
#endif
#endif

#endif
