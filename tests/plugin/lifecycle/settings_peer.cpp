// The second process of the settings tests: opens the plug-in's settings store as start-up does
// (the environment names its folder) and acts on it through the exports.
//   plugin_settings_peer get KEY          prints "<exists 0|1> <integer value>"
//   plugin_settings_peer set KEY NUMBER   stores an integer
//   plugin_settings_peer set-text KEY TEXT
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <QString>

#include "OrvantaForSketchup.h"
#include "plugin/lifecycle/app_settings.h"

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: see the comment at the top of settings_peer.cpp\n");
        return 2;
    }
    orvanta::openAppSettings();
    const char* mode = argv[1];
    const char* key = argv[2];
    if (std::strcmp(mode, "get") == 0) {
        std::printf("%d %d\n", obrExistsAppSetting(key) ? 1 : 0, obrGetAppSetting(key));
        return 0;
    }
    if (std::strcmp(mode, "set") == 0 && argc == 4) {
        obrSetAppSetting(key, std::atoi(argv[3]));
        return 0;
    }
    if (std::strcmp(mode, "set-text") == 0 && argc == 4) {
        obrSetAppSettingStr(key, QString::fromUtf8(argv[3]));
        return 0;
    }
    std::fprintf(stderr, "usage: see the comment at the top of settings_peer.cpp\n");
    return 2;
}
