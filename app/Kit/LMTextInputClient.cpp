#include "Kit/LMTextInputClient.h"

#include "appkit/View.h"

#include <algorithm>

LMTextInputClient::LMTextInputClient(kpv::View& view, LMTextEditor& editor, FrameGetter frame,
                                     std::function<bool()> accepts, unsigned hints)
    : m_view(view), m_editor(editor), m_frame(std::move(frame)), m_accepts(std::move(accepts)), m_hints(hints)
{
}

void LMTextInputClient::setMarkedText(const QString& text, qint64 caretInText)
{
    m_editor.setMarkedText(text, caretInText);
    m_view.setNeedsDisplay();
}

void LMTextInputClient::insertText(const QString& text, qint64 replacementStart, qint64 replacementLength)
{
    m_editor.commitText(text, replacementStart, replacementLength);
    m_view.setNeedsDisplay();
}

// The editor's text is the committed text only: the input method knows what it composes.
QString LMTextInputClient::surroundingText() const { return m_editor.text(); }
qint64 LMTextInputClient::cursorPosition() const { return std::min<qint64>(m_editor.caret(), m_editor.text().size()); }
qint64 LMTextInputClient::anchorPosition() const { return std::min<qint64>(m_editor.anchor(), m_editor.text().size()); }
