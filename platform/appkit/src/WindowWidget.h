#pragma once
// The top-level Qt widget behind a Window.

#include <QWidget>

namespace kpv {

class Window;

class WindowWidget : public QWidget {
public:
    explicit WindowWidget(Window* w) : m_window(w) { setMouseTracking(true); }
    Window* kpvWindow() const { return m_window; }
    void detach() { m_window = nullptr; }

protected:
    void resizeEvent(class QResizeEvent*) override;
    void moveEvent(class QMoveEvent*) override;
    void closeEvent(class QCloseEvent*) override;
    void paintEvent(class QPaintEvent*) override;
    void changeEvent(class QEvent*) override;
    void showEvent(class QShowEvent*) override;
    void hideEvent(class QHideEvent*) override;

private:
    Window* m_window;
};

} // namespace kpv
