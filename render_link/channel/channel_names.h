// The names of the objects of one channel: two segments, eight events and two locks per queue id,
// shared by the two processes of a session. Both sides derive them from the queue id alone.
#pragma once

#include <QtGlobal>

#include <array>
#include <string>

namespace xel {

// The names of the channel's objects for one queue id.
struct ChannelNames {
    enum Event {
        ReceiverData,
        SenderData,
        ReceiverDataReceived,
        SenderDataReceived,
        ReceiverDataPartial,
        SenderDataPartial,
        ReceiverDataReceivedPartial,
        SenderDataReceivedPartial,
        EventCount
    };
    std::string senderSegment;
    std::string receiverSegment;
    std::array<std::string, EventCount> events;
    std::string senderLock;
    std::string receiverLock;

    static ChannelNames forQueue(qint32 queueId);
};

// Removes the names of the events and locks of `names`: handles open anywhere keep working, and a
// later open of a name finds a new object or none. The one place that removes them, for a closing
// creator and for the sweep of leftovers alike. Any thread; never while a live session is meant to
// open the names.
void removeSyncObjectNames(const ChannelNames& names);

}  // namespace xel
