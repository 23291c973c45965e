#include <QDir>
#include <QProcess>
#include <QSettings>
#include <QString>
#include <QThread>

#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/system.h"

#include "OrvantaForSketchup.h"
#include "plugin/lifecycle/app_settings.h"
#include "plugin/lifecycle/plugin_state.h"
#include "tests/plugin/lifecycle/test_environment.h"

namespace {

// Every test needs its own process: the store is process-global and takes its folder from the
// environment once.
class AppSettings : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_folders.isValid());
        ASSERT_EQ(orvanta::pluginState().appSettings, nullptr)
            << "the store is already open: run each test in its own process";
    }

    // Runs the settings peer with `arguments`; its standard output, or "failed".
    static std::string runPeer(const QStringList& arguments) {
        QProcess peer;
        peer.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        peer.start(QStringLiteral(PLUGIN_SETTINGS_PEER), arguments);
        if (!peer.waitForFinished(120000) || peer.exitStatus() != QProcess::NormalExit ||
            peer.exitCode() != 0)
            return "failed";
        return peer.readAllStandardOutput().trimmed().toStdString();
    }

    orvanta::test::IsolatedUserFolders m_folders;
};

TEST_F(AppSettings, BeforeTheStoreOpensGettersAnswerNothingAndSettersDoNothing) {
    obrSetAppSetting("A", 5);
    obrSetAppSettingStr("B", QStringLiteral("7"));
    EXPECT_EQ(obrGetAppSetting("A"), 0);
    EXPECT_FALSE(obrExistsAppSetting("A"));
    orvanta::openAppSettings();
    EXPECT_FALSE(obrExistsAppSetting("A"));
    EXPECT_FALSE(obrExistsAppSetting("B"));
}

TEST_F(AppSettings, StoreIsTheOrganisationsPerUserStore) {
    const QSettings& settings = orvanta::openAppSettings();
    EXPECT_EQ(&settings, &orvanta::openAppSettings());
    EXPECT_EQ(settings.organizationName(), QStringLiteral("Plimsor"));
    EXPECT_EQ(settings.applicationName(), QStringLiteral("Orvanta Render"));
    EXPECT_EQ(settings.format(), QSettings::NativeFormat);
    EXPECT_EQ(settings.scope(), QSettings::UserScope);
    if (xel::test::kWindows) {
        EXPECT_EQ(settings.fileName(),
                  QStringLiteral("\\HKEY_CURRENT_USER\\Software\\Plimsor\\Orvanta Render"));
    } else {
        EXPECT_TRUE(settings.fileName().startsWith(m_folders.configHome() + QLatin1Char('/')))
            << settings.fileName().toStdString();
    }
}

TEST_F(AppSettings, SetGetAndExists) {
    orvanta::openAppSettings();
    EXPECT_FALSE(obrExistsAppSetting("A"));
    obrSetAppSetting("A", 5);
    EXPECT_EQ(obrGetAppSetting("A"), 5);
    EXPECT_TRUE(obrExistsAppSetting("A"));
    obrSetAppSetting("A", -12);
    EXPECT_EQ(obrGetAppSetting("A"), -12);
    obrSetAppSetting("Zero", 0);
    EXPECT_EQ(obrGetAppSetting("Zero"), 0);
    EXPECT_TRUE(obrExistsAppSetting("Zero"));
    EXPECT_EQ(obrGetAppSetting("Missing"), 0);
}

TEST_F(AppSettings, TextSettingsReadBackAsNumbers) {
    orvanta::openAppSettings();
    obrSetAppSettingStr("Count", QStringLiteral("12"));
    EXPECT_EQ(obrGetAppSetting("Count"), 12);
    obrSetAppSettingStr("Name", QStringLiteral("twelve"));
    EXPECT_EQ(obrGetAppSetting("Name"), 0);
    EXPECT_TRUE(obrExistsAppSetting("Name"));
    EXPECT_EQ(orvanta::pluginState().appSettings->value(QStringLiteral("Name")).toString(),
              QStringLiteral("twelve"));
}

TEST_F(AppSettings, KeysAreUtf8AndNullReadsAsEmpty) {
    orvanta::openAppSettings();
    obrSetAppSetting("Größe", 3);
    EXPECT_EQ(orvanta::pluginState().appSettings->value(QStringLiteral("Größe")).toInt(), 3);
    EXPECT_EQ(obrGetAppSetting(nullptr), 0);
    EXPECT_FALSE(obrExistsAppSetting(nullptr));
}

TEST_F(AppSettings, WritesReachTheDiskAtOnce) {
    orvanta::openAppSettings();
    obrSetAppSetting("A", 5);
    obrSetAppSettingStr("B", QStringLiteral("42"));
    // The store stays open in this process; another process sees the values all the same.
    EXPECT_EQ(runPeer({QStringLiteral("get"), QStringLiteral("A")}), "1 5");
    EXPECT_EQ(runPeer({QStringLiteral("get"), QStringLiteral("B")}), "1 42");
    EXPECT_EQ(runPeer({QStringLiteral("get"), QStringLiteral("C")}), "0 0");
}

