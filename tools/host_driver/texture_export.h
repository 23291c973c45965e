// The host's answer to the render window's texture request (docs/host_render_agreement.md,
// "Textures"): the material's texture written as a PNG file where the request says.
#pragma once

#include <QByteArray>
#include <QString>

#include "tools/host_driver/host_model.h"

namespace orvanta::tools {

// The dictionary of the answer (obrOnEnumAttributesCallback(material id, kTextureAnswerDictionary,
// path, value)), and its value for a texture written whole.
inline constexpr char kTextureAnswerDictionary[] = "TextureExport";
inline constexpr char kTextureWritten[] = "ok";
// The answer's value when the texture was not written: this followed by the reason.
inline constexpr char kTextureFailedPrefix[] = "failed: ";

// Writes the picture of `material`'s texture (its embedded picture, else the file its texture
// path names) as a PNG file at `target`, whole or not at all. The target comes from the render
// window, another process: only an absolute path to a file directly in `folder` (the plug-in's
// session folder) is written, nothing elsewhere. Returns an empty text on success, else why
// nothing was written. Any thread.
QString writeTexture(const HostMaterial& material, const QString& target, const QString& folder);

// The answer's value for the outcome writeTexture() returned.
QByteArray textureAnswer(const QString& failure);

}  // namespace orvanta::tools
