// The session attribute list: what it remembers, the missing-values masks over a mixed list, and
// the list handed over through its export.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "OrvantaForSketchup.h"
#include "plugin/export/session_attributes.h"
#include "plugin/session/scene_session.h"
#include "tests/plugin/export/recording_output.h"

namespace orvanta {
namespace {

using Events = std::vector<std::string>;

SessionAttribute camera(const char* dictionary, const char* key, const char* value) {
    return {QStringLiteral("Camera"), QString::fromUtf8(dictionary), QString::fromUtf8(key),
            QString::fromUtf8(value)};
}

TEST(MissingValuesBit, TheSixDictionariesIgnoringCaseAndNoOther) {
    struct Case {
        const char* dictionary;
        std::uint32_t bit;
    } const cases[] = {{"DoF", 1},
                       {"dof", 1},
                       {"FLASHLIGHT", 2},
                       {"Bloom", 4},
                       {"tonemapper", 8},
                       {"Environment", 16},
                       {"ImageProduction", 32},
                       {"Sky", 0},
                       {"Bloom ", 0},
                       {"", 0}};
    for (const Case& c : cases)
        EXPECT_EQ(missingValuesBit(QString::fromUtf8(c.dictionary)), c.bit) << c.dictionary;
}

TEST(SessionAttributeList, MasksPickTheirDictionariesAndOthersOnlyWithMaskZero) {
    SessionAttributeList list;
    list.replace({camera("Bloom", "k1", "v1"), camera("dof", "k2", "v2"), camera("Sky", "k3", "v3"),
                  camera("TONEMAPPER", "k4", "v4")});
    struct Case {
        std::uint32_t mask;
        Events sent;
    } const cases[] = {
        {0,
         {"dictionary Camera Bloom k1 v1", "dictionary Camera dof k2 v2",
          "dictionary Camera Sky k3 v3", "dictionary Camera TONEMAPPER k4 v4"}},
        {1, {"dictionary Camera dof k2 v2"}},
        {4, {"dictionary Camera Bloom k1 v1"}},
        {4 | 8, {"dictionary Camera Bloom k1 v1", "dictionary Camera TONEMAPPER k4 v4"}},
        {2 | 16 | 32 | 64, {}},
    };
    for (const Case& c : cases) {
        Events events;
        test::RecordingOutput output(events);
        list.sendMissing(c.mask, &output);
        EXPECT_EQ(events, c.sent) << "mask " << c.mask;
    }
}

TEST(SessionAttributeList, RemembersTheFirstValuePerDictionaryAndSetsInPlace) {
    SessionAttributeList list;
    EXPECT_TRUE(list.rememberFirst(camera("Bloom", "k1", "v1")));
    EXPECT_FALSE(list.rememberFirst(camera("Bloom", "k2", "v2")));
    EXPECT_TRUE(list.rememberFirst(camera("bloom", "k2", "v2")));  // names compare exactly here
    list.setValue(camera("Bloom", "k1", "changed"));
    list.setValue(camera("Bloom", "k9", "new"));
    Events events;
    test::RecordingOutput output(events);
    list.sendMissing(0, &output);
    EXPECT_EQ(events, (Events{"dictionary Camera Bloom k1 changed", "dictionary Camera bloom k2 v2",
                              "dictionary Camera Bloom k9 new"}));
}

TEST(SessionAttributeExport, TakesTheListByValueAndKeepsItsOwnCopy) {
    QVector<ObrSessionAttribute> records{{"Camera", "DoF", "Aperture", "2.8"},
                                         {"Camera", "Sky", "Turbidity", "3"}};
    obrSetDefaultSessionAttributes(records);
    records[0].value = QStringLiteral("changed afterwards");
    records.append({"Camera", "Bloom", "k", "v"});

    const QVector<SessionAttribute>& kept = sceneSession().sessionAttributes.records();
    ASSERT_EQ(kept.size(), 2);
    EXPECT_EQ(kept[0].value, QStringLiteral("2.8"));
    EXPECT_EQ(kept[1].dictionary, QStringLiteral("Sky"));

    obrSetDefaultSessionAttributes({});
    EXPECT_TRUE(sceneSession().sessionAttributes.records().isEmpty());
}

}  // namespace
}  // namespace orvanta
