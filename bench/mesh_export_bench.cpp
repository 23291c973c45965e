// Benchmarks of the mesh export path between two real processes. The benchmark process is the
// plug-in side: a XelRemoteRenderSender for its own queue id, through which orvanta::exportMesh
// sends each mesh exactly as the plug-in's mesh export does. It starts a copy of itself as the
// render window through the sender's startRender(), as the plug-in does, and the copy runs a
// XelRemoteRenderReceiver:
//
//   mesh_export_bench [benchmark options]
//   mesh_export_bench QUEUE_ID MAIN_WINDOW PARENT_WINDOW SESSION_FOLDER   (the render window;
//                                                                         started by the program)
//
// The mesh is a grid of W × H cells, two triangles each, so that T triangles share
// V = (W + 1)(H + 1) ≈ T / 2 vertices. Per vertex: position and normal (3 floats each), front and
// back texture coordinates (2 floats each) and one flag; per triangle three 32-bit indices. The
// owner is "Model", so the export looks nothing up and enumerates nothing. Its bytes are those of
// the arrays handed over: 41 V + 12 T. The window's decoder hands an array over in place only when
// it lies 4-byte aligned in the payload, and copies it otherwise; where the arrays lie depends on
// the lengths of the texts before them and on V; the window's reader places each payload so that
// the float arrays are aligned whatever the texts, and the indices are aligned when V is a multiple
// of 4.
//
// What travels, benchmark to render window:
//   render link  "addMesh" from exportMesh(), mesh id "mesh-" and a 13-digit sequence number;
//                the window answers from onAddMesh() with requestEntityContent("<mesh id>
//                <fingerprint>"), which reaches the sender's enumerate-content callback. The
//                fingerprint holds the owner, both counts, the first and last element of every
//                array and both materials, and for a mesh id ending in "#" (the first of each
//                size) the 64-bit XXH3 digest of all its arrays; the benchmark compares it with
//                the one of the mesh it sent.
//   raw channel  a second channel, XelInterProcessMessagesManager for queue id + 1, created by
//                the window before it announces itself: "bulk" of the mesh's byte size with the
//                sequence number in its first and last 8 bytes, answered by "ack"
//                {first, last, size}; "hello" once, answered by "hello". Numbers are 64-bit
//                little-endian.
// and the window says "INIT" once both channels are up, "EXIT" when asked to end.
//
// The figures, per mesh size (up to one mesh larger than a segment, which travels in chunks), in
// one run: BM_Memcpy copies the mesh's byte size between two warm buffers; BM_RawChannel sends one
// "bulk" per iteration and waits for its "ack"; BM_MeshExport exports one mesh per iteration and
// waits for its answer, and counts the time the export call itself took ("host_ms", what the host
// thread spends). Each iteration ends only when the answer arrived and matched, so every figure is
// end to end. Counters, per second of real time: "MB" (10^6 bytes of the mesh's size) and
// "triangles" (for the memcpy and raw rows, the triangles of a mesh of that byte size: what the
// copy or the channel alone could carry).
//
// End to end, BM_ModelExportEndToEnd runs the host driver on a generated model of that many
// triangles in 40 tiles (orvanta_host_driver --generate, which loads the real plug-in and starts
// the real render window): the time from the start of the enumeration until the render window has
// applied the whole scene, its digest checked against the host's, and the time the host's export
// calls took ("host_ms"), as the driver reports them.
//
// The summary at the end sets each figure beside the raw channel's for the same bytes.
#include <benchmark/benchmark.h>

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QMetaObject>
#include <QProcess>
#include <QRegularExpression>
#include <QString>
#include <QtGlobal>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <xxhash.h>
#include "XelInterProcessMessagesManager.h"
#include "XelRemoteRenderReceiver.h"
#include "XelRemoteRenderSender.h"

#include "bench/bench_support.h"
#include "platform/process_watch.h"
#include "plugin/export/mesh_export.h"
#include "plugin/export/render_output.h"
#include "plugin/session/entity_registry.h"
#include "render_link/launch_environment.h"
#include "tests/support/empty_render_receiver.h"
#include "tests/support/observed_sender.h"

