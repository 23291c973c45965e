#include "OrvantaForSketchup.h"
#include "plugin/exports/export_guard.h"
#include "plugin/exports/export_text.h"
#include "plugin/session/scene_session.h"
#include "plugin/util/text_hash.h"
#include "plugin/util/units.h"

extern "C" {

uint32_t obrSkpStringHash(const char* text) {
    return orvanta::guarded(__func__, 0u, [&] { return orvanta::textHash(text ? text : ""); });
}

uint32_t obrComputeStringHash(const char* text) {
    return orvanta::guarded(__func__, 0u, [&] { return orvanta::textHash(text ? text : ""); });
}

uint32_t obrSkpFileHash(const char* path) {
    return orvanta::guarded(__func__, 0u,
                            [&] { return orvanta::fileHash(orvanta::fromHostText(path)); });
}

double obrConvertLengthFromInches(double inches, const char* unit) {
    return orvanta::guarded(__func__, 0.0,
                            [&] { return orvanta::lengthFromInches(inches, unit ? unit : ""); });
}

double obrConvertLengthToInches(double value, const char* unit) {
    return orvanta::guarded(__func__, 0.0, [&] {
        return orvanta::lengthToInches(value, orvanta::boundedHostText(unit),
                                       orvanta::sceneSession().model.lengthUnit);
    });
}

const char* obrGetSkpLenghtUnit(void) {
    return orvanta::guarded(__func__, "", [&] {
        return orvanta::keepLengthUnitText(orvanta::sceneSession().model.lengthUnit);
    });
}

int32_t* obrCreateIntRef(int32_t count) {
    return orvanta::guarded(__func__, nullptr, [&] { return orvanta::createIntegerBlock(count); });
}

void obrDestroyIntRef(int32_t* block) {
    orvanta::guarded(__func__, [&] { orvanta::releaseIntegerBlock(block); });
}

float obrModelLatitude(void) {
    return orvanta::guarded(__func__, 0.0f, [&] { return orvanta::sceneSession().model.latitude; });
}

float obrModelLongitude(void) {
    return orvanta::guarded(__func__, 0.0f,
                            [&] { return orvanta::sceneSession().model.longitude; });
}

int32_t obrModelTimestamp(void) {
    return orvanta::guarded(__func__, 0, [&] { return orvanta::sceneSession().model.timestamp; });
}

bool obrModelUseGeoreference(void) {
    return orvanta::guarded(__func__, false,
                            [&] { return orvanta::sceneSession().model.geoReferencing; });
}
}
