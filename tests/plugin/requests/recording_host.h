// Host callbacks for the request tests: each records its texts and the thread it ran on.
#pragma once

#include <QThread>

#include <cstdint>
#include <string>
#include <vector>

namespace orvanta::test {

struct HostCall {
    std::string text;
    Qt::HANDLE thread;
};

// Thread-safe.
void recordHostCall(std::string text);
std::vector<HostCall> hostCalls();
std::vector<std::string> recordedTexts();
void clearHostCalls();

void hostSet(const char* owner, const char* dictionary, const char* key, const char* value);
void hostContent(const char* entityId);
void hostAttributes(const char* owner, const char* dictionary);
void hostTexture(const char* first, const char* second);
void hostDestroy(int64_t pointer);

}  // namespace orvanta::test
