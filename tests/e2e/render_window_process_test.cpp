// The plug-in side's sender in this process, the real render-window program in another: the
// render window announces itself, takes the state and answers requests, and the render
// window ends when asked; killed, it leaves the sender responsive; with DISPLAY naming an X
// display that cannot serve it, it says why, runs offscreen and serves all the same; "--help"
// prints the usage and the view's mouse controls. Each test starts its own render window; the
// sender's queue id is this process's id.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QColor>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtGlobal>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "XelRemoteRenderSender.h"
#include "platform/process.h"
#include "platform/process_watch.h"
#include "tests/e2e/e2e_support.h"
#include "tests/support/channel_test_support.h"
#include "tests/support/observed_sender.h"

namespace {

using namespace orvanta::e2e;
using xel::test::ObservedSender;

// What reached the sender, recorded on the sender's threads for the test thread to wait on. The
// predicates of waitUntil() run under the lock.
struct SenderEvents final : xel::test::SenderWatcher {
    int inits = 0;
    int exitAnswers = 0;  // "EXIT" from the render window, on the reader thread
    int processEnds = 0;  // the end of its process, seen by the sender's watch
    int saves = 0;
    std::vector<std::string> materialMaps;

    template <typename Predicate>
    bool waitUntil(Predicate predicate) {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, std::chrono::milliseconds(kStepDeadlineMs),
                                [&] { return predicate(*this); });
    }
    template <typename Change>
    void record(Change change) {
        {
            std::lock_guard<std::mutex> guard(mutex);
            change(*this);
        }
        changed.notify_all();
    }

    void renderWindowAnnounced() override {
        record([](SenderEvents& e) { ++e.inits; });
    }
    void renderWindowEnded(bool answered) override {
        record([answered](SenderEvents& e) { ++(answered ? e.exitAnswers : e.processEnds); });
    }
    void renderDataSaved() override {
        record([](SenderEvents& e) { ++e.saves; });
    }

    std::mutex mutex;
    std::condition_variable changed;
};

// The events of the running test, for the plain-function callback of generateMaterialMaps().
SenderEvents* s_events = nullptr;

void materialMapsDone(const char* materialName, bool, const wchar_t*, const wchar_t*,
                      const wchar_t*, const wchar_t*, const wchar_t*, const wchar_t*,
                      const wchar_t*) {
    const std::string name = materialName;
    s_events->record([&](SenderEvents& e) { e.materialMaps.push_back(name); });
}

// Counts the warnings of the Qt message stream (where the channel reports dropped messages) while
// it lives.
class WarningCounter {
public:
    WarningCounter() { s_previous = qInstallMessageHandler(&WarningCounter::handle); }
    ~WarningCounter() { qInstallMessageHandler(s_previous); }
    static std::vector<std::string> warnings() {
        std::lock_guard<std::mutex> guard(s_mutex);
        return s_warnings;
    }

private:
    static void handle(QtMsgType type, const QMessageLogContext& context, const QString& text) {
        if (type == QtWarningMsg || type == QtCriticalMsg) {
            std::lock_guard<std::mutex> guard(s_mutex);
            s_warnings.push_back(text.toStdString());
        }
        if (s_previous)
            s_previous(type, context, text);
    }
    static inline QtMessageHandler s_previous = nullptr;
    static inline std::mutex s_mutex;
    static inline std::vector<std::string> s_warnings;
};

class RenderWindowProcess : public ::testing::Test {
protected:
    void SetUp() override { startRenderWindow(); }

    // Starts the render window with this process's environment and waits until the sender counts
    // it as running; a render window that ends first fails the test at once.
    void startRenderWindow() {
        ensureApplication();
        s_events = &m_events;
        ASSERT_TRUE(m_folder.isValid());
        m_session = m_folder.path() + QStringLiteral("/session");
        ASSERT_TRUE(QDir().mkpath(m_session));
        const QString logPath = m_folder.path() + QStringLiteral("/render_window.log");
        m_logVariable.emplace("ORVANTA_RENDER_LOG", QFile::encodeName(logPath));
        m_log = std::make_unique<LogFollower>(logPath);

        m_sender = std::make_unique<ObservedSender>(m_session.toStdWString(), 0, m_events);
        m_sender->startRender(QStringLiteral(ORVANTA_RENDER_WINDOW).toStdWString().c_str(), 2050,
                              0);
        ASSERT_TRUE(m_events.waitUntil([](const SenderEvents& e) {
            return e.inits > 0 || e.processEnds > 0;
        })) << "no INIT from the render window";
        {
            std::lock_guard<std::mutex> guard(m_events.mutex);
            ASSERT_GT(m_events.inits, 0) << "the render window ended before its INIT";
        }
        // The render window's own check that the sender counts it as running.
        ASSERT_TRUE(m_log->waitForLine(QLatin1String(kPluginReadyLine), kStepDeadlineMs));
        m_pid = renderWindowPid(*m_log);
        ASSERT_GT(m_pid, 0);
        m_watch = std::make_unique<xel::platform::ProcessWatch>(m_pid);
    }

