// Texts as the render link hands them to the render window's handlers, and as its log carries
// them.
#pragma once

#include <QString>

#include <cstddef>

namespace orvanta::render_window {

class RenderLog;

// The longest text a handler takes: 256 MiB of UTF-8. A QString holds at most about 2^30
// characters, and Qt cannot even count the length of a text of 2^31 bytes or more, while the
// render link carries texts of any length. A longer text is refused: it reads as the empty text,
// and the log says so in one line.
inline constexpr std::size_t kMaxHandlerTextBytes = std::size_t{256} << 20;

// Whether a text of `bytes` bytes is taken.
constexpr bool handlerTextFits(std::size_t bytes) {
    return bytes <= kMaxHandlerTextBytes;
}

// A handler's text argument, UTF-8 and ending in a NUL; null reads as the empty text, and so does
// a refused one. Reads no further than kMaxHandlerTextBytes + 1 bytes into it. Any thread.
QString handlerText(const char* utf8, RenderLog& log);
// The same for `bytes` bytes of UTF-8 at `utf8`.
QString handlerText(const char* utf8, std::size_t bytes, RenderLog& log);

// The most characters of one value that a log line carries. A longer value is cut there and
// marked with its length, so that a line of several values stays far below what a QString holds
// and stays readable.
inline constexpr int kMaxLoggedCharacters = 1 << 20;

// `value` as a log line carries it: whole up to kMaxLoggedCharacters, else its first
// kMaxLoggedCharacters characters followed by " ... (<length> characters)".
QString logged(const QString& value);

}  // namespace orvanta::render_window
