#include "tools/render_window/view_window.h"

#include <QEvent>
#include <QMetaObject>
#include <QPainter>
#include <QResizeEvent>

#include <cmath>
#include <utility>

#include "tools/render_window/scene_view.h"

namespace orvanta::render_window {

ViewWindow::ViewWindow(Renderer renderer, std::function<void()> closed)
    : m_renderer(std::move(renderer)), m_closed(std::move(closed)) {
    setTitle(QStringLiteral("Orvanta render window"));
    resize(kInitialSize);
}

void ViewWindow::requestRender() {
    if (m_renderQueued.exchange(true))
        return;
    // Dropped with the window when it goes first.
    QMetaObject::invokeMethod(
        this, [this] { renderNow(); }, Qt::QueuedConnection);
}

void ViewWindow::renderNow() {
    // Cleared first: a request arriving during the render queues the next one.
    m_renderQueued.store(false);
    const qreal ratio = devicePixelRatio();
    const QSize pixels(static_cast<int>(std::lround(width() * ratio)),
                       static_cast<int>(std::lround(height() * ratio)));
    if (pixels.isEmpty())
        return;
    QImage image = m_renderer(pixels);
    image.setDevicePixelRatio(ratio);
    m_image = std::move(image);
    update();
}

bool ViewWindow::event(QEvent* event) {
    if (event->type() == QEvent::Close && m_closed)
        m_closed();
    return QRasterWindow::event(event);
}

void ViewWindow::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QRect target(QPoint(0, 0), size());
    if (m_image.isNull()) {
        painter.fillRect(target, kBackgroundColour);
        return;
    }
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(target, m_image);
}

void ViewWindow::resizeEvent(QResizeEvent* event) {
    QRasterWindow::resizeEvent(event);
    requestRender();
}

}  // namespace orvanta::render_window
