/* The exports of the plug-in library, as the host extension script calls them: undecorated C
 * names, UTF-8 texts (a null text reads as the empty text). Every export may be called from the
 * host thread only, the thread that called obrInitialize, unless noted. No export reports a
 * failure: one that cannot act does nothing, and a query then answers false or 0. */
#ifndef ORVANTA_FOR_SKETCHUP_H
#define ORVANTA_FOR_SKETCHUP_H

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
/* Asks the render window to end. The plug-in keeps running; the host unloads it afterwards. */
ORVANTA_EXPORT void obrUninitialize(void);
/* Asks the render window to render its view again. */
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
ORVANTA_EXPORT uint32_t obrSkpStringHash(const char* text);
ORVANTA_EXPORT uint32_t obrComputeStringHash(const char* text);

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
/* Asks the host to enumerate the attributes of `owner` in `dictionary`. */
ORVANTA_EXPORT void obrSkpEnumEntityAttributes(const char* owner, const char* dictionary, int mode);
/* Asks the host to export a texture. */
ORVANTA_EXPORT void obrSkpExportTexture(const char* first, const char* second, int mode);
/* Asks the host to set an attribute, or, with the owner "ExecuteAction", to run an action. A
 * posted request for the same owner, dictionary and key replaces the pending one whatever its
 * value. */
ORVANTA_EXPORT void obrSkpSetEntityAttribute(const char* owner, const char* dictionary,
                                             const char* key, const char* value, int mode);
/* Asks the host to release a host-side pointer. A posted release replaces any pending one. */
ORVANTA_EXPORT void obrSkpDestroyPointer(int64_t pointer, int mode);
/* obrSkpSetEntityAttribute("ExecuteAction", action, subject, parameter, 2). */
ORVANTA_EXPORT void obrSkpExecuteCustomAction(const char* action, const char* subject,
                                              const char* parameter);

/* Runs the pending requests, oldest first, on the calling thread (the host thread), requests
 * posted meanwhile included. An attribute request whose owner is neither "ExecuteAction" nor
 * begins with "%" waits, in order, for a later call while the session is being reset or the
 * render window is loading a model. Returns at once when nothing is pending. */
ORVANTA_EXPORT void obrCheckMessages(void);
/* The number of pending requests at the moment of the call; never waits. Any thread. */
ORVANTA_EXPORT int obrPendingMessagesCount(void);

#ifdef __cplusplus
}
#endif

/* The one export with a C++ parameter, still under its undecorated name; seen only by C++ code
 * built against Qt 5. The caller must use the same Qt 5 as the plug-in, since the string's layout
 * crosses the boundary. Stores the text `value` under `key` and writes the store through, when the
 * store is writable; the export takes over the string and releases it before it returns, stored
 * or not. */
#if defined(__cplusplus) && defined(__has_include)
#if __has_include(<QString>)
#include <QString>
extern "C" ORVANTA_EXPORT void obrSetAppSettingStr(const char* key, QString value);
#endif
#endif

#endif
