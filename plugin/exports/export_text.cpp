#include "plugin/exports/export_text.h"

#include <cstring>
#include <cwchar>
#include <optional>

#include "plugin/lifecycle/app_settings.h"

namespace orvanta {
namespace {

void logRefusedText() {
    static xel::RefusalCount refused;
    appendRefusal(refused, "A host export",
                  QStringLiteral("a text of more than %1 bytes, which reads as the empty text")
                      .arg(static_cast<qulonglong>(kMaxHostTextBytes)));
}

// The length of `text` when it is taken; nothing when refused, which is logged.
std::optional<std::size_t> takenLength(const char* text) {
    const std::size_t length = ::strnlen(text, kMaxHostTextBytes + 1);
    if (hostTextFits(length))
        return length;
    logRefusedText();
    return std::nullopt;
}

}  // namespace

const char* boundedHostText(const char* text) {
    return !text || takenLength(text) ? text : "";
}

QString fromHostText(const char* text) {
    const std::optional<std::size_t> length = text ? takenLength(text) : std::nullopt;
    return length ? QString::fromUtf8(text, static_cast<int>(*length)) : QString::fromUtf8("");
}

QByteArray hostBytes(const char* text) {
    const std::optional<std::size_t> length = text ? takenLength(text) : std::nullopt;
    return length ? QByteArray(text, static_cast<int>(*length)) : QByteArray("");
}

QString fromHostWideText(const wchar_t* text) {
    if (!text)
        return QString();
    constexpr std::size_t kMaxCharacters = kMaxHostTextBytes / sizeof(wchar_t);
    const std::size_t length = ::wcsnlen(text, kMaxCharacters + 1);
    if (length > kMaxCharacters) {
        logRefusedText();
        return QString();
    }
    return QString::fromWCharArray(text, static_cast<int>(length));
}

}  // namespace orvanta