    void TearDown() override {
        if (HasFailure() && m_log)
            printLog(*m_log);
        // A test that failed half-way leaves no render window behind.
        if (m_watch && !m_watch->hasEnded())
            m_watch->terminate();
    }

    QStringList logLines() const { return m_log->lines(); }

    QTemporaryDir m_folder;
    xel::test::ChannelCleanup m_cleanup{static_cast<qint32>(xel::platform::currentProcessId())};
    std::optional<ScopedVariable> m_logVariable;
    std::unique_ptr<LogFollower> m_log;
    QString m_session;
    SenderEvents m_events;  // outlives the sender, whose threads report to it
    std::unique_ptr<ObservedSender> m_sender;
    std::int64_t m_pid = 0;
    std::unique_ptr<xel::platform::ProcessWatch> m_watch;
};

TEST_F(RenderWindowProcess, AnnouncesItselfAnswersAndEndsWhenAsked) {
    EXPECT_TRUE(m_sender->isRenderRunning());
    const QStringList expectedArguments = {QString::number(xel::platform::currentProcessId()),
                                           QStringLiteral("2050"), QStringLiteral("0"), m_session};
    EXPECT_EQ(renderWindowArguments(*m_log), expectedArguments);
    EXPECT_EQ(m_log->findLine(QStringLiteral("working folder ")),
              QStringLiteral("working folder ") + m_session);

    // The state goes out ("SETSTATE"), the render window keeps it and returns it ("STATE"). It
    // handles the one-shot production-dialog request and returns it cleared, so the mirror shows
    // the reply, not only what was set here.
    m_sender->setLoadingModel(true);
    m_sender->showSettingsUI(true);
    m_sender->showProductionDialog();
    const QString requested = QStringLiteral(
        "onSetState loadingModel=1 closing=0 visible=0 settingsUI=1 materialsUI=0 "
        "productionDialog=1");
    const auto answeredAfterRequest = [&](const QStringList& lines) {
        const auto set = std::find_if(lines.begin(), lines.end(), [&](const QString& line) {
            return line.startsWith(requested);
        });
        return std::any_of(set, lines.end(), [](const QString& line) {
            return line.startsWith(QStringLiteral("onGetState "));
        });
    };
    ASSERT_TRUE(m_log->waitUntil(answeredAfterRequest, kStepDeadlineMs))
        << "the render window did not take the state and answer the request for it";
    // Both answers leave the render window's reader thread in this order, and the sender's reader
    // takes them in the same order: once "SAVED" is in, so is the "STATE" reply.
    m_sender->requestSaveData();
    ASSERT_TRUE(m_events.waitUntil([](const SenderEvents& e) { return e.saves > 0; }))
        << "no SAVED answer";
    bool flags[8] = {};
    long long parent = -1;
    m_sender->getCurrentState(flags[0], flags[1], flags[2], flags[3], flags[4], flags[5], flags[6],
                              flags[7], parent);
    const bool returned[8] = {false, true, false, false, true, false, false, false};
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(flags[i], returned[i]) << "flag " << i;
    EXPECT_EQ(parent, 0);

    // A request the render window answers through the sender's callback.
    m_sender->generateMaterialMaps(
        "end-to-end material", 1, 2, 3, 4, 0.5f, XelRemoteRenderSender::MaterialQualityType(0),
        XelRemoteRenderSender::MaterialImageFormat(0), &materialMapsDone);
    ASSERT_TRUE(m_events.waitUntil([](const SenderEvents& e) {
        return std::find(e.materialMaps.begin(), e.materialMaps.end(), "end-to-end material") !=
               e.materialMaps.end();
    })) << "no MATMAPS answer";

    // The receiver answers an echo itself; the sender reads the answer and drops it, so only the
    // render window's side can be seen.
    m_sender->echo("end-to-end echo");
    EXPECT_TRUE(m_log->waitForLine(
        QStringLiteral("echo text=end-to-end echo (the receiver answers it)"), kStepDeadlineMs));

    m_sender->requestRenderExit();
    ASSERT_TRUE(m_events.waitUntil([](const SenderEvents& e) { return e.exitAnswers > 0; }))
        << "no EXIT answer";
    EXPECT_FALSE(m_sender->isRenderRunning());
    EXPECT_TRUE(m_watch->waitForEnd());
    // The sender's watch of the process it started reports the end as well.
    EXPECT_TRUE(m_events.waitUntil([](const SenderEvents& e) { return e.processEnds > 0; }));
    const QStringList lines = logLines();
    const int exitRequested = lines.indexOf(QStringLiteral("exit requested"));
    EXPECT_GE(exitRequested, 0);
    EXPECT_GT(lines.indexOf(QLatin1String(kSentExitLine)), exitRequested);
    EXPECT_EQ(lines.last(), QLatin1String(kClosedLine));
}

