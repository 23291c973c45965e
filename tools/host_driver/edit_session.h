// The edit session: changes a host makes to its model after the export, each applied to the
// HostModel and reported through the plug-in's exports as the host's extension script reports
// it, each followed by a comparison of the two sides' scene digests.
#pragma once

#include <functional>

#include "tools/host_driver/host_model.h"
#include "tools/host_driver/host_side.h"
#include "tools/host_driver/model_exporter.h"
#include "tools/host_driver/plugin_library.h"

namespace orvanta::tools {

// Host thread only. Every model change of an operation is reported inside one enumeration bracket,
// so that the render window applies the operation whole; a changed material is reported just
// before the bracket, since the plug-in notices a new texture size only outside one. Visibility
// changes take no bracket: the plug-in sends them apart from the scene stream.
class EditSession {
public:
    // Waits for `count` more scene digests of the render window and compares the last with the
    // host model's digest, reporting both under the name `step`; true when they agree.
    using CheckStep = std::function<bool(const char* step, int count)>;

    // All must outlive the session; `model` is the model `exporter` and `host` export from; the
    // session runs `host`'s polls while it waits for the render window's texture request.
    EditSession(const PluginLibrary& plugin, HostModel& model, ModelExporter& exporter,
                HostSide& host, CheckStep check);

    // Plays the edits in order, each checked before the next: hide the centrepiece group, show it
    // again, move a chair, give the oak material a larger texture (which has the plug-in ask for
    // the meshes that use it again), erase the table set with everything in it, then a new model
    // with a smaller built-in scene, its view and its attributes. Expects builtInModel() at the
    // start. Stops at the first edit whose check fails, and returns false then.
    bool run();

private:
    bool hideEntity();
    bool showHiddenEntities();
    bool moveInstance();
    bool retexture();
    bool eraseGroup();
    bool newModel();

    const PluginLibrary& m_plugin;
    HostModel& m_model;
    ModelExporter& m_exporter;
    HostSide& m_host;
    CheckStep m_check;
};

}  // namespace orvanta::tools