namespace {

using xel::bench::get64;
using xel::bench::isType;
using xel::bench::put64;
using xel::test::ObservedSender;

using Clock = std::chrono::steady_clock;

constexpr auto kAnswerTimeout = std::chrono::seconds(60);
constexpr auto kStartTimeout = std::chrono::seconds(30);
// The last is one mesh of more than a segment's 640 MiB.
constexpr int kTriangleCounts[] = {100000, 1000000, 2000000, 10000000, 21000000};
// The generated models of the end-to-end runs, host driver to render window.
constexpr int kEndToEndCounts[] = {100000, 1000000, 2000000, 10000000};
// Walks of each end-to-end run after the first.
constexpr int kWarmWalks = 8;
constexpr long kRawQueueOffset = 1;  // the raw channel's queue id is the render link's plus this
constexpr char kOwner[] = "Model";
constexpr char kMaterial[] = "Steel";  // sent as the front material, with an empty back
// "mesh-", 13 digits and "#" for a mesh whose digest is checked.
constexpr std::size_t kMeshIdBytes = 5 + 13 + 1 + 1;
constexpr char kDigestMark = '#';

// The 64-bit XXH3 digest of a mesh's arrays in wire order: positions, normals, front and back
// UVs, flags (one byte each), indices.
std::uint64_t arraysDigest(const float* positions, const float* normals, const float* frontUVs,
                           const float* backUVs, const bool* flags, const int* indices,
                           int indexCount, int vertexCount) {
    XXH3_state_t* state = XXH3_createState();
    XXH3_64bits_reset(state);
    const auto v = std::size_t(vertexCount);
    XXH3_64bits_update(state, positions, 12 * v);
    XXH3_64bits_update(state, normals, 12 * v);
    XXH3_64bits_update(state, frontUVs, 8 * v);
    XXH3_64bits_update(state, backUVs, 8 * v);
    XXH3_64bits_update(state, flags, v);
    XXH3_64bits_update(state, indices, 4 * std::size_t(indexCount));
    const std::uint64_t digest = XXH3_64bits_digest(state);
    XXH3_freeState(state);
    return digest;
}

std::string digestText(std::uint64_t digest) {
    char text[32];
    std::snprintf(text, sizeof text, " xxh3=%016llx", static_cast<unsigned long long>(digest));
    return text;
}

// What both processes compute from a mesh, the window from what arrived and the benchmark from
// what it sent: the owner, the counts, the first and last element of every array (floats as bit
// patterns) and the materials. Counts must be positive.
std::string meshFingerprint(const char* entityId, const float* positions, const float* normals,
                            const float* frontUVs, const float* backUVs, const bool* flags,
                            const int* indices, int indexCount, int vertexCount,
                            const char* frontMaterial, const char* backMaterial) {
    std::string text = std::string(entityId ? entityId : "") + " v=" + std::to_string(vertexCount) +
                       " i=" + std::to_string(indexCount);
    const auto ends = [&](const char* name, const float* values, int perVertex) {
        const std::size_t last = std::size_t(vertexCount) * std::size_t(perVertex) - 1;
        std::uint32_t first = 0;
        std::uint32_t final = 0;
        std::memcpy(&first, &values[0], 4);
        std::memcpy(&final, &values[last], 4);
        char field[40];
        std::snprintf(field, sizeof field, " %s=%08x..%08x", name, unsigned(first),
                      unsigned(final));
        text += field;
    };
    ends("p", positions, 3);
    ends("n", normals, 3);
    ends("f", frontUVs, 2);
    ends("b", backUVs, 2);
    text += " flags=" + std::to_string(int(flags[0])) + ".." +
            std::to_string(int(flags[vertexCount - 1]));
    text += " idx=" + std::to_string(indices[0]) + ".." + std::to_string(indices[indexCount - 1]);
    text += " mat=" + std::string(frontMaterial ? frontMaterial : "") + "/" +
            std::string(backMaterial ? backMaterial : "");
    return text;
}

// ---- The render-window process. --------------------------------------------------------------

// The window's end of the raw channel: answers on the channel's reader thread.
class RawPeer : public XelInterProcessMessagesObserver {
public:
    // Before the manager runs.
    void answerOn(XelInterProcessMessagesManager* manager) { m_manager = manager; }

    void onMessage(const char* type, const void* data, long size) override {
        const auto* bytes = static_cast<const char*>(data);
        if (isType(type, "hello")) {
            m_manager->sendMessageAsync("hello", "", 0);
        } else if (isType(type, "bulk")) {
            char ack[24] = {};
            if (size >= 16) {
                put64(ack, get64(bytes));
                put64(ack + 8, get64(bytes + size - 8));
            }
            put64(ack + 16, std::uint64_t(size));
            m_manager->sendMessageAsync("ack", ack, sizeof ack);
        }
    }
    void onChannelConnected() override {}
    void onChannelDisconnected() override {}
    void onError(int code, const char* text) override {
        std::fprintf(stderr, "mesh_export_bench window: raw channel error %d: %s\n", code, text);
    }

private:
    XelInterProcessMessagesManager* m_manager = nullptr;
};

// The render window: answers every mesh with its fingerprint and ends when asked, or when the
// benchmark process is gone. Every other message is ignored.
class MeshWindow final : public xel::test::EmptyRenderReceiver {
public:
    MeshWindow(const wchar_t* sessionPath, long queueId)
        : EmptyRenderReceiver(sessionPath, queueId) {}
    // Constructing thread.
    ~MeshWindow() override { stopReceiving(); }

