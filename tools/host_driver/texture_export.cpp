#include "tools/host_driver/texture_export.h"

#include <QBuffer>
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QImageReader>
#include <QImageWriter>
#include <QSaveFile>

namespace orvanta::tools {

QString writeTexture(const HostMaterial& material, const QString& target, const QString& folder) {
    if (material.texturePath.isEmpty())
        return QStringLiteral("material %1 has no texture").arg(QString::fromUtf8(material.id));
    if (target.isEmpty() || !QDir::isAbsolutePath(target))
        return QStringLiteral("the target \"%1\" is not an absolute path").arg(target);
    const QFileInfo targetFile(target);
    const QString sessionFolder = QDir(folder).canonicalPath();
    if (sessionFolder.isEmpty() || targetFile.fileName().isEmpty() ||
        QDir(targetFile.absolutePath()).canonicalPath() != sessionFolder)
        return QStringLiteral("the target \"%1\" is not in the session folder").arg(target);

    QImage picture;
    const QString source = QString::fromUtf8(material.texturePath);
    if (!material.embeddedTexture.isEmpty()) {
        QByteArray bytes = material.embeddedTexture;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::ReadOnly);
        QImageReader reader(&buffer);
        picture = reader.read();
        if (picture.isNull())
            return QStringLiteral("cannot read the embedded picture %1: %2")
                .arg(source, reader.errorString());
    } else {
        if (!QFileInfo::exists(source))
            return QStringLiteral("no file %1").arg(source);
        QImageReader reader(source);
        picture = reader.read();
        if (picture.isNull())
            return QStringLiteral("cannot read %1: %2").arg(source, reader.errorString());
    }

    QSaveFile file(target);
    if (!file.open(QIODevice::WriteOnly))
        return QStringLiteral("cannot write %1: %2").arg(target, file.errorString());
    QImageWriter writer(&file, "png");
    if (!writer.write(picture)) {
        file.cancelWriting();
        return QStringLiteral("cannot write %1: %2").arg(target, writer.errorString());
    }
    if (!file.commit())
        return QStringLiteral("cannot write %1: %2").arg(target, file.errorString());
    return QString();
}

QByteArray textureAnswer(const QString& failure) {
    return failure.isEmpty() ? QByteArray(kTextureWritten)
                             : QByteArray(kTextureFailedPrefix) + failure.toUtf8();
}

}  // namespace orvanta::tools
