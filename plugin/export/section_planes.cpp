#include "plugin/export/section_planes.h"

#include <algorithm>

#include "plugin/export/render_output.h"
#include "plugin/session/entity_registry.h"

namespace orvanta {

std::uint32_t packCapsColour(std::uint8_t red, std::uint8_t green, std::uint8_t blue,
                             std::uint32_t alpha) {
    return (alpha & 0xFFu) << 24 | std::uint32_t(red) << 16 | std::uint32_t(green) << 8 | blue;
}

void SectionPlaneList::enumerate(const QByteArray& id, bool active, bool capsOn,
                                 const PlaneVector& first, const PlaneVector& second,
                                 RenderOutput* output) {
    SectionPlane sent;
    int position = 0;
    bool removed = false;
    {
        RegistryGuard guard(m_lock);
        const auto found = std::find_if(m_planes.begin(), m_planes.end(),
                                        [&](const SectionPlane& plane) { return plane.id == id; });
        position = static_cast<int>(found - m_planes.begin());
        if (found != m_planes.end() && !active) {
            m_planes.erase(found);
            removed = true;
        } else {
            SectionPlane& plane = found != m_planes.end() ? *found : m_planes.emplace_back();
            plane.id = id;
            plane.active = active;
            plane.capsOn = capsOn;
            plane.first = first;
            plane.second = second;
            sent = plane;
        }
    }
    if (!output)
        return;
    if (removed)
        output->removeSectionPlane(position);
    else
        output->setSectionPlane(position, sent.active, sent.first.data(), sent.second.data(),
                                sent.capsOn, sent.capsValue);
}

void SectionPlaneList::setCaps(int capsMode, std::uint32_t capsValue, RenderOutput* output) {
    if (!output)
        return;
    std::vector<SectionPlane> planes;
    {
        RegistryGuard guard(m_lock);
        for (SectionPlane& plane : m_planes) {
            plane.capsOn = capsMode == 1;
            plane.capsValue = static_cast<std::int32_t>(capsValue);
        }
        planes = m_planes;
    }
    // Numbered by position, as the enumeration numbers them: a plane's id may equal another
    // plane's position.
    for (std::size_t position = 0; position < planes.size(); ++position) {
        const SectionPlane& plane = planes[position];
        output->setSectionPlane(static_cast<int>(position), plane.active, plane.first.data(),
                                plane.second.data(), plane.capsOn, plane.capsValue);
    }
}

void exportShadowsInfo(const ShadowsInfo& shadows, RenderOutput* output) {
    if (output)
        output->setSceneLight(shadows.shadowsOn, shadows.lightIntensity, shadows.ambientIntensity,
                              0.0f, 0.0f, shadows.sunLightsFaces, shadows.sunDirectionX,
                              shadows.sunDirectionY, shadows.sunDirectionZ);
}

}  // namespace orvanta
