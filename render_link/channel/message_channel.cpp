// The channel's life: starting the reader, closing, giving a peer up, and reporting the messages
// that were not delivered. The rest of the engine is in channel_setup.cpp (names and objects),
// channel_reader.cpp, channel_writer.cpp and channel_queue.cpp.
#include "render_link/channel/message_channel.h"

#include <QtDebug>

#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

#include "XelInterProcessMessagesManager.h"
#include "render_link/channel/channel_segment.h"

namespace xel {

using namespace channel_detail;

MessageChannel::~MessageChannel() {
    close();
}

void MessageChannel::close() {
    if (m_closed.exchange(true))
        return;
    m_closing.store(true);
    wakeWaiters();
    {
        std::lock_guard<std::mutex> guard(m_queueMutex);
        m_senderStop = true;
    }
    m_queueChanged.notify_all();
    if (m_senderThread.joinable())
        m_senderThread.join();
    if (m_reader.joinable())
        m_reader.join();
    m_running.store(false);

    // The peer keeps the objects it has open, and the system frees them when it lets go of them;
    // a later session makes new ones.
    releaseNames();
    {
        // A send on another thread finishes its write before the segments go.
        std::lock_guard<std::mutex> guard(m_writeMutex);
        detachSegments();
    }
    if (m_observer)
        m_observer->onChannelDisconnected();
}

void MessageChannel::wakeWaiters() {
    // Each of these is waited on only by a thread of this side.
    for (NamedEvent* event :
         {m_peer->data, m_peer->partial, m_own->received, m_own->partialReceived})
        if (event)
            event->set();
}

void MessageChannel::run() {
    bool expected = false;
    if (!m_running.compare_exchange_strong(expected, true))
        return;
    if (m_reader.joinable())
        m_reader.join();  // a reader that ended on a set-up failure
    try {
        m_reader = std::thread(&MessageChannel::readerLoop, this);
    } catch (...) {
        m_running.store(false);
        throw;
    }
}

// ---- Reporting ---------------------------------------------------------------------------------

void MessageChannel::notDelivered(Failures& failures, const TypeField& type, std::uint64_t size,
                                  WriteResult why) {
    int code = XelInterProcessMessagesObserver::kPeerGone;
    if (why == WriteResult::Stalled)
        code = XelInterProcessMessagesObserver::kPeerStalled;
    failures.push_back({type, size, code});
}

void MessageChannel::report(const Failures& failures) {
    // The texts are made without allocating: a report may be what running out of memory causes.
    for (const Failure& failure : failures) {
        const std::uint64_t count = m_dropped.fetch_add(1) + 1;
        char reason[64] = "the peer is gone";
        switch (failure.code) {
            case XelInterProcessMessagesObserver::kPeerStalled:
                std::snprintf(reason, sizeof reason, "the peer took nothing for %d ms",
                              m_options.stallLimitMs);
                break;
            case XelInterProcessMessagesObserver::kBacklogFull:
                std::snprintf(reason, sizeof reason, "the asynchronous backlog is full");
                break;
            case XelInterProcessMessagesObserver::kNoMemory:
                std::snprintf(reason, sizeof reason, "no memory to hold it");
                break;
            default:
                break;
        }
        char text[160];
        std::snprintf(text, sizeof text, "Message \"%.*s\" (%llu bytes) not delivered: %s.",
                      static_cast<int>(::strnlen(failure.type.data(), kTypeBytes)),
                      failure.type.data(), static_cast<unsigned long long>(failure.size), reason);
        if (count == 1 || count % 1000 == 0)
            qWarning("Message channel %d: %s (%llu not delivered so far)", int(m_queueId), text,
                     static_cast<unsigned long long>(count));
        if (m_observer)
            m_observer->onError(failure.code, text);
    }
}

void MessageChannel::abandonPeer(bool ended) {
    Failures failures;
    // The queue goes first: a writer woken below must find nothing more to send to the old peer.
    {
        std::lock_guard<std::mutex> guard(m_queueMutex);
        for (const PendingMessage& message : m_queue)
            failures.push_back(
                {message.type, message.size, XelInterProcessMessagesObserver::kPeerGone});
        m_pending.fetch_sub(m_queue.size());
        m_queue.clear();
        m_queuedBytes = 0;
        if (m_pending.load() == 0)
            m_queueIdle.notify_all();
    }
    m_peerGeneration.fetch_add(1);
    for (NamedEvent* event : {m_own->received, m_own->partialReceived})
        if (event)
            event->set();  // a writer waiting for the peer sees the new generation
    if (ended) {
        // No reader is left to be in the middle of the records: they can go.
        std::lock_guard<std::mutex> guard(m_writeMutex);
        m_peerStalled.store(false);
        if (m_own->usable()) {
            // A stalled peer may hold the lock: then the next write clears the records.
            m_clearPending = true;
            const LockResult lock = m_own->lock->lock(0);
            SegmentUnlock unlock(*m_own->lock, lock);
            if (locked(lock))
                settlePending(m_own->base);
        }
    }
    report(failures);
}

}  // namespace xel
