#include "tools/common/scene_digest.h"

#include <xxhash.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <tuple>

namespace orvanta::tools {
namespace {

template <typename T>
void addArray(XXH3_state_t* state, const std::vector<T>& values) {
    if (!values.empty())
        XXH3_128bits_update(state, values.data(), values.size() * sizeof(T));
}

QString hex64(std::uint64_t value) {
    return QStringLiteral("%1").arg(value, 16, 16, QLatin1Char('0'));
}

}  // namespace

QByteArray meshArraysDigest(const std::vector<float>& positions, const std::vector<float>& normals,
                            const std::vector<float>& frontUVs, const std::vector<float>& backUVs,
                            const std::vector<std::uint8_t>& flags,
                            const std::vector<std::int32_t>& indices) {
    XXH3_state_t* const state = XXH3_createState();
    if (!state)
        throw std::bad_alloc();
    XXH3_128bits_reset(state);
    addArray(state, positions);
    addArray(state, normals);
    addArray(state, frontUVs);
    addArray(state, backUVs);
    addArray(state, flags);
    addArray(state, indices);
    XXH128_canonical_t canonical;
    XXH128_canonicalFromHash(&canonical, XXH3_128bits_digest(state));
    XXH3_freeState(state);
    return QByteArray(reinterpret_cast<const char*>(canonical.digest), sizeof canonical.digest)
        .toHex();
}

void Fnv1a64::addBytes(const char* bytes, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        m_value ^= static_cast<unsigned char>(bytes[i]);
        m_value *= kPrime;
    }
}

void Fnv1a64::addText(const QByteArray& text) {
    addBytes(text.constData(), static_cast<std::size_t>(text.size()));
    addBytes("", 1);
}

void Fnv1a64::addFloat(float value) {
    static_assert(sizeof(float) == sizeof(std::uint32_t));
    std::uint32_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    const char bytes[4] = {static_cast<char>(bits & 0xff), static_cast<char>((bits >> 8) & 0xff),
                           static_cast<char>((bits >> 16) & 0xff),
                           static_cast<char>((bits >> 24) & 0xff)};
    addBytes(bytes, sizeof bytes);
}

// QByteArray's operator< compares bytewise, as unsigned bytes.
std::uint64_t geometryChecksum(std::vector<DigestMesh> meshes) {
    std::sort(meshes.begin(), meshes.end(), [](const DigestMesh& a, const DigestMesh& b) {
        return std::tie(a.ownerId, a.meshId) < std::tie(b.ownerId, b.meshId);
    });
    Fnv1a64 hash;
    for (const DigestMesh& mesh : meshes) {
        hash.addText(mesh.ownerId);
        hash.addText(mesh.meshId);
        hash.addText(mesh.arraysDigest);
    }
    return hash.value();
}

std::uint64_t placementChecksum(std::vector<DigestPlacement> placements) {
    std::sort(placements.begin(), placements.end(),
              [](const DigestPlacement& a, const DigestPlacement& b) {
                  return std::tie(a.entityId, a.parentId) < std::tie(b.entityId, b.parentId);
              });
    Fnv1a64 hash;
    for (const DigestPlacement& placement : placements) {
        hash.addText(placement.isInstance ? "I" : "G");
        hash.addText(placement.entityId);
        hash.addText(placement.parentId);
        hash.addText(placement.definitionId);
        hash.addText(placement.label);
        hash.addText(placement.passText);
        hash.addText(placement.note);
        for (float value : placement.transform)
            hash.addFloat(value);
    }
    return hash.value();
}

QString SceneDigest::text() const {
    return QStringLiteral(
               "definitions=%1 instances=%2 groups=%3 meshes=%4 triangles=%5 materials=%6 "
               "layers=%7 hidden=%8 geometry=%9 placements=%10")
        .arg(QString::number(definitions), QString::number(instances), QString::number(groups),
             QString::number(meshes), QString::number(triangles), QString::number(materials),
             QString::number(layers), QString::number(hidden), hex64(geometry))
        .arg(hex64(placements));
}

}  // namespace orvanta::tools
