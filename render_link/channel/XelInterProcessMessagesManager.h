// The two-process message channel under the render link.
//
// Two processes that construct a manager with the same queue id meet on two named shared-memory
// segments of 640 MiB, one written by each side, and eight named events. A message is a type of at
// most 11 characters and an opaque payload. Each side runs one reader thread that hands every
// message of the peer to its observer, in the order the peer wrote them. No message is lost
// silently: one that cannot be delivered is reported to the sending side's observer.
//
// Out of memory, the one policy of the render link and the plug-in over it:
// - The channel and the message catalogue never throw for lack of memory. A message whose payload
//   or bookkeeping (backlog entry, delivery list, receive block) cannot be allocated is dropped
//   and reported through onError() with kNoMemory; a payload the catalogue cannot build or decode
//   is refused with the call's failure value (PayloadBuilder::ok() false, decode() false). The
//   reports' texts are made without allocating. Not yet covered: the list in which one call
//   collects the messages it gives up (a few dozen bytes each); its growth failing still throws.
// - Plug-in code runs inside its exports' guard (plugin/exports/export_guard.h) and allocates the
//   ordinary way: a std::bad_alloc ends the export, the guard logs it and answers the export's
//   documented failure value. No plug-in code allocates with std::nothrow to answer that value
//   itself.
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

// Receives what a manager's reader thread delivers, and the manager's reports.
class XELREMOTERENDER_EXPORT XelInterProcessMessagesObserver {
public:
    // The codes of onError().
    enum ErrorCode {
        // Setting up the channel failed; the reader ends after reporting.
        kSetUpFailed = -1,
        // A message was not delivered: the peer took nothing for the stall limit (10 s by default)
        // while the send waited for it.
        kPeerStalled = -2,
        // A message was not delivered: the peer is gone, or the manager closed before it was
        // written.
        kPeerGone = -3,
        // An asynchronous message was not delivered: the backlog of asynchronous messages waiting
        // for room was full.
        kBacklogFull = -4,
        // A message was not delivered: there was no memory to hold it (on the sending side for the
        // backlog, on the receiving side for the delivery).
        kNoMemory = -5,
    };

    // One complete message, from the reader thread. `type` is NUL-terminated; `data` holds `size`
    // bytes, 16-byte aligned. Both belong to the manager and are valid only during the call. No
    // lock of the channel is held during the call: a handler may answer with sendMessage() or
    // sendMessageAsync(), and a slow handler delays only the messages behind it.
    virtual void onMessage(const char* type, const void* data, long size) = 0;
    // The reader thread has started and the channel is usable. From the reader thread.
    virtual void onChannelConnected() = 0;
    // The manager is being destroyed; its reader thread has already ended. Called on the thread
    // that destroys the manager.
    virtual void onChannelDisconnected() = 0;
    // kSetUpFailed, from the reader thread: "Unable to create all synchronization handles." or
    // "Unable to attach interprocess sharedd memory segment.".
    // Every other code reports one message that was not delivered, once, with a text that names
    // the message's type and size and the reason; it comes from the thread that gave the message
    // up (the sending thread, the manager's asynchronous sender or its reader), while the manager
    // holds none of its locks. It may call the manager's send functions.
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
    // if the segment has room at once, and dropped (and reported) otherwise; a message that was
    // arriving in chunks is not delivered. Must not be called from onMessage().
    ~XelInterProcessMessagesManager();
    XelInterProcessMessagesManager(const XelInterProcessMessagesManager&) = delete;
    XelInterProcessMessagesManager& operator=(const XelInterProcessMessagesManager&) = delete;

    // Starts the reader thread; a second call does nothing. Throws std::system_error if the
    // thread cannot be started.
    void run();
    long queueId() const;

    // Appends one message to this side's segment and wakes the peer. Returns once the message is
    // in the segment; a message larger than the free space is handed over in chunks while the
    // caller waits, and returns once the peer took its last chunk. When the segment is full the
    // call waits for the peer to make room. Asynchronous messages queued before it are written
    // first, so that messages of one thread keep their order. The call gives up, and reports the
    // message through onError(), when the peer is gone or stalled: it took nothing for the stall
    // limit (10 s) while the call waited; while the peer stays stalled, a send that would have to
    // wait for room gives up at once. `type` is at most 11 characters (12 bytes are copied); a
    // negative `size` is rejected. Thread-safe; may be called from onMessage().
    void sendMessage(const char* type, const void* data, long size);
    // Writes the message at once on the calling thread when nothing is queued and the segment has
    // room for it; otherwise copies `type` and `size` bytes of `data` into the backlog and returns
    // at once, and one sender thread per manager writes the backlog in order. The backlog holds at
    // most one segment's size of payload: past that, new asynchronous messages are dropped and
    // reported through onError(). Thread-safe; never waits for the peer.
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
