#include "tools/render_window/view_window.h"

#include <QEvent>
#include <QKeyEvent>
#include <QMetaObject>
#include <QMouseEvent>
#include <QPainter>
#include <QResizeEvent>
#include <QWheelEvent>

#include <cmath>
#include <utility>

#include "tools/render_window/scene_view.h"
#include "tools/render_window/view_navigation.h"

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

void ViewWindow::setNavigation(ViewNavigation* navigation) {
    m_navigation = navigation;
    m_drag = Drag::None;
}

void ViewWindow::mousePressEvent(QMouseEvent* event) {
    if (!m_navigation || m_drag != Drag::None)
        return QRasterWindow::mousePressEvent(event);
    const Qt::MouseButton button = event->button();
    if (button == Qt::LeftButton)
        m_drag = event->modifiers() & Qt::ShiftModifier ? Drag::Pan : Drag::Orbit;
    else if (button == Qt::MiddleButton)
        m_drag = Drag::Pan;
    else
        return QRasterWindow::mousePressEvent(event);
    m_dragButton = button;
    m_lastPointer = event->localPos();
    event->accept();
}

void ViewWindow::mouseMoveEvent(QMouseEvent* event) {
    if (!m_navigation || m_drag == Drag::None)
        return QRasterWindow::mouseMoveEvent(event);
    const QPointF drag = event->localPos() - m_lastPointer;
    m_lastPointer = event->localPos();
    event->accept();
    if (drag.isNull())
        return;
    if (m_drag == Drag::Orbit)
        m_navigation->orbit(drag, size());
    else
        m_navigation->pan(drag, size());
    requestRender();
}

void ViewWindow::mouseReleaseEvent(QMouseEvent* event) {
    if (m_drag == Drag::None || event->button() != m_dragButton)
        return QRasterWindow::mouseReleaseEvent(event);
    // The last stretch of the drag, when the release comes from elsewhere than the last move.
    mouseMoveEvent(event);
    m_drag = Drag::None;
    m_dragButton = Qt::NoButton;
}

void ViewWindow::wheelEvent(QWheelEvent* event) {
    const int notches = event->angleDelta().y();
    if (!m_navigation || notches == 0)
        return QRasterWindow::wheelEvent(event);
    m_navigation->zoom(notches / 120.0, size());
    event->accept();
    requestRender();
}

void ViewWindow::keyPressEvent(QKeyEvent* event) {
    if (!m_navigation || (event->key() != Qt::Key_Home && event->key() != Qt::Key_H))
        return QRasterWindow::keyPressEvent(event);
    event->accept();
    if (m_navigation->snapBack())
        requestRender();
}

}  // namespace orvanta::render_window
