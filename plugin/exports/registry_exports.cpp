// Exports of the session entity registry: each holds the registry lock of the process's registry
// for its whole call, except the two that touch no table.
#include "OrvantaForSketchup.h"
#include "plugin/exports/export_guard.h"
#include "plugin/exports/export_text.h"
#include "plugin/session/entity_registry.h"

namespace {

std::optional<QString> optionalHostText(const char* text) {
    return text ? std::optional<QString>(orvanta::fromHostText(text)) : std::nullopt;
}

}  // namespace

extern "C" {

void obrAddEntityToParent(const char* id, const char* parentId, int32_t table) {
    orvanta::guarded(__func__, [&] {
        orvanta::EntityRegistry& registry = orvanta::sessionRegistry();
        orvanta::RegistryGuard guard(registry.lock());
        if (const auto which = orvanta::entityTableOf(table))
            registry.addEntityToParent(orvanta::fromHostText(id), optionalHostText(parentId),
                                       *which);
    });
}

void obrSetEntityRenderId(const char* id, const char* renderId, int32_t table) {
    orvanta::guarded(__func__, [&] {
        orvanta::EntityRegistry& registry = orvanta::sessionRegistry();
        orvanta::RegistryGuard guard(registry.lock());
        if (const auto which = orvanta::entityTableOf(table))
            registry.setEntityRenderId(orvanta::fromHostText(id), orvanta::fromHostText(renderId),
                                       *which);
    });
}

bool obrEntityExists(const char* id, int32_t table) {
    return orvanta::guarded(__func__, false, [&] {
        orvanta::EntityRegistry& registry = orvanta::sessionRegistry();
        orvanta::RegistryGuard guard(registry.lock());
        const auto which = orvanta::entityTableOf(table);
        return which && registry.entityExists(orvanta::fromHostText(id), *which);
    });
}

bool obrIsEntityMarkedOnRender(const char* id, int32_t table) {
    return orvanta::guarded(__func__, false, [&] {
        orvanta::EntityRegistry& registry = orvanta::sessionRegistry();
        orvanta::RegistryGuard guard(registry.lock());
        const auto which = orvanta::entityTableOf(table);
        return which && registry.isEntityMarkedOnRender(orvanta::fromHostText(id), *which);
    });
}

bool obrIsEntityParentedInSession(const char* id, const char* parentId, int32_t table) {
    return orvanta::guarded(__func__, false, [&] {
        orvanta::EntityRegistry& registry = orvanta::sessionRegistry();
        orvanta::RegistryGuard guard(registry.lock());
        const auto which = orvanta::entityTableOf(table);
        return which && registry.isEntityParented(orvanta::fromHostText(id),
                                                  optionalHostText(parentId), *which);
    });
}

void obrClearEntityParents(const char* id, int32_t table) {
    orvanta::guarded(__func__, [&] {
        orvanta::EntityRegistry& registry = orvanta::sessionRegistry();
        orvanta::RegistryGuard guard(registry.lock());
        if (const auto which = orvanta::entityTableOf(table))
            registry.clearEntityParents(orvanta::fromHostText(id), *which);
    });
}

bool obrAddInstanceVersion(const char* id, const char* version, int32_t table) {
    return orvanta::guarded(__func__, false, [&] {
        // A missing version is refused without waiting for the lock.
        if (!version || !*version)
            return false;
        orvanta::EntityRegistry& registry = orvanta::sessionRegistry();
        orvanta::RegistryGuard guard(registry.lock());
        const auto which = orvanta::entityTableOf(table);
        return which && registry.addInstanceVersion(orvanta::fromHostText(id),
                                                    orvanta::fromHostText(version), *which);
    });
}

void obrClearInstanceVersions(const char* id, int32_t table) {
    orvanta::guarded(__func__, [&] {
        orvanta::EntityRegistry& registry = orvanta::sessionRegistry();
        orvanta::RegistryGuard guard(registry.lock());
        if (const auto which = orvanta::entityTableOf(table))
            registry.clearInstanceVersions(orvanta::fromHostText(id), *which);
    });
}

void obrAddMeshInEntity(const char* meshId, const char* meshInfo) {
    orvanta::guarded(__func__, [&] {
        orvanta::EntityRegistry& registry = orvanta::sessionRegistry();
        orvanta::RegistryGuard guard(registry.lock());
        registry.addMeshInEntity(orvanta::fromHostText(meshId), orvanta::fromHostText(meshInfo));
    });
}

void obrClearEntityMeshes(const char* id) {
    orvanta::guarded(__func__, [&] {
        orvanta::EntityRegistry& registry = orvanta::sessionRegistry();
        orvanta::RegistryGuard guard(registry.lock());
        registry.clearEntityMeshes(orvanta::fromHostText(id));
    });
}

bool obrIsEntityTypeManaged(const char* typeName) {
    return orvanta::guarded(__func__, false, [&] {
        return orvanta::isEntityTypeManaged(orvanta::fromHostText(typeName));
    });
}

bool obrIsMesh(const char* id) {
    return orvanta::guarded(__func__, false,
                            [&] { return orvanta::isMeshId(orvanta::fromHostText(id)); });
}
}
