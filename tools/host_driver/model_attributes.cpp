#include "tools/host_driver/model_attributes.h"

#include <QBuffer>
#include <QColor>
#include <QHash>
#include <QImage>

namespace orvanta::tools {
namespace {

// The colour of a model without materials.
constexpr std::array<std::uint8_t, 4> kNeutralColour{160, 160, 160, 255};

}  // namespace

const HostMaterial* mainMaterial(const HostModel& model) {
    QHash<QByteArray, std::int64_t> triangles;
    const auto count = [&](const std::vector<HostMesh>& meshes, std::int64_t placements) {
        for (const HostMesh& mesh : meshes) {
            const QByteArray& id =
                mesh.frontMaterialId.isEmpty() ? mesh.backMaterialId : mesh.frontMaterialId;
            if (!id.isEmpty())
                triangles[id] += placements * (mesh.indexCount() / 3);
        }
    };
    count(model.rootMeshes, 1);
    for (const HostGroup& group : model.groups)
        count(group.meshes, 1);
    QHash<QByteArray, std::int64_t> placements;
    for (const HostInstance& instance : model.instances)
        ++placements[instance.definitionId];
    for (const HostDefinition& definition : model.definitions)
        count(definition.meshes, placements.value(definition.id));

    const HostMaterial* best = nullptr;
    std::int64_t bestCount = 0;
    for (const HostMaterial& material : model.materials) {
        const std::int64_t used = triangles.value(material.id);
        if (used > bestCount) {
            best = &material;
            bestCount = used;
        }
    }
    return best;
}

QByteArray previewPng(const std::array<std::uint8_t, 4>& colour) {
    QImage image(kPreviewWidth, kPreviewHeight, QImage::Format_RGB32);
    image.fill(QColor(colour[0], colour[1], colour[2]));
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

void describeModel(HostModel& model, const QByteArray& lengthUnit,
                   const std::optional<GeoLocation>& location) {
    const GeoLocation place = location.value_or(GeoLocation{});
    const HostMaterial* main = mainMaterial(model);
    const QByteArray preview = previewPng(main ? main->colour : kNeutralColour).toBase64();
    model.attributes = {
        {"Model", "Units", "LengthUnit", lengthUnit},
        {"Model", "Statistics", "root_entities", QByteArray::number(model.rootEntityCount())},
        {"Model", "Info", "Title", model.title},
        {"Model", "GeoReference", "UsesGeoReferencing", location ? "true" : "false"},
        {"Model", "GeoReference", "Latitude", QByteArray::number(place.latitude, 'f', 6)},
        {"Model", "GeoReference", "Longitude", QByteArray::number(place.longitude, 'f', 6)},
        {"Model", "GeoReference", "TimeStamp",
         QByteArray::number(static_cast<qlonglong>(place.timestamp))},
        {"Camera", "DoF", "Enabled", "false"},
        {"Camera", "Bloom", "Strength", "0.2"},
        {"Model", "PreviewBase64", "preview.png", preview},
    };
}

}  // namespace orvanta::tools
