// Texts as they cross the export boundary.
#pragma once

#include <QByteArray>
#include <QString>

#include <cstddef>

namespace orvanta {

// The longest text an export takes: 256 MiB of UTF-8 (of wide characters, that many bytes' worth).
// A QString holds at most about 2^30 characters, and Qt cannot even count the length of a text of
// 2^31 bytes or more; a limit well below both leaves room for the copies a text goes through. A
// longer text is refused: it reads as the empty text, and the plug-in's log says so in one line.
inline constexpr std::size_t kMaxHostTextBytes = std::size_t{256} << 20;

// Whether a text of `bytes` bytes is taken.
constexpr bool hostTextFits(std::size_t bytes) {
    return bytes <= kMaxHostTextBytes;
}

// The host's text itself when it is taken, "" when refused; null stays null. Reads no further than
// kMaxHostTextBytes + 1 bytes into it. Any thread.
const char* boundedHostText(const char* text);

// A UTF-8 text from the host; null reads as the empty text, and so does a refused one. Any thread.
QString fromHostText(const char* text);

// The same as its UTF-8 bytes.
QByteArray hostBytes(const char* text);

// A wide text from the host (UTF-16 on Windows, UTF-32 elsewhere); null reads as the empty text,
// and so does one of more than kMaxHostTextBytes bytes. Any thread.
QString fromHostWideText(const wchar_t* text);

}  // namespace orvanta
