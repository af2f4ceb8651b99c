#include "appkit/Control.h"

#include "appkit/GraphicsContext.h"
#include "appkit/Window.h"
#include "foundation/StringFormat.h"

#include <QFontMetricsF>

#include <algorithm>
#include <cmath>

namespace kpv {

void Control::setEnabled(bool enabled)
{
    if (m_enabled == enabled)
        return;
    m_enabled = enabled;
    setNeedsDisplay();
}

bool Control::sendAction(const Action& action, void* target)
{
    return Application::shared().sendAction(action, target, this);
}

void Button::setState(long s)
{
    if (m_state == s)
        return;
    m_state = s;
    setNeedsDisplay();
}

void Button::setTitle(const QString& t)
{
    m_title = t;
    setNeedsDisplay();
}

void Button::mouseDown(const Event& e)
{
    if (!isEnabled())
        return;
    Window* w = window();
    bool inside = mouseInBounds(convertPointFromView(e.locationInWindow(), nullptr));
    m_highlighted = inside;
    setNeedsDisplay();
    if (isContinuous() && inside)
        sendAction();
    bool released = false;
    while (w) {
        EventPtr next = w->nextEventMatchingMask(LeftMouseUpMask | LeftMouseDraggedMask);
        if (!next)
            break; // the loop was abandoned: no click
        inside = mouseInBounds(convertPointFromView(next->locationInWindow(), nullptr));
        if (!inside)
            mouseTrackedOutside(*next);
        if (next->type() == LeftMouseUp) {
            released = inside;
            break;
        }
        if (inside != m_highlighted) {
            m_highlighted = inside;
            setNeedsDisplay();
        }
        if (isContinuous() && inside)
            sendAction();
    }
    m_highlighted = false;
    setNeedsDisplay();
    if (released)
        performClick();
}

void Button::performClick()
{
    if (!isEnabled())
        return;
    if (m_type == ToggleButton || m_type == SwitchButton)
        setState(m_state == OnState ? OffState : OnState);
    else if (m_type == RadioButton)
        setState(OnState);
    sendAction();
}

bool Button::performKeyAction(const Event& e)
{
    if (e.type() != KeyDown || (e.modifierFlags() & (CommandKeyMask | AlternateKeyMask | ControlKeyMask)))
        return false;
    const unsigned short key = e.keyCode();
    if (key != KeyCode::Space && key != KeyCode::Return && key != KeyCode::KeypadEnter)
        return false;
    if (!isEnabled())
        return false;
    if (!e.isARepeat())
        performClick();
    return true;
}

bool Slider::performKeyAction(const Event& e)
{
    if (e.type() != KeyDown || !isEnabled() || (e.modifierFlags() & (CommandKeyMask | AlternateKeyMask | ControlKeyMask)))
        return false;
    const double range = m_max - m_min;
    double to = m_value;
    switch (e.keyCode()) {
    case KeyCode::RightArrow:
    case KeyCode::UpArrow:
        to = m_value + range / 20;
        break;
    case KeyCode::LeftArrow:
    case KeyCode::DownArrow:
        to = m_value - range / 20;
        break;
    case KeyCode::PageUp:
        to = m_value + range / 4;
        break;
    case KeyCode::PageDown:
        to = m_value - range / 4;
        break;
    case KeyCode::Home:
        to = m_min;
        break;
    case KeyCode::End:
        to = m_max;
        break;
    default:
        return false;
    }
    const double before = m_value;
    setDoubleValue(to);
    if (m_value != before)
        sendAction();
    return true;
}

void Button::drawRect(const Rect&)
{
    GraphicsContext* ctx = GraphicsContext::current();
    if (!ctx)
        return;
    Color fill = m_highlighted ? Color(0.25, 0.25, 0.27) : Color(0.33, 0.34, 0.36);
    ctx->fillRoundedRect(insetRect(bounds(), 0.5, 0.5), 4, fill);
    ctx->drawTextInRect(m_title, bounds(), Font(), isEnabled() ? Color::controlTextColor() : Color::disabledControlTextColor(),
                        Qt::AlignCenter);
}

Rect SliderCell::knobRectFlipped(bool flipped) const
{
    if (!m_slider)
        return Rect();
    const Rect b = m_slider->bounds();
    const double range = m_slider->maxValue() - m_slider->minValue();
    double f = range > 0 ? (m_slider->doubleValue() - m_slider->minValue()) / range : 0;
    f = std::clamp(f, 0.0, 1.0);
    const double t = m_knobThickness;
    if (m_slider->isVertical()) {
        double y = (b.height() - t) * f;
        if (flipped)
            y = b.height() - t - y;
        return Rect(b.x(), b.y() + y, b.width(), t);
    }
    return Rect(b.x() + (b.width() - t) * f, b.y() + (b.height() - t) / 2, t, t);
}

void SliderCell::drawKnob()
{
    drawKnob(knobRectFlipped(m_slider ? m_slider->isFlipped() : false));
}

void SliderCell::drawWithFrame(const Rect& frame, View* view)
{
    drawBarInside(frame, view ? view->isFlipped() : false);
    drawKnob();
}

void SliderCell::drawBarInside(const Rect& frame, bool)
{
    if (auto* ctx = GraphicsContext::current())
        ctx->fillRoundedRect(Rect(frame.x(), frame.midY() - 2, frame.width(), 4), 2, Color(0.2, 0.2, 0.22));
}

void SliderCell::drawKnob(const Rect& knobRect)
{
    if (auto* ctx = GraphicsContext::current())
        ctx->fillEllipse(knobRect, Color(0.8, 0.8, 0.82));
}

Slider::Slider(const Rect& frame) : Control(frame)
{
    setCell(std::make_unique<SliderCell>());
}

Slider::~Slider() = default;

void Slider::setCell(std::unique_ptr<SliderCell> cell)
{
    m_cell = std::move(cell);
    if (m_cell)
        m_cell->setControlView(this);
    setNeedsDisplay();
}

void Slider::setMinValue(double v)
{
    m_min = v;
    setNeedsDisplay();
}

void Slider::setMaxValue(double v)
{
    m_max = v;
    setNeedsDisplay();
}

void Slider::setDoubleValue(double v)
{
    v = std::clamp(v, std::min(m_min, m_max), std::max(m_min, m_max));
    if (v == m_value)
        return;
    m_value = v;
    setNeedsDisplay();
}

double Slider::valueAt(Point p) const
{
    const double t = m_cell ? m_cell->knobThickness() : 0;
    const Rect b = bounds();
    double f = isVertical() ? (p.y - t / 2) / std::max(1.0, b.height() - t)
                            : (p.x - t / 2) / std::max(1.0, b.width() - t);
    if (isVertical() && isFlipped())
        f = 1 - f;
    return m_min + std::clamp(f, 0.0, 1.0) * (m_max - m_min);
}

void Slider::mouseDragged(const Event& e)
{
    if (!isEnabled())
        return;
    const double before = m_value;
    setDoubleValue(valueAt(convertPointFromView(e.locationInWindow(), nullptr)));
    if (m_value != before)
        sendAction();
}

void Slider::mouseDown(const Event& e)
{
    if (!isEnabled())
        return;
    Point p = convertPointFromView(e.locationInWindow(), nullptr);
    const Rect knob = m_cell ? m_cell->knobRectFlipped(isFlipped()) : Rect();
    // Grabbing the knob keeps the grab offset; a click elsewhere jumps there first.
    double grab = 0;
    if (mouseInRect(p, knob, isFlipped()))
        grab = isVertical() ? p.y - knob.midY() : p.x - knob.midX();
    else {
        setDoubleValue(valueAt(p));
        sendAction();
    }
    Window* w = window();
    while (w) {
        EventPtr next = w->nextEventMatchingMask(LeftMouseUpMask | LeftMouseDraggedMask);
        if (!next)
            break;
        p = convertPointFromView(next->locationInWindow(), nullptr);
        if (isVertical())
            p.y -= grab;
        else
            p.x -= grab;
        const double before = m_value;
        setDoubleValue(valueAt(p));
        if (next->type() == LeftMouseUp) {
            sendAction();
            break;
        }
        if (isContinuous() && before != m_value)
            sendAction();
    }
}

void Slider::drawRect(const Rect&)
{
    if (m_cell)
        m_cell->drawWithFrame(bounds(), this);
}

void Scroller::setDoubleValue(double v)
{
    v = std::clamp(v, 0.0, 1.0);
    if (v == m_value)
        return;
    m_value = v;
    setNeedsDisplay();
}

void Scroller::setKnobProportion(double p)
{
    m_proportion = std::clamp(p, 0.0, 1.0);
    setNeedsDisplay();
}

Rect Scroller::rectForPart(int part) const
{
    const Rect b = bounds();
    if (part == ScrollerKnobSlot)
        return b;
    if (part != ScrollerKnob || m_proportion >= 1.0)
        return Rect();
    if (isVertical()) {
        const double len = std::max(b.width(), std::round(b.height() * m_proportion));
        double y = (b.height() - len) * m_value;
        if (!isFlipped())
            y = b.height() - len - y; // value 0 is the top
        return Rect(0, y, b.width(), len);
    }
    const double len = std::max(b.height(), std::round(b.width() * m_proportion));
    return Rect((b.width() - len) * m_value, 0, len, b.height());
}

void Scroller::drawKnob()
{
    if (auto* ctx = GraphicsContext::current())
        ctx->fillRoundedRect(insetRect(rectForPart(ScrollerKnob), 2, 2), 3, Color(0.6, 0.6, 0.62, 0.8));
}

void Scroller::drawKnobSlotInRect(const Rect& slot, bool)
{
    if (auto* ctx = GraphicsContext::current())
        ctx->fillRect(slot, Color(0.15, 0.15, 0.16, 0.6));
}

void Scroller::drawRect(const Rect&)
{
    drawKnobSlotInRect(rectForPart(ScrollerKnobSlot), false);
    drawKnob();
}

void Scroller::mouseDown(const Event& e)
{
    if (!isEnabled())
        return;
    const Rect knob = rectForPart(ScrollerKnob);
    if (knob.isEmpty())
        return;
    Point start = convertPointFromView(e.locationInWindow(), nullptr);
    const double startValue = m_value;
    const Rect b = bounds();
    const double travel = isVertical() ? b.height() - knob.height() : b.width() - knob.width();
    Window* w = window();
    while (w && travel > 0) {
        EventPtr next = w->nextEventMatchingMask(LeftMouseUpMask | LeftMouseDraggedMask);
        if (!next)
            break;
        Point p = convertPointFromView(next->locationInWindow(), nullptr);
        double d = isVertical() ? (p.y - start.y) : (p.x - start.x);
        if (isVertical() && !isFlipped())
            d = -d;
        setDoubleValue(startValue + d / travel);
        sendAction();
        if (next->type() == LeftMouseUp)
            break;
    }
}

void TextField::setStringValue(const QString& s)
{
    if (s == m_text)
        return;
    m_text = s;
    setNeedsDisplay();
}

void TextField::setTextColor(const Color& c)
{
    m_color = c;
    setNeedsDisplay();
}

void TextField::setFont(const Font& f)
{
    m_font = f;
    setNeedsDisplay();
}

void TextField::setAlignment(int a)
{
    m_alignment = a;
    setNeedsDisplay();
}

Size TextField::attributedStringValueSize() const { return GraphicsContext::sizeOfText(lineText(), m_font); }

void TextField::setLineBreakMode(LineBreakMode mode)
{
    m_lineBreakMode = mode;
    setNeedsDisplay();
}

QString TextField::lineText() const
{
    // A field shortened in the middle shows one line: a line break in its text would draw a
    // second line over whatever stands below the field.
    return m_lineBreakMode == LineBreakByTruncatingMiddle ? singleLine(m_text) : m_text;
}

QString TextField::displayedStringValue() const
{
    if (m_lineBreakMode != LineBreakByTruncatingMiddle)
        return m_text;
    return QFontMetricsF(m_font.toQFont()).elidedText(lineText(), Qt::ElideMiddle, bounds().width());
}

void TextField::drawRect(const Rect&)
{
    if (auto* ctx = GraphicsContext::current())
        ctx->drawTextInRect(displayedStringValue(), bounds(), m_font, m_color, m_alignment);
}

} // namespace kpv
