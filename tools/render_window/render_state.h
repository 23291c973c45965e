// The render window's own state, as the plug-in last set it.
#pragma once

#include <QString>

#include <mutex>

namespace orvanta::render_window {

// Eight flags in the order the render link carries them, and the parent window handle.
struct RenderState {
    bool reserved = false;
    bool loadingModel = false;
    bool closing = false;
    bool renderWindowVisible = false;
    bool settingsUIVisible = false;
    bool materialsUIVisible = false;
    bool productionDialogRequested = false;
    bool dockedWindowsMode = false;
    long long renderWindowParent = 0;

    // One line of "name=value" fields, for the log.
    QString describe() const;
};

// Holds the state between the plug-in's "SETSTATE" and its "STATE" request. Any thread.
class RenderStateStore {
public:
    void set(const RenderState& state);
    RenderState get() const;

private:
    mutable std::mutex m_mutex;
    RenderState m_state;  // under m_mutex
};

}  // namespace orvanta::render_window
