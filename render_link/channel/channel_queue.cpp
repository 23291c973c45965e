// The channel's asynchronous backlog: sendMessageAsync() writes at once what fits without waiting
// and queues the rest, in order, for one sender thread that writes it while the peer takes
// records. The backlog's state is under m_queueMutex; writing holds m_writeMutex.
#include <cstring>
#include <mutex>
#include <new>
#include <thread>

#include "XelInterProcessMessagesManager.h"
#include "render_link/channel/channel_segment.h"
#include "render_link/channel/message_channel.h"

namespace xel {

using namespace channel_detail;

void MessageChannel::flushQueue(bool wait, Failures& failures) {
    for (;;) {
        PendingMessage message;
        {
            std::lock_guard<std::mutex> guard(m_queueMutex);
            if (m_queue.empty())
                return;
            message = std::move(m_queue.front());
            m_queue.pop_front();
            m_queuedBytes -= static_cast<std::size_t>(message.size);
        }
        const std::uint64_t generation = m_peerGeneration.load();
        const Payload payload{message.data.get()};
        const WriteResult result =
            wait ? writeWaiting(message.type, payload, message.size, generation)
                 : tryWrite(message.type, payload, message.size, generation, false, 0);
        if (result != WriteResult::Written)
            notDelivered(failures, message.type, message.size, result);
        std::lock_guard<std::mutex> guard(m_queueMutex);
        if (m_pending.fetch_sub(1) == 1)
            m_queueIdle.notify_all();
    }
}

void MessageChannel::sendMessageAsync(const char* type, const char* data, std::uint64_t size) {
    if ((size > 0 && !data) || size > LONG_MAX || !m_usable.load())
        return;
    const TypeField field = typeField(type);
    Failures failures;
    {
        // Written at once when no writer is busy, nothing is queued and the message fits whole;
        // the write mutex stays held while a message that did not fit is queued, so that nothing
        // overtakes it.
        std::unique_lock<std::mutex> writer(m_writeMutex, std::try_to_lock);
        if (writer && m_pending.load() == 0) {
            const WriteResult result =
                tryWrite(field, Payload{data}, size, m_peerGeneration.load(), false, 0);
            if (result == WriteResult::Written)
                return;
            if (result == WriteResult::Gone)
                notDelivered(failures, field, size, result);
            else
                enqueue(field, data, size, failures);
        } else {
            if (writer)
                writer.unlock();
            enqueue(field, data, size, failures);
        }
    }
    report(failures);
}

void MessageChannel::enqueue(const TypeField& type, const char* data, std::uint64_t size,
                             Failures& failures) {
    std::unique_lock<std::mutex> lock(m_queueMutex);
    if (m_senderStop) {
        failures.push_back({type, size, XelInterProcessMessagesObserver::kPeerGone});
        return;
    }
    if (!m_queue.empty() && m_queuedBytes + size > m_options.maxQueuedBytes) {
        failures.push_back({type, size, XelInterProcessMessagesObserver::kBacklogFull});
        return;
    }
    PendingMessage message{type, std::unique_ptr<char[]>(new (std::nothrow) char[size ? size : 1]),
                           size};
    if (!message.data) {
        failures.push_back({type, size, XelInterProcessMessagesObserver::kNoMemory});
        return;
    }
    if (size)
        std::memcpy(message.data.get(), data, static_cast<std::size_t>(size));
    if (!m_senderThread.joinable())
        m_senderThread = std::thread(&MessageChannel::senderLoop, this);
    try {
        m_queue.push_back(std::move(message));
    } catch (const std::bad_alloc&) {
        failures.push_back({type, size, XelInterProcessMessagesObserver::kNoMemory});
        return;
    }
    m_queuedBytes += static_cast<std::size_t>(size);
    m_pending.fetch_add(1);
    lock.unlock();
    m_queueChanged.notify_one();
}

void MessageChannel::senderLoop() {
    for (;;) {
        bool stop = false;
        {
            std::unique_lock<std::mutex> lock(m_queueMutex);
            m_queueChanged.wait(lock, [this] { return m_senderStop || !m_queue.empty(); });
            stop = m_senderStop;
        }
        Failures failures;
        {
            std::lock_guard<std::mutex> guard(m_writeMutex);
            // Once the channel closes, what does not fit at once is dropped.
            flushQueue(!stop, failures);
        }
        report(failures);
        if (stop)
            return;
    }
}

void MessageChannel::waitForAsyncIdle() {
    std::unique_lock<std::mutex> lock(m_queueMutex);
    m_queueIdle.wait(lock, [this] { return m_pending.load() == 0; });
}

}  // namespace xel
