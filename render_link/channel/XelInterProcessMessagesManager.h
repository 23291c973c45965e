// The two-process message channel under the render link.
//
// Two processes that construct a manager with the same queue id meet on two named shared-memory
// segments of 640 MiB, one written by each side, and eight named events. A message is a type of at
// most 11 characters and an opaque payload. Each side runs one reader thread that hands every
// message of the peer to its observer, in the order the peer wrote them.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include <QtCore/qglobal.h>

#if defined(XEL_REMOTE_RENDER_BUILDING)
#define XELREMOTERENDER_EXPORT Q_DECL_EXPORT
#else
#define XELREMOTERENDER_EXPORT Q_DECL_IMPORT
#endif

namespace xel {
class MessageChannel;
}

// Receives what a manager's reader thread delivers. Every call comes from that reader thread.
class XELREMOTERENDER_EXPORT XelInterProcessMessagesObserver {
public:
    // One complete message. `type` is NUL-terminated; `data` holds `size` bytes. Both belong to
    // the manager and are valid only during the call. The peer's segment stays locked during the
    // call (for a message that arrived in chunks, it is not), so an answer sent from here must go
    // through sendMessageAsync().
    virtual void onMessage(const char* type, const void* data, long size) = 0;
    // The reader thread has started and the channel is usable.
    virtual void onChannelConnected() = 0;
    // The manager is being destroyed; its reader thread has already ended. Called on the thread
    // that destroys the manager.
    virtual void onChannelDisconnected() = 0;
    // Setting up the channel failed (code -1): "Unable to create all synchronization handles." or
    // "Unable to attach interprocess sharedd memory segment.". The reader ends after reporting.
    virtual void onError(int code, const char* text) = 0;

protected:
    ~XelInterProcessMessagesObserver() = default;
};

class XELREMOTERENDER_EXPORT XelInterProcessMessagesManager {
public:
    // Creates the channel's segments, or attaches to the peer's if a live peer created them.
    // `queueId` 0 stands for the id of the calling process. Set-up failures are not reported here
    // but by the reader thread, through onError(). `observer` is not owned and must outlive the
    // manager.
    XelInterProcessMessagesManager(XelInterProcessMessagesObserver* observer, long queueId);
    // Stops and joins the reader thread and the asynchronous sender, detaches the segments, and
    // calls onChannelDisconnected(). Messages still queued for an asynchronous send are written
    // if the segment has room at once, and dropped otherwise; a message that was arriving in
    // chunks is not delivered. Must not be called from onMessage().
    ~XelInterProcessMessagesManager();
    XelInterProcessMessagesManager(const XelInterProcessMessagesManager&) = delete;
    XelInterProcessMessagesManager& operator=(const XelInterProcessMessagesManager&) = delete;

    // Starts the reader thread; a second call does nothing. Throws std::system_error if the
    // thread cannot be started.
    void run();
    long queueId() const;

    // Appends one message to this side's segment and wakes the peer. Returns without waiting for
    // the peer, except for a message larger than the segment's free space, which is handed over in
    // chunks while the caller waits; if the peer does not take a chunk within 180 s, the message
    // is given up (the peer drops what it has of it) and the call returns. When the segment is
    // nearly full (36 bytes or fewer free), or while earlier asynchronous messages are still
    // queued, the message is copied and sent by the asynchronous sender instead, so that messages
    // of one thread keep their order. `type` is at most 11 characters (12 bytes are copied); a
    // negative `size` is rejected. Messages of one thread are delivered in the order sent.
    // Thread-safe.
    void sendMessage(const char* type, const void* data, long size);
    // Copies `type` and `size` bytes of `data` and returns at once; one sender thread per manager
    // writes queued messages in order. If the peer does not drain its segment, the backlog is
    // bounded by one segment's size: past that, new asynchronous messages are dropped with a
    // warning. Thread-safe; the call to use from onMessage().
    void sendMessageAsync(const char* type, const char* data, std::uint64_t size);

protected:
    // Payload primitives on raw memory. Sizes are 64-bit little-endian; strings are their byte
    // length then their bytes; wide strings travel as UTF-16LE. The write primitives do nothing
    // for a null target.
    static void writeSize(void* at, std::uint64_t value);
    static void writeString(void* at, const char* s);
    static void writeStringW(void* at, const wchar_t* s);
    static void appendString(void*& cursor, const char* s);
    static void appendStringW(void*& cursor, const wchar_t* s);
    static std::uint64_t readSize(void* at);
    // A string read ends at its first NUL.
    static std::string readString(void* at);
    static std::wstring readStringW(void* at);
    static std::uint64_t popSize(void*& cursor);
    static std::string popString(void*& cursor);
    static std::wstring popStringW(void*& cursor);

private:
    std::unique_ptr<xel::MessageChannel> d;
};
