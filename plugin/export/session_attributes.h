// The session attribute list: the render settings the model keeps per scene, one remembered value
// per dictionary of the owner "Camera", re-sent when a scene turns out to lack them.
#pragma once

#include <QString>
#include <QVector>

#include <cstdint>

#include "OrvantaForSketchup.h"

namespace orvanta {

class RenderOutput;

// Owner, dictionary, key, value.
using SessionAttribute = ObrSessionAttribute;

// The dictionaries with a bit in a missing-values mask, in bit order from bit 0; names compare
// without regard to letter case.
inline constexpr const char* kSessionDictionaries[] = {
    "DoF", "FlashLight", "Bloom", "ToneMapper", "Environment", "ImageProduction"};

// The bit of `dictionary` in a missing-values mask; 0 for any other dictionary.
std::uint32_t missingValuesBit(const QString& dictionary);

// The records in the order they came. Lives as long as the plug-in: no session reset touches it.
// No lock: host thread only.
class SessionAttributeList {
public:
    // Appends the record unless one with the same owner and dictionary is listed, so the first key
    // and value of each dictionary are what is remembered. Returns whether it appended.
    bool rememberFirst(const SessionAttribute& attribute);
    // Sets the value of the record with the same owner, dictionary and key, or appends the record.
    void setValue(const SessionAttribute& attribute);
    // Replaces the list by `records`.
    void replace(QVector<SessionAttribute> records);
    const QVector<SessionAttribute>& records() const { return m_records; }

    // Sends, in order, each record that a scene lacking the dictionaries of `missingMask` needs:
    // with mask 0 every record; otherwise the records of the dictionaries whose bits are set.
    // Nothing without an output.
    void sendMissing(std::uint32_t missingMask, RenderOutput* output) const;

private:
    QVector<SessionAttribute> m_records;
};

}  // namespace orvanta
