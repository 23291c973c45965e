// Scene content from the host reaching the real render window: the plug-in loaded by path into
// this process, which plays the host, and the real render-window program, whose log carries what
// it received (see tools/render_window/scene_store.h for the mesh digest). Every expected value is
// built here from the data this test sends.
//
// Scene content (meshes, materials) goes out on the calling thread, section planes, the light and
// dictionary messages through the sender's asynchronous queue: each path keeps its own order, but
// the two may interleave, so every check waits for its own log line.
//
// The plug-in starts once per process and stays started: each test needs a process of its own,
// as ctest runs them.
#include <QByteArray>
#include <QFileInfo>
#include <QLibrary>
#include <QMap>
#include <QRegularExpression>
#include <QSharedMemory>
#include <QThread>
#include <QVector>
#include "tests/support/xxh3_hex.h"

#include <array>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <iterator>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>
#include <type_traits>
#include <vector>

#include <gtest/gtest.h>

#include "OrvantaForSketchup.h"
#include "platform/posix_shm_name.h"
#include "platform/process.h"
#include "platform/process_watch.h"
#include "render_link/launch_environment.h"
#include "tests/e2e/e2e_support.h"
#include "tests/e2e/plugin_session.h"

// Readable texts in failure messages.
void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace {

using namespace orvanta::e2e;

// The exports this test calls, resolved by name as the host resolves them.
struct Plugin {
    decltype(&obrInitialize) initialize = nullptr;
    decltype(&obrInitialized) initialized = nullptr;
    decltype(&obrUninitialize) uninitialize = nullptr;
    decltype(&obrOnEnumMesh) onEnumMesh = nullptr;
    decltype(&obrOnEnumMaterials) onEnumMaterials = nullptr;
    decltype(&obrGetMaterialName) getMaterialName = nullptr;
    decltype(&obrEnumSectionPlane) enumSectionPlane = nullptr;
    decltype(&obrSetSectionCaps) setSectionCaps = nullptr;
    decltype(&obrEnumShadowsInfo) enumShadowsInfo = nullptr;
    decltype(&obrSetMissingSceneValues) setMissingSceneValues = nullptr;
    decltype(&obrSetDefaultSessionAttributes) setDefaultSessionAttributes = nullptr;
    decltype(&obrAddEntityToParent) addEntityToParent = nullptr;
    decltype(&obrSetEntityRenderId) setEntityRenderId = nullptr;
    decltype(&obrEntityExists) entityExists = nullptr;
    decltype(&obrEnumerationProcessStarted) enumerationStarted = nullptr;
    decltype(&obrEnumerationProcessCompleted) enumerationCompleted = nullptr;

    bool resolve(QLibrary& library) {
        bool all = true;
        const auto get = [&](auto& function, const char* name) {
            function = reinterpret_cast<std::remove_reference_t<decltype(function)>>(
                library.resolve(name));
            all = all && function;
        };
        get(initialize, "obrInitialize");
        get(initialized, "obrInitialized");
        get(uninitialize, "obrUninitialize");
        get(onEnumMesh, "obrOnEnumMesh");
        get(onEnumMaterials, "obrOnEnumMaterials");
        get(getMaterialName, "obrGetMaterialName");
        get(enumSectionPlane, "obrEnumSectionPlane");
        get(setSectionCaps, "obrSetSectionCaps");
        get(enumShadowsInfo, "obrEnumShadowsInfo");
        get(setMissingSceneValues, "obrSetMissingSceneValues");
        get(setDefaultSessionAttributes, "obrSetDefaultSessionAttributes");
        get(addEntityToParent, "obrAddEntityToParent");
        get(setEntityRenderId, "obrSetEntityRenderId");
        get(entityExists, "obrEntityExists");
        get(enumerationStarted, "obrEnumerationProcessStarted");
        get(enumerationCompleted, "obrEnumerationProcessCompleted");
        return all;
    }
};

// The arrays of one mesh, owned by the test.
struct Mesh {
    std::vector<float> positions;
    std::vector<float> normals;
    std::vector<float> frontUVs;
    std::vector<float> backUVs;
    std::unique_ptr<bool[]> flags;
    std::vector<std::int32_t> indices;
    int vertexCount = 0;

    int indexCount() const { return static_cast<int>(indices.size()); }
};

// A height field of cells x cells squares, two triangles each, with normals, texture coordinates
// and flags that vary from vertex to vertex.
Mesh gridMesh(int cells) {
    Mesh mesh;
    const int side = cells + 1;
    mesh.vertexCount = side * side;
    mesh.flags.reset(new bool[static_cast<std::size_t>(mesh.vertexCount)]);
    for (int y = 0; y < side; ++y) {
        for (int x = 0; x < side; ++x) {
            const float u = static_cast<float>(x) / static_cast<float>(cells);
            const float v = static_cast<float>(y) / static_cast<float>(cells);
            const float height = std::sin(u * 6.0f) * std::cos(v * 4.0f) * 0.3f;
            mesh.positions.insert(mesh.positions.end(), {u * 10.0f - 5.0f, v * 10.0f, height});
            const float nx = -std::cos(u * 6.0f) * std::cos(v * 4.0f) * 0.18f;
            const float ny = std::sin(u * 6.0f) * std::sin(v * 4.0f) * 0.12f;
            const float length = std::sqrt(nx * nx + ny * ny + 1.0f);
            mesh.normals.insert(mesh.normals.end(), {nx / length, ny / length, 1.0f / length});
            mesh.frontUVs.insert(mesh.frontUVs.end(), {u * 3.0f, v * 3.0f + 0.1f});
            mesh.backUVs.insert(mesh.backUVs.end(), {1.0f - u, v * 0.7f - 0.35f});
            mesh.flags[static_cast<std::size_t>(y * side + x)] = (x * 7 + y * 3) % 5 == 0;
        }
    }
    for (int y = 0; y < cells; ++y) {
        for (int x = 0; x < cells; ++x) {
            const int corner = y * side + x;
            mesh.indices.insert(mesh.indices.end(), {corner, corner + 1, corner + side});
            mesh.indices.insert(mesh.indices.end(), {corner + 1, corner + side + 1, corner + side});
        }
    }
    return mesh;
}

// One triangle; `seed` makes its values differ from other triangles'.
Mesh triangleMesh(int seed) {
    Mesh mesh;
    mesh.vertexCount = 3;
    mesh.flags.reset(new bool[3]{seed % 2 == 0, true, false});
    const auto s = static_cast<float>(seed);
    mesh.positions = {s, 0.0f, 0.5f, s + 1.0f, 0.0f, 0.5f, s, 1.0f, 0.5f};
    mesh.normals = {0.0f, 0.0f, 1.0f, 0.0f, 0.6f, 0.8f, 0.6f, 0.0f, 0.8f};
    mesh.frontUVs = {0.0f, 0.0f, 1.0f, 0.0f, 0.0f, s / 4.0f};
    mesh.backUVs = {s / 8.0f, 0.0f, 0.0f, 1.0f, 1.0f, 1.0f};
    mesh.indices = {0, 1, 2};
    return mesh;
}

template <typename T>
void appendBytes(QByteArray& bytes, const std::vector<T>& values) {
    bytes.append(reinterpret_cast<const char*>(values.data()),
                 static_cast<int>(values.size() * sizeof(T)));
}

// The render window's mesh digest, as its header documents it, over this test's arrays.
QString digestOf(const Mesh& mesh) {
    QByteArray bytes;
    appendBytes(bytes, mesh.positions);
    appendBytes(bytes, mesh.normals);
    appendBytes(bytes, mesh.frontUVs);
    appendBytes(bytes, mesh.backUVs);
    for (int v = 0; v < mesh.vertexCount; ++v)
        bytes.append(mesh.flags[static_cast<std::size_t>(v)] ? '\1' : '\0');
    appendBytes(bytes, mesh.indices);
    return QString::fromLatin1(xel::test::xxh3Hex(bytes));
}

// The "name=value" fields of a log line; the values in this test hold no spaces.
QMap<QString, QString> fieldsOf(const QString& line) {
    QMap<QString, QString> fields;
    for (const QString& part : line.split(QLatin1Char(' '))) {
        const int equals = part.indexOf(QLatin1Char('='));
        if (equals > 0)
            fields.insert(part.left(equals), part.mid(equals + 1));
    }
    return fields;
}

// The mesh ids of the render window's "onAddMesh" lines, in log order.
QStringList meshIdsIn(const QStringList& lines) {
    QStringList ids;
    for (const QString& line : lines) {
        if (line.startsWith(QStringLiteral("onAddMesh ")))
            ids << fieldsOf(line).value(QStringLiteral("mesh"));
    }
    return ids;
}

QString meshLinePrefix(const char* meshId) {
    return QStringLiteral("onAddMesh mesh=%1 ").arg(QString::fromUtf8(meshId));
}

// Every value of a section plane as the render window logs it.
struct PlaneValues {
    bool active = false;
    std::array<float, 3> first{};
    std::array<float, 3> second{};
    bool capsOn = false;
    std::int32_t capsValue = 0;

    bool operator==(const PlaneValues& other) const {
        return active == other.active && first == other.first && second == other.second &&
               capsOn == other.capsOn && capsValue == other.capsValue;
    }
};

void PrintTo(const PlaneValues& plane, std::ostream* out) {
    *out << "{active=" << plane.active << " first=" << plane.first[0] << ',' << plane.first[1]
         << ',' << plane.first[2] << " second=" << plane.second[0] << ',' << plane.second[1] << ','
         << plane.second[2] << " caps=" << plane.capsOn << " capsValue=" << plane.capsValue << '}';
}

using PlaneList = std::map<int, PlaneValues>;

std::optional<std::array<float, 3>> vectorOf(const QString& text) {
    const QStringList parts = text.split(QLatin1Char(','));
    if (parts.size() != 3)
        return std::nullopt;
    std::array<float, 3> values{};
    for (int i = 0; i < 3; ++i) {
        bool ok = false;
        values[static_cast<std::size_t>(i)] = parts[i].toFloat(&ok);
        if (!ok)
            return std::nullopt;
    }
    return values;
}

// The render window's plane list from its last "section planes now: " line; nothing before the
// first such line or when a line does not read.
std::optional<PlaneList> lastPlaneList(const QStringList& lines) {
    static const QString prefix = QStringLiteral("section planes now: ");
    static const QRegularExpression entry(QStringLiteral(
        "\\[(-?\\d+) active=([01]) first=(\\S+) second=(\\S+) caps=([01]) capsValue=(-?\\d+)\\]"));
    for (auto line = lines.crbegin(); line != lines.crend(); ++line) {
        if (!line->startsWith(prefix))
            continue;
        PlaneList planes;
        auto matches = entry.globalMatch(*line);
        while (matches.hasNext()) {
            const QRegularExpressionMatch match = matches.next();
            const auto first = vectorOf(match.captured(3));
            const auto second = vectorOf(match.captured(4));
            if (!first || !second)
                return std::nullopt;
            planes[match.captured(1).toInt()] = {match.captured(2) == QLatin1String("1"), *first,
                                                 *second, match.captured(5) == QLatin1String("1"),
                                                 match.captured(6).toInt()};
        }
        return planes;
    }
    return std::nullopt;
}

// The (dictionary, key, value) of each dictionary message for `owner`, in log order.
std::vector<std::string> dictionaryMessagesOf(const QStringList& lines, const QString& owner) {
    std::vector<std::string> messages;
    for (const QString& line : lines) {
        if (!line.startsWith(QStringLiteral("onDictionaryMessage ")))
            continue;
        const QMap<QString, QString> fields = fieldsOf(line);
        if (fields.value(QStringLiteral("owner")) == owner)
            messages.push_back(QStringLiteral("%1/%2=%3")
                                   .arg(fields.value(QStringLiteral("dictionary")),
                                        fields.value(QStringLiteral("key")),
                                        fields.value(QStringLiteral("value")))
                                   .toStdString());
    }
    return messages;
}

// One call of the host's content callback: for which entity, on which thread, and whether it came
// from inside one of the test's own obrOnEnumMesh calls.
struct Enumeration {
    std::string entityId;
    Qt::HANDLE thread;
    bool insideEnumMesh;
};

const Plugin* g_plugin = nullptr;  // set before obrInitialize, for the callback
// Set by the test around its obrOnEnumMesh calls, on the host thread.
std::atomic<bool> g_insideEnumMesh{false};
std::mutex g_mutex;
std::vector<Enumeration> g_enumerations;  // under g_mutex

// The host's content callback, doing what the host does when asked for an entity's content:
// registers the entity under the model root and reports the entity's mesh "<id>_content", from
// inside the callback.
void hostEnumEntityContent(const char* entityId) {
    const std::string id = entityId ? entityId : "(null)";
    {
        std::lock_guard<std::mutex> guard(g_mutex);
        g_enumerations.push_back({id, QThread::currentThreadId(), g_insideEnumMesh.load()});
    }
    g_plugin->addEntityToParent(id.c_str(), "Model", 0);
    g_plugin->setEntityRenderId(id.c_str(), id.c_str(), 0);
    const Mesh content = triangleMesh(9);
    const std::string meshId = id + "_content";
    g_plugin->onEnumMesh(meshId.c_str(), id.c_str(), "content", content.positions.data(),
                         content.normals.data(), content.frontUVs.data(), content.backUVs.data(),
                         content.flags.get(), content.indices.data(), content.indexCount(),
                         content.vertexCount, "Brick", "");
}

std::vector<Enumeration> enumerations() {
    std::lock_guard<std::mutex> guard(g_mutex);
    return g_enumerations;
}

class SceneExport : public ::testing::Test {
protected:
    void SetUp() override {
        ensureApplication();
        ASSERT_TRUE(m_session.isValid());
        ASSERT_TRUE(m_library.load()) << m_library.errorString().toStdString();
        ASSERT_TRUE(m_plugin.resolve(m_library)) << "an export is missing";
        if (m_plugin.initialized())
            GTEST_SKIP() << "the plug-in starts once per process: run each test alone (ctest does)";
        g_plugin = &m_plugin;
        m_hostThread = QThread::currentThreadId();
        const QByteArray pluginFolder = QFileInfo(m_library.fileName()).absolutePath().toUtf8();
        m_plugin.initialize(pluginFolder.constData(), 0, 0, nullptr, &hostEnumEntityContent,
                            nullptr, nullptr, nullptr);
        m_started = true;
        m_log = std::make_unique<LogFollower>(m_session.logPath);
        // The sender drops scene content until it counts the render window as running.
        ASSERT_TRUE(m_log->waitForLine(QLatin1String(kPluginReadyLine), kStepDeadlineMs))
            << "the render window did not come up";
        const std::int64_t pid = renderWindowPid(*m_log);
        ASSERT_GT(pid, 0);
        m_watch = std::make_unique<xel::platform::ProcessWatch>(pid);
    }

    void TearDown() override {
        if (HasFailure() && m_log)
            printLog(*m_log);
        // A test that stopped half-way still closes the render window and leaves none behind (one
        // that never came up ends by itself within 5 s of this process).
        if (!m_started || m_closed)
            return;
        m_plugin.uninitialize();
        if (!m_watch)
            return;
        if (!m_log->waitForLine(QLatin1String(kClosedLine), kStepDeadlineMs))
            m_watch->terminate();
        m_watch->waitForEnd();
    }

    // Closes the render window as the host does, and checks that it ended and that no name of the
    // channel is left: the plug-in removed them once the render window held the channel, so the
    // system frees the memory when the two processes are gone.
    void closeRenderWindow() {
        m_closed = true;
        m_plugin.uninitialize();
        ASSERT_TRUE(m_log->waitForLine(QLatin1String(kSentExitLine), kStepDeadlineMs))
            << "the render window did not answer EXIT";
        EXPECT_TRUE(m_watch->waitForEnd());
        EXPECT_EQ(m_log->lines().last(), QLatin1String(kClosedLine));

        const QString queueId = QString::number(xel::platform::currentProcessId());
        for (const char* segment : {"_Sender", "_Receiver"}) {
            QSharedMemory memory(queueId + QLatin1String(segment));
            EXPECT_FALSE(memory.attach()) << segment;
        }
        for (const char* kind : {"event", "mutex"}) {
            for (const std::string& name : xel::platform::listPosixShmNames(kind))
                EXPECT_FALSE(QString::fromStdString(name).startsWith(queueId + QLatin1Char('_')))
                    << kind << ' ' << name;
        }
    }

    void sendMesh(const Mesh& mesh, const char* meshId, const char* entityId, const char* label,
                  const char* front, const char* back, int vertexCount) {
        g_insideEnumMesh.store(true);
        m_plugin.onEnumMesh(meshId, entityId, label, mesh.positions.data(), mesh.normals.data(),
                            mesh.frontUVs.data(), mesh.backUVs.data(), mesh.flags.get(),
                            mesh.indices.data(), mesh.indexCount(), vertexCount, front, back);
        g_insideEnumMesh.store(false);
    }
    void sendMesh(const Mesh& mesh, const char* meshId, const char* entityId, const char* label,
                  const char* front, const char* back) {
        sendMesh(mesh, meshId, entityId, label, front, back, mesh.vertexCount);
    }

    bool waitForLine(const QString& prefix) const {
        return m_log->waitForLine(prefix, kStepDeadlineMs);
    }

    PluginSession m_session;  // first in, last out: the channel clean-up runs after all else
    QLibrary m_library{QStringLiteral(ORVANTA_PLUGIN_LIBRARY)};  // stays loaded
    Plugin m_plugin;
    Qt::HANDLE m_hostThread = nullptr;
    std::unique_ptr<LogFollower> m_log;
    std::unique_ptr<xel::platform::ProcessWatch> m_watch;
    bool m_started = false;
    bool m_closed = false;
};

struct MaterialRuleCase {
    const char* meshId;
    const char* front;
    const char* back;
    const char* expectedFront;
    const char* expectedBack;
};

TEST_F(SceneExport, MeshesArriveBitIdenticalWithOneMaterialForBothFaces) {
    const Mesh grid = gridMesh(40);
    ASSERT_EQ(grid.indexCount(), 3 * 3200);
    sendMesh(grid, "grid", "Model", "terrain", "Brick", "Glass");

    // Small meshes for the other shapes of the material rule.
    const MaterialRuleCase rules[] = {
        {"back_only", "", "Glass", "Glass", "Glass"},
        {"front_only", "Brick", "", "Brick", "Brick"},
        {"same_on_both", "Glass", "Glass", "Glass", "Glass"},
        {"none", "", "", "", ""},
    };
    std::vector<Mesh> small;
    for (int i = 0; i < static_cast<int>(std::size(rules)); ++i) {
        small.push_back(triangleMesh(i + 1));
        sendMesh(small.back(), rules[i].meshId, "Model", rules[i].meshId, rules[i].front,
                 rules[i].back);
    }
    // Meshes travel in the order sent: once the last is in, all are.
    ASSERT_TRUE(waitForLine(meshLinePrefix(rules[std::size(rules) - 1].meshId)));

    const QMap<QString, QString> gridFields = fieldsOf(m_log->findLine(meshLinePrefix("grid")));
    EXPECT_EQ(gridFields.value("entity"), "Model");
    EXPECT_EQ(gridFields.value("label"), "terrain");
    EXPECT_EQ(gridFields.value("vertices"), QString::number(grid.vertexCount));
    EXPECT_EQ(gridFields.value("indices"), QString::number(grid.indexCount()));
    EXPECT_EQ(gridFields.value("front"), "Brick");
    EXPECT_EQ(gridFields.value("back"), "Brick");
    EXPECT_EQ(gridFields.value("xxh3"), digestOf(grid));
    for (std::size_t i = 0; i < std::size(rules); ++i) {
        SCOPED_TRACE(rules[i].meshId);
        const QMap<QString, QString> fields =
            fieldsOf(m_log->findLine(meshLinePrefix(rules[i].meshId)));
        EXPECT_EQ(fields.value("front"), rules[i].expectedFront);
        EXPECT_EQ(fields.value("back"), rules[i].expectedBack);
        EXPECT_EQ(fields.value("xxh3"), digestOf(small[i]));
    }
    EXPECT_TRUE(enumerations().empty()) << "the model root is never enumerated";

    closeRenderWindow();
}

// Segments of 256 KiB on both sides, so that a mesh of a few hundred kilobytes travels in chunks.
class SceneExportInChunks : public SceneExport {
protected:
    static constexpr int kSegmentBytes = 256 << 10;
    ScopedVariable m_segmentBytes{xel::kSegmentBytesVariable, QByteArray::number(kSegmentBytes)};
};

TEST_F(SceneExportInChunks, AMeshLargerThanTheSegmentArrivesWholeInsideTheEnumeration) {
    const Mesh big = gridMesh(120);  // 14641 vertices and 86400 indices: about 0.95 MB
    const Mesh small = triangleMesh(5);
    m_plugin.enumerationStarted();
    sendMesh(small, "before", "Model", "small", "Brick", "");
    sendMesh(big, "big", "Model", "big", "Brick", "");
    sendMesh(small, "after", "Model", "small", "Brick", "");
    m_plugin.enumerationCompleted();
    ASSERT_TRUE(waitForLine(meshLinePrefix("after")));

    EXPECT_EQ(meshIdsIn(m_log->lines()), (QStringList{"before", "big", "after"}));
    const QMap<QString, QString> fields = fieldsOf(m_log->findLine(meshLinePrefix("big")));
    EXPECT_EQ(fields.value("vertices"), QString::number(big.vertexCount));
    EXPECT_EQ(fields.value("indices"), QString::number(big.indexCount()));
    EXPECT_EQ(fields.value("xxh3"), digestOf(big));
    EXPECT_EQ(fieldsOf(m_log->findLine(meshLinePrefix("after"))).value("xxh3"), digestOf(small));

    closeRenderWindow();
}

TEST_F(SceneExport, AnUnknownOwnerIsEnumeratedByTheHostBeforeItsFirstMesh) {
    const Mesh first = triangleMesh(1);
    const Mesh second = triangleMesh(2);
    const Mesh marker = triangleMesh(3);
    ASSERT_FALSE(m_plugin.entityExists("500", 0));

    sendMesh(first, "500_first", "500", "first", "Brick", "Glass");
    std::vector<Enumeration> seen = enumerations();
    ASSERT_EQ(seen.size(), 1u) << "the host was not asked for the owner's content";
    EXPECT_EQ(seen[0].entityId, "500");
    EXPECT_EQ(seen[0].thread, m_hostThread);
    EXPECT_TRUE(seen[0].insideEnumMesh) << "the enumeration did not run at once";
    EXPECT_TRUE(m_plugin.entityExists("500", 0));

    sendMesh(second, "500_second", "500", "second", "Brick", "Glass");
    EXPECT_EQ(enumerations().size(), 1u) << "a known owner was enumerated again";

    // Empty meshes, of a known and of an unknown owner: nothing is sent and nobody is asked.
    sendMesh(first, "500_no_vertices", "500", "empty", "Brick", "", 0);
    Mesh noIndices = triangleMesh(4);
    noIndices.indices.clear();
    sendMesh(noIndices, "600_no_indices", "600", "empty", "Brick", "");
    sendMesh(first, "600_no_vertices", "600", "empty", "Brick", "", 0);
    EXPECT_EQ(enumerations().size(), 1u) << "an empty mesh had its owner enumerated";

    sendMesh(marker, "marker", "Model", "marker", "Brick", "");
    ASSERT_TRUE(waitForLine(meshLinePrefix("marker")));
    // The host's own mesh, reported from inside the enumeration, arrives before the mesh that
    // caused it; the empty meshes never arrive.
    const QStringList expected = {"500_content", "500_first", "500_second", "marker"};
    EXPECT_EQ(meshIdsIn(m_log->lines()), expected);
    EXPECT_EQ(fieldsOf(m_log->findLine(meshLinePrefix("500_first"))).value("xxh3"),
              digestOf(first));

    closeRenderWindow();
}

TEST_F(SceneExport, AMaterialArrivesWithEveryCarriedValue) {
    m_plugin.onEnumMaterials("m7", "Brick", "rough-red", 256.0f, 128.0f, 42, 0.1f, "tile/12");
    EXPECT_STREQ(m_plugin.getMaterialName("m7"), "Brick");
    EXPECT_STREQ(m_plugin.getMaterialName("m8"), "");
    ASSERT_TRUE(waitForLine(QStringLiteral("onAddMaterial material=m7 ")));

    const QMap<QString, QString> fields =
        fieldsOf(m_log->findLine(QStringLiteral("onAddMaterial material=m7 ")));
    EXPECT_EQ(fields.value("name"), "Brick");
    EXPECT_EQ(fields.value("detail"), "rough-red");
    EXPECT_EQ(fields.value("int"), "42");
    bool isNumber = false;
    EXPECT_EQ(fields.value("float").toFloat(&isNumber), 0.1f);
    EXPECT_TRUE(isNumber);
    EXPECT_EQ(fields.value("extra"), "tile/12");

    // Reported again under another name: both sides take the new one.
    m_plugin.onEnumMaterials("m7", "Stone", "", 256.0f, 128.0f, 43, 2.5f, "");
    EXPECT_STREQ(m_plugin.getMaterialName("m7"), "Stone");
    ASSERT_TRUE(waitForLine(QStringLiteral("onAddMaterial material=m7 name=Stone ")));

    closeRenderWindow();
}

// Every value of a plane differs from the other planes'; the ids read as numbers.
struct HostPlane {
    const char* id;
    PlaneValues values;
};

void enumeratePlane(const Plugin& plugin, const HostPlane& plane, bool active) {
    const PlaneValues& v = plane.values;
    plugin.enumSectionPlane(plane.id, active, v.capsOn, v.first[0], v.first[1], v.first[2],
                            v.second[0], v.second[1], v.second[2]);
}

PlaneValues withCaps(PlaneValues plane, std::int32_t capsValue) {
    plane.capsOn = true;
    plane.capsValue = capsValue;
    return plane;
}

TEST_F(SceneExport, SectionPlanesAreNumberedAndRecappedByPosition) {
    const HostPlane a{"101", {true, {1.0f, 0.0f, 0.0f}, {0.5f, 0.0f, 0.0f}, false, 0}};
    const HostPlane b{"102", {true, {0.0f, 1.0f, 0.0f}, {0.0f, -2.25f, 0.0f}, false, 0}};
    const HostPlane c{"103", {true, {0.0f, 0.0f, 1.0f}, {0.1f, 0.2f, 3.75f}, false, 0}};
    // Waits until the render window's plane list is `expected`; else shows the list it has.
    const auto planeListIs = [&](const PlaneList& expected) -> ::testing::AssertionResult {
        if (m_log->waitUntil(
                [&](const QStringList& lines) { return lastPlaneList(lines) == expected; },
                kStepDeadlineMs))
            return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure()
               << "expected " << ::testing::PrintToString(expected) << "\n  the render window has "
               << ::testing::PrintToString(lastPlaneList(m_log->lines()));
    };

    for (const HostPlane* plane : {&a, &b, &c})
        enumeratePlane(m_plugin, *plane, true);
    ASSERT_TRUE(planeListIs({{0, a.values}, {1, b.values}, {2, c.values}}))
        << "the planes did not arrive at their positions";

    // A known plane reported inactive is removed; the later ones move up.
    enumeratePlane(m_plugin, a, false);
    ASSERT_TRUE(planeListIs({{0, b.values}, {1, c.values}}))
        << "the removal did not move the later planes up";
    EXPECT_FALSE(m_log->findLine(QStringLiteral("onSetSectionPlane plane=0 removed")).isNull());

    // Caps on, coloured AARRGGBB from (alpha 200, red 255, green 128, blue 0); each plane is sent
    // again at its position.
    constexpr std::uint32_t kAlpha = 200, kRed = 255, kGreen = 128, kBlue = 0;
    const auto capsValue =
        static_cast<std::int32_t>(kAlpha << 24 | kRed << 16 | kGreen << 8 | kBlue);
    m_plugin.setSectionCaps(1, kRed, kGreen, kBlue, kAlpha);
    EXPECT_TRUE(
        planeListIs({{0, withCaps(b.values, capsValue)}, {1, withCaps(c.values, capsValue)}}))
        << "the planes were not sent again with their caps at their positions";

    closeRenderWindow();
}

TEST_F(SceneExport, ShadowSettingsArriveAsTheSceneLight) {
    m_plugin.enumShadowsInfo(1, 2.0f, 3.0f, 4, 5.0f, 6.0f, 7.0f);
    const QString prefix = QStringLiteral("onSetSunLight values=");
    ASSERT_TRUE(waitForLine(prefix));

    const QStringList values = fieldsOf(m_log->findLine(prefix)).value("values").split(',');
    const std::vector<float> expected = {1, 2, 3, 0, 0, 4, 5, 6, 7};
    ASSERT_EQ(values.size(), static_cast<int>(expected.size()));
    for (std::size_t i = 0; i < expected.size(); ++i)
        EXPECT_EQ(values[static_cast<int>(i)].toFloat(), expected[i]) << "value " << i + 1;

    closeRenderWindow();
}

TEST_F(SceneExport, MissingSceneValuesResendTheRememberedSettingsOfTheMaskedDictionaries) {
    m_plugin.setDefaultSessionAttributes({{"Camera", "Bloom", "k1", "v1"},
                                          {"Camera", "dof", "k2", "v2"},
                                          {"Camera", "Sky", "k3", "v3"}});
    // Bit 1 names the depth-of-field dictionary, whatever the case of its name.
    m_plugin.setMissingSceneValues(1);
    ASSERT_TRUE(waitForLine(QStringLiteral("onDictionaryMessage owner=Camera dictionary=dof ")));
    // Mask 0: all of them, in list order. Dictionary messages keep their order, so once the last
    // is in, everything sent before it is too.
    m_plugin.setMissingSceneValues(0);
    ASSERT_TRUE(waitForLine(QStringLiteral("onDictionaryMessage owner=Camera dictionary=Sky ")));

    const std::vector<std::string> expected = {"dof/k2=v2", "Bloom/k1=v1", "dof/k2=v2",
                                               "Sky/k3=v3"};
    EXPECT_EQ(dictionaryMessagesOf(m_log->lines(), QStringLiteral("Camera")), expected);

    closeRenderWindow();
}

}  // namespace
