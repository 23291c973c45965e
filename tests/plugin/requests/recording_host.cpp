#include "tests/plugin/requests/recording_host.h"

#include <mutex>

namespace orvanta::test {
namespace {

std::mutex g_mutex;
std::vector<HostCall> g_calls;  // under g_mutex

}  // namespace

void recordHostCall(std::string text) {
    std::lock_guard<std::mutex> guard(g_mutex);
    g_calls.push_back({std::move(text), QThread::currentThreadId()});
}

std::vector<HostCall> hostCalls() {
    std::lock_guard<std::mutex> guard(g_mutex);
    return g_calls;
}

std::vector<std::string> recordedTexts() {
    std::vector<std::string> texts;
    for (const HostCall& call : hostCalls())
        texts.push_back(call.text);
    return texts;
}

void clearHostCalls() {
    std::lock_guard<std::mutex> guard(g_mutex);
    g_calls.clear();
}

void hostSet(const char* owner, const char* dictionary, const char* key, const char* value) {
    recordHostCall(std::string("set ") + owner + "/" + dictionary + "/" + key + "=" + value);
}
void hostContent(const char* entityId) {
    recordHostCall(std::string("content ") + entityId);
}
void hostAttributes(const char* owner, const char* dictionary) {
    recordHostCall(std::string("attributes ") + owner + "/" + dictionary);
}
void hostTexture(const char* first, const char* second) {
    recordHostCall(std::string("texture ") + first + " " + second);
}
void hostDestroy(int64_t pointer) {
    recordHostCall("destroy " + std::to_string(pointer));
}

}  // namespace orvanta::test
