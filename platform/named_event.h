// Named events shared between the processes of one user.
#pragma once

#include <memory>
#include <string>

namespace xel::platform {

struct NativeEvent;

// An event addressed by name, with the semantics of a kernel event object:
//  - auto-reset: set() releases exactly one wait (or lets the next wait return at once) and the
//    event is clear again; sets while it is already set do not accumulate;
//  - manual-reset: once set it stays set, and releases every wait, until reset().
// The reset mode belongs to the handle, not to the name: every opener of a name must use the same
// mode. All members are safe to call from any thread; one handle may be shared by threads.
class NamedEvent {
public:
    enum class ResetMode { Auto, Manual };
    enum class OpenMode {
        // Opens the event of that name, creating it clear if it does not exist.
        OpenOrCreate,
        // Opens the event of that name only if it exists; never creates one. Used by the side that
        // joins a session, so that it never brings back a name the session's creator removed.
        OpenExisting,
        // Unlinks any event of that name (a live holder keeps its old object) and creates a new,
        // clear one. Used by the side that starts a session, so that nothing a dead session left
        // behind is inherited.
        CreateFresh,
    };

    // Returns null if the event can neither be opened nor created.
    static std::unique_ptr<NamedEvent> open(const std::string& name, ResetMode mode,
                                            OpenMode openMode);
    // Removes the name. Open handles keep working; later opens see a new event.
    static void remove(const std::string& name);

    ~NamedEvent();
    NamedEvent(const NamedEvent&) = delete;
    NamedEvent& operator=(const NamedEvent&) = delete;

    void set();
    void reset();
    // Waits until the event is set, up to timeoutMs on a monotonic clock (a negative value waits
    // without limit). Returns true if the event was signalled (and, auto-reset, consumed).
    // Where the system allows it, a wait first spins for a few microseconds, so that an answer
    // that comes at once costs no sleep and no wake-up; the spin adapts per handle (it grows while
    // spinning pays and shrinks while it does not) and never lasts more than tens of microseconds.
    // A set() that finds nobody asleep on the event makes no system call.
    bool wait(int timeoutMs);

private:
    NamedEvent(std::unique_ptr<NativeEvent> native, ResetMode mode);

    std::unique_ptr<NativeEvent> m_native;
    ResetMode m_mode;
};

}  // namespace xel::platform
