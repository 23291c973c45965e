#include "plugin/export/session_attributes.h"

#include <algorithm>
#include <iterator>

#include "plugin/export/render_output.h"

namespace orvanta {

std::uint32_t missingValuesBit(const QString& dictionary) {
    for (std::size_t bit = 0; bit < std::size(kSessionDictionaries); ++bit)
        if (dictionary.compare(QLatin1String(kSessionDictionaries[bit]), Qt::CaseInsensitive) == 0)
            return std::uint32_t(1) << bit;
    return 0;
}

bool SessionAttributeList::rememberFirst(const SessionAttribute& attribute) {
    const bool listed =
        std::any_of(m_records.cbegin(), m_records.cend(), [&](const SessionAttribute& record) {
            return record.owner == attribute.owner && record.dictionary == attribute.dictionary;
        });
    if (!listed)
        m_records.append(attribute);
    return !listed;
}

void SessionAttributeList::setValue(const SessionAttribute& attribute) {
    for (SessionAttribute& record : m_records) {
        if (record.owner == attribute.owner && record.dictionary == attribute.dictionary &&
            record.key == attribute.key) {
            record.value = attribute.value;
            return;
        }
    }
    m_records.append(attribute);
}

void SessionAttributeList::replace(QVector<SessionAttribute> records) {
    m_records = std::move(records);
}

void SessionAttributeList::sendMissing(std::uint32_t missingMask, RenderOutput* output) const {
    if (!output)
        return;
    for (const SessionAttribute& record : m_records) {
        if (missingMask != 0 && (missingValuesBit(record.dictionary) & missingMask) == 0)
            continue;
        output->sendDictionaryMessage(
            record.owner.toUtf8().constData(), record.dictionary.toUtf8().constData(),
            record.key.toUtf8().constData(), record.value.toUtf8().constData());
    }
}

}  // namespace orvanta