// The texture road from the render window's side: a textured material is asked for ("expTx"), an
// export waits for the answer, and the picture shows the texture once the answer has come; a
// texture whose answer never comes holds the export back only for the wait's limit.
TEST_F(RenderWindowProcess, ExportWaitsForTheTexturesOnTheirWay) {
    // A square at the model root, facing +Z, every UV at the picture's centre.
    const float positions[] = {-1, -1, 0, 1, -1, 0, 1, 1, 0, -1, 1, 0};
    const float normals[] = {0, 0, 1, 0, 0, 1, 0, 0, 1, 0, 0, 1};
    const float uvs[] = {0.5f, 0.5f, 0.5f, 0.5f, 0.5f, 0.5f, 0.5f, 0.5f};
    const bool flags[4] = {};
    const int indices[] = {0, 1, 2, 0, 2, 3};
    m_sender->addMesh("square", "Model", "0", positions, normals, uvs, uvs, flags, indices, 6, 4,
                      "logo", "logo");
    m_sender->addMaterial("logo", "Logo", "#FFFFFF", 1, 1.0f, "logo.png");
    const QString sentPrefix = QStringLiteral("sent expTx logo ");
    ASSERT_TRUE(m_log->waitForLine(sentPrefix, kStepDeadlineMs));
    const QString texture = m_log->findLine(sentPrefix).mid(sentPrefix.size());
    EXPECT_EQ(QFileInfo(texture).absolutePath(), m_session);

    const QString picture = m_folder.path() + QStringLiteral("/view.png");
    m_sender->exportScene(picture.toUtf8().constData());
    m_sender->echo("after the export");
    ASSERT_TRUE(m_log->waitForLine(QStringLiteral("echo text=after the export"), kStepDeadlineMs));
    EXPECT_TRUE(logLines().contains(QStringLiteral("export waits for 1 texture(s)")));
    EXPECT_FALSE(logLines().contains(QLatin1String(kExportedLinePrefix) + picture));

    // The host's part: the file, then the answer.
    QImage blue(4, 4, QImage::Format_RGB32);
    blue.fill(QColor(0, 0, 255));
    ASSERT_TRUE(blue.save(texture, "PNG"));
    m_sender->sendDictionaryMessage("logo", "TextureExport", texture.toUtf8().constData(), "ok");
    ASSERT_TRUE(m_log->waitForLine(QLatin1String(kExportedLinePrefix) + picture, kStepDeadlineMs));
    const QStringList lines = logLines();
    const int loaded = lines.indexOf(QStringLiteral("texture logo loaded %1 4x4").arg(texture));
    EXPECT_GE(loaded, 0);
    EXPECT_LT(loaded, lines.indexOf(QLatin1String(kExportedLinePrefix) + picture));
    const QImage image(picture);
    ASSERT_FALSE(image.isNull());
    const QColor centre = image.pixelColor(image.width() / 2, image.height() / 2);
    EXPECT_EQ(centre.red(), 0);
    EXPECT_EQ(centre.green(), 0);
    EXPECT_GT(centre.blue(), 60);

    // Asked again, and never answered: the export goes ahead after the wait, with the picture
    // held so far.
    m_sender->addMaterial("logo", "Logo", "#FFFFFF", 1, 1.0f, "logo.png");
    const QString again = m_folder.path() + QStringLiteral("/again.png");
    m_sender->exportScene(again.toUtf8().constData());
    ASSERT_TRUE(m_log->waitForLine(QLatin1String(kExportedLinePrefix) + again, kStepDeadlineMs));
    EXPECT_FALSE(
        m_log->findLine(QStringLiteral("export goes ahead without 1 texture(s)")).isEmpty());
    EXPECT_EQ(QImage(again), image);
}

