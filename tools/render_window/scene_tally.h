// What the scene received so far, counted by kind. The place a viewer's scene model will take.
#pragma once

#include <QString>

#include <array>
#include <atomic>

namespace orvanta::render_window {

class SceneTally {
public:
    enum Kind {
        Mesh,
        Material,
        Group,
        Instance,
        ComponentDefinition,
        Layer,
        EntityRemoval,
        MeshRemoval,
        Camera,
        SunLight,
        SectionPlane,
        Visibility,
        Dictionary,
        KindCount
    };

    // Counts one more of `kind` and returns the new count. Any thread.
    int add(Kind kind);
    // Forgets the scene content (meshes to layers); commands stay counted. Any thread.
    void clearScene();
    // "meshes=3 materials=1 ...", kinds not seen left out. Any thread.
    QString summary() const;

private:
    std::array<std::atomic<int>, KindCount> m_counts{};
};

}  // namespace orvanta::render_window
