// Pictures of the scene as files: the plug-in's export request, and the snapshots written after
// each completed transaction when ORVANTA_RENDER_SNAPSHOTS names a folder. Each outcome is one
// log line, which the tests and the host driver wait on:
//
//   exported <path>                    export failed <path>: <reason>
//   snapshot <path>                    snapshot failed <path>: <reason>
#pragma once

#include <QImage>
#include <QSize>
#include <QString>

#include <atomic>

#include "tools/render_window/render_log.h"
#include "tools/render_window/scene_store.h"
#include "tools/render_window/view_navigation.h"

namespace orvanta::render_window {

// The size of exported and snapshot images, unless ORVANTA_RENDER_SIZE says otherwise.
inline const QSize kDefaultExportSize(1280, 800);

// Writes `image` as a PNG file at `path`, replacing a file there whole or not at all. Returns an
// empty text on success, else why it failed. Any thread.
QString writePng(const QImage& image, const QString& path);

class SceneExporter {
public:
    static constexpr char kSizeVariable[] = "ORVANTA_RENDER_SIZE";
    static constexpr char kSnapshotsVariable[] = "ORVANTA_RENDER_SNAPSHOTS";

    // Reads both variables now: the size as "<width>x<height>" (each 1 to kMaxImageSide; another
    // value is logged and kDefaultExportSize taken instead), the snapshot folder (created when
    // missing). `store`, `log` and `navigation` must outlive this object. With `navigation`, the
    // pictures show the user's camera once the user moved the view (view_navigation.h).
    SceneExporter(const SceneStore& store, RenderLog& log,
                  const ViewNavigation* navigation = nullptr);

    QSize imageSize() const { return m_size; }
    // Renders the store's current scene at imageSize() and writes it to `path`, logging the
    // outcome; returns whether it was written. Any thread; takes the store's lock only for the
    // snapshot, and renders on the calling thread.
    bool exportScene(const QString& path);
    // With a snapshot folder, renders the scene to "<folder>/view-<n>.png", n counting the calls
    // from 1, and logs the outcome; without one does nothing. Any thread.
    void writeSnapshot();

private:
    // Renders and writes; returns an empty text or the reason of the failure.
    QString renderTo(const QString& path) const;

    const SceneStore& m_store;
    RenderLog& m_log;
    const ViewNavigation* m_navigation;
    QSize m_size = kDefaultExportSize;
    QString m_snapshotFolder;  // empty: no snapshots
    std::atomic<int> m_snapshots{0};
};

}  // namespace orvanta::render_window