TEST_F(RenderWindowProcess, KilledRenderWindowLeavesTheSenderResponsive) {
    ASSERT_FALSE(m_watch->hasEnded());
    m_watch->terminate();
    ASSERT_TRUE(m_watch->waitForEnd());
    // The sender watches the process it started: its end counts as the render window's "EXIT".
    ASSERT_TRUE(m_events.waitUntil([](const SenderEvents& e) { return e.processEnds > 0; }));
    EXPECT_FALSE(m_sender->isRenderRunning());
    EXPECT_FALSE(logLines().contains(QStringLiteral("exit requested")));

    // Far more than the channel can take without a reader: the meshes alone (sent on the calling
    // thread) overflow the 640 MiB segment, where a send would wait for the dead peer, and the
    // dictionary messages (sent asynchronously) overflow the backlog, where the channel drops
    // them with a warning. A sender that let them through would hang here or warn.
    constexpr int kRounds = 1000;
    constexpr int kVertices = 32768;
    const std::vector<float> positions(3 * kVertices, 1.0f);
    const std::vector<float> uvs(2 * kVertices, 0.5f);
    const std::unique_ptr<bool[]> vertexFlags(new bool[kVertices]());
    const std::vector<int> indices(3 * kVertices, 0);
    const std::string largeValue(1 << 20, 'v');
    const float transform[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    const float vector[3] = {0, 0, 1};

    WarningCounter warnings;
    const int baseline = threadCount();
    ASSERT_GT(baseline, 0);
    int most = baseline;
    XelRemoteRenderSender& sender = *m_sender;
    for (int i = 0; i < kRounds; ++i) {
        const bool odd = i % 2 == 1;
        sender.addMesh("7_mesh", "7", "label", positions.data(), positions.data(), uvs.data(),
                       uvs.data(), vertexFlags.get(), indices.data(), 3 * kVertices, kVertices,
                       "f[1]", "r[1]");
        sender.addMaterial("1", "material", "detail", i, 0.5f, "extra");
        sender.addGroup("8", "Model", "label", "pass", transform, "note");
        sender.addInstance("9", "8", "10", "label", "pass", transform, "note");
        sender.addComponentDef("10", "definition", odd, "note");
        sender.addLayer("Layer0", odd, i, !odd);
        sender.removeEntity("9", "8", odd, !odd);
        sender.removeEntityMeshes("7");
        sender.clearSession();
        sender.setCamera(1, 2, 3, 4, 5, 6, 7, 8, 9, odd, !odd, 10, 11, 12, 13, "Scene");
        sender.setSceneLight(1, 2, 3, 4, 5, 6, 7, 8, 9);
        sender.setSectionPlane(1, odd, vector, vector, !odd, i);
        sender.removeSectionPlane(1);
        sender.setEntityVisible("7", odd, "label");
        sender.sendDictionaryMessage("App", "obrSetValue", "Data", largeValue.c_str());
        sender.setLanguage("en");
        sender.echo("unheard");
        sender.exportScene("/nowhere/scene.out");
        sender.invalidateRender();
        sender.requestSaveData();
        sender.requestRenderExit();
        sender.generateMaterialMaps("material", 1, 2, 3, 4, 0.5f,
                                    XelRemoteRenderSender::MaterialQualityType(0),
                                    XelRemoteRenderSender::MaterialImageFormat(0), nullptr);
        sender.setLoadingModel(!odd);
        sender.setRenderWindowVisible(odd);
        sender.showSettingsUI(!odd);
        sender.showMaterialsUI(odd);
        sender.showProductionDialog();
        sender.setDockedWindowsMode(odd);
        sender.setRenderWindowParent(i);
        if (i % 50 == 0)
            most = std::max(most, threadCount());
    }
    most = std::max(most, threadCount());

    EXPECT_LE(most, baseline) << "threads were started for calls that had nothing to send";
    EXPECT_TRUE(WarningCounter::warnings().empty())
        << "the channel dropped messages: " << WarningCounter::warnings().front();
    EXPECT_FALSE(m_sender->isRenderRunning());
    // The setters still keep the plug-in's own view of the state.
    bool flags[8] = {};
    long long parent = 0;
    m_sender->getCurrentState(flags[0], flags[1], flags[2], flags[3], flags[4], flags[5], flags[6],
                              flags[7], parent);
    const bool lastRound[8] = {false, false, false, true, false, true, false, true};
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(flags[i], lastRound[i]) << "flag " << i;
    EXPECT_EQ(parent, kRounds - 1);
}

// X display numbers the tests below may take: well above those of real displays, and apart from
// those the platform tests take.
constexpr int kFirstTestDisplay = 97;
constexpr int kLastTestDisplay = 196;
constexpr int kXTcpPortBase = 6000;

sockaddr_in loopback(int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

// Whether `address` takes a connection now.
bool takesConnection(int family, const sockaddr* address, socklen_t length) {
    const int fd = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return true;  // unknown: counted as taken
    const bool connected = ::connect(fd, address, length) == 0;
    ::close(fd);
    return connected;
}

// Whether anything on this machine takes connections for X display `number`: its local socket
// (abstract, or the file in /tmp/.X11-unix) or TCP port 6000 + number on the loopback.
bool displayNumberTaken(int number) {
    const std::string path = "/tmp/.X11-unix/X" + std::to_string(number);
    for (const bool abstract : {true, false}) {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::memcpy(address.sun_path + (abstract ? 1 : 0), path.data(), path.size());
        const auto length =
            static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + path.size());
        if (takesConnection(AF_UNIX, reinterpret_cast<const sockaddr*>(&address), length))
            return true;
    }
    const sockaddr_in tcp = loopback(kXTcpPortBase + number);
    return takesConnection(AF_INET, reinterpret_cast<const sockaddr*>(&tcp), sizeof(tcp));
}

// A stand-in for an X server that will not serve its clients: it listens on the loopback at TCP
// port 6000 + number, takes every connection, reads what the client says first (nothing for a
// client that only checks the server is there) and hangs up.
class HangingUpServer {
public:
    HangingUpServer() {
        for (int number = kFirstTestDisplay; number <= kLastTestDisplay && m_number < 0; ++number) {
            const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            if (fd < 0)
                return;
            const sockaddr_in address = loopback(kXTcpPortBase + number);
            if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0 &&
                ::listen(fd, 8) == 0) {
                m_listener = fd;
                m_number = number;
            } else {
                ::close(fd);
            }
        }
        if (m_number >= 0)
            m_thread = std::thread([this] { serve(); });
    }
    ~HangingUpServer() {
        if (m_listener < 0)
            return;
        // Wakes the accept() in progress, which then fails.
        ::shutdown(m_listener, SHUT_RDWR);
        m_thread.join();
        ::close(m_listener);
    }
    HangingUpServer(const HangingUpServer&) = delete;
    HangingUpServer& operator=(const HangingUpServer&) = delete;

    // The display number it serves, -1 when no port was free.
    int number() const { return m_number; }

private:
    void serve() {
        for (;;) {
            const int client = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
            if (client < 0) {
                if (errno == EINTR || errno == ECONNABORTED)
                    continue;
                return;
            }
            char request[64];
            (void)::recv(client, request, sizeof(request), 0);
            ::close(client);
        }
    }

    int m_listener = -1;
    int m_number = -1;
    std::thread m_thread;
};

