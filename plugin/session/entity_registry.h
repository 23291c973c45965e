// The session entity registry: what the renderer has been told about each model entity, and the
// registry lock that guards it and the other session tables.
#pragma once

#include <QString>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace orvanta {

// The key under which an entity id text is filed. Read from the start of the text: optional
// ASCII white space, an optional sign, then ASCII decimal digits up to the first non-digit; a
// text without such digits ("Model", "abc", "", "-") reads as 0. A value beyond the 32-bit signed
// range saturates at the nearest bound ("99999999999" reads as 2147483647), so huge ids share
// the bound's key and are told apart by their stored id text like any other shared key.
using EntityKey = std::int32_t;
EntityKey entityKeyOf(const QString& id);

// The two tables, with the numbers the exports use.
enum class EntityTable : int { Content = 0, Placement = 1 };
// The table numbered `table`; none for any number but 0 and 1.
std::optional<EntityTable> entityTableOf(int table);

// What the registry knows about one entity in one table. A new record holds the values below.
struct EntityRecord {
    QString id;            // the id text last given to addEntityToParent for this key
    QString renderId;      // the entity's id in the renderer
    QString label;         // placement table: sent with every visibility change of the entity
    QString note;          // placement table: stored only
    bool present = false;  // the entity is part of the render session
    // Parent id texts in the order added; empty and repeated texts stay.
    std::vector<QString> parents;
    // Content table only: mesh id to mesh info, ordered by QString's ordinal comparison.
    std::map<QString, QString> meshes;
    // Distinct version texts in the order added.
    std::vector<QString> instanceVersions;
    bool hidden = false;  // placement table: hidden in the render window
};

using EntityTableRecords = std::map<EntityKey, EntityRecord>;

// A recursive lock taken by timed attempts, repeated until one succeeds, so lock() waits as long
// as it must and never fails; the calling thread may already hold it. It is free once every lock()
// has been matched by an unlock() on the same thread. Built on a plain mutex and a condition
// variable, whose timed waits every thread checker follows. Only a system failure of the mutex
// raises (std::system_error). Any thread.
class RegistryLock {
public:
    static constexpr std::chrono::milliseconds kAttempt{15000};

    explicit RegistryLock(std::chrono::milliseconds attempt = kAttempt) : m_attempt(attempt) {}
    RegistryLock(const RegistryLock&) = delete;
    RegistryLock& operator=(const RegistryLock&) = delete;

    void lock();
    // Takes the lock only when it is free or already held by the calling thread; never waits.
    bool tryLock();
    // The calling thread must hold the lock.
    void unlock();
    // How many attempts expired without the lock, over the lock's life; for diagnostics.
    std::uint64_t expiredAttempts() const { return m_expiredAttempts.load(); }

private:
    std::mutex m_mutex;
    std::condition_variable m_released;  // signalled when the lock becomes free
    std::thread::id m_owner;             // under m_mutex; none while free
    int m_depth = 0;                     // under m_mutex: lock() calls not yet unlocked
    const std::chrono::milliseconds m_attempt;
    std::atomic<std::uint64_t> m_expiredAttempts{0};
};

// Holds `lock` from construction to destruction, on the constructing thread.
class RegistryGuard {
public:
    explicit RegistryGuard(RegistryLock& lock) : m_lock(lock) { m_lock.lock(); }
    ~RegistryGuard() { m_lock.unlock(); }
    RegistryGuard(const RegistryGuard&) = delete;
    RegistryGuard& operator=(const RegistryGuard&) = delete;

private:
    RegistryLock& m_lock;
};

// The content table and the placement table, each an ordered map from entity key to the record
// it owns, iterated in ascending key order. Records are created on demand and deleted only all at
// once (clear()). Reports no failure: queries about an unknown key, or about an id text other
// than the record's, answer false; changes to a key without a record do nothing unless stated.
//
// The member functions take no lock: whoever shares an instance between threads holds its lock()
// around every call and around any use of a returned record or table. Ids are texts, never
// absent; a parent of none (std::nullopt) differs from the empty parent text.
class EntityRegistry {
public:
    EntityRegistry() = default;
    EntityRegistry(const EntityRegistry&) = delete;
    EntityRegistry& operator=(const EntityRegistry&) = delete;

    RegistryLock& lock() { return m_lock; }

    // Stores `id` as the record's id text, appends `parentId` when there is one (even when empty
    // or listed already), and marks the entity present; creates the record if missing.
    void addEntityToParent(const QString& id, const std::optional<QString>& parentId,
                           EntityTable table);
    // Creates the record if missing. For key 0 (the model root) stores nothing else; otherwise
    // stores `renderId` and makes the entity present exactly when `renderId` is not empty.
    void setEntityRenderId(const QString& id, const QString& renderId, EntityTable table);
    // The record exists, its id text equals `id` and it is present.
    bool entityExists(const QString& id, EntityTable table) const;
    // entityExists() and the render id is not empty.
    bool isEntityMarkedOnRender(const QString& id, EntityTable table) const;
    // The record exists, its id text equals `id`, and it has a parent: `parentId` when given, any
    // otherwise. Presence is not consulted.
    bool isEntityParented(const QString& id, const std::optional<QString>& parentId,
                          EntityTable table) const;
    // Empties the parents when entityExists(); presence stays.
    void clearEntityParents(const QString& id, EntityTable table);
    // Appends `version` to the record of the key, whatever its id text and presence; false when
    // `version` is empty, the record is missing or already lists it.
    bool addInstanceVersion(const QString& id, const QString& version, EntityTable table);
    void clearInstanceVersions(const QString& id, EntityTable table);
    // Sets mesh `meshId` to `meshInfo` in the content record of the owner, the part of `meshId`
    // before the first "_" (all of it without one), replacing an earlier value. Whatever the
    // owner record's id text and presence; nothing at all when the owner has no record.
    void addMeshInEntity(const QString& meshId, const QString& meshInfo);
    // Empties the mesh table of the content record of the key; nothing when it has no record.
    void clearEntityMeshes(const QString& id);

    // Finds the record of `key`, creating an empty one when there is none.
    EntityRecord& ensureEntityRecord(EntityKey key, EntityTable table);
    // The record of `key`, or null; valid until clear().
    EntityRecord* findRecord(EntityKey key, EntityTable table);
    const EntityRecord* findRecord(EntityKey key, EntityTable table) const;
    // Stores the placement record's label; nothing when the key has no record (callers register
    // the entity first).
    void setRecordLabel(const QString& id, const QString& label);
    // Stores the placement record's note, creating the record (not present) when missing.
    void setRecordNote(const QString& id, const QString& note);

    // The records of `table` in ascending key order, for walking.
    EntityTableRecords& records(EntityTable table);
    const EntityTableRecords& records(EntityTable table) const;
    // Deletes every record of both tables.
    void clear();

private:
    const EntityRecord* findMatching(const QString& id, EntityTable table) const;

    RegistryLock m_lock;
    EntityTableRecords m_tables[2];
};

// The registry of this process: made at first use, never destroyed (so it outlives every thread
// that may still lock it while the process exits). Any thread, under its lock.
EntityRegistry& sessionRegistry();

// Whether `typeName` is exactly one of the twelve entity type names the registry manages: Face,
// Group, ComponentDefinition, ComponentInstance, Image, Layer, Layers, Model, Surface, Mesh,
// Material, SectionPlane. Touches no table; any thread, no lock.
bool isEntityTypeManaged(const QString& typeName);
// Whether `id` names a mesh: it contains "_". Any thread, no lock.
bool isMeshId(const QString& id);

}  // namespace orvanta
