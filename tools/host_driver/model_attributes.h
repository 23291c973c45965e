// What the host reports of its model besides the geometry and the view: the attributes its
// extension script reports after the walk (docs/host_render_agreement.md, "Attributes").
#pragma once

#include <QByteArray>

#include <array>
#include <cstdint>
#include <optional>

#include "tools/host_driver/host_model.h"

namespace orvanta::tools {

// Where a geo-referenced model lies: degrees north and east, and the moment of its sun position in
// seconds since 1970.
struct GeoLocation {
    double latitude = 0.0;
    double longitude = 0.0;
    std::int64_t timestamp = 0;
};

// The location given to the built-in models.
inline constexpr GeoLocation kBuiltInLocation{46.9480, 7.4474, 1719835200};

// The size of the preview picture.
inline constexpr int kPreviewWidth = 32;
inline constexpr int kPreviewHeight = 20;

// Replaces the model's attributes by, in this order: (Model, Units, LengthUnit, `lengthUnit`);
// (Model, Statistics, root_entities, the number of groups and instances under the model root);
// (Model, Info, Title, the model's title);
// (Model, GeoReference, UsesGeoReferencing / Latitude / Longitude / TimeStamp): "true" and the
// location when there is one, else "false" and zeros; the scene settings (Camera, DoF, Enabled,
// "false") and (Camera, Bloom, Strength, "0.2"); (Model, PreviewBase64, "preview.png", a PNG
// preview in standard Base64). Call it after the model's tree is complete.
void describeModel(HostModel& model, const QByteArray& lengthUnit,
                   const std::optional<GeoLocation>& location);

// The material on the most triangles as placed (a definition's meshes once per instance), the
// first of them on a tie; null when no mesh has a material the model holds.
const HostMaterial* mainMaterial(const HostModel& model);

// A kPreviewWidth x kPreviewHeight PNG filled with `colour` (its alpha ignored): the file's bytes.
QByteArray previewPng(const std::array<std::uint8_t, 4>& colour);

}  // namespace orvanta::tools
