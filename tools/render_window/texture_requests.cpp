#include "tools/render_window/texture_requests.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QImageReader>

#include <utility>

#include "tools/render_window/handler_text.h"
#include "tools/render_window/rasterizer.h"

namespace orvanta::render_window {
namespace {

// Bit 0 of a material's flags: it has a texture.
constexpr int kTexturedFlag = 1;
// What an answer that is not kWritten starts with.
const QString kFailedPrefix = QStringLiteral("failed: ");

}  // namespace

TextureRequests::TextureRequests(const QString& sessionFolder, SceneStore& store, RenderLog& log,
                                 Send send)
    : m_folder(sessionFolder), m_store(store), m_log(log), m_send(std::move(send)) {}

void TextureRequests::materialArrived(const QString& materialId, const SceneMaterial& material) {
    if ((material.intValue & kTexturedFlag) == 0 || material.extraText.isEmpty()) {
        {
            std::lock_guard<std::mutex> guard(m_mutex);
            m_awaited.erase(materialId);
        }
        m_store.setTexture(materialId, nullptr);
        return;
    }
    const QString path = QDir(m_folder).filePath(QStringLiteral("texture_%1_%2.png")
                                                     .arg(QCoreApplication::applicationPid())
                                                     .arg(++m_requests));
    // A file left there earlier is not this request's.
    QFile::remove(path);
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        m_awaited[materialId] = path;
    }
    m_send(materialId.toUtf8(), path.toUtf8());
    m_log.line(QStringLiteral("sent expTx %1 %2").arg(logged(materialId), logged(path)));
}

bool TextureRequests::answerArrived(const DictionaryRecord& message) {
    if (message.dictionary != QLatin1String(kAnswerDictionary))
        return false;
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        const auto found = m_awaited.find(message.owner);
        if (found == m_awaited.end() || found->second != message.key)
            return true;
        m_awaited.erase(found);
    }
    if (message.value == QLatin1String(kWritten)) {
        load(message.owner, message.key);
    } else {
        const QString reason = message.value.startsWith(kFailedPrefix)
                                   ? message.value.mid(kFailedPrefix.size())
                                   : message.value;
        untextured(message.owner,
                   QStringLiteral("the host could not export it: %1")
                       .arg(reason.isEmpty() ? QStringLiteral("(no reason)") : reason));
    }
    return true;
}

void TextureRequests::load(const QString& materialId, const QString& path) {
    QImage image;
    QString error;
    {
        // Closed before the file is removed: Windows removes no file that is open.
        QImageReader reader(path);
        image = reader.read();
        error = reader.errorString();
    }
    QFile::remove(path);
    const SharedTexture texture = RasterTexture::fromImage(image);
    if (!texture) {
        untextured(materialId,
                   QStringLiteral("%1 cannot be read: %2").arg(logged(path), logged(error)));
        return;
    }
    m_store.setTexture(materialId, texture);
    m_log.line(QStringLiteral("texture %1 loaded %2 %3x%4")
                   .arg(logged(materialId), logged(path))
                   .arg(texture->width)
                   .arg(texture->height));
}

void TextureRequests::untextured(const QString& materialId, const QString& reason) {
    m_store.setTexture(materialId, nullptr);
    m_log.line(QStringLiteral("texture %1 untextured: %2").arg(logged(materialId), reason));
}

void TextureRequests::clear() {
    std::lock_guard<std::mutex> guard(m_mutex);
    m_awaited.clear();
}

int TextureRequests::awaited() const {
    std::lock_guard<std::mutex> guard(m_mutex);
    return static_cast<int>(m_awaited.size());
}

}  // namespace orvanta::render_window
