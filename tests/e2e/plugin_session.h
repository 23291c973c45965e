// What a test that loads the plug-in in this process keeps around it. Header only: the test
// programs that use it link the support libraries it names.
#pragma once

#include <QFile>
#include <QString>

#include "platform/process.h"
#include "tests/e2e/e2e_support.h"
#include "tests/plugin/lifecycle/test_environment.h"
#include "tests/support/channel_test_support.h"

namespace orvanta::e2e {

// Isolated user folders (the settings store, the session folder and the channel's key files stay
// in them), the channel objects of this process's queue id removed at the end, and the render
// window's log file named in its environment. Check isValid() first.
struct PluginSession {
    test::IsolatedUserFolders folders;
    xel::test::ChannelCleanup cleanup{static_cast<qint32>(xel::platform::currentProcessId())};
    QString logPath =
        folders.makeFolder(QStringLiteral("log")) + QStringLiteral("/render_window.log");
    ScopedVariable logVariable{"ORVANTA_RENDER_LOG", QFile::encodeName(logPath)};

    bool isValid() const { return folders.isValid(); }
};

}  // namespace orvanta::e2e