    // Says "EXIT" and ends the event loop; later calls do nothing. Any thread, while this object
    // lives.
    void close() {
        if (m_closing.exchange(true))
            return;
        notifyRenderExit();
        QMetaObject::invokeMethod(QCoreApplication::instance(), "quit", Qt::QueuedConnection);
    }

protected:
    // Reader thread. The answer goes out asynchronously: the sender's segment stays locked while
    // this runs.
    void onAddMesh(const char* meshId, const char* entityId, const char*, const float* positions,
                   const float* normals, const float* frontUVs, const float* backUVs,
                   const bool* vertexFlags, const int* indices, int indexCount, int vertexCount,
                   const char* frontMaterial, const char* backMaterial) override {
        const std::string id = meshId ? meshId : "";
        std::string answer = id + " ";
        if (indexCount > 0 && vertexCount > 0) {
            answer +=
                meshFingerprint(entityId, positions, normals, frontUVs, backUVs, vertexFlags,
                                indices, indexCount, vertexCount, frontMaterial, backMaterial);
            if (!id.empty() && id.back() == kDigestMark)
                answer += digestText(arraysDigest(positions, normals, frontUVs, backUVs,
                                                  vertexFlags, indices, indexCount, vertexCount));
        } else {
            answer += "empty";
        }
        requestEntityContent(answer.c_str());
    }
    void onExitRequested() override { close(); }
    // Reader thread: the render link could not be set up, so the window ends.
    void onError(int code, const char* text) override {
        std::fprintf(stderr, "mesh_export_bench window: render link error %d: %s\n", code, text);
        close();
    }

private:
    std::atomic<bool> m_closing{false};
};

bool isRenderWindowLaunch(int argc, char** argv) {
    if (argc != 5)
        return false;
    for (int i = 1; i <= 3; ++i) {
        char* end = nullptr;
        std::strtoll(argv[i], &end, 10);
        if (!*argv[i] || *end)
            return false;
    }
    return true;
}

int runRenderWindow(int argc, char** argv) {
    // The window follows the benchmark process: an interrupt ends that one, and this one with it,
    // in order, so that the raw channel it created leaves nothing behind.
    ::signal(SIGINT, SIG_IGN);
    ::signal(SIGHUP, SIG_IGN);
    QCoreApplication application(argc, argv);
    const long queueId = std::atol(argv[1]);
    const std::wstring sessionPath = QString::fromLocal8Bit(argv[4]).toStdWString();

    // Created here, before "INIT": the benchmark attaches once it has the announcement.
    RawPeer rawPeer;
    XelInterProcessMessagesManager raw(&rawPeer, queueId + kRawQueueOffset);
    rawPeer.answerOn(&raw);
    raw.run();

    MeshWindow window(sessionPath.c_str(), queueId);
    // The receiver checks its starter only every few seconds; this watch ends the window as soon
    // as the benchmark process ends, however it ends.
    bool starterKnown = false;
    const qint64 starter = qEnvironmentVariable(xel::kStarterPidVariable).toLongLong(&starterKnown);
    xel::platform::ProcessWatch starterWatch(starterKnown ? starter : 0);
    std::thread watcher([&] {
        if (starterWatch.waitForEnd())
            window.close();
    });
    // Runs once the event loop is up, after the receiver has opened to its reader.
    QMetaObject::invokeMethod(
        &application, [&window] { window.notifyRenderStarted(); }, Qt::QueuedConnection);
    const int exitCode = QCoreApplication::exec();
    starterWatch.cancel();
    watcher.join();
    return exitCode;
}

// ---- The benchmark process. -------------------------------------------------------------------

// What reached the benchmark process, recorded by the sender's threads (reader and process watch)
// and the raw channel's reader, waited on by the benchmark thread. Predicates run under the lock.
struct BenchEvents final : xel::test::SenderWatcher {
    int inits = 0;
    int exitAnswers = 0;        // "EXIT" from the window, on the reader thread
    int processEnds = 0;        // the end of the window's process, seen by the sender's watch
    std::uint64_t answers = 0;  // mesh answers so far
    std::string lastAnswer;
    bool rawConnected = false;
    bool rawFailed = false;
    bool rawHello = false;
    std::uint64_t rawAckFirst = 0;
    std::uint64_t rawAckLast = 0;
    std::uint64_t rawAckSize = 0;

    // Waits until `predicate` holds, up to `timeout`; false on time-out.
    template <class Predicate>
    bool waitUntil(Predicate predicate, Clock::duration timeout = kAnswerTimeout) {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, timeout, [&] { return predicate(*this); });
    }
    // What `read` returns, read under the lock.
    template <class Read>
    auto snapshot(Read read) {
        std::lock_guard<std::mutex> guard(mutex);
        return read(*this);
    }
    template <class Change>
    void record(Change change) {
        {
            std::lock_guard<std::mutex> guard(mutex);
            change(*this);
        }
        changed.notify_all();
    }

    void renderWindowAnnounced() override {
        record([](BenchEvents& e) { ++e.inits; });
    }
    void renderWindowEnded(bool answered) override {
        record([answered](BenchEvents& e) { ++(answered ? e.exitAnswers : e.processEnds); });
    }

    std::mutex mutex;
    std::condition_variable changed;
};

// Static, so that it outlives every thread that reports to it, the signal thread included.
BenchEvents g_events;

// The sender's enumerate-content callback: the window's answer to a mesh. Reader thread.
void onEntityContentRequest(const char* text) {
    const std::string answer = text ? text : "";
    g_events.record([&](BenchEvents& e) {
        e.lastAnswer = answer;
        ++e.answers;
    });
}

// The benchmark's end of the raw channel. Reader thread.
class RawEnd : public XelInterProcessMessagesObserver {
public:
    void onMessage(const char* type, const void* data, long size) override {
        const auto* bytes = static_cast<const char*>(data);
        if (isType(type, "ack") && size == 24) {
            g_events.record([&](BenchEvents& e) {
                e.rawAckFirst = get64(bytes);
                e.rawAckLast = get64(bytes + 8);
                e.rawAckSize = get64(bytes + 16);
            });
        } else if (isType(type, "hello")) {
            g_events.record([](BenchEvents& e) { e.rawHello = true; });
        } else {
            std::fprintf(stderr, "mesh_export_bench: unexpected raw message \"%s\" of %ld bytes\n",
                         type, size);
        }
    }
    void onChannelConnected() override {
        g_events.record([](BenchEvents& e) { e.rawConnected = true; });
    }
    void onChannelDisconnected() override {}
    void onError(int code, const char* text) override {
        std::fprintf(stderr, "mesh_export_bench: raw channel error %d: %s\n", code, text);
        g_events.record([](BenchEvents& e) { e.rawFailed = true; });
    }
};

