#include "tools/render_window/message_tally.h"

#include <QLocale>
#include <QStringList>

namespace orvanta::render_window {
namespace {

// The scene-changing message types, in the order their words appear, singular and plural.
struct ChangeWords {
    const char* type;
    const char* one;
    const char* many;
};
constexpr ChangeWords kChanges[] = {
    {"clearSess", "scene clear", "scene clears"},
    {"remEntity", "removal", "removals"},
    {"remMeshes", "mesh removal", "mesh removals"},
    {"addMesh", "mesh", "meshes"},
    {"addInstance", "instance", "instances"},
    {"addGroup", "group", "groups"},
    {"addComp", "definition", "definitions"},
    {"addMaterial", "material", "materials"},
    {"addLayer", "layer", "layers"},
    {"setVisible", "visibility change", "visibility changes"},
    {"setCutP", "section plane", "section planes"},
    {"remCutP", "section plane removal", "section plane removals"},
    {"setSunLight", "light", "lights"},
};

}  // namespace

void MessageTally::add(const std::string& type, long size) {
    std::lock_guard<std::mutex> guard(m_mutex);
    Count& count = m_total[type];
    ++count.messages;
    count.bytes += size > 0 ? size : 0;
    ++m_recent[type];
}

QString MessageTally::line() const {
    std::lock_guard<std::mutex> guard(m_mutex);
    QString text = QStringLiteral("messages received");
    for (const auto& [type, count] : m_total)
        text += QStringLiteral(" %1=%2/%3")
                    .arg(QString::fromStdString(type))
                    .arg(count.messages)
                    .arg(count.bytes);
    return text;
}

QString MessageTally::changesSinceLastCall() {
    std::map<std::string, std::int64_t> recent;
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        recent.swap(m_recent);
    }
    QStringList parts;
    for (const ChangeWords& words : kChanges) {
        const auto found = recent.find(words.type);
        if (found != recent.end() && found->second > 0)
            parts << QStringLiteral("%1 %2")
                         .arg(found->second)
                         .arg(QLatin1String(found->second == 1 ? words.one : words.many));
    }
    return parts.join(QStringLiteral(", "));
}

QString viewTitle(const QString& model, int meshes, std::int64_t triangles, const QString& change) {
    const QLocale english(QLocale::English);
    QString title = QStringLiteral("Orvanta render window");
    if (!model.isEmpty())
        title += QStringLiteral(" \u2014 ") + model;
    title += QStringLiteral(" \u2014 %1 %2, %3 %4")
                 .arg(english.toString(meshes), QLatin1String(meshes == 1 ? "mesh" : "meshes"),
                      english.toString(static_cast<qlonglong>(triangles)),
                      QLatin1String(triangles == 1 ? "triangle" : "triangles"));
    if (!change.isEmpty())
        title += QStringLiteral(" \u2014 last: ") + change;
    return title;
}

}  // namespace orvanta::render_window
