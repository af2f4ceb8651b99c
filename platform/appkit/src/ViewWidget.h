#pragma once
// The Qt widget behind a View: paints through the view and carries no logic of its own.
// Input reaches views through the Application's event filter; only a view shown in a toolkit
// dialog gets its keys here, while its widget holds the dialog's focus.

#include <QPainter>
#include <QWidget>

namespace kpv {

class View;

class ViewWidget : public QWidget {
public:
    explicit ViewWidget(View* view) : m_view(view)
    {
        setAttribute(Qt::WA_NoSystemBackground);
        setMouseTracking(true);
    }
    View* view() const { return m_view; }
    void detachView() { m_view = nullptr; }

protected:
    void paintEvent(QPaintEvent*) override;
    void keyPressEvent(QKeyEvent* e) override;
    void focusInEvent(QFocusEvent* e) override;
    void focusOutEvent(QFocusEvent* e) override;

private:
    View* m_view;
};

// The View a widget stands for (nullptr for other widgets).
View* viewForWidget(const QWidget* w);
void registerViewWidget(const QWidget* w, View* v);
void unregisterViewWidget(const QWidget* w);

} // namespace kpv
