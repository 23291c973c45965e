// The channel's names and objects: the configuration read from the environment, the names of a
// queue id's objects, creating or attaching the segments, events and locks, and removing them
// again, for a closing creator and for the sweep of what a dead session left.
#include <QSharedMemory>
#include <QString>

#include <algorithm>
#include <mutex>
#include <set>
#include <string>

#include "platform/interprocess_mutex.h"
#include "platform/named_event.h"
#include "platform/process.h"
#include "platform/shared_segment.h"
#include "render_link/channel/channel_names.h"
#include "render_link/channel/channel_segment.h"
#include "render_link/channel/message_channel.h"

namespace xel {

using platform::InterProcessMutex;
using platform::NamedEvent;

namespace {

// Keys of the segments that managers of this process created and still hold. A segment whose
// creator id is this process but that is not listed here was left by a dead process whose id the
// system has given to this one.
std::mutex g_createdMutex;
std::set<QString> g_createdKeys;

bool createdHere(const QString& key) {
    std::lock_guard<std::mutex> guard(g_createdMutex);
    return g_createdKeys.count(key) != 0;
}

void setCreatedHere(const QString& key, bool created) {
    std::lock_guard<std::mutex> guard(g_createdMutex);
    if (created)
        g_createdKeys.insert(key);
    else
        g_createdKeys.erase(key);
}

// Whether a live session holds the segment behind `key`.
bool heldByLiveSession(const QString& key, const platform::SegmentOwnership& owner) {
    if (owner.attachCount == 0 || !platform::processExists(owner.creatorPid))
        return false;
    return owner.creatorPid != platform::currentProcessId() || createdHere(key);
}

}  // namespace

std::size_t segmentBytesFromEnvironment(const char* variable) {
    bool ok = false;
    const qulonglong bytes = qEnvironmentVariable(variable).trimmed().toULongLong(&ok);
    return ok && bytes >= kMinSegmentBytes && bytes <= kSegmentBytes
               ? static_cast<std::size_t>(bytes)
               : kSegmentBytes;
}

int stallLimitFromEnvironment(const char* variable) {
    bool ok = false;
    const int ms = qEnvironmentVariable(variable).trimmed().toInt(&ok);
    return ok && ms >= kMinStallLimitMs && ms <= kMaxStallLimitMs ? ms : kStallLimitMs;
}

void removeSyncObjectNames(const ChannelNames& names) {
    for (const std::string& name : names.events)
        NamedEvent::remove(name);
    InterProcessMutex::remove(names.senderLock);
    InterProcessMutex::remove(names.receiverLock);
}

ChannelNames ChannelNames::forQueue(qint32 queueId) {
    const std::string id = std::to_string(queueId);
    ChannelNames names;
    names.senderSegment = id + "_Sender";
    names.receiverSegment = id + "_Receiver";
    const char* suffixes[EventCount] = {"_ReceiverData",
                                        "_SenderData",
                                        "_ReceiverDataReceived",
                                        "_SenderDataReceived",
                                        "_ReceiverDataPartial",
                                        "_SenderDataPartial",
                                        "_ReceiverDataReceivedPartial",
                                        "_SenderDataReceivedPartial"};
    for (int i = 0; i < EventCount; ++i)
        names.events[i] = id + suffixes[i];
    names.senderLock = id + "_SenderLock";
    names.receiverLock = id + "_ReceiverLock";
    return names;
}

MessageChannel::MessageChannel(XelInterProcessMessagesObserver* observer, long queueId,
                               const ChannelOptions& options)
    : m_observer(observer),
      m_options(options),
      m_queueId(static_cast<qint32>(queueId == 0 ? platform::currentProcessId() : queueId)),
      m_names(ChannelNames::forQueue(m_queueId)),
      m_sender(std::make_unique<Segment>()),
      m_receiver(std::make_unique<Segment>()) {
    setUp();
}

void MessageChannel::setUp() {
    m_sender->key = QString::fromStdString(m_names.senderSegment);
    m_receiver->key = QString::fromStdString(m_names.receiverSegment);
    const int bytes = static_cast<int>(m_options.segmentBytes);

    // Creates the segment, replacing one that no live session holds. With `takeOver`, a held one
    // is replaced too: the creating side owns both names.
    auto create = [&](Segment& segment, bool takeOver) {
        auto memory = std::make_unique<QSharedMemory>(segment.key);
        if (auto owner = platform::segmentOwnership(*memory)) {
            if (!takeOver && heldByLiveSession(segment.key, *owner))
                return false;
            platform::removeSegment(*memory);
        }
        if (!memory->create(bytes))
            return false;
        segment.memory = std::move(memory);
        segment.created = true;
        setCreatedHere(segment.key, true);
        return true;
    };
    // Attaches with a fresh object: one on which create() was called takes Qt's lock semaphore of
    // the key over and removes it when destroyed.
    auto attach = [&](Segment& segment) {
        auto memory = std::make_unique<QSharedMemory>(segment.key);
        if (memory->attach(QSharedMemory::ReadWrite) && memory->size() >= bytes)
            segment.memory = std::move(memory);
    };

    m_isCreator = create(*m_sender, false);
    if (m_isCreator) {
        // Nothing a dead session left under these names is inherited: the creator makes them anew.
        openSyncObjects(true);
        create(*m_receiver, true);
    } else {
        attach(*m_sender);
        attach(*m_receiver);
        // Joins only the objects the creator made: a creator that closed meanwhile has removed
        // them, and opening must not bring their names back for nobody to remove.
        openSyncObjects(false);
    }
    for (Segment* segment : {m_sender.get(), m_receiver.get()}) {
        if (segment->memory && segment->memory->isAttached())
            segment->base = static_cast<unsigned char*>(segment->memory->data());
    }
    m_own = m_isCreator ? m_sender.get() : m_receiver.get();
    m_peer = m_isCreator ? m_receiver.get() : m_sender.get();
    m_usable.store(m_own->usable());
}

bool MessageChannel::openSyncObjects(bool fresh) {
    for (int i = 0; i < ChannelNames::EventCount; ++i) {
        const bool autoReset = i == ChannelNames::ReceiverData || i == ChannelNames::SenderData ||
                               i == ChannelNames::ReceiverDataPartial ||
                               i == ChannelNames::SenderDataPartial;
        m_events[i] = NamedEvent::open(
            m_names.events[i],
            autoReset ? NamedEvent::ResetMode::Auto : NamedEvent::ResetMode::Manual,
            fresh ? NamedEvent::OpenMode::CreateFresh : NamedEvent::OpenMode::OpenExisting);
    }
    const auto lockMode = fresh ? InterProcessMutex::OpenMode::CreateFresh
                                : InterProcessMutex::OpenMode::OpenExisting;
    m_sender->lock = InterProcessMutex::open(m_names.senderLock, lockMode);
    m_receiver->lock = InterProcessMutex::open(m_names.receiverLock, lockMode);

    m_sender->data = m_events[ChannelNames::SenderData].get();
    m_sender->received = m_events[ChannelNames::SenderDataReceived].get();
    m_sender->partial = m_events[ChannelNames::SenderDataPartial].get();
    m_sender->partialReceived = m_events[ChannelNames::SenderDataReceivedPartial].get();
    m_receiver->data = m_events[ChannelNames::ReceiverData].get();
    m_receiver->received = m_events[ChannelNames::ReceiverDataReceived].get();
    m_receiver->partial = m_events[ChannelNames::ReceiverDataPartial].get();
    m_receiver->partialReceived = m_events[ChannelNames::ReceiverDataReceivedPartial].get();
    return std::all_of(m_events.begin(), m_events.end(),
                       [](const auto& e) { return e != nullptr; });
}

void MessageChannel::detachSegments() {
    m_usable.store(false);
    for (Segment* segment : {m_receiver.get(), m_sender.get()}) {
        segment->base = nullptr;
        if (segment->memory)
            segment->memory->detach();
        if (segment->created)
            setCreatedHere(segment->key, false);
    }
}

void MessageChannel::releaseNames() {
    if (!m_isCreator)
        return;
    for (Segment* segment : {m_sender.get(), m_receiver.get()}) {
        if (segment->memory)
            platform::removeSegmentName(segment->key);
    }
    removeSyncObjectNames(m_names);
}

void MessageChannel::removeLeftovers(qint32 queueId) {
    const ChannelNames names = ChannelNames::forQueue(queueId);
    for (const std::string& name : {names.senderSegment, names.receiverSegment})
        platform::removeSegmentName(QString::fromStdString(name));
    removeSyncObjectNames(names);
}

}  // namespace xel
