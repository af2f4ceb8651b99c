#include "Kit/LMLengthLimitTextField.h"

#include "Kit/LMTextEditRules.h"

using namespace LMTextEditRules;

void LMLengthLimitTextField::setAllowedMaxLength(std::uint64_t max, bool ignoreWS)
{
    m_allowedMaxLength = max;
    m_ignoreWhiteSpace = ignoreWS;
}

bool LMLengthLimitTextField::lengthTest(qint64 location, qint64 length, const QString& replacement) const
{
    auto would = textAfterChange(stringValue(), location, length, replacement);
    if (!would)
        return false;
    return lengthAllows(*would, m_allowedMaxLength, m_ignoreWhiteSpace);
}

bool LMLengthLimitTextField::textView_shouldChangeTextInRange(qint64 location, qint64 length, const QString& repl)
{
    return lengthTest(location, length, repl);
}

bool LMLengthLimitTextField::replaceCharactersInRange(qint64 location, qint64 length, const QString& replacement)
{
    if (!textView_shouldChangeTextInRange(location, length, replacement))
        return false;
    auto would = textAfterChange(stringValue(), location, length, replacement);
    if (!would)
        return false;
    setStringValue(*would);
    return true;
}

bool LMLengthLimitTextField::insertText(const QString& text)
{
    return replaceCharactersInRange(stringValue().size(), 0, text);
}

bool LMLengthLimitTextField::deleteBackward()
{
    qint64 loc = 0, len = 0;
    lastCharacterRange(stringValue(), &loc, &len);
    if (len == 0)
        return false;
    return replaceCharactersInRange(loc, len, QString());
}

void LMLengthLimitTextField::keyDown(const kpv::Event& e)
{
    if (e.keyCode() == kpv::KeyCode::Delete) {
        deleteBackward();
        return;
    }
    const QString chars = e.characters();
    if (isTypedText(chars) && !(e.modifierFlags() & kpv::CommandKeyMask)) {
        insertText(chars);
        return;
    }
    kpv::TextField::keyDown(e);
}

bool LMNumericTextField::textView_shouldChangeTextInRange(qint64 location, qint64 length, const QString& repl)
{
    auto would = textAfterChange(stringValue(), location, length, repl);
    if (!would || !isAllDigits(*would))
        return false;
    return lengthTest(location, length, repl);
}

bool LMPathNameTextField::textView_shouldChangeTextInRange(qint64 location, qint64 length, const QString& repl)
{
    auto would = textAfterChange(stringValue(), location, length, repl);
    if (!would || (!would->isEmpty() && (*would)[0] == u'.'))
        return false;
    return lengthTest(location, length, repl);
}
