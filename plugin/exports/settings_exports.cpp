#include "OrvantaForSketchup.h"
#include "plugin/exports/export_guard.h"
#include "plugin/exports/export_text.h"
#include "plugin/lifecycle/app_settings.h"

extern "C" {

int obrGetAppSetting(const char* key) {
    return orvanta::guarded(__func__, 0,
                            [&] { return orvanta::appSettingAsInt(orvanta::fromHostText(key)); });
}

bool obrExistsAppSetting(const char* key) {
    return orvanta::guarded(__func__, false,
                            [&] { return orvanta::appSettingExists(orvanta::fromHostText(key)); });
}

void obrSetAppSetting(const char* key, int value) {
    orvanta::guarded(__func__, [&] { orvanta::setAppSetting(orvanta::fromHostText(key), value); });
}

void obrSetAppSettingStr(const char* key, QString value) {
    orvanta::guarded(__func__, [&] { orvanta::setAppSetting(orvanta::fromHostText(key), value); });
}

void obrAppendLog(const char* message) {
    orvanta::guarded(__func__, [&] { orvanta::appendLog(orvanta::fromHostText(message)); });
}

void obrClearLog(void) {
    orvanta::guarded(__func__, [&] { orvanta::ignoreCall(); });
}

void obrEnumModelInfo(void) {
    orvanta::guarded(__func__, [&] { orvanta::ignoreCall(); });
}
}
