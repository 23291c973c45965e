#include "OrvantaForSketchup.h"
#include "plugin/util/text_hash.h"

extern "C" {

uint32_t obrSkpStringHash(const char* text) {
    return orvanta::textHash(text ? text : "");
}

uint32_t obrComputeStringHash(const char* text) {
    return orvanta::textHash(text ? text : "");
}
}
