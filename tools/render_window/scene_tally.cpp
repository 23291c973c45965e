#include "tools/render_window/scene_tally.h"

#include <QStringList>

namespace orvanta::render_window {
namespace {

const char* const kNames[SceneTally::KindCount] = {"meshes",
                                                   "materials",
                                                   "groups",
                                                   "instances",
                                                   "definitions",
                                                   "layers",
                                                   "entityRemovals",
                                                   "meshRemovals",
                                                   "cameras",
                                                   "sunLights",
                                                   "sectionPlanes",
                                                   "visibilityChanges",
                                                   "dictionaryMessages"};

}  // namespace

int SceneTally::add(Kind kind) {
    return m_counts[kind].fetch_add(1) + 1;
}

void SceneTally::clearScene() {
    for (Kind kind : {Mesh, Material, Group, Instance, ComponentDefinition, Layer})
        m_counts[kind].store(0);
}

QString SceneTally::summary() const {
    QStringList parts;
    for (int kind = 0; kind < KindCount; ++kind) {
        if (const int count = m_counts[kind].load())
            parts << QStringLiteral("%1=%2").arg(QLatin1String(kNames[kind])).arg(count);
    }
    return parts.join(QLatin1Char(' '));
}

}  // namespace orvanta::render_window
