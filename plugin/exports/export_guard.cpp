#include "plugin/exports/export_guard.h"

#include <QString>

#include <cstdio>

#include "plugin/lifecycle/app_settings.h"

namespace orvanta {

void logExportFailure(const char* exportName, const char* what) noexcept {
    try {
        appendLog(QStringLiteral("%1 failed: %2; it answers its failure value")
                      .arg(QString::fromUtf8(exportName),
                           what ? QString::fromUtf8(what)
                                : QStringLiteral("an exception of unknown kind")));
    } catch (...) {
        // Out of memory, most likely: a text that needs none.
        std::fputs("An export failed and answers its failure value\n", stderr);
    }
}

}  // namespace orvanta
