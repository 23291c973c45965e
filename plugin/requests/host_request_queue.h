// The host request queue: work that only the host can do (enumerate an entity's content or
// attributes, export a texture, release a host pointer, set an attribute or run an action),
// asked for on any thread and handed to the host callbacks on the host thread when the host polls.
//
// Threads. Posting and taking are safe on any thread. Running a request calls a host callback on
// the thread that runs it: the caller of a request operation that runs at once, or the thread that
// calls checkMessages() (the host thread, by contract with the host).
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVector>

#include <atomic>
#include <cstdint>
#include <mutex>

namespace orvanta {

// One request: element 0 is its kind (the name of the export that runs it), the rest are that
// export's text arguments in order; numbers are decimal text, a null text is the empty text.
using HostRequest = QStringList;

namespace request_kind {
inline constexpr char kEnumEntityContent[] = "obrSkpEnumEntityContent";
inline constexpr char kEnumEntityAttributes[] = "obrSkpEnumEntityAttributes";
inline constexpr char kExportTexture[] = "obrSkpExportTexture";
inline constexpr char kDestroyPointer[] = "obrSkpDestroyPointer";
inline constexpr char kSetEntityAttribute[] = "obrSkpSetEntityAttribute";
// The plug-in's own: a "Camera" attribute asked for off the host thread, remembered as a session
// attribute by the host thread. Calls no host callback.
inline constexpr char kRememberSceneAttribute[] = "rememberSceneAttribute";
}  // namespace request_kind

// The last argument of every request operation. Any other value behaves like RunNow.
enum RequestMode : int {
    // Run on the calling thread.
    RunNow = 0,
    // Post to the queue, whatever the thread.
    AlwaysPost = 1,
    // Post when the calling thread is not the host thread; run at once on the host thread.
    PostOffHostThread = 2,
};

// The request mode an export's `int` argument stands for; every int is a valid RequestMode.
inline RequestMode requestModeOf(int mode) {
    return static_cast<RequestMode>(mode);
}

// The first set-attribute text that every poll runs at once, whatever the session is doing.
inline constexpr char kExecuteAction[] = "ExecuteAction";

// The queue itself, first in, first out. It owns its requests. Any thread; the lock is held only
// while one request is posted or taken, never while a request runs, and is not recursive.
class HostRequestQueue {
public:
    // Files `request` as the newest. If a pending request stands for the same work (same number
    // of elements, equal in every element but the last for set-attribute and pointer-release
    // requests, in every element otherwise), the newest such request and every pending request
    // equal to it in all elements are removed first. Throws std::system_error if the lock fails.
    void post(HostRequest request);
    // Takes the oldest request into `request`; false, leaving `request` alone, when there is none.
    bool takeOldest(HostRequest& request);

    // The number of pending requests at the moment of the call. Takes no lock and never waits;
    // the answer may be stale by the time the caller looks at it.
    int size() const { return m_size.load(std::memory_order_acquire); }
    bool empty() const { return size() == 0; }
    // The pending requests, newest first. Takes the lock; for tests and diagnostics.
    QVector<HostRequest> pending() const;

private:
    mutable std::mutex m_mutex;
    QVector<HostRequest> m_requests;  // under m_mutex; newest at the front
    std::atomic<int> m_size{0};       // m_requests.size(), written under m_mutex
};

// The plug-in's one queue, made at first use and never destroyed. Any thread.
HostRequestQueue& hostRequestQueue();

// Whether a request in `mode` goes to the queue rather than running on the calling thread. Any
// thread; before start-up no thread is the host thread.
bool postsRequest(RequestMode mode);

// The session busy count: above 0 while the session is being reset. Raise and lower in pairs.
// Any thread, though only the host thread is expected to change it.
void raiseSessionBusy();
void lowerSessionBusy();
int sessionBusyCount();

// Raises the session busy count for its life, so that an exception cannot leave it raised.
class SessionBusy {
public:
    SessionBusy() { raiseSessionBusy(); }
    ~SessionBusy() { lowerSessionBusy(); }
    SessionBusy(const SessionBusy&) = delete;
    SessionBusy& operator=(const SessionBusy&) = delete;
};

// Whether a set-attribute request whose first text is `owner` may run now: always for actions and
// for owners that begin with "%", otherwise only while the session is not busy and the render
// window is not loading a model.
bool setAttributeRequestReady(const QByteArray& owner);

// Runs `request` now on the calling thread: calls the host callback of its kind with its texts,
// and does nothing when that callback is null or the kind is unknown.
void callHost(const HostRequest& request);

// The request operations behind the request exports, with their arguments. Each either posts its
// request or runs it by its mode; running calls the host callback of its kind, and does nothing
// when that callback is null. Texts are UTF-8, may be null, and are copied when posted. The two
// attribute operations first take the steps of the attribute export (caching, drops) on the
// process's scene session.
void enumEntityContent(const char* entityId, RequestMode mode);
void enumEntityAttributes(const char* owner, const char* dictionary, RequestMode mode);
void exportTexture(const char* first, const char* second, RequestMode mode);
void destroyPointer(std::int64_t pointer, RequestMode mode);
void setEntityAttribute(const char* owner, const char* dictionary, const char* key,
                        const char* value, RequestMode mode);
// setEntityAttribute("ExecuteAction", action, subject, parameter, PostOffHostThread).
void executeCustomAction(const char* action, const char* subject, const char* parameter);

// Runs the queue on the calling thread until it is empty, requests posted meanwhile (by other
// threads or by the callbacks it calls) included. Set-attribute requests that are not ready are
// posted again afterwards, in the order in which they were met. Returns at once, without taking
// the lock, when the queue is empty. Host thread.
void checkMessages();

// The queue's size, without waiting for its lock. Any thread.
int pendingMessagesCount();

// A pointer text as a plain decimal parse reads it: an optional sign, then digits up to the first
// other character; 0 when there is no digit.
std::int64_t parsePointerText(const QString& text);

}  // namespace orvanta
