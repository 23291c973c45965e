// The render window's on-screen view: a top-level window titled "Orvanta render window" that shows
// the scene's last rendered image, scaled to the window. Only made on a platform with a display;
// headless, the program makes no window.
//
// With a ViewNavigation (setNavigation()), the mouse and keys move the view (view_navigation.h has
// the camera's moves; this window only turns events into them, and renders again after each):
// left drag orbits around the camera's target, middle drag or Shift + left drag pans, the wheel
// zooms towards the target (a notch, an angle delta of 120, is one step), Home or H snaps back to
// the host's camera.
#pragma once

#include <QImage>
#include <QPointF>
#include <QRasterWindow>
#include <QSize>

#include <atomic>
#include <functional>

namespace orvanta::render_window {

class ViewNavigation;

class ViewWindow final : public QRasterWindow {
public:
    // Renders the scene into an image of the given size in device pixels. Called on the main
    // thread, from the event loop.
    using Renderer = std::function<QImage(QSize)>;
    static constexpr QSize kInitialSize{960, 600};

    // Main thread, with a QGuiApplication. `renderer` and `closed` are called on the main thread
    // for the life of this object; `closed` when the user closes the window (the window is hidden
    // then, and stays so). Not shown until show().
    ViewWindow(Renderer renderer, std::function<void()> closed);

    // Asks for a render of the current scene at the window's size, on the main thread. Any thread.
    // Requests made before that render starts are served by it: a burst costs one render, and
    // one more if requests arrive while it runs.
    void requestRender();

    // Main thread: the mouse and keys move the view through `navigation` from now on (none: they
    // do nothing). `navigation` must outlive this window, or be replaced first.
    void setNavigation(ViewNavigation* navigation);

    // Main thread: the image last rendered, a null one before the first render.
    const QImage& image() const { return m_image; }

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    enum class Drag { None, Orbit, Pan };

    // Main thread.
    void renderNow();

    Renderer m_renderer;
    std::function<void()> m_closed;
    std::atomic<bool> m_renderQueued{false};
    QImage m_image;  // main thread only; its device pixel ratio set
    // Main thread only: the view's moves, the drag under way and the pointer's last position.
    ViewNavigation* m_navigation = nullptr;
    Drag m_drag = Drag::None;
    Qt::MouseButton m_dragButton = Qt::NoButton;
    QPointF m_lastPointer;
};

}  // namespace orvanta::render_window
