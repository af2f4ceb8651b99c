#pragma once
// What the input method of the desktop talks to in the kit's text inputs: the text being
// composed goes to the input's editor as marked text, committed text through the input's own
// rules (its length limit cuts a commit as it cuts typing), and the caret and the text around it
// are told back so that the candidate list opens beside the caret.

#include "Kit/LMTextEditor.h"
#include "appkit/TextInput.h"

#include <functional>

namespace kpv {
class View;
}

class LMTextInputClient : public kpv::TextInputClient {
public:
    using FrameGetter = std::function<LMTextEditor::Frame()>;
    // `accepts` answers whether the input takes text now; `hints` are TextInputClient::Hint bits.
    LMTextInputClient(kpv::View& view, LMTextEditor& editor, FrameGetter frame, std::function<bool()> accepts,
                      unsigned hints);

    bool acceptsInputMethod() const override { return m_accepts(); }
    unsigned inputMethodHints() const override { return m_hints; }
    void setInputMethodHints(unsigned hints) { m_hints = hints; }
    void setMarkedText(const QString& text, qint64 caretInText) override;
    bool hasMarkedText() const override { return m_editor.hasMarkedText(); }
    void insertText(const QString& text, qint64 replacementStart, qint64 replacementLength) override;
    kpv::Rect caretRect() override { return m_editor.caretRect(m_frame()); }
    QString surroundingText() const override;
    qint64 cursorPosition() const override;
    qint64 anchorPosition() const override;

private:
    kpv::View& m_view;
    LMTextEditor& m_editor;
    FrameGetter m_frame;
    std::function<bool()> m_accepts;
    unsigned m_hints;
};
