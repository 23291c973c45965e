// A channel observer for the end of a channel whose messages a fuzz target does not look at.
#pragma once

#include "XelInterProcessMessagesManager.h"

namespace xel::fuzz {

class IgnoringObserver final : public XelInterProcessMessagesObserver {
public:
    void onMessage(const char*, const void*, long) override {}
    void onChannelConnected() override {}
    void onChannelDisconnected() override {}
    void onError(int, const char*) override {}
};

}  // namespace xel::fuzz