TEST_F(AppSettings, ValuesSurviveTheirProcess) {
    ASSERT_EQ(runPeer({QStringLiteral("set"), QStringLiteral("A"), QStringLiteral("9")}), "");
    ASSERT_EQ(runPeer({QStringLiteral("set-text"), QStringLiteral("B"), QStringLiteral("12")}), "");
    EXPECT_EQ(runPeer({QStringLiteral("get"), QStringLiteral("A")}), "1 9");
    orvanta::openAppSettings();
    EXPECT_EQ(obrGetAppSetting("A"), 9);
    EXPECT_EQ(obrGetAppSetting("B"), 12);
}

TEST_F(AppSettings, UnwritableStoreIgnoresWrites) {
    if (xel::test::kWindows)
        GTEST_SKIP() << "the store is the user's registry, which the user may always write";
    // A folder where the store's file belongs: no one can write it, privileges or not.
    const QString file = m_folders.configHome() + QStringLiteral("/Plimsor/Orvanta Render.conf");
    ASSERT_TRUE(QDir().mkpath(file));
    const QSettings& settings = orvanta::openAppSettings();
    ASSERT_EQ(settings.fileName(), file);
    ASSERT_FALSE(settings.isWritable());
    obrSetAppSetting("A", 6);
    obrSetAppSettingStr("B", QStringLiteral("1"));
    EXPECT_FALSE(obrExistsAppSetting("A"));
    EXPECT_EQ(obrGetAppSetting("A"), 0);
    EXPECT_FALSE(obrExistsAppSetting("B"));
}

// The log.

struct LoggedMessage {
    QtMsgType type;
    std::string text;
};

std::mutex g_logMutex;
std::vector<LoggedMessage> g_logged;

void captureMessage(QtMsgType type, const QMessageLogContext&, const QString& text) {
    std::lock_guard<std::mutex> guard(g_logMutex);
    g_logged.push_back({type, text.toStdString()});
}

class PluginLog : public ::testing::Test {
protected:
    void SetUp() override {
        g_logged.clear();
        m_previous = qInstallMessageHandler(captureMessage);
    }
    void TearDown() override { qInstallMessageHandler(m_previous); }

    static std::vector<LoggedMessage> logged() {
        std::lock_guard<std::mutex> guard(g_logMutex);
        return g_logged;
    }

    // The calling thread's id as the log writes it.
    static std::string currentThreadId() {
        const auto id = static_cast<std::int32_t>(static_cast<std::uint32_t>(
            reinterpret_cast<std::uintptr_t>(QThread::currentThreadId())));
        return std::to_string(id);
    }

    QtMessageHandler m_previous = nullptr;
};

TEST_F(PluginLog, LineNamesMessageAndThreadAtDebugLevel) {
    obrAppendLog("Render Start Requested...");
    const auto lines = logged();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].type, QtDebugMsg);
    EXPECT_EQ(lines[0].text, "\"Render Start Requested... - ThreadId: " + currentThreadId() + "\"");
}

TEST_F(PluginLog, ThreadIdIsTheWritingThreads) {
    std::string otherId;
    std::thread other([&] {
        otherId = currentThreadId();
        obrAppendLog("from the other thread");
    });
    other.join();
    obrAppendLog("from this thread");
    const auto lines = logged();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].text, "\"from the other thread - ThreadId: " + otherId + "\"");
    EXPECT_EQ(lines[1].text, "\"from this thread - ThreadId: " + currentThreadId() + "\"");
    EXPECT_NE(otherId, currentThreadId());
}

TEST_F(PluginLog, MessageIsTakenLiterallyAndAsUtf8) {
    obrAppendLog("50%2 done, %1 left: Größe");
    obrAppendLog(nullptr);
    const auto lines = logged();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].text, "\"50%2 done, %1 left: Größe - ThreadId: " + currentThreadId() + "\"");
    EXPECT_EQ(lines[1].text, "\" - ThreadId: " + currentThreadId() + "\"");
}

// A host script that keeps passing bad input leaves a few lines: the first refusal of each kind
// and every thousandth, each with the count so far.
TEST_F(PluginLog, RefusalsAreLoggedTheFirstAndEveryThousandthOfEachKind) {
    xel::RefusalCount nullArrays;
    xel::RefusalCount negativeCounts;
    for (int i = 0; i < 2000; ++i)
        orvanta::appendRefusal(nullArrays, "obrOnEnumMesh", QStringLiteral("a null array"));
    orvanta::appendRefusal(negativeCounts, "obrCreateIntRef", QStringLiteral("a negative count"));
    std::vector<std::string> texts;
    for (const LoggedMessage& line : logged())
        texts.push_back(line.text);
    const std::string thread = " - ThreadId: " + currentThreadId() + "\"";
    EXPECT_EQ(texts,
              (std::vector<std::string>{
                  "\"obrOnEnumMesh refused: a null array (1 refused so far)" + thread,
                  "\"obrOnEnumMesh refused: a null array (1000 refused so far)" + thread,
                  "\"obrOnEnumMesh refused: a null array (2000 refused so far)" + thread,
                  "\"obrCreateIntRef refused: a negative count (1 refused so far)" + thread}));
}

TEST_F(PluginLog, ClearLogAndModelInfoDoNothing) {
    obrAppendLog("before");
    obrClearLog();
    obrEnumModelInfo();
    obrAppendLog("after");
    const auto lines = logged();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].text, "\"before - ThreadId: " + currentThreadId() + "\"");
    EXPECT_EQ(lines[1].text, "\"after - ThreadId: " + currentThreadId() + "\"");
}

}  // namespace
