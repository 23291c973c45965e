// The model loader: any 3D model file the Assimp library reads, mapped to a HostModel with the
// meanings of docs/host_render_agreement.md ("Models loaded from files" says how).
#pragma once

#include <QString>

#include <optional>

#include "tools/host_driver/host_model.h"

namespace orvanta::tools {

// Reads `path` and maps it: materials, the node tree as groups, component definitions and their
// instances, the meshes (triangulated; smooth normals where the file has none; identical vertices
// joined; point and line meshes dropped), the model's own first camera when it has one, and the
// model's attributes. Fails, with a reason in `error` (one line), when the file cannot be read or
// holds no triangles. Linear in the file's vertices, faces and nodes once the importer is done.
// Any thread; `error` may be null.
std::optional<HostModel> loadModel(const QString& path, QString* error);

}  // namespace orvanta::tools
