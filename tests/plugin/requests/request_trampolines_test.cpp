#include "plugin/requests/request_trampolines.h"

#include <QString>
#include <QThread>

#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

std::vector<std::string> g_logged;

void captureMessage(QtMsgType type, const QMessageLogContext&, const QString& text) {
    if (type == QtDebugMsg)
        g_logged.push_back(text.toStdString());
}

class RequestTrampolines : public ::testing::Test {
protected:
    void SetUp() override {
        g_logged.clear();
        m_previous = qInstallMessageHandler(captureMessage);
    }
    void TearDown() override { qInstallMessageHandler(m_previous); }

    // The log line for `text` written on this thread.
    static std::string logLine(const std::string& text) {
        const auto id = static_cast<std::int32_t>(static_cast<std::uint32_t>(
            reinterpret_cast<std::uintptr_t>(QThread::currentThreadId())));
        return "\"" + text + " - ThreadId: " + std::to_string(id) + "\"";
    }

    QtMessageHandler m_previous = nullptr;
};

TEST_F(RequestTrampolines, EachDroppedRequestIsLoggedWithItsTexts) {
    orvanta::requestSetEntityAttribute("ExecuteAction", "SuspendScene", "", nullptr);
    orvanta::requestEnumEntityContent("1234");
    orvanta::requestEnumEntityAttributes("Camera", "Render");
    orvanta::requestExportTexture("Wood", "/tmp/wood.png");
    orvanta::requestDestroyPointer(reinterpret_cast<void*>(std::intptr_t{-2}));
    const std::vector<std::string> expected = {
        logLine("Render window request dropped: obrSkpSetEntityAttribute, ExecuteAction, "
                "SuspendScene, , "),
        logLine("Render window request dropped: obrSkpEnumEntityContent, 1234"),
        logLine("Render window request dropped: obrSkpEnumEntityAttributes, Camera, Render"),
        logLine("Render window request dropped: obrSkpExportTexture, Wood, /tmp/wood.png"),
        logLine("Render window request dropped: obrSkpDestroyPointer, -2"),
    };
    EXPECT_EQ(g_logged, expected);
}

}  // namespace
