#pragma once
// The editing that the kit's text inputs share: a caret and a selection over the input's text, the
// keys of this desktop (arrows, Home and End, Shift to select, Ctrl+A/C/X/V, Backspace and
// Delete, Return in a multi-line input, Ctrl+Z to undo and Ctrl+Shift+Z or Ctrl+Y to redo), the
// mouse (a click places the caret, a drag or a Shift+click selects, a double click selects a
// word, a triple click the line, the middle button pastes the desktop's selection, the right
// button offers the editing menu, the wheel scrolls a long text), text composed with an input
// method, and the drawing of the text with its selection and caret.
//
// Every change goes through the input's own replace function, which applies its rules (length,
// digits, no leading point) and refuses an edit whole. A paste is the exception: one that would
// pass a limit is cut to what still fits, so pasting never overflows, and the input is told
// (setShortenedHandler) so that the user can be told what was left out.
//
// Positions are UTF-16 indices into the text; a surrogate pair or a combined character is never
// split. Main thread only.

#include "appkit/Color.h"
#include "appkit/Geometry.h"

#include <QString>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <memory>
#include <vector>

namespace kpv {
class Event;
class GraphicsContext;
class Menu;
} // namespace kpv

class QTextLayout;

class LMTextEditor {
public:
    // The input's text; its rules, asked without changing anything; and the one road by which the
    // text changes (true when applied).
    using TextGetter = std::function<QString()>;
    using Replacer = std::function<bool(qint64 location, qint64 length, const QString& replacement)>;

    LMTextEditor(TextGetter text, Replacer allows, Replacer replace, bool multiLine);

    // The input's text as the editor knows it (without any text being composed).
    QString text() const { return m_text(); }
    qint64 caret() const { return m_caret; }
    qint64 anchor() const { return m_anchor; }
    qint64 selectionStart() const { return std::min(m_caret, m_anchor); }
    qint64 selectionLength() const { return std::abs(m_caret - m_anchor); }
    QString selectedText() const;
    // Moves the caret (and, unless extending, the anchor with it); clamped to the text.
    void setCaret(qint64 position, bool extend = false);
    void selectAll();
    // Typed text in place of the selection, and Backspace, as the keys do; false when refused.
    bool insertText(const QString& text);
    bool deleteBackward();
    // Takes back the last edit (a run of typing or of deletes counts as one), or makes it again;
    // false when there is none or the input refuses it. A text set from outside starts afresh.
    bool undo();
    bool redo();
    bool canUndo() const { return !m_undo.empty(); }
    bool canRedo() const { return !m_redo.empty(); }
    // Called after a paste (or text an input method committed) was cut to fit the input's limit:
    // how many units were offered and how many were taken (0 when none fitted, or when an input
    // that takes a paste whole refused it).
    using ShortenedHandler = std::function<void(qint64 offered, qint64 kept)>;
    void setShortenedHandler(ShortenedHandler handler) { m_shortened = std::move(handler); }
    // Called when the input refused a key's edit (not a paste): the text typed, or none when the
    // key deleted (what would be left broke the input's rule).
    using TypingRefusedHandler = std::function<void(const QString& typed)>;
    void setTypingRefusedHandler(TypingRefusedHandler handler) { m_typingRefused = std::move(handler); }
    // Off for an input whose text is a value (a number): a paste that does not fit whole is
    // refused whole rather than cut into another value.
    void setCutsPasteToFit(bool cuts) { m_cutsPasteToFit = cuts; }

    // The text drawn in `rect` of the view: where it is, for the mouse and for drawing. `flipped`
    // is the view's coordinate system; `alignment` the input's (Qt flags).
    struct Frame {
        kpv::Rect rect;
        kpv::Font font;
        int alignment = 0;
        bool flipped = false;
    };

