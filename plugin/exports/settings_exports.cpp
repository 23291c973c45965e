#include "OrvantaForSketchup.h"
#include "plugin/exports/export_text.h"
#include "plugin/lifecycle/app_settings.h"

extern "C" {

int obrGetAppSetting(const char* key) {
    return orvanta::appSettingAsInt(orvanta::fromHostText(key));
}

bool obrExistsAppSetting(const char* key) {
    return orvanta::appSettingExists(orvanta::fromHostText(key));
}

void obrSetAppSetting(const char* key, int value) {
    orvanta::setAppSetting(orvanta::fromHostText(key), value);
}

void obrSetAppSettingStr(const char* key, QString value) {
    orvanta::setAppSetting(orvanta::fromHostText(key), value);
}

void obrAppendLog(const char* message) {
    orvanta::appendLog(orvanta::fromHostText(message));
}

void obrClearLog(void) {
    orvanta::ignoreCall();
}

void obrEnumModelInfo(void) {
    orvanta::ignoreCall();
}
}
