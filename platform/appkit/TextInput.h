#pragma once
// The seam between a view that edits text and the desktop's input method (the composing of
// Chinese, Japanese or Korean text, dead keys, on-screen keyboards). A view that edits text hands
// out a TextInputClient while it is its window's first responder; the platform layer then answers
// the input method's questions (is input wanted, where is the caret, what text surrounds it) and
// passes on what the user composes and commits.
//
// Text being composed is "marked": shown at the caret, underlined, and not yet part of the text.
// Committed text is inserted in place of the selection, as typed text is.

#include "appkit/Geometry.h"

#include <QString>

namespace kpv {

class View;

class TextInputClient {
public:
    virtual ~TextInputClient() = default;

    // Whether the input method may be used at all (no for a field whose text must stay hidden).
    virtual bool acceptsInputMethod() const { return true; }
    enum Hint : unsigned {
        HintNone = 0,
        HintDigitsOnly = 1 << 0, // only the digits 0 to 9 are taken
        HintHidden = 1 << 1, // a secret: not shown, not remembered, not predicted
        HintMultiLine = 1 << 2, // Return breaks the line
    };
    virtual unsigned inputMethodHints() const { return HintNone; }

    // The text being composed, with the composing caret in it (UTF-16 index); an empty text ends
    // the composition without inserting anything.
    virtual void setMarkedText(const QString& text, qint64 caretInText) = 0;
    virtual bool hasMarkedText() const = 0;
    // Text the input method commits. When `replacementLength` is not 0 (or `replacementStart` is
    // not 0), the committed text first replaces that range, counted from the caret; otherwise it
    // replaces the selection. Ends any composition.
    virtual void insertText(const QString& text, qint64 replacementStart, qint64 replacementLength) = 0;

    // The caret (with the text being composed, the composing caret) in the view's coordinates,
    // as high as the line it stands in: the input method opens its candidate list beside it.
    virtual Rect caretRect() = 0;
    // The committed text around the caret, and the caret and the other end of the selection in it.
    virtual QString surroundingText() const = 0;
    virtual qint64 cursorPosition() const = 0;
    virtual qint64 anchorPosition() const = 0;
};

// Tells the input method that the caret, the text or the wish for input of `view` changed; does
// nothing unless `view` is the first responder of the window that has the keyboard.
void updateInputMethod(View* view);
// Asks the input method to commit what the user is composing now (as on a click elsewhere or
// when the focus moves on) and to start afresh.
void commitInputMethod();

} // namespace kpv