// Where the set-up stands, for the interrupt. While Starting, the render link's names exist and
// only the sender's destruction removes them, which must wait for the window's announcement or
// its end: a window still attaching as the sender ends creates the channel's events anew, and
// nobody removes them. From Running on, the window holds the channel and the names are gone (the
// sender removes them on "INIT"), so the program may end at once.
enum class Phase { Idle, Starting, Running, Done };
std::mutex g_phaseMutex;
std::condition_variable g_phaseChanged;
Phase g_phase = Phase::Idle;  // under g_phaseMutex

void setPhase(Phase phase) {
    {
        std::lock_guard<std::mutex> guard(g_phaseMutex);
        g_phase = phase;
    }
    g_phaseChanged.notify_all();
}

// Ends the program when it is interrupted (SIGINT, SIGTERM, SIGHUP), once a set-up in progress has
// ended (the window announced itself or ended, or the start timed out and the benchmark thread
// removed the names). The window sees this process end and closes itself, which removes the raw
// channel it created. Must be called before any other thread starts: threads inherit the blocked
// signals.
void endOnInterrupt() {
    sigset_t interrupts;
    ::sigemptyset(&interrupts);
    for (int signal : {SIGINT, SIGTERM, SIGHUP})
        ::sigaddset(&interrupts, signal);
    ::pthread_sigmask(SIG_BLOCK, &interrupts, nullptr);
    std::thread([interrupts] {
        int signal = 0;
        if (::sigwait(&interrupts, &signal) != 0)
            return;
        std::unique_lock<std::mutex> lock(g_phaseMutex);
        g_phaseChanged.wait(lock, [] { return g_phase != Phase::Starting; });
        static const char kMessage[] = "mesh_export_bench: interrupted\n";
        if (::write(STDERR_FILENO, kMessage, sizeof kMessage - 1) < 0) {
            // Nothing more to do about it: the program ends anyway.
        }
        ::_exit(128 + signal);
    }).detach();
}

// The sender, the raw channel and the window process, for the whole run. Benchmark thread.
class Session {
public:
    explicit Session(long queueId) : m_queueId(queueId) {}

    // Starts the window and waits for its announcement, then attaches to its raw channel. False,
    // with a message, if any step fails; whatever was set up stays for stop().
    bool start(const QString& program) {
        setPhase(Phase::Starting);
        m_sender = std::make_unique<ObservedSender>(QDir::tempPath().toStdWString(), m_queueId,
                                                    g_events, &onEntityContentRequest);
        m_sender->startRender(program.toStdWString().c_str(), 0, 0);
        const bool announced = g_events.waitUntil(
            [](const BenchEvents& e) { return e.inits > 0 || e.processEnds > 0; }, kStartTimeout);
        if (!announced || !m_sender->isRenderRunning()) {
            // The window never took the channel over: the sender removes its names as it goes.
            // Unless the start timed out, the window has ended and cannot create them anew.
            m_sender.reset();
            setPhase(Phase::Done);
            return fail("the render window did not announce itself");
        }
        setPhase(Phase::Running);

        m_raw = std::make_unique<XelInterProcessMessagesManager>(&m_rawEnd,
                                                                 m_queueId + kRawQueueOffset);
        m_raw->run();
        g_events.waitUntil([](const BenchEvents& e) { return e.rawConnected || e.rawFailed; });
        if (!g_events.snapshot([](const BenchEvents& e) { return e.rawConnected; }))
            return fail("could not attach to the window's raw channel");
        m_raw->sendMessage("hello", "", 0);
        if (!g_events.waitUntil([](const BenchEvents& e) { return e.rawHello; }))
            return fail("the window did not answer on the raw channel");
        return true;
    }

    // Leaves the raw channel, asks the window to exit and waits for its "EXIT" and the end of its
    // process, then ends the sender. Returns whether the window ended as asked.
    bool stop() {
        bool clean = true;
        m_raw.reset();
        if (m_sender) {
            if (g_events.snapshot([](const BenchEvents& e) { return e.processEnds > 0; })) {
                std::fprintf(stderr, "mesh_export_bench: the render window ended unasked\n");
                clean = false;
            } else {
                m_sender->requestRenderExit();
                if (!g_events.waitUntil([](const BenchEvents& e) {
                        return e.exitAnswers > 0 && e.processEnds > 0;
                    })) {
                    std::fprintf(stderr,
                                 "mesh_export_bench: the render window did not end as asked\n");
                    clean = false;
                }
            }
            m_sender.reset();
        }
        setPhase(Phase::Done);
        return clean;
    }

    XelRemoteRenderSender& sender() { return *m_sender; }
    XelInterProcessMessagesManager& raw() { return *m_raw; }

    // A broken session (the window stopped answering) fails every later benchmark at once.
    bool broken() const { return m_broken; }
    void markBroken() { m_broken = true; }

    std::uint64_t nextMeshSeq() { return ++m_meshSeq; }
    std::uint64_t nextRawSeq() { return ++m_rawSeq; }

private:
    bool fail(const char* what) {
        std::fprintf(stderr, "mesh_export_bench: %s\n", what);
        m_broken = true;
        return false;
    }

    const long m_queueId;
    std::unique_ptr<ObservedSender> m_sender;  // reports to g_events
    RawEnd m_rawEnd;                           // outlives the raw channel
    std::unique_ptr<XelInterProcessMessagesManager> m_raw;
    bool m_broken = false;
    std::uint64_t m_meshSeq = 0;
    std::uint64_t m_rawSeq = 0;
};

// ---- The meshes. ------------------------------------------------------------------------------

