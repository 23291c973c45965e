// Texts as they cross the export boundary.
#pragma once

#include <QString>

namespace orvanta {

// A UTF-8 text from the host; null reads as the empty text.
inline QString fromHostText(const char* text) {
    return QString::fromUtf8(text ? text : "");
}

}  // namespace orvanta
