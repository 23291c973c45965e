#include "XelInterProcessMessagesManager.h"

#include <cstring>
#include <cwchar>

#include "render_link/channel/message_channel.h"
#include "render_link/channel/payload_codec.h"

using xel::PayloadReader;
using xel::PayloadWriter;

XelInterProcessMessagesManager::XelInterProcessMessagesManager(
    XelInterProcessMessagesObserver* observer, long queueId)
    : d(std::make_unique<xel::MessageChannel>(observer, queueId)) {}

XelInterProcessMessagesManager::~XelInterProcessMessagesManager() = default;

void XelInterProcessMessagesManager::run() {
    d->run();
}

long XelInterProcessMessagesManager::queueId() const {
    return d->queueId();
}

void XelInterProcessMessagesManager::sendMessage(const char* type, const void* data, long size) {
    d->sendMessage(type, data, size);
}

void XelInterProcessMessagesManager::sendMessageAsync(const char* type, const char* data,
                                                      std::uint64_t size) {
    d->sendMessageAsync(type, data, size);
}

void XelInterProcessMessagesManager::writeSize(void* at, std::uint64_t value) {
    if (at)
        PayloadWriter::unbounded(at).putSize(value);
}

void XelInterProcessMessagesManager::writeString(void* at, const char* s) {
    if (at)
        PayloadWriter::unbounded(at).putString(s ? s : "");
}

void XelInterProcessMessagesManager::writeStringW(void* at, const wchar_t* s) {
    if (at)
        PayloadWriter::unbounded(at).putUtf16(xel::toUtf16(s ? s : L""));
}

void XelInterProcessMessagesManager::appendString(void*& cursor, const char* s) {
    if (!cursor)
        return;
    PayloadWriter writer = PayloadWriter::unbounded(cursor);
    writer.putString(s ? s : "");
    cursor = static_cast<char*>(cursor) + writer.written();
}

void XelInterProcessMessagesManager::appendStringW(void*& cursor, const wchar_t* s) {
    if (!cursor)
        return;
    PayloadWriter writer = PayloadWriter::unbounded(cursor);
    writer.putUtf16(xel::toUtf16(s ? s : L""));
    cursor = static_cast<char*>(cursor) + writer.written();
}

std::uint64_t XelInterProcessMessagesManager::readSize(void* at) {
    return at ? PayloadReader::unbounded(at).getSize() : 0;
}

std::string XelInterProcessMessagesManager::readString(void* at) {
    return at ? PayloadReader::unbounded(at).getString() : std::string();
}

std::wstring XelInterProcessMessagesManager::readStringW(void* at) {
    return at ? xel::fromUtf16(PayloadReader::unbounded(at).getUtf16()) : std::wstring();
}

std::uint64_t XelInterProcessMessagesManager::popSize(void*& cursor) {
    if (!cursor)
        return 0;
    PayloadReader reader = PayloadReader::unbounded(cursor);
    const std::uint64_t value = reader.getSize();
    cursor = static_cast<char*>(cursor) + reader.consumed();
    return value;
}

std::string XelInterProcessMessagesManager::popString(void*& cursor) {
    if (!cursor)
        return {};
    PayloadReader reader = PayloadReader::unbounded(cursor);
    std::string value = reader.getString();
    cursor = static_cast<char*>(cursor) + reader.consumed();
    return value;
}

std::wstring XelInterProcessMessagesManager::popStringW(void*& cursor) {
    if (!cursor)
        return {};
    PayloadReader reader = PayloadReader::unbounded(cursor);
    std::wstring value = xel::fromUtf16(reader.getUtf16());
    cursor = static_cast<char*>(cursor) + reader.consumed();
    return value;
}