struct GridShape {
    int columns = 0;  // cells along x
    int rows = 0;     // cells along y
    int vertices() const { return (columns + 1) * (rows + 1); }
};

// A grid of triangles / 2 cells, as square as whole rows allow. `triangles` is even.
GridShape gridShape(int triangles) {
    const int cells = triangles / 2;
    int rows = int(std::sqrt(double(cells)));
    while (cells % rows != 0)
        --rows;
    return {cells / rows, rows};
}

// The bytes of the arrays handed over for a mesh of `triangles`.
std::size_t meshBytes(int triangles) {
    const auto v = std::size_t(gridShape(triangles).vertices());
    return v * (3 + 3 + 2 + 2) * sizeof(float) + v * sizeof(bool) +
           std::size_t(triangles) * 3 * sizeof(std::int32_t);
}

struct GridMesh {
    int triangles = 0;
    int vertices = 0;
    std::vector<float> positions;
    std::vector<float> normals;
    std::vector<float> frontUVs;
    std::vector<float> backUVs;
    std::unique_ptr<bool[]> flags;
    std::vector<int> indices;
    std::string fingerprint;   // as the window computes it from what arrives
    std::uint64_t digest = 0;  // arraysDigest()
};

// A gently rolling terrain with smooth normals; the border vertices are flagged.
std::unique_ptr<GridMesh> makeGridMesh(int triangles) {
    const GridShape shape = gridShape(triangles);
    auto mesh = std::make_unique<GridMesh>();
    mesh->triangles = triangles;
    mesh->vertices = shape.vertices();
    const auto v = std::size_t(mesh->vertices);
    mesh->positions.reserve(3 * v);
    mesh->normals.reserve(3 * v);
    mesh->frontUVs.reserve(2 * v);
    mesh->backUVs.reserve(2 * v);
    mesh->flags = std::make_unique<bool[]>(v);
    constexpr float kStep = 0.05f;
    constexpr float kHeight = 0.2f;
    std::size_t at = 0;
    for (int j = 0; j <= shape.rows; ++j) {
        for (int i = 0; i <= shape.columns; ++i, ++at) {
            const float x = float(i) * kStep;
            const float y = float(j) * kStep;
            mesh->positions.insert(mesh->positions.end(),
                                   {x, y, kHeight * std::sin(x) * std::cos(y)});
            const float dx = kHeight * std::cos(x) * std::cos(y);
            const float dy = -kHeight * std::sin(x) * std::sin(y);
            const float length = std::sqrt(dx * dx + dy * dy + 1);
            mesh->normals.insert(mesh->normals.end(), {-dx / length, -dy / length, 1 / length});
            const float u = float(i) / float(shape.columns);
            const float w = float(j) / float(shape.rows);
            mesh->frontUVs.insert(mesh->frontUVs.end(), {u, w});
            mesh->backUVs.insert(mesh->backUVs.end(), {1 - u, w});
            mesh->flags[at] = i == 0 || j == 0 || i == shape.columns || j == shape.rows;
        }
    }
    mesh->indices.reserve(std::size_t(triangles) * 3);
    const int stride = shape.columns + 1;
    for (int j = 0; j < shape.rows; ++j) {
        for (int i = 0; i < shape.columns; ++i) {
            const int corner = j * stride + i;
            mesh->indices.insert(mesh->indices.end(),
                                 {corner, corner + 1, corner + stride + 1, corner,
                                  corner + stride + 1, corner + stride});
        }
    }
    mesh->digest = arraysDigest(mesh->positions.data(), mesh->normals.data(), mesh->frontUVs.data(),
                                mesh->backUVs.data(), mesh->flags.get(), mesh->indices.data(),
                                int(mesh->indices.size()), mesh->vertices);
    // The export gives an empty back material the front's.
    mesh->fingerprint =
        meshFingerprint(kOwner, mesh->positions.data(), mesh->normals.data(), mesh->frontUVs.data(),
                        mesh->backUVs.data(), mesh->flags.get(), mesh->indices.data(),
                        int(mesh->indices.size()), mesh->vertices, kMaterial, kMaterial);
    return mesh;
}

// Benchmark thread only.
const GridMesh& gridMesh(int triangles) {
    static std::map<int, std::unique_ptr<GridMesh>> meshes;
    std::unique_ptr<GridMesh>& mesh = meshes[triangles];
    if (!mesh)
        mesh = makeGridMesh(triangles);
    return *mesh;
}

// ---- The benchmarks. --------------------------------------------------------------------------

// Seconds per iteration of each figure's last run (the mean; for the end-to-end figures, the
// median walk), by figure and triangle count, for the summary. Benchmark thread only.
enum class Figure {
    Memcpy,
    Raw,
    Export,
    ExportHost,
    EndToEnd,
    EndToEndHost,
    ColdEndToEnd,
    ColdEndToEndHost
};
std::map<Figure, std::map<int, double>> g_meanSeconds;

void noteMean(Figure figure, int triangles, double seconds, std::int64_t iterations) {
    if (iterations > 0)
        g_meanSeconds[figure][triangles] = seconds / double(iterations);
}

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

Session* g_session = nullptr;
// Two warm buffers of the largest mesh's byte size: the raw payload and memcpy source, and the
// memcpy target.
char* g_source = nullptr;
char* g_target = nullptr;

