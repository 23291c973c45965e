/* The exports of the plug-in library, as the host extension script calls them: undecorated C
 * names, UTF-8 texts. Every export may be called from the host thread only, unless noted. */
#ifndef ORVANTA_FOR_SKETCHUP_H
#define ORVANTA_FOR_SKETCHUP_H

#include <stdint.h>

#if defined(_WIN32)
#if defined(ORVANTA_BUILDING)
#define ORVANTA_EXPORT __declspec(dllexport)
#else
#define ORVANTA_EXPORT __declspec(dllimport)
#endif
#else
#define ORVANTA_EXPORT __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Units, hashes and small utilities. */
ORVANTA_EXPORT uint32_t obrSkpStringHash(const char* text);
ORVANTA_EXPORT uint32_t obrComputeStringHash(const char* text);

#ifdef __cplusplus
}
#endif

#endif
