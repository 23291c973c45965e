// The session entity registry.
#include "plugin/session/entity_registry.h"

#include <algorithm>
#include <limits>

namespace orvanta {

namespace {

bool isAsciiSpace(QChar c) {
    const char16_t u = c.unicode();
    return u == ' ' || (u >= '\t' && u <= '\r');
}

bool isAsciiDigit(QChar c) {
    const char16_t u = c.unicode();
    return u >= '0' && u <= '9';
}

template <typename Texts>
bool contains(const Texts& texts, const QString& text) {
    return std::find(texts.begin(), texts.end(), text) != texts.end();
}

}  // namespace

EntityKey entityKeyOf(const QString& id) {
    const int size = id.size();
    int at = 0;
    while (at < size && isAsciiSpace(id.at(at)))
        ++at;
    bool negative = false;
    if (at < size && (id.at(at) == QLatin1Char('+') || id.at(at) == QLatin1Char('-'))) {
        negative = id.at(at) == QLatin1Char('-');
        ++at;
    }
    // One past the largest magnitude, so that further digits cannot overflow.
    constexpr std::int64_t kCap = std::int64_t{std::numeric_limits<EntityKey>::max()} + 2;
    std::int64_t magnitude = 0;
    for (; at < size && isAsciiDigit(id.at(at)); ++at)
        magnitude = std::min(kCap, magnitude * 10 + (id.at(at).unicode() - '0'));
    const std::int64_t value = negative ? -magnitude : magnitude;
    return static_cast<EntityKey>(std::clamp<std::int64_t>(
        value, std::numeric_limits<EntityKey>::min(), std::numeric_limits<EntityKey>::max()));
}

std::optional<EntityTable> entityTableOf(int table) {
    switch (table) {
        case 0:
            return EntityTable::Content;
        case 1:
            return EntityTable::Placement;
        default:
            return std::nullopt;
    }
}

void RegistryLock::lock() {
    const std::thread::id self = std::this_thread::get_id();
    std::unique_lock<std::mutex> guard(m_mutex);
    while (m_depth > 0 && m_owner != self) {
        if (!m_released.wait_for(guard, m_attempt, [&] { return m_depth == 0; }))
            ++m_expiredAttempts;
    }
    m_owner = self;
    ++m_depth;
}

bool RegistryLock::tryLock() {
    const std::thread::id self = std::this_thread::get_id();
    std::lock_guard<std::mutex> guard(m_mutex);
    if (m_depth > 0 && m_owner != self)
        return false;
    m_owner = self;
    ++m_depth;
    return true;
}

void RegistryLock::unlock() {
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        if (--m_depth > 0)
            return;
        m_owner = std::thread::id();
    }
    m_released.notify_one();
}

void EntityRegistry::addEntityToParent(const QString& id, const std::optional<QString>& parentId,
                                       EntityTable table) {
    EntityRecord& record = ensureEntityRecord(entityKeyOf(id), table);
    record.id = id;
    if (parentId)
        record.parents.push_back(*parentId);
    record.present = true;
}

void EntityRegistry::setEntityRenderId(const QString& id, const QString& renderId,
                                       EntityTable table) {
    const EntityKey key = entityKeyOf(id);
    EntityRecord& record = ensureEntityRecord(key, table);
    if (key == 0)
        return;
    record.renderId = renderId;
    record.present = !renderId.isEmpty();
}

bool EntityRegistry::entityExists(const QString& id, EntityTable table) const {
    const EntityRecord* record = findMatching(id, table);
    return record && record->present;
}

bool EntityRegistry::isEntityMarkedOnRender(const QString& id, EntityTable table) const {
    return entityExists(id, table) && !findRecord(entityKeyOf(id), table)->renderId.isEmpty();
}

bool EntityRegistry::isEntityParented(const QString& id, const std::optional<QString>& parentId,
                                      EntityTable table) const {
    const EntityRecord* record = findMatching(id, table);
    if (!record || record->parents.empty())
        return false;
    return !parentId || contains(record->parents, *parentId);
}

void EntityRegistry::clearEntityParents(const QString& id, EntityTable table) {
    if (entityExists(id, table))
        findRecord(entityKeyOf(id), table)->parents.clear();
}

bool EntityRegistry::addInstanceVersion(const QString& id, const QString& version,
                                        EntityTable table) {
    EntityRecord* record = findRecord(entityKeyOf(id), table);
    if (version.isEmpty() || !record || contains(record->instanceVersions, version))
        return false;
    record->instanceVersions.push_back(version);
    return true;
}

void EntityRegistry::clearInstanceVersions(const QString& id, EntityTable table) {
    if (EntityRecord* record = findRecord(entityKeyOf(id), table))
        record->instanceVersions.clear();
}

void EntityRegistry::addMeshInEntity(const QString& meshId, const QString& meshInfo) {
    const QString owner = meshId.left(meshId.indexOf(QLatin1Char('_')));
    if (EntityRecord* record = findRecord(entityKeyOf(owner), EntityTable::Content))
        record->meshes[meshId] = meshInfo;
}

void EntityRegistry::clearEntityMeshes(const QString& id) {
    if (EntityRecord* record = findRecord(entityKeyOf(id), EntityTable::Content))
        record->meshes.clear();
}

EntityRecord& EntityRegistry::ensureEntityRecord(EntityKey key, EntityTable table) {
    return records(table)[key];
}

EntityRecord* EntityRegistry::findRecord(EntityKey key, EntityTable table) {
    EntityTableRecords& records = this->records(table);
    const auto found = records.find(key);
    return found == records.end() ? nullptr : &found->second;
}

const EntityRecord* EntityRegistry::findRecord(EntityKey key, EntityTable table) const {
    const EntityTableRecords& records = this->records(table);
    const auto found = records.find(key);
    return found == records.end() ? nullptr : &found->second;
}

void EntityRegistry::setRecordLabel(const QString& id, const QString& label) {
    if (EntityRecord* record = findRecord(entityKeyOf(id), EntityTable::Placement))
        record->label = label;
}

void EntityRegistry::setRecordNote(const QString& id, const QString& note) {
    ensureEntityRecord(entityKeyOf(id), EntityTable::Placement).note = note;
}

EntityTableRecords& EntityRegistry::records(EntityTable table) {
    return m_tables[static_cast<int>(table)];
}

const EntityTableRecords& EntityRegistry::records(EntityTable table) const {
    return m_tables[static_cast<int>(table)];
}

void EntityRegistry::clear() {
    for (EntityTableRecords& records : m_tables)
        records.clear();
}

const EntityRecord* EntityRegistry::findMatching(const QString& id, EntityTable table) const {
    const EntityRecord* record = findRecord(entityKeyOf(id), table);
    return record && record->id == id ? record : nullptr;
}

EntityRegistry& sessionRegistry() {
    static EntityRegistry* const registry = new EntityRegistry;
    return *registry;
}

bool isEntityTypeManaged(const QString& typeName) {
    static const char* const kManaged[] = {"Face",
                                           "Group",
                                           "ComponentDefinition",
                                           "ComponentInstance",
                                           "Image",
                                           "Layer",
                                           "Layers",
                                           "Model",
                                           "Surface",
                                           "Mesh",
                                           "Material",
                                           "SectionPlane"};
    return std::any_of(std::begin(kManaged), std::end(kManaged),
                       [&](const char* name) { return typeName == QLatin1String(name); });
}

bool isMeshId(const QString& id) {
    return id.contains(QLatin1Char('_'));
}

}  // namespace orvanta
