#include "tools/render_window/handler_text.h"

#include <cstring>

#include "tools/render_window/render_log.h"

namespace orvanta::render_window {

QString handlerText(const char* utf8, RenderLog& log) {
    return handlerText(utf8, utf8 ? ::strnlen(utf8, kMaxHandlerTextBytes + 1) : 0, log);
}

QString handlerText(const char* utf8, std::size_t bytes, RenderLog& log) {
    if (!utf8)
        return QString::fromUtf8("");
    if (!handlerTextFits(bytes)) {
        log.line(QStringLiteral("a text of more than %1 bytes was refused: it reads as the empty "
                                "text")
                     .arg(static_cast<qulonglong>(kMaxHandlerTextBytes)));
        return QString::fromUtf8("");
    }
    return QString::fromUtf8(utf8, static_cast<int>(bytes));
}

QString logged(const QString& value) {
    if (value.size() <= kMaxLoggedCharacters)
        return value;
    return value.left(kMaxLoggedCharacters) +
           QStringLiteral(" ... (%1 characters)").arg(value.size());
}

}  // namespace orvanta::render_window