struct UnreachableDisplay {
    const char* name;
    bool serverHangsUp;       // false: nothing takes connections for the display
    const char* displayHost;  // DISPLAY is "<host>:<number>"
    // The render window's line about the display: "display <DISPLAY> " + its rest.
    QString linePattern;
};

void PrintTo(const UnreachableDisplay& display, std::ostream* out) {
    *out << display.name;
}

// The render window started with DISPLAY naming an X display that cannot serve it and no platform
// chosen (QT_QPA_PLATFORM unset): it says why it falls back, comes up on the offscreen platform,
// serves the render link and ends when asked.
class RenderWindowOnAnUnusableDisplay : public RenderWindowProcess,
                                        public ::testing::WithParamInterface<UnreachableDisplay> {
protected:
    void SetUp() override {
        int number = -1;
        if (GetParam().serverHangsUp) {
            m_server.emplace();
            number = m_server->number();
        } else {
            // From the top down: the server of the other case, which may run at the same time,
            // takes the first free number from the bottom up.
            for (int candidate = kLastTestDisplay; candidate >= kFirstTestDisplay && number < 0;
                 --candidate) {
                if (!displayNumberTaken(candidate))
                    number = candidate;
            }
        }
        ASSERT_GE(number, 0) << "no display number free for the test";
        m_display = QStringLiteral("%1:%2").arg(QLatin1String(GetParam().displayHost)).arg(number);
        m_displayVariable.emplace("DISPLAY", m_display.toLocal8Bit());
        m_platformVariable.emplace("QT_QPA_PLATFORM", QByteArray());  // unset
        startRenderWindow();
    }

    std::optional<HangingUpServer> m_server;
    QString m_display;
    std::optional<ScopedVariable> m_displayVariable;
    std::optional<ScopedVariable> m_platformVariable;
};

