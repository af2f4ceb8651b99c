#include "AlertText.h"

#include <QGuiApplication>
#include <QLabel>
#include <QLayout>
#include <QMessageBox>
#include <QPainter>
#include <QScreen>
#include <QTextLayout>

#include <algorithm>
#include <cmath>

namespace kpv {
namespace {

// Wider than this a text wraps even where it could go on (as the toolkit's own alerts do).
constexpr int kComfortableWidth = 480;
// Room the alert keeps beside its texts (icon, margins, the window frame) within the screen.
constexpr int kRoomBesideText = 160;

// Lays plain text out at the width, wrapping at spaces and after slashes where it can and anywhere
// in a run too long for a line; draws it at the origin when given a painter. Answers the height.
qreal layoutWrapped(const QString& text, const QFont& font, int width, QPainter* painter, QPoint origin)
{
    width = std::max(width, 1);
    const QFontMetricsF fm(font);
    QTextOption option(Qt::AlignLeft | Qt::AlignTop);
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    qreal y = 0;
    for (const QString& paragraph : text.split(u'\n')) {
        QTextLayout layout(paragraph, font);
        layout.setTextOption(option);
        layout.beginLayout();
        for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
            line.setLineWidth(width);
            line.setPosition(QPointF(0, y));
            y += fm.lineSpacing();
        }
        layout.endLayout();
        if (painter)
            layout.draw(painter, origin);
    }
    return y;
}

int widestLine(const QString& text, const QFont& font)
{
    const QFontMetrics fm(font);
    int widest = 0;
    for (const QString& line : text.split(u'\n'))
        widest = std::max(widest, fm.horizontalAdvance(line));
    return widest + 1;
}

// Draws the text of one of the alert's labels, read from that label, wrapped to the width the
// alert gives it.
class WrappedAlertText final : public QWidget {
public:
    WrappedAlertText(QLabel* source, int widest) : QWidget(source->parentWidget()), m_source(source), m_widest(widest)
    {
        setObjectName(source->objectName() + QStringLiteral("_wrapped"));
        setFont(source->font());
        setPalette(source->palette());
        setContentsMargins(source->contentsMargins());
        QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Preferred);
        policy.setHeightForWidth(true);
        setSizePolicy(policy);
    }

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override
    {
        const QMargins m = contentsMargins();
        return int(std::ceil(layoutWrapped(m_source->text(), font(), width - m.left() - m.right(), nullptr, {}))) +
               m.top() + m.bottom();
    }
    QSize minimumSizeHint() const override
    {
        const QMargins m = contentsMargins();
        const int w = std::min(widestLine(m_source->text(), font()), m_widest) + m.left() + m.right();
        return {w, heightForWidth(w)};
    }
    QSize sizeHint() const override { return minimumSizeHint(); }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setPen(palette().color(QPalette::WindowText));
        const QRect r = contentsRect();
        layoutWrapped(m_source->text(), font(), r.width(), &painter, r.topLeft());
    }

private:
    QLabel* m_source;
    int m_widest;
};

void wrapLabel(QMessageBox* box, const char* name, int widest)
{
    auto* label = box->findChild<QLabel*>(QLatin1String(name), Qt::FindDirectChildrenOnly);
    if (!label || label->text().isEmpty() || !box->layout())
        return;
    auto* wrapped = new WrappedAlertText(label, widest);
    QLayoutItem* was = box->layout()->replaceWidget(label, wrapped);
    if (!was) {
        delete wrapped;
        return;
    }
    delete was; // the layout's item for the label, not the label
    label->hide();
}

} // namespace

WrappingLabel::WrappingLabel(QWidget* parent) : QLabel(parent)
{
    setTextFormat(Qt::PlainText);
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
}

int WrappingLabel::heightForWidth(int width) const
{
    const QMargins m = contentsMargins();
    return int(std::ceil(layoutWrapped(text(), font(), width - m.left() - m.right(), nullptr, {}))) + m.top() + m.bottom();
}

QSize WrappingLabel::minimumSizeHint() const
{
    // Narrow enough never to push its window wider; the height follows the width given.
    const QMargins m = contentsMargins();
    const int w = std::min(widestLine(text(), font()), 120) + m.left() + m.right();
    return {w, heightForWidth(w)};
}

QSize WrappingLabel::sizeHint() const
{
    const QMargins m = contentsMargins();
    const int w = std::min(widestLine(text(), font()), kComfortableWidth) + m.left() + m.right();
    return {w, heightForWidth(w)};
}

void WrappingLabel::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setPen(palette().color(QPalette::WindowText));
    const QRect r = contentsRect();
    layoutWrapped(text(), font(), r.width(), &painter, r.topLeft());
}

void wrapAlertTexts(QMessageBox* box)
{
    if (box->textFormat() != Qt::PlainText)
        return;
    QScreen* screen = box->parentWidget() ? box->parentWidget()->screen() : QGuiApplication::primaryScreen();
    const int screenWidth = screen ? screen->availableGeometry().width() : 1024;
    const int widest = std::max(120, std::min(kComfortableWidth, screenWidth - kRoomBesideText));
    wrapLabel(box, "qt_msgbox_label", widest);
    wrapLabel(box, "qt_msgbox_informativelabel", widest);
}

} // namespace kpv
