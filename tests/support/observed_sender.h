// A render-link sender that tells a watcher when its render window announces itself, ends and
// saves: the plug-in's side of cross-process tests and benchmarks.
#pragma once

#include <atomic>
#include <string>
#include <thread>

#include "XelRemoteRenderSender.h"

namespace xel::test {

// Told what the sender saw of its render window. Called on the sender's threads, so an
// implementation guards what it records; it must outlive the sender.
class SenderWatcher {
public:
    // "INIT" from the render window, on the sender's reader thread.
    virtual void renderWindowAnnounced() = 0;
    // The render window's end: its "EXIT" on the reader thread (`answered`), or the end of its
    // process seen by the sender's process watch (not `answered`).
    virtual void renderWindowEnded(bool answered) = 0;
    // "SAVED" from the render window, on the reader thread.
    virtual void renderDataSaved() {}

protected:
    ~SenderWatcher() = default;
};

// The sender as the plug-in makes it, with no host callback but the optional enumerate-content
// one, reporting to `watcher` after the sender's own handling of each event. Ends its threads
// when destroyed.
class ObservedSender final : public XelRemoteRenderSender {
public:
    ObservedSender(const std::wstring& sessionPath, long queueId, SenderWatcher& watcher,
                   EnumEntityContentCallback enumEntityContent = nullptr);
    ~ObservedSender() override;

protected:
    void onRenderInit() override;
    void onRenderExit() override;
    void onRenderDataSaved() override;

private:
    SenderWatcher& m_watcher;
    std::atomic<std::thread::id> m_readerThread{};  // the thread that reported "INIT"
};

}  // namespace xel::test
