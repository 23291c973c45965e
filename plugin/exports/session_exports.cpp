// Exports of the scene session: the enumeration bracket, changes after the export, and the
// session clear; thin entries to the session's operations on the process's session.
#include "OrvantaForSketchup.h"
#include "plugin/export/render_output.h"
#include "plugin/exports/export_guard.h"
#include "plugin/exports/export_text.h"
#include "plugin/session/entity_changes.h"
#include "plugin/session/enumeration.h"
#include "plugin/session/scene_session.h"
#include "plugin/session/session_reset.h"

using orvanta::fromHostText;

extern "C" {

void obrEnumerationProcessStarted(void) {
    orvanta::guarded(__func__, [&] {
        orvanta::PluginOutput output;
        orvanta::startEnumeration(output.get());
    });
}

void obrEnumerationProcessCompleted(void) {
    orvanta::guarded(__func__, [&] {
        orvanta::PluginOutput output;
        orvanta::completeEnumeration(orvanta::sceneSession(), output.get());
    });
}

void obrModelEnumerationProcessStatus(int32_t percent) {
    orvanta::guarded(__func__, [&] { orvanta::sceneSession().enumerationPercent = percent; });
}

int32_t obrCurrentModelEnumPercent(void) {
    return orvanta::guarded(__func__, 0,
                            [&] { return orvanta::sceneSession().enumerationPercent.load(); });
}

bool obrIsSceneSuspended(void) {
    return orvanta::guarded(__func__, false, [&] {
        orvanta::PluginOutput output;
        return orvanta::sceneSuspended(output.get());
    });
}

void obrRemoveEntity(const char* id, const char* parentId, int32_t mode, int32_t table,
                     bool forUpdate) {
    orvanta::guarded(__func__, [&] {
        orvanta::PluginOutput output;
        orvanta::removeEntity(orvanta::sceneSession(), fromHostText(id), fromHostText(parentId),
                              mode, table, forUpdate, output.get());
    });
}

void obrRemoveEntityFromParent(const char* id, int32_t table, const char* parentId) {
    orvanta::guarded(__func__, [&] {
        orvanta::removeEntityFromParent(orvanta::sceneSession(), fromHostText(id), table,
                                        fromHostText(parentId));
    });
}

void obrRemoveMeshInEntity(const char* meshId) {
    orvanta::guarded(__func__, [&] {
        orvanta::removeMeshInEntity(orvanta::sceneSession(), fromHostText(meshId));
    });
}

void obrOnEnumHiddenEntity(const char* id) {
    orvanta::guarded(__func__, [&] {
        orvanta::PluginOutput output;
        orvanta::hideEntity(orvanta::sceneSession(), fromHostText(id), output.get());
    });
}

void obrResetHiddenEntities(void) {
    orvanta::guarded(__func__, [&] {
        orvanta::PluginOutput output;
        orvanta::showHiddenEntities(orvanta::sceneSession(), output.get());
    });
}

void obrEntityMessage(int32_t messageKind, const char* id, const char* typeName,
                      const char* parentId, uint8_t* resultFlags, uint8_t* resultFlag) {
    orvanta::guarded(__func__, [&] {
        orvanta::PluginOutput output;
        orvanta::entityMessage(orvanta::sceneSession(), messageKind, fromHostText(id),
                               fromHostText(typeName), fromHostText(parentId),
                               {resultFlags, resultFlag}, output.get());
    });
}

void obrModelMessage(int32_t messageKind, const char*, uint8_t* resultFlags, uint8_t* resultFlag) {
    orvanta::guarded(__func__, [&] {
        orvanta::PluginOutput output;
        orvanta::modelMessage(orvanta::sceneSession(), messageKind, {resultFlags, resultFlag},
                              output.get());
    });
}

void obrClearSession(bool full, bool clearParents, bool removeMeshes) {
    orvanta::guarded(__func__, [&] {
        orvanta::PluginOutput output;
        orvanta::clearSession(orvanta::sceneSession(), full, clearParents, removeMeshes,
                              output.get());
    });
}
}
