#include "tools/render_window/scene_export.h"

#include <QDir>
#include <QImageWriter>
#include <QRegularExpression>
#include <QSaveFile>

#include "tools/common/render_log_texts.h"
#include "tools/render_window/rasterizer.h"
#include "tools/render_window/scene_view.h"

namespace orvanta::render_window {
namespace {

// "<width>x<height>", each side 1 to kMaxImageSide; an invalid size otherwise.
QSize parseSize(const QString& text) {
    static const QRegularExpression kSizeText(QStringLiteral("^\\s*(\\d{1,9})x(\\d{1,9})\\s*$"));
    const QRegularExpressionMatch match = kSizeText.match(text);
    if (!match.hasMatch())
        return QSize();
    const int width = match.captured(1).toInt();
    const int height = match.captured(2).toInt();
    if (width < 1 || height < 1 || width > kMaxImageSide || height > kMaxImageSide)
        return QSize();
    return QSize(width, height);
}

}  // namespace

QString writePng(const QImage& image, const QString& path) {
    if (image.isNull())
        return QStringLiteral("no image");
    // Written beside the target and renamed over it, so a reader never sees half a file.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return file.errorString();
    QImageWriter writer(&file, QByteArrayLiteral("png"));
    if (!writer.write(image)) {
        file.cancelWriting();
        return writer.errorString();
    }
    if (!file.commit())
        return file.errorString();
    return QString();
}

SceneExporter::SceneExporter(const SceneStore& store, RenderLog& log,
                             const ViewNavigation* navigation)
    : m_store(store), m_log(log), m_navigation(navigation) {
    if (qEnvironmentVariableIsSet(kSizeVariable)) {
        const QString text = qEnvironmentVariable(kSizeVariable);
        const QSize size = parseSize(text);
        if (size.isValid()) {
            m_size = size;
        } else {
            // One pass over the placeholders, so that a text holding "%1" stays as it is.
            m_log.line(QStringLiteral("%1=%2 is not <width>x<height> with sides 1 to %3: images "
                                      "are %4x%5")
                           .arg(QLatin1String(kSizeVariable), text, QString::number(kMaxImageSide),
                                QString::number(m_size.width()), QString::number(m_size.height())));
        }
    }
    const QString folder = qEnvironmentVariable(kSnapshotsVariable);
    if (!folder.isEmpty()) {
        m_snapshotFolder = QDir(folder).absolutePath();
        // A failure here shows as each snapshot's failure.
        QDir().mkpath(m_snapshotFolder);
    }
}

QString SceneExporter::renderTo(const QString& path) const {
    const QImage image = renderScene(
        m_navigation ? m_navigation->applyTo(m_store.snapshot()) : m_store.snapshot(), m_size);
    if (image.isNull())
        return QStringLiteral("nothing rendered at %1x%2").arg(m_size.width()).arg(m_size.height());
    return writePng(image, path);
}

bool SceneExporter::exportScene(const QString& path) {
    const QString failure = path.isEmpty() ? QStringLiteral("no path") : renderTo(path);
    if (failure.isEmpty()) {
        m_log.line(QLatin1String(tools::kExportedLinePrefix) + path);
        return true;
    }
    m_log.line(QLatin1String(tools::kExportFailedLinePrefix) + path + QStringLiteral(": ") +
               failure);
    return false;
}

void SceneExporter::writeSnapshot() {
    if (m_snapshotFolder.isEmpty())
        return;
    const int number = m_snapshots.fetch_add(1) + 1;
    const QString path = QDir(m_snapshotFolder).filePath(QStringLiteral("view-%1.png").arg(number));
    const QString failure = renderTo(path);
    if (failure.isEmpty())
        m_log.line(QStringLiteral("snapshot %1").arg(path));
    else
        m_log.line(QStringLiteral("snapshot failed %1: %2").arg(path, failure));
}

}  // namespace orvanta::render_window