void reportRates(benchmark::State& state, int triangles, std::size_t bytes) {
    const double iterations = double(state.iterations());
    state.counters["MB"] =
        benchmark::Counter(iterations * double(bytes) / 1e6, benchmark::Counter::kIsRate);
    state.counters["triangles"] =
        benchmark::Counter(iterations * triangles, benchmark::Counter::kIsRate);
    char label[64];
    std::snprintf(label, sizeof label, "%.2f MB, V=%d", double(bytes) / 1e6,
                  gridShape(triangles).vertices());
    state.SetLabel(label);
}

Session* usableSession(benchmark::State& state) {
    if (!g_session) {
        state.SkipWithError("no render window");
        return nullptr;
    }
    if (g_session->broken()) {
        state.SkipWithError("the render window failed an earlier benchmark");
        return nullptr;
    }
    return g_session;
}

void failed(benchmark::State& state, Session& session, const char* what) {
    std::fprintf(stderr, "mesh_export_bench: %s\n", what);
    session.markBroken();
    state.SkipWithError(what);
}

void memcpyBenchmark(benchmark::State& state, int triangles) {
    const std::size_t bytes = meshBytes(triangles);
    const Clock::time_point start = Clock::now();
    for (auto _ : state) {
        std::memcpy(g_target, g_source, bytes);
        benchmark::ClobberMemory();
    }
    noteMean(Figure::Memcpy, triangles, secondsSince(start), state.iterations());
    if (std::memcmp(g_target, g_source, bytes) != 0) {
        state.SkipWithError("the copy differs from its source");
        return;
    }
    reportRates(state, triangles, bytes);
}

// One "bulk" of the mesh's byte size per iteration, acknowledged before the next is sent; one
// more before the timing, so that both sides' memory is in use as in a steady stream.
void rawChannelBenchmark(benchmark::State& state, int triangles) {
    Session* session = usableSession(state);
    if (!session)
        return;
    const std::size_t bytes = meshBytes(triangles);
    const auto sendOne = [&] {
        const std::uint64_t seq = session->nextRawSeq();
        put64(g_source, seq);
        put64(g_source + bytes - 8, seq);
        session->raw().sendMessage("bulk", g_source, long(bytes));
        const bool acknowledged = g_events.waitUntil([&](const BenchEvents& e) {
            return e.rawAckFirst >= seq;
        }) && g_events.snapshot([&](const BenchEvents& e) {
            return e.rawAckFirst == seq && e.rawAckLast == seq && e.rawAckSize == bytes;
        });
        if (!acknowledged)
            failed(state, *session, "raw message not acknowledged as sent");
        return acknowledged;
    };
    if (!sendOne())
        return;
    const Clock::time_point start = Clock::now();
    for (auto _ : state) {
        if (!sendOne())
            break;
    }
    noteMean(Figure::Raw, triangles, secondsSince(start), state.iterations());
    reportRates(state, triangles, bytes);
}

// One mesh export per iteration, answered by the window before the next is sent, after one more
// before the timing whose whole contents the window's digest checks.
void meshExportBenchmark(benchmark::State& state, int triangles) {
    Session* session = usableSession(state);
    if (!session)
        return;
    const GridMesh& mesh = gridMesh(triangles);
    orvanta::EntityRegistry registry;
    int enumerations = 0;  // the owner "Model" is never enumerated
    const orvanta::EnumerateOwnerContent enumerateOwner = [&](const char*) { ++enumerations; };
    orvanta::SenderOutput output(session->sender());
    orvanta::MeshReport report;
    report.entityId = kOwner;
    report.meshLabel = "grid";
    report.positions = mesh.positions.data();
    report.normals = mesh.normals.data();
    report.frontUVs = mesh.frontUVs.data();
    report.backUVs = mesh.backUVs.data();
    report.vertexFlags = mesh.flags.get();
    report.indices = mesh.indices.data();
    report.indexCount = int(mesh.indices.size());
    report.vertexCount = mesh.vertices;
    report.frontMaterial = kMaterial;
    report.backMaterial = "";
    char meshId[kMeshIdBytes];
    double hostSeconds = 0;
    const auto exportOne = [&](bool checkDigest) {
        const std::uint64_t seq = session->nextMeshSeq();
        std::snprintf(meshId, sizeof meshId, "mesh-%013llu%s", static_cast<unsigned long long>(seq),
                      checkDigest ? "#" : "");
        report.meshId = meshId;
        const Clock::time_point exportStart = Clock::now();
        orvanta::exportMesh(report, &output, registry, enumerateOwner);
        hostSeconds += secondsSince(exportStart);
        if (!g_events.waitUntil([&](const BenchEvents& e) { return e.answers >= seq; })) {
            failed(state, *session, "mesh not answered by the render window");
            return false;
        }
        std::uint64_t answers = 0;
        std::string answer;
        g_events.snapshot([&](const BenchEvents& e) {
            answers = e.answers;
            answer = e.lastAnswer;
        });
        const std::string expected = std::string(meshId) + " " + mesh.fingerprint +
                                     (checkDigest ? digestText(mesh.digest) : std::string());
        if (answers != seq || answer != expected) {
            std::fprintf(stderr, "mesh_export_bench: sent     %s\n", expected.c_str());
            std::fprintf(stderr, "mesh_export_bench: answered %s\n", answer.c_str());
            failed(state, *session, "mesh answered with other contents than sent");
            return false;
        }
        return true;
    };
    if (!exportOne(true))
        return;
    hostSeconds = 0;
    const Clock::time_point start = Clock::now();
    for (auto _ : state) {
        if (!exportOne(false))
            break;
    }
    if (enumerations != 0) {
        failed(state, *session, "the export enumerated the owner \"Model\"");
        return;
    }
    noteMean(Figure::Export, triangles, secondsSince(start), state.iterations());
    noteMean(Figure::ExportHost, triangles, hostSeconds, state.iterations());
    state.counters["host_ms"] =
        benchmark::Counter(hostSeconds * 1e3 / std::max<double>(1, double(state.iterations())));
    reportRates(state, triangles, meshBytes(triangles));
}

