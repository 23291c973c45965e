// The model exporter: walks a HostModel through the plug-in's exports as the host's extension
// script does, with the values docs/host_render_agreement.md gives them.
#pragma once

#include <QByteArray>

#include <vector>

#include "tools/host_driver/host_model.h"
#include "tools/host_driver/plugin_library.h"

namespace orvanta::tools {

// Every member calls exports, so it runs on the host thread (the thread that called
// obrInitialize), in the driver or inside a host callback the plug-in calls on that thread; the
// exports it calls may call the host callbacks again (an instance of an unknown definition), which
// may come back here. Nothing is reported back: the exports report no failure.
class ModelExporter {
public:
    // `plugin` must be loaded and `model` must outlive the exporter; the model is read at each
    // call, so the caller may change it (or assign a new one) between calls.
    ModelExporter(const PluginLibrary& plugin, const HostModel& model);

    // The whole model inside one enumeration bracket: materials, layers, definitions with their
    // meshes, then the tree from the model root (each group, its own meshes, the groups and
    // instances under it), then the model root's meshes, reporting the progress after each
    // top-level piece.
    void exportModel();
    // What the host's content callback does for `entityId`: "Model" the whole model; a definition,
    // a group (with everything under it) or an instance, that entity alone, without a bracket
    // (the caller may be inside one). False, and nothing sent, for an id the model does not hold.
    bool exportEntity(const QByteArray& entityId);
    // Sends the meshes of `ownerId` (the model root, a group or a definition) again; false, and
    // nothing sent, for an id that owns no meshes in the model.
    bool exportEntityMeshes(const QByteArray& ownerId);

    void exportMaterial(const HostMaterial& material);
    void exportDefinition(const HostDefinition& definition);
    // The group, its own meshes, and recursively the groups and instances under it.
    void exportGroupTree(const HostGroup& group);
    void exportInstance(const HostInstance& instance);

private:
    void exportMeshes(const QByteArray& ownerId, const std::vector<HostMesh>& meshes);
    void exportChildren(const QByteArray& parentId);

    const PluginLibrary& m_plugin;
    const HostModel& m_model;
};

}  // namespace orvanta::tools