TEST_P(RenderWindowOnAnUnusableDisplay, FallsBackToOffscreenSaysWhyAndKeepsRunning) {
    // The start already waited for the render window to serve the link ("plug-in ready").
    const QStringList lines = logLines();
    const QString prefix = QStringLiteral("display ") + m_display + QLatin1Char(' ');
    const auto about = std::find_if(lines.begin(), lines.end(),
                                    [&](const QString& line) { return line.startsWith(prefix); });
    ASSERT_NE(about, lines.end()) << "no line about the display";
    EXPECT_TRUE(QRegularExpression(QRegularExpression::anchoredPattern(GetParam().linePattern))
                    .match(about->mid(prefix.size()))
                    .hasMatch())
        << about->toStdString();
    EXPECT_EQ(std::count_if(about, lines.end(),
                            [&](const QString& line) { return line.startsWith(prefix); }),
              1);
    const int platformLine =
        lines.indexOf(QStringLiteral("platform offscreen (headless, no window)"));
    EXPECT_GT(platformLine, static_cast<int>(about - lines.begin()));

    // It answers requests; the answer also tells that the sender's reader is past the render
    // window's announcements, so the "EXIT" below is read before the process is seen to end.
    m_sender->requestSaveData();
    ASSERT_TRUE(m_events.waitUntil([](const SenderEvents& e) { return e.saves > 0; }))
        << "no SAVED answer";
    m_sender->requestRenderExit();
    ASSERT_TRUE(m_events.waitUntil([](const SenderEvents& e) { return e.exitAnswers > 0; }))
        << "no EXIT answer";
    EXPECT_TRUE(m_watch->waitForEnd());
    EXPECT_EQ(logLines().last(), QStringLiteral("closed"));
}

TEST(RenderWindowHelp, PrintsTheUsageAndTheViewsControls) {
    for (const char* option : {"--help", "-h"}) {
        QProcess program;
        program.setProcessChannelMode(QProcess::SeparateChannels);
        program.start(QStringLiteral(ORVANTA_RENDER_WINDOW), {QString::fromLatin1(option)});
        ASSERT_TRUE(program.waitForFinished(kStepDeadlineMs)) << option;
        EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(program.exitCode(), 0) << option;
        const QString help = QString::fromUtf8(program.readAllStandardOutput());
        for (const char* part :
             {"usage: OrvantaRenderWindow QUEUE_ID", "Moving around in the view", "left drag",
              "orbit", "Shift + left drag", "pan", "wheel", "zoom", "Home, H", "host's camera"})
            EXPECT_TRUE(help.contains(QLatin1String(part))) << option << ": " << part;
    }
}

INSTANTIATE_TEST_SUITE_P(
    NoServerOrARefusingOne, RenderWindowOnAnUnusableDisplay,
    ::testing::Values(
        UnreachableDisplay{"NothingListens", false, "",
                           QStringLiteral("cannot be reached \\(nothing takes connections at "
                                          ".+\\): falling back to the offscreen platform, no "
                                          "window")},
        UnreachableDisplay{"TheServerHangsUp", true, "127.0.0.1",
                           QStringLiteral("would not serve this program: fell back to the "
                                          "offscreen platform, no window")}),
    [](const ::testing::TestParamInfo<UnreachableDisplay>& info) {
        return std::string(info.param.name);
    });

}  // namespace
