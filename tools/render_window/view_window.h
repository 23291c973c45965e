// The render window's on-screen view: a top-level window titled "Orvanta render window" that shows
// the scene's last rendered image, scaled to the window. Only made on a platform with a display;
// headless, the program makes no window.
#pragma once

#include <QImage>
#include <QRasterWindow>
#include <QSize>

#include <atomic>
#include <functional>

namespace orvanta::render_window {

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

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    // Main thread.
    void renderNow();

    Renderer m_renderer;
    std::function<void()> m_closed;
    std::atomic<bool> m_renderQueued{false};
    QImage m_image;  // main thread only; its device pixel ratio set
};

}  // namespace orvanta::render_window
