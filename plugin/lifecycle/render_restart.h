// The render window's restart, and the resync that sends the whole scene to a render window that
// announced itself after an earlier one had ended (restarted, or stalled and running again).
#pragma once

#include <string>

class XelRemoteRenderSender;

namespace orvanta {

// The plug-in's sender for `sessionPath`, on this process's queue id: it notes when a render
// window announces itself after an earlier one ended, so that the next poll resyncs. Owned by the
// caller (the plug-in keeps it until the process ends). Host thread, once.
XelRemoteRenderSender* createRenderSender(const std::wstring& sessionPath);

// A running render window renders again. One that is gone (see
// XelRemoteRenderSender::renderWindowGone()) is replaced by a new one on a fresh channel, which
// gets the whole scene once it announces itself. One that is still starting is left to start.
// Nothing before start-up. Host thread.
void restartRender();

// What the host's poll does first: when a render window announced itself after an earlier one
// ended, clears the render session as the host's full clear does and posts the request for the
// model's content ("Model"), which the poll then hands to the host like the render window's own
// request (the queue files one request for both). Host thread.
void resyncIfDue();
// Whether a resync waits for the next poll. Any thread.
bool resyncDue();

// The host's poll: resyncIfDue(), then the host request queue. Host thread.
void pollHost();

}  // namespace orvanta