// Walks of the host driver: their times.
struct Walks {
    std::vector<double> seconds;      // from the start of the enumeration to the window's scene
    std::vector<double> hostSeconds;  // in the host's export calls
    void add(double walk, double host) {
        seconds.push_back(walk);
        hostSeconds.push_back(host);
    }
    static double median(std::vector<double> values) {
        if (values.empty())
            return 0;
        std::sort(values.begin(), values.end());
        const std::size_t n = values.size();
        return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
    }
};

// The host driver on a generated model, once per iteration, walking it 1 + kWarmWalks times: the
// first walk into fresh processes and fresh shared memory, the others as a host that sends its
// model again. The iteration's time is the median of its warm walks, as the driver measured them,
// from the start of the enumeration to the render window's applied scene; the first walk's
// figures are the "cold" counters.
void modelExportEndToEndBenchmark(benchmark::State& state, int triangles) {
    const QRegularExpression timing(
        QStringLiteral("^host: timing: (\\d+) triangles: the host's export calls took ([0-9.]+) "
                       "s; .* in ([0-9.]+) s"));
    std::int64_t sent = 0;
    Walks cold;
    Walks warm;
    for (auto _ : state) {
        QProcess driver;
        driver.setProcessChannelMode(QProcess::MergedChannels);
        driver.start(
            QStringLiteral(ORVANTA_HOST_DRIVER),
            {QStringLiteral("--generate"), QString::number(triangles), QStringLiteral("--no-png"),
             QStringLiteral("--exports"), QString::number(1 + kWarmWalks)});
        if (!driver.waitForFinished(600000) || driver.exitStatus() != QProcess::NormalExit ||
            driver.exitCode() != 0) {
            state.SkipWithError("the host driver failed");
            return;
        }
        int reported = 0;
        Walks runWarm;  // this run's walks after the first
        for (const QString& line : QString::fromUtf8(driver.readAll()).split(QLatin1Char('\n'))) {
            const QRegularExpressionMatch match = timing.match(line);
            if (!match.hasMatch())
                continue;
            sent = match.captured(1).toLongLong();
            const double seconds = match.captured(3).toDouble();
            const double hostSeconds = match.captured(2).toDouble();
            (reported == 0 ? cold : runWarm).add(seconds, hostSeconds);
            ++reported;
        }
        if (reported != 1 + kWarmWalks) {
            state.SkipWithError("the host driver did not report every walk");
            return;
        }
        state.SetIterationTime(Walks::median(runWarm.seconds));
        warm.seconds.insert(warm.seconds.end(), runWarm.seconds.begin(), runWarm.seconds.end());
        warm.hostSeconds.insert(warm.hostSeconds.end(), runWarm.hostSeconds.begin(),
                                runWarm.hostSeconds.end());
    }
    const auto note = [&](Figure figure, const std::vector<double>& values) {
        noteMean(figure, triangles, Walks::median(values), 1);
    };
    note(Figure::EndToEnd, warm.seconds);
    note(Figure::EndToEndHost, warm.hostSeconds);
    note(Figure::ColdEndToEnd, cold.seconds);
    note(Figure::ColdEndToEndHost, cold.hostSeconds);
    state.counters["host_ms"] = benchmark::Counter(Walks::median(warm.hostSeconds) * 1e3);
    state.counters["cold_ms"] = benchmark::Counter(Walks::median(cold.seconds) * 1e3);
    state.counters["cold_host_ms"] = benchmark::Counter(Walks::median(cold.hostSeconds) * 1e3);
    const double iterations = double(state.iterations());
    state.counters["triangles"] =
        benchmark::Counter(iterations * double(sent), benchmark::Counter::kIsRate);
    // The tiles' vertices are shared as in one grid mesh of that size: count its bytes.
    state.counters["MB"] = benchmark::Counter(iterations * double(meshBytes(triangles)) / 1e6,
                                              benchmark::Counter::kIsRate);
    char label[64];
    std::snprintf(label, sizeof label, "%lld triangles, about %.2f MB",
                  static_cast<long long>(sent), double(meshBytes(triangles)) / 1e6);
    state.SetLabel(label);
}

// One figure of the summary: "-" when it was not run.
std::string millis(Figure figure, int triangles) {
    const auto found = g_meanSeconds[figure].find(triangles);
    if (found == g_meanSeconds[figure].end())
        return "-";
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", found->second * 1e3);
    return text;
}

// `figure` over the raw channel's time for the same bytes; 0 when either was not run.
double timesRaw(Figure figure, int triangles) {
    const auto& raw = g_meanSeconds[Figure::Raw];
    const auto& ours = g_meanSeconds[figure];
    const auto r = raw.find(triangles);
    const auto o = ours.find(triangles);
    return r == raw.end() || o == ours.end() || r->second <= 0 ? 0 : o->second / r->second;
}

void printTarget(const char* what, double value, double bound, bool atMost) {
    if (value <= 0) {
        std::printf("  %-62s not measured\n", what);
        return;
    }
    const bool met = atMost ? value <= bound : value >= bound;
    std::printf("  %-62s %6.2f  (target %s %.1f)  %s\n", what, value, atMost ? "<=" : ">=", bound,
                met ? "ok" : "MISSED");
}

