#include "tests/support/observed_sender.h"

namespace xel::test {

ObservedSender::ObservedSender(const std::wstring& sessionPath, long queueId,
                               SenderWatcher& watcher, EnumEntityContentCallback enumEntityContent)
    : XelRemoteRenderSender(sessionPath.c_str(), nullptr, enumEntityContent, nullptr, nullptr,
                            nullptr, queueId),
      m_watcher(watcher) {}

ObservedSender::~ObservedSender() {
    stopSending();
}

void ObservedSender::onRenderInit() {
    XelRemoteRenderSender::onRenderInit();
    m_readerThread.store(std::this_thread::get_id());
    m_watcher.renderWindowAnnounced();
}

void ObservedSender::onRenderExit() {
    XelRemoteRenderSender::onRenderExit();
    m_watcher.renderWindowEnded(std::this_thread::get_id() == m_readerThread.load());
}

void ObservedSender::onRenderDataSaved() {
    XelRemoteRenderSender::onRenderDataSaved();
    m_watcher.renderDataSaved();
}

}  // namespace xel::test
