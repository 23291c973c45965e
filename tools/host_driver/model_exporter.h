// The model exporter: walks a HostModel through the plug-in's exports as the host's extension
// script does, with the values docs/host_render_agreement.md gives them.
#pragma once

#include <QByteArray>
#include <QHash>

#include <chrono>
#include <cstdint>
#include <functional>
#include <utility>
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
    // Told every progress percent the walk reports, as it reports it.
    using ProgressListener = std::function<void(int percent)>;

    // `plugin` must be loaded and `model` must outlive the exporter; the model is read at each
    // call, so the caller may change it (or assign a new one) between calls.
    ModelExporter(const PluginLibrary& plugin, const HostModel& model);

    void setProgressListener(ProgressListener listener) { m_listener = std::move(listener); }
    // The last exportModel(): when it opened its bracket (the steady clock's epoch before the
    // first), how long it took from there to the return of the bracket's end (the time the host
    // spent in the plug-in's export calls, the driver's own share being a few loops), how much
    // the process's private memory grew meanwhile, and the largest mesh's payload in bytes.
    struct WalkFigures {
        std::chrono::steady_clock::time_point start;
        double seconds = 0;
        std::int64_t privateGrowthBytes = 0;
        std::int64_t largestMeshBytes = 0;
    };
    const WalkFigures& lastWalk() const { return m_lastWalk; }

    // The whole model inside one enumeration bracket: materials, layers, definitions with their
    // meshes, then the tree from the model root (each group, its own meshes, the groups and
    // instances under it), then the model root's meshes. The progress goes from 0 to 100 by the
    // triangles sent, reported after each top-level piece and whenever it moves on by a percent.
    void exportModel();
    // What the host does when the render window asks for the model: exportModel(), then the view
    // (exportCamera()) and the attributes (exportAttributes()).
    void exportModelWithView();
    // What the host's content callback does for `entityId`: "Model" exportModelWithView(); a
    // definition, a group (with everything under it) or an instance, that entity alone, without a
    // bracket (the caller may be inside one). False, and nothing sent, for an id the model does
    // not hold.
    bool exportEntity(const QByteArray& entityId);
    // Sends the meshes of `ownerId` (the model root, a group or a definition) again; false, and
    // nothing sent, for an id that owns no meshes in the model.
    bool exportEntityMeshes(const QByteArray& ownerId);

    void exportMaterial(const HostMaterial& material);
    void exportDefinition(const HostDefinition& definition);
    // The group, its own meshes, and recursively the groups and instances under it.
    void exportGroupTree(const HostGroup& group);
    void exportInstance(const HostInstance& instance);

    // obrSetCamera with the model's own camera, or with framingCamera() when it has none.
    void exportCamera();
    // Every dictionary of the model's attributes, in the order of their first attribute.
    void exportAttributes();
    // One dictionary: asks the plug-in whether to enumerate it and, when it says so, reports each
    // of its attributes. False when the model holds no attribute there (nothing is asked then).
    bool exportAttributes(const QByteArray& owner, const QByteArray& dictionary);
    // One attribute, reported as it is.
    void exportAttribute(const HostAttribute& attribute);

private:
    // The groups and the instances under each parent, in model order.
    struct Children {
        std::vector<const HostGroup*> groups;
        std::vector<const HostInstance*> instances;
    };
    using ChildIndex = QHash<QByteArray, Children>;

    ChildIndex childIndex() const;
    void exportMeshes(const QByteArray& ownerId, const std::vector<HostMesh>& meshes);
    void walkGroup(const HostGroup& group, const ChildIndex& children);
    void reportProgress(int percent);

    const PluginLibrary& m_plugin;
    const HostModel& m_model;
    ProgressListener m_listener;
    WalkFigures m_lastWalk;
    // While exportModel() runs: the triangles it sends in all, those sent so far, and the last
    // percent reported.
    bool m_walking = false;
    std::int64_t m_walkTriangles = 0;
    std::int64_t m_sentTriangles = 0;
    int m_reportedPercent = -1;
};

}  // namespace orvanta::tools
