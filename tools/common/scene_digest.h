// The scene digest: one line that sums up a scene, computed by the render window from what it
// received and by the host driver from its own model, so that the two sides can be compared. The
// counting rules are each side's own (docs/host_render_agreement.md states them); the hashing and
// the line's format are defined here, once, for both.
//
// Mesh digest: the 128-bit XXH3 hash (xxHash 0.8, seed 0) of a mesh's arrays, concatenated in this
// order, V the vertex count and I the index count:
//   positions      12 x V bytes (3 floats per vertex)
//   normals        12 x V bytes (3 floats per vertex)
//   front UVs       8 x V bytes (2 floats per vertex)
//   back UVs        8 x V bytes (2 floats per vertex)
//   vertex flags        V bytes (1 for a set flag, 0 otherwise)
//   indices         4 x I bytes (32-bit integers)
// Floats and integers are taken as their bytes in memory (both programs run on one machine).
// Written as 32 lowercase hex digits, the hash's canonical (big-endian) form. A fast hash, not a
// cryptographic one: it guards against transport faults, not against an adversary.
//
// Checksums: 64-bit FNV-1a (offset basis 0xcbf29ce484222325, prime 0x100000001b3) over a byte
// sequence built from records in a canonical order; texts enter as their UTF-8 bytes followed by
// one 0 byte, floats as the 4 bytes of their IEEE-754 bits, least significant first.
//   geometry:   per mesh, ordered by owner id, then mesh id (bytewise on the UTF-8): owner id,
//               mesh id, mesh digest (the 32 hex digits as a text).
//   placements: per placement, ordered by entity id, then parent id (bytewise on the UTF-8): the
//               kind as a text ("G" group, "I" instance), entity id, parent id, definition id (""
//               for a group), label, pass text, note, then the 16 transform floats in the order
//               received.
// An empty set of records gives the offset basis.
#pragma once

#include <QByteArray>
#include <QString>

#include <array>
#include <cstdint>
#include <vector>

namespace orvanta::tools {

// The mesh digest described above, as 32 lowercase hex digits. Vectors shorter than their counts
// imply are hashed as they are: the caller passes consistent arrays.
QByteArray meshArraysDigest(const std::vector<float>& positions, const std::vector<float>& normals,
                            const std::vector<float>& frontUVs, const std::vector<float>& backUVs,
                            const std::vector<std::uint8_t>& flags,
                            const std::vector<std::int32_t>& indices);

// 64-bit FNV-1a, fed piece by piece.
class Fnv1a64 {
public:
    static constexpr std::uint64_t kOffsetBasis = 0xcbf29ce484222325ULL;
    static constexpr std::uint64_t kPrime = 0x100000001b3ULL;

    void addBytes(const char* bytes, std::size_t count);
    // The text's bytes, then one 0 byte.
    void addText(const QByteArray& text);
    // The float's IEEE-754 bits, least significant byte first.
    void addFloat(float value);
    std::uint64_t value() const { return m_value; }

private:
    std::uint64_t m_value = kOffsetBasis;
};

// One mesh as the geometry checksum sees it.
struct DigestMesh {
    QByteArray ownerId;
    QByteArray meshId;
    QByteArray arraysDigest;  // meshArraysDigest()
};

// One placement as the placement checksum sees it.
struct DigestPlacement {
    bool isInstance = false;
    QByteArray entityId;
    QByteArray parentId;
    QByteArray definitionId;
    QByteArray label;
    QByteArray passText;
    QByteArray note;
    std::array<float, 16> transform{};
};

// The checksums described above; each sorts its records into the canonical order first.
std::uint64_t geometryChecksum(std::vector<DigestMesh> meshes);
std::uint64_t placementChecksum(std::vector<DigestPlacement> placements);

// What a scene holds, as counted by one side.
struct SceneDigest {
    int definitions = 0;
    int instances = 0;
    int groups = 0;
    int meshes = 0;
    std::int64_t triangles = 0;
    int materials = 0;
    int layers = 0;
    int hidden = 0;
    std::uint64_t geometry = Fnv1a64::kOffsetBasis;
    std::uint64_t placements = Fnv1a64::kOffsetBasis;

    // "definitions=1 instances=4 groups=2 meshes=9 triangles=2816 materials=3 layers=2 hidden=0
    // geometry=<16 hex digits> placements=<16 hex digits>", on one line.
    QString text() const;
};

}  // namespace orvanta::tools
