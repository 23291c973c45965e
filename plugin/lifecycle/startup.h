// Start-up and shutdown of the plug-in and of the render window.
#pragma once

#include <QString>

#include <cstdint>

#include "plugin/lifecycle/plugin_state.h"

namespace orvanta {

// What the host hands over at start-up.
struct StartupArguments {
    QString pluginFolder;  // the folder of the render-window program
    std::int64_t mainWindowHandle = 0;
    std::int64_t parentWindowHandle = 0;
    HostCallbacks host;
};

// Starts the plug-in on the calling thread, which becomes the host thread: records the arguments
// and the thread, opens the settings store, creates the session folder, settles the content
// library folder, creates the sender and has it start the render-window program, and logs that
// the start was requested. Reports nothing: a session folder that cannot be made or a program that
// does not start goes unnoticed here (the render window then never announces itself). Once the
// sender exists, a later call does nothing at all.
void startPlugin(const StartupArguments& arguments);

// Whether the sender exists (from start-up until the process ends). Any thread.
bool pluginStarted();

// Ask the render window to end; nothing before start-up. The sender stays. Host thread.
void requestRenderWindowExit();

// Records the host's word; nothing depends on it. Host thread.
void setApplicationPaused(bool paused);

}  // namespace orvanta