    // A key of the input; false when it is none of the editing keys (the view passes it on).
    bool keyDown(const kpv::Event& e, const Frame& frame);
    void mouseDown(const kpv::Event& e, kpv::Point locationInView, const Frame& frame);
    void mouseDragged(kpv::Point locationInView, const Frame& frame);
    // The middle button: the desktop's selection (what was last selected anywhere) is pasted at
    // the point, cut to what the input still takes; false when nothing was pasted. Text selected
    // here by mouse or keyboard becomes that selection.
    bool pasteSelectionAt(kpv::Point locationInView, const Frame& frame);
    // Scrolls a multi-line text taller than its box (`deltaY` up positive, in points when
    // `precise`, else in wheel notches); false when it cannot move that way.
    bool scrollWheel(double deltaY, bool precise, const Frame& frame);
    // The menu of a right click: Cut, Copy, Paste and Select All, each enabled when it applies
    // and doing what its Ctrl key does; `changed` runs after each.
    std::shared_ptr<kpv::Menu> contextMenu(const Frame& frame, bool editable, std::function<void()> changed);
    // The text with its selection, and the caret while `focused`.
    void draw(kpv::GraphicsContext& gc, const Frame& frame, const kpv::Color& textColor, bool focused);

    // The text position nearest to a point of the view.
    qint64 positionAt(kpv::Point locationInView, const Frame& frame) const;

    // Composing with an input method: the text being composed stands at the caret, in place of
    // the selection while it lasts, underlined; it is no part of the text (nor of its length)
    // until committed. An empty text ends the composition and leaves the text as it was.
    void setMarkedText(const QString& text, qint64 caretInText);
    bool hasMarkedText() const { return !m_marked.isEmpty(); }
    QString markedText() const { return m_marked; }
    // Text the input method commits: in place of the selection, or of the range `replacementStart`
    // and `replacementLength` from the caret when one is given. Taken as typed text is: what
    // would pass the input's limit is cut off. Ends the composition; false when nothing was taken.
    bool commitText(const QString& text, qint64 replacementStart = 0, qint64 replacementLength = 0);
    // Ends a composition before the caret moves by other means (a click, a key, the focus going
    // elsewhere): the input method is asked to commit it, and what it leaves is inserted as typed.
    void finishComposing();
    // The caret as drawn (in the text being composed, its caret), in the view's coordinates.
    kpv::Rect caretRect(const Frame& frame) const;

private:
    // One change of the text: what stood at `location` and what took its place.
    enum class EditKind { Typing, Deleting, Other };
    struct Edit {
        qint64 location = 0;
        QString removed;
        QString inserted;
        EditKind kind = EditKind::Other;
    };
    void recordEdit(qint64 location, const QString& removed, const QString& inserted, EditKind kind);
    bool replaceSelection(const QString& replacement, bool cutToFit, EditKind kind);

    // Catches up with a text replaced from outside (the caret goes to its end).
    void sync();
    // Offers the selection, when there is one, as the desktop's selection.
    void publishSelection();
    bool deleteAround(bool forward);
    qint64 nextPosition(qint64 from, bool forward, bool word) const;
    // Whether the paragraph at `position` runs from right to left (its first strong letter does).
    bool rightToLeftAt(qint64 position) const;
    qint64 lineEdge(qint64 from, bool end, const Frame& frame) const;
    qint64 verticalMove(qint64 from, bool down, const Frame& frame) const;
    void layOut(QTextLayout& layout, const Frame& frame) const;
    double topOffset(const QTextLayout& layout, const Frame& frame) const;
    QPointF toLayout(kpv::Point p, const Frame& frame) const;

    // The text as drawn: the text being composed in place of the selection, and where the caret is in it.
    QString shownText() const;
    qint64 shownCaret() const;

    TextGetter m_text;
    Replacer m_allows;
    Replacer m_replace;
    bool m_multiLine;
    QString m_known; // the text as the editor last saw it
    qint64 m_caret = 0;
    qint64 m_anchor = 0;
    QString m_marked; // the text being composed with an input method
    qint64 m_markedCaret = 0;
    mutable double m_scrollY = 0; // how far a multi-line text taller than its box is scrolled
    mutable double m_scrollX = 0; // how far a one-line text wider than its input is scrolled
    mutable qint64 m_scrolledForCaret = -1; // the caret and text length the scroll last followed
    mutable qint64 m_scrolledForSize = -1;
    std::vector<Edit> m_undo;
    std::vector<Edit> m_redo;
    ShortenedHandler m_shortened;
    TypingRefusedHandler m_typingRefused;
    bool m_cutsPasteToFit = true;
};
