#pragma once
// Controls: a view with an enabled flag, an action and a target, and the small family of
// standard controls that the skinned ones build on (button, slider, scroller, text label).

#include "appkit/Application.h"
#include "appkit/Color.h"
#include "appkit/View.h"

#include <memory>

namespace kpv {

class Control : public View {
public:
    explicit Control(const Rect& frame = Rect()) : View(frame) {}

    bool isEnabled() const { return m_enabled; }
    virtual void setEnabled(bool enabled);
    const Action& action() const { return m_action; }
    void setAction(Action a) { m_action = std::move(a); }
    void* target() const { return m_target; }
    void setTarget(void* t) { m_target = t; }
    bool isContinuous() const { return m_continuous; }
    void setContinuous(bool c) { m_continuous = c; }
    long tag() const { return m_tag; }
    void setTag(long t) { m_tag = t; }
    // Sends `action` (this control's when none is given) through the application.
    virtual bool sendAction(const Action& action, void* target);
    bool sendAction() { return sendAction(m_action, m_target); }
    // A control takes the keyboard focus only while it is enabled.
    bool canBecomeKeyView() const override { return m_enabled && View::canBecomeKeyView(); }

private:
    bool m_enabled = true;
    bool m_continuous = false;
    long m_tag = 0;
    Action m_action;
    void* m_target = nullptr;
};

enum ControlState : long { OffState = 0, OnState = 1, MixedState = -1 };

enum ButtonType : int { MomentaryPushButton = 0, ToggleButton = 2, SwitchButton = 3, RadioButton = 4 };

class Button : public Control {
public:
    explicit Button(const Rect& frame = Rect()) : Control(frame) {}

    long state() const { return m_state; }
    virtual void setState(long s);
    QString title() const { return m_title; }
    void setTitle(const QString& t);
    ButtonType buttonType() const { return m_type; }
    void setButtonType(ButtonType t) { m_type = t; }
    bool isHighlighted() const { return m_highlighted; }

    // Tracks the press until the mouse goes up; a release inside toggles the state (toggle
    // types) and sends the action. A continuous button also sends it while held inside.
    void mouseDown(const Event& e) override;
    void drawRect(const Rect& dirty) override;
    // With the focus, Space, Return and Enter press the button as a click would.
    bool acceptsKeyFocus() const override { return true; }
    bool performKeyAction(const Event& e) override;
    // A click as the mouse makes it: the state changes for the toggling types, then the action.
    virtual void performClick();

protected:
    // A drag or the release of the press that leaves the button: a button that opened a menu
    // passes it on, so that pressing, dragging onto an item and releasing there chooses it.
    virtual void mouseTrackedOutside(const Event&) {}

private:
    long m_state = OffState;
    QString m_title;
    ButtonType m_type = MomentaryPushButton;
    bool m_highlighted = false;
};

class Slider;

// The part of a slider that measures and draws; subclasses replace the drawing.
class SliderCell {
public:
    virtual ~SliderCell() = default;
    Slider* controlView() const { return m_slider; }
    void setControlView(Slider* s) { m_slider = s; }
    double knobThickness() const { return m_knobThickness; }
    void setKnobThickness(double t) { m_knobThickness = t; }
    // The knob's rectangle in the slider's bounds for its value.
    virtual Rect knobRectFlipped(bool flipped) const;
    virtual void drawWithFrame(const Rect& frame, View* view);
    virtual void drawBarInside(const Rect& frame, bool flipped);
    virtual void drawKnob(const Rect& knobRect);
    void drawKnob();

private:
    Slider* m_slider = nullptr;
    double m_knobThickness = 12;
};

class Slider : public Control {
public:
    explicit Slider(const Rect& frame = Rect());
    ~Slider() override;

    SliderCell* cell() const { return m_cell.get(); }
    void setCell(std::unique_ptr<SliderCell> cell);
    double minValue() const { return m_min; }
    void setMinValue(double v);
    double maxValue() const { return m_max; }
    void setMaxValue(double v);
    double doubleValue() const { return m_value; }
    void setDoubleValue(double v);
    bool isVertical() const { return frame().height() > frame().width(); }

    // Drags the knob (or jumps to the click first) until the mouse goes up.
    void mouseDown(const Event& e) override;
    // A drag that reaches the slider outside its own tracking (it sits where no window of ours
    // runs the loop): the knob follows the pointer.
    void mouseDragged(const Event& e) override;
    void drawRect(const Rect& dirty) override;
    // With the focus, the arrows move the knob a twentieth of the range (Page Up and Down a
    // quarter), Home and End to the ends; each move sends the action.
    bool acceptsKeyFocus() const override { return true; }
    bool performKeyAction(const Event& e) override;

private:
    double valueAt(Point p) const;
    std::unique_ptr<SliderCell> m_cell;
    double m_min = 0, m_max = 1, m_value = 0;
};

enum ScrollerPart : int { ScrollerNoPart = 0, ScrollerKnob = 2, ScrollerKnobSlot = 6 };

class Scroller : public Control {
public:
    explicit Scroller(const Rect& frame = Rect()) : Control(frame) {}

    double doubleValue() const { return m_value; }
    void setDoubleValue(double v);
    double knobProportion() const { return m_proportion; }
    void setKnobProportion(double p);
    bool isVertical() const { return frame().height() >= frame().width(); }
    virtual Rect rectForPart(int part) const;
    virtual void drawKnob();
    virtual void drawKnobSlotInRect(const Rect& slot, bool highlight);
    void drawRect(const Rect& dirty) override;
    void mouseDown(const Event& e) override;

private:
    double m_value = 0, m_proportion = 0.2;
};

// A line of text that is not edited.
class TextField : public View {
public:
    explicit TextField(const Rect& frame = Rect()) : View(frame) {}

    QString stringValue() const { return m_text; }
    void setStringValue(const QString& s);
    Color textColor() const { return m_color; }
    void setTextColor(const Color& c);
    Font font() const { return m_font; }
    void setFont(const Font& f);
    int alignment() const { return m_alignment; }
    void setAlignment(int qtAlignment);
    // The size the text takes with the field's font.
    Size attributedStringValueSize() const;
    // What a text wider than the field gives up: its end (clipped, the default) or its middle,
    // for an ellipsis, so that both ends of a long path stay readable.
    enum LineBreakMode { LineBreakByClipping, LineBreakByTruncatingMiddle };
    LineBreakMode lineBreakMode() const { return m_lineBreakMode; }
    void setLineBreakMode(LineBreakMode mode);
    // The text as it is drawn.
    QString displayedStringValue() const;
    void drawRect(const Rect& dirty) override;

private:
    // The text as one line where the field shows one line, else as it is.
    QString lineText() const;

    QString m_text;
    Color m_color = Color::controlTextColor();
    Font m_font;
    int m_alignment = Qt::AlignLeft | Qt::AlignVCenter;
    LineBreakMode m_lineBreakMode = LineBreakByClipping;
};

} // namespace kpv