// Every figure beside the raw channel's for the same bytes, and the targets.
void printSummary() {
    std::printf(
        "\nmesh_export_bench summary: milliseconds per mesh or model, and times the raw "
        "channel's time for the same bytes. export: one mesh to a render window, and the "
        "host's share of it; e2e: the host driver's model to the real render window, the "
        "median walk warm (a model sent again) and cold (the first, into fresh processes), "
        "and the host's share of each.\n");
    std::printf("%10s %8s %8s %8s %8s %5s %8s %5s %8s %5s %8s %5s %8s %5s %8s %5s\n", "triangles",
                "MB", "memcpy", "raw", "export", "x raw", "host", "x raw", "e2e", "x raw",
                "e2e host", "x raw", "cold", "x raw", "coldhost", "x raw");
    const Figure shown[] = {Figure::Export,       Figure::ExportHost,   Figure::EndToEnd,
                            Figure::EndToEndHost, Figure::ColdEndToEnd, Figure::ColdEndToEndHost};
    for (int triangles : kTriangleCounts) {
        std::printf("%10d %8.2f %8s %8s", triangles, double(meshBytes(triangles)) / 1e6,
                    millis(Figure::Memcpy, triangles).c_str(),
                    millis(Figure::Raw, triangles).c_str());
        for (Figure figure : shown)
            std::printf(" %8s %5.2f", millis(figure, triangles).c_str(),
                        timesRaw(figure, triangles));
        std::printf("\n");
    }
    std::printf("targets:\n");
    const auto rate = [](int triangles) {
        const double t = timesRaw(Figure::Export, triangles);
        return t > 0 ? 1 / t : 0;
    };
    printTarget("mesh export rate / raw channel rate, 100k triangles", rate(100000), 0.5, false);
    printTarget("mesh export rate / raw channel rate, 1M triangles", rate(1000000), 0.5, false);
    printTarget("host's export calls / raw channel, 2M-triangle model, warm",
                timesRaw(Figure::EndToEndHost, 2000000), 3, true);
    printTarget("end to end / raw channel, 2M-triangle model, warm",
                timesRaw(Figure::EndToEnd, 2000000), 5, true);
    printTarget("end to end / raw channel, 10M-triangle model, warm",
                timesRaw(Figure::EndToEnd, 10000000), 5, true);
    const auto& e2e = g_meanSeconds[Figure::EndToEnd];
    const double perTriangle1M = e2e.count(1000000) ? e2e.at(1000000) / 1e6 : 0;
    const double perTriangle10M = e2e.count(10000000) ? e2e.at(10000000) / 1e7 : 0;
    printTarget("end-to-end cost per triangle, 10M / 1M, warm",
                perTriangle1M > 0 ? perTriangle10M / perTriangle1M : 0, 1.5, true);
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    if (isRenderWindowLaunch(argc, argv))
        return runRenderWindow(argc, argv);

    endOnInterrupt();
    // The sender starts the window through Qt, which wants an application object; no event loop
    // runs in this process. Qt gets its own copy of the arguments: the benchmark library edits
    // argv.
    int qtArgc = 1;
    char* qtArgv[] = {argv[0], nullptr};
    QCoreApplication application(qtArgc, qtArgv);

    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;

    std::size_t largest = 0;
    for (int triangles : kTriangleCounts) {
        gridMesh(triangles);
        largest = std::max(largest, meshBytes(triangles));
    }
    auto source = std::make_unique<char[]>(largest);
    auto target = std::make_unique<char[]>(largest);
    for (std::size_t i = 0; i < largest; ++i)
        source[i] = char(i * 131 + (i >> 12));
    std::memset(target.get(), 0, largest);
    g_source = source.get();
    g_target = target.get();

    // Per mesh size, the two references first, then the export, then the whole road, host driver
    // to render window.
    for (int triangles : kTriangleCounts) {
        const std::string size = "/" + std::to_string(triangles);
        const auto unit = triangles >= 1000000 ? benchmark::kMillisecond : benchmark::kMicrosecond;
        benchmark::RegisterBenchmark(("BM_Memcpy" + size).c_str(), memcpyBenchmark, triangles)
            ->Unit(unit)
            ->UseRealTime();
        benchmark::RegisterBenchmark(("BM_RawChannel" + size).c_str(), rawChannelBenchmark,
                                     triangles)
            ->Unit(unit)
            ->UseRealTime();
        benchmark::RegisterBenchmark(("BM_MeshExport" + size).c_str(), meshExportBenchmark,
                                     triangles)
            ->Unit(unit)
            ->UseRealTime();
        if (std::find(std::begin(kEndToEndCounts), std::end(kEndToEndCounts), triangles) !=
            std::end(kEndToEndCounts))
            benchmark::RegisterBenchmark(("BM_ModelExportEndToEnd" + size).c_str(),
                                         modelExportEndToEndBenchmark, triangles)
                ->Unit(benchmark::kMillisecond)
                ->UseManualTime()
                ->Iterations(1);
    }

    // Positive, apart from the ids the tests and channel_bench use, and distinct for concurrent
    // runs; the raw channel takes the next id.
    const long queueId = 0x30000000 + long(::getpid() % 0x400000) * 16 + 2;
    Session session(queueId);
    const bool started = session.start(QCoreApplication::applicationFilePath());
    if (started)
        g_session = &session;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    printSummary();
    g_session = nullptr;
    const bool clean = session.stop();
    return started && clean && !session.broken() ? 0 : 1;
}
