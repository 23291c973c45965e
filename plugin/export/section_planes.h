// Section planes and the scene light: the ordered list of the model's section planes mirrored to
// the render window, and the shadow settings sent as the scene light.
#pragma once

#include <QByteArray>

#include <array>
#include <cstdint>
#include <vector>

namespace orvanta {

class RegistryLock;
class RenderOutput;

using PlaneVector = std::array<float, 3>;

struct SectionPlane {
    QByteArray id;  // as the host gives it
    bool active = false;
    bool capsOn = false;
    PlaneVector first{};
    PlaneVector second{};
    std::int32_t capsValue = 0;  // packed AARRGGBB; 0 until the caps are set after the plane came
};

// The caps colour packed as AARRGGBB; only the low 8 bits of `alpha` count.
std::uint32_t packCapsColour(std::uint8_t red, std::uint8_t green, std::uint8_t blue,
                             std::uint32_t alpha);

// The planes in the order they were first reported. The enumeration messages number a plane by its
// position, which moves up when an earlier plane is removed, so the render window numbers its
// planes the same way. Guarded by `lock` (the registry lock), which the member functions take as
// stated and never hold across a send; the others expect the caller to hold it. Host thread.
class SectionPlaneList {
public:
    explicit SectionPlaneList(RegistryLock& lock) : m_lock(lock) {}
    SectionPlaneList(const SectionPlaneList&) = delete;
    SectionPlaneList& operator=(const SectionPlaneList&) = delete;

    // A plane reported inactive that is listed is removed and "removed" is sent for its position.
    // Otherwise the plane (appended when not listed, so also an unseen inactive one) takes the
    // reported values, keeps its caps value, and is sent at its position. The list changes with or
    // without an output. Takes the lock.
    void enumerate(const QByteArray& id, bool active, bool capsOn, const PlaneVector& first,
                   const PlaneVector& second, RenderOutput* output);
    // Sets the caps of every plane (on when `capsMode` is 1, with the packed colour) and re-sends
    // each, numbered by its position as the enumeration numbers it. Nothing at all without an
    // output. Takes the lock.
    void setCaps(int capsMode, std::uint32_t capsValue, RenderOutput* output);

    // Caller holds the lock.
    void clear() { m_planes.clear(); }
    const std::vector<SectionPlane>& planes() const { return m_planes; }

private:
    RegistryLock& m_lock;
    std::vector<SectionPlane> m_planes;
};

// The model's shadow settings, as the host reports them.
struct ShadowsInfo {
    int shadowsOn = 0;              // 1 when shadows are on
    float lightIntensity = 0.0f;    // 0 to 1
    float ambientIntensity = 0.0f;  // 0 to 1
    int sunLightsFaces = 0;         // 1 when the sun lights the faces
    float sunDirectionX = 0.0f;     // (X, Y, Z): the direction towards the sun
    float sunDirectionY = 0.0f;
    float sunDirectionZ = 0.0f;
};

// Sends the settings as the scene light (shadows on, light intensity, ambient intensity, 0, 0,
// sun lights faces, sun direction): the values unchanged, two zeros inserted after the third.
// Nothing without an output. Host thread.
void exportShadowsInfo(const ShadowsInfo& shadows, RenderOutput* output);

}  // namespace orvanta
