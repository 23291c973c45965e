// Attributes: the model values they set in their order of tests, the session attributes they
// feed, the Base64 cache and its files, and the two attribute requests' own steps.
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>

#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "plugin/export/attribute_export.h"
#include "plugin/lifecycle/plugin_state.h"
#include "tests/plugin/export/recording_output.h"

namespace orvanta {
namespace {

using Events = std::vector<std::string>;

// "YWJj" is "abc" in Base64; its text hash by the rule: h = 5381, then h * 33 + byte.
constexpr std::uint32_t kHashOfYWJj = ((((5381u * 33u + 'Y') * 33u + 'W') * 33u + 'J') * 33u + 'j');

std::vector<QStringList> requestsOf(std::initializer_list<QStringList> requests) {
    return requests;
}

struct AttributeTest : ::testing::Test, test::RecordingSession {
    QTemporaryDir folder;

    AttributeTest() {
        // This thread plays the host thread.
        pluginState().hostThreadId = QThread::currentThreadId();
        session.sessionFolder = folder.path();
    }
    void receive(const char* owner, const char* dictionary, const char* key, const char* value) {
        receiveAttribute(session, {owner, dictionary, key, value}, &output);
    }
    void set(const char* owner, const char* dictionary, const char* key, const char* value,
             RequestMode mode) {
        requestSetEntityAttribute(session, {owner, dictionary, key, value}, mode, &output);
    }
    QString file(const char* name) const { return folder.path() + QLatin1Char('/') + name; }
    QByteArray readFile(const char* name) const {
        QFile f(file(name));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("(missing)");
    }
    std::vector<QStringList> pending() const {
        const QVector<HostRequest> queued = requests.pending();
        return std::vector<QStringList>(queued.rbegin(), queued.rend());
    }
};

TEST_F(AttributeTest, ModelValuesInTheirOrderOfTests) {
    struct Case {
        const char* dictionary;
        const char* key;
        const char* value;
        std::function<bool(const ModelValues&)> holds;
    } const cases[] = {
        {"Any", "root_entities", " -42x", [](auto& m) { return m.rootEntitiesCount == -42; }},
        {"Any", "LengthUnit", "mm", [](auto& m) { return m.lengthUnit == "mm"; }},
        {"Any", "AnimationLength", "2500",
         [](auto& m) { return m.animationLengthSeconds == 2.5f; }},
        {"GeoReference", "UsesGeoReferencing", "True", [](auto& m) { return !m.geoReferencing; }},
        {"GeoReference", "UsesGeoReferencing", "true", [](auto& m) { return m.geoReferencing; }},
        {"GeoReference", "Longitude", "7.25E", [](auto& m) { return m.longitude == 7.25f; }},
        {"GeoReference", "TimeStamp", "+1700000000",
         [](auto& m) { return m.timestamp == 1700000000; }},
        {"TempShadowInfo", "Anything", "x", [](auto& m) { return m.geoReferencing; }},
        {"TempShadowInfo", "Latitude", "-33.5",
         [](auto& m) { return m.latitude == -33.5f && m.geoReferencing; }},
        {"TempShadowInfo", "ShadowTime_time_t", "12", [](auto& m) { return m.timestamp == 12; }},
        // The first matching test wins: a "LengthUnit" key in a geo dictionary is a unit.
        {"GeoReference", "LengthUnit", "ft",
         [](auto& m) { return m.lengthUnit == "ft" && !m.geoReferencing; }},
        {"GeoReference", "Longitude", "east", [](auto& m) { return m.longitude == 0.0f; }},
    };
    for (const Case& c : cases) {
        test::RecordingSession fresh;
        fresh.session.model.longitude = 99;  // a value that does not parse still sets 0
        receiveAttribute(fresh.session, {"Model", c.dictionary, c.key, c.value}, &fresh.output);
        EXPECT_TRUE(c.holds(fresh.session.model)) << c.dictionary << " " << c.key << "=" << c.value;
        // Every attribute is forwarded, whatever it sets.
        EXPECT_EQ(fresh.events, Events{std::string("dictionary Model ") + c.dictionary + " " +
                                       c.key + " " + c.value});
    }
}

TEST_F(AttributeTest, EchoesGoBackToTheRenderWindow) {
    receive("App", "Echo", "k", "ping");
    receive("App", "Other", "Echo", "pong");
    EXPECT_EQ(events, (Events{"dictionary App Echo k ping", "echo ping",
                              "dictionary App Other Echo pong", "echo pong"}));
}

TEST_F(AttributeTest, CameraAttributesAreRememberedOncePerDictionary) {
    receive("Camera", "Bloom", "k1", "v1");
    receive("Camera", "Bloom", "k2", "v2");
    receive("Camera", "DoF", "k3", "v3");
    receive("Scene7", "Bloom", "k4", "v4");
    EXPECT_EQ(events.size(), 4u);
    const QVector<SessionAttribute>& records = session.sessionAttributes.records();
    ASSERT_EQ(records.size(), 2);
    EXPECT_EQ(records[0].key, QStringLiteral("k1"));
    EXPECT_EQ(records[1].dictionary, QStringLiteral("DoF"));
}

TEST_F(AttributeTest, Base64IsCachedPerMappedOwnerAndWrittenOnce) {
    session.currentSceneName = "S1";
    receive("Camera", "MapsBase64", "pic.png", "YWJj");
    session.currentSceneName = "S2";
    receive("Camera", "MapsBase64", "pic.png", "");
    EXPECT_EQ(base64Hash(session, {"Camera", "MapsBase64", "pic.png", {}}), 0u);
    EXPECT_STREQ(base64Content(session, {"S1", "MapsBase64", "pic.png", {}}), "YWJj");
    EXPECT_EQ(base64Hash(session, {"S1", "MapsBase64", "pic.png", {}}), kHashOfYWJj);
    EXPECT_STREQ(base64Content(session, {"S9", "MapsBase64", "pic.png", {}}), "");
    EXPECT_EQ(readFile("pic.png"), QByteArray("abc"));

    // The same value again leaves a file of the decoded size alone; a new size is written.
    QFile changed(file("pic.png"));
    ASSERT_TRUE(changed.open(QIODevice::WriteOnly));
    changed.write("xyz");
    changed.close();
    session.currentSceneName = "S1";
    receive("Camera", "mapsBASE64", "pic.png", "YWJj");
    EXPECT_EQ(readFile("pic.png"), QByteArray("xyz"));
    receive("Camera", "mapsBASE64", "pic.png", "YWJjZA==");
    EXPECT_EQ(readFile("pic.png"), QByteArray("abcd"));

    receive("App", "DataBase64", "empty.bin", "");
    EXPECT_FALSE(QFile::exists(file("empty.bin")));
}

TEST_F(AttributeTest, AKeyThatIsNotAPlainFileNameIsCachedButNeverWritten) {
    QTemporaryDir outside;
    const QByteArray escape = QDir(folder.path()).relativeFilePath(outside.path() + "/x").toUtf8();
    const QByteArray absolute = (outside.path() + "/y").toUtf8();
    for (const QByteArray& key :
         {escape, absolute, QByteArray(".."), QByteArray("."), QByteArray("a\\b"), QByteArray(""),
          QByteArray("C:x"), QByteArray("a\tb")}) {
        receiveAttribute(session, {"App", "Base64", key, "YWJj"}, &output);
        EXPECT_EQ(base64Hash(session, {"App", "Base64", key, {}}), kHashOfYWJj) << key.constData();
    }
    EXPECT_TRUE(QDir(outside.path()).isEmpty());
    EXPECT_TRUE(QDir(folder.path()).isEmpty());
    receive("App", "Base64", "..pic", "YWJj");
    EXPECT_EQ(readFile("..pic"), QByteArray("abc"));
}

TEST_F(AttributeTest, DictionariesAreEnumeratedButBase64OnlyWhileReceived) {
    EXPECT_TRUE(wantsDictionary(session, "Settings"));
    EXPECT_FALSE(wantsDictionary(session, "MapsBase64"));
    session.receiveBase64Attributes = true;
    EXPECT_TRUE(wantsDictionary(session, "mapsbase64"));
}

TEST_F(AttributeTest, UnchangedBase64ValuesAreNeitherPostedNorSet) {
    receive("7", "MapsBase64", "k", "YWJj");
    events.clear();
    set("7", "MapsBase64", "k", "YWJj", AlwaysPost);
    set("7", "MapsBase64", "new", "", AlwaysPost);  // hash 0, as for no entry at all
    set("7", "MapsBase64", "new", "", RunNow);
    EXPECT_TRUE(requests.empty());
    EXPECT_TRUE(events.empty());

    // A changed value is posted without touching the cache; run, it updates the cache first.
    set("7", "MapsBase64", "k", "YWJjZA==", AlwaysPost);
    EXPECT_EQ(base64Hash(session, {"7", "MapsBase64", "k", {}}), kHashOfYWJj);
    set("7", "MapsBase64", "k", "YWJjZA==", RunNow);
    EXPECT_STREQ(base64Content(session, {"7", "MapsBase64", "k", {}}), "YWJjZA==");
    EXPECT_EQ(
        pending(),
        requestsOf({QStringList{"obrSkpSetEntityAttribute", "7", "MapsBase64", "k", "YWJjZA=="}}));
    EXPECT_EQ(events, Events{"host obrSkpSetEntityAttribute|7|MapsBase64|k|YWJjZA=="});
}

TEST_F(AttributeTest, WhileLoadingOrBusyOnlyActionsGoThrough) {
    output.loading = true;
    set("12", "Dict", "k", "v", RunNow);
    set("ExecuteAction", "SuspendScene", "", "", RunNow);
    output.loading = false;
    raiseSessionBusy();
    set("12", "Dict", "k", "v", AlwaysPost);
    set("ExecuteAction", "ResumeScene", "", "", AlwaysPost);
    lowerSessionBusy();
    EXPECT_EQ(events, Events{"host obrSkpSetEntityAttribute|ExecuteAction|SuspendScene||"});
    EXPECT_EQ(pending(), requestsOf({QStringList{"obrSkpSetEntityAttribute", "ExecuteAction",
                                                 "ResumeScene", "", ""}}));
}

TEST_F(AttributeTest, PercentOwnersEditTheSessionAttributesInPlace) {
    set("%Camera", "Bloom", "k", "one", AlwaysPost);
    set("%Camera", "Bloom", "k", "two", RunNow);
    set("Camera", "Bloom", "other", "x", RunNow);  // a record of that dictionary exists
    const QVector<SessionAttribute>& records = session.sessionAttributes.records();
    ASSERT_EQ(records.size(), 1);
    EXPECT_EQ(records[0].owner, QStringLiteral("Camera"));
    EXPECT_EQ(records[0].value, QStringLiteral("two"));
    EXPECT_EQ(events, Events{"host obrSkpSetEntityAttribute|Camera|Bloom|other|x"});
    EXPECT_TRUE(requests.empty());

    // Off the host thread the edit waits for the host thread, as a posted request.
    std::thread([this] { set("%Camera", "Bloom", "k", "three", PostOffHostThread); }).join();
    EXPECT_EQ(records[0].value, QStringLiteral("two"));
    EXPECT_EQ(pending().size(), 1u);
}

TEST_F(AttributeTest, AnEnumerationRequestForwardsTheCachedValuesBeforeItIsPosted) {
    session.currentSceneName = "S1";
    receive("Camera", "MapsBase64", "b", "Yg==");
    receive("Camera", "MapsBase64", "a", "YQ==");
    events.clear();
    requestEntityAttributes(session, "Camera", "MapsBase64", AlwaysPost, &output);
    EXPECT_TRUE(events.empty());  // Base64 attributes are not received
    session.receiveBase64Attributes = true;
    std::thread([this] {
        requestEntityAttributes(session, "Camera", "MapsBase64", PostOffHostThread, &output);
    }).join();
    requestEntityAttributes(session, "Camera", "MapsBase64", RunNow, &output);
    EXPECT_EQ(events,
              (Events{"dictionary Camera MapsBase64 a YQ==", "dictionary Camera MapsBase64 b Yg==",
                      "host obrSkpEnumEntityAttributes|Camera|MapsBase64"}));
    EXPECT_EQ(pending(),
              requestsOf({QStringList{"obrSkpEnumEntityAttributes", "Camera", "MapsBase64"}}));
}

}  // namespace
}  // namespace orvanta
