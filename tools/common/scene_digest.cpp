#include "tools/common/scene_digest.h"

#include <QCryptographicHash>

#include <algorithm>
#include <cstring>
#include <tuple>

namespace orvanta::tools {
namespace {

// In blocks, since the hash takes at most an int's worth of bytes at a time.
template <typename T>
void addArray(QCryptographicHash& hash, const std::vector<T>& values) {
    constexpr std::size_t kBlockBytes = std::size_t(1) << 30;
    const char* bytes = reinterpret_cast<const char*>(values.data());
    for (std::size_t left = values.size() * sizeof(T); left > 0;) {
        const std::size_t block = left < kBlockBytes ? left : kBlockBytes;
        hash.addData(bytes, static_cast<int>(block));
        bytes += block;
        left -= block;
    }
}

QString hex64(std::uint64_t value) {
    return QStringLiteral("%1").arg(value, 16, 16, QLatin1Char('0'));
}

}  // namespace

QByteArray meshArraysDigest(const std::vector<float>& positions, const std::vector<float>& normals,
                            const std::vector<float>& frontUVs, const std::vector<float>& backUVs,
                            const std::vector<std::uint8_t>& flags,
                            const std::vector<std::int32_t>& indices) {
    QCryptographicHash hash(QCryptographicHash::Sha256);
    addArray(hash, positions);
    addArray(hash, normals);
    addArray(hash, frontUVs);
    addArray(hash, backUVs);
    addArray(hash, flags);
    addArray(hash, indices);
    return hash.result().toHex();
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
