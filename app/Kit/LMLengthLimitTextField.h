#pragma once
// One-line inputs that refuse an edit before it happens: a maximum length (optionally counted
// without blanks at both ends), digits only, or no leading point. Typing appends at the end and
// the delete key removes the last character; a paste replaces a range. An edit that would break
// a rule is refused whole, never cut.

#include "appkit/Control.h"

#include <cstdint>

class LMLengthLimitTextField : public kpv::TextField {
public:
    explicit LMLengthLimitTextField(const kpv::Rect& frame = kpv::Rect()) : kpv::TextField(frame) {}

    void setAllowedMaxLength(std::uint64_t max, bool ignoreWhiteSpace);
    std::uint64_t allowedMaxLength() const { return m_allowedMaxLength; }
    bool ignoreWhiteSpace() const { return m_ignoreWhiteSpace; }

    // The test before each change of the text.
    virtual bool textView_shouldChangeTextInRange(qint64 location, qint64 length, const QString& replacement);
    // Applies the change when the test accepts it; false when it was refused.
    bool replaceCharactersInRange(qint64 location, qint64 length, const QString& replacement);
    bool insertText(const QString& text);
    bool deleteBackward();

    bool acceptsFirstResponder() const override { return true; }
    void keyDown(const kpv::Event& e) override;

protected:
    bool lengthTest(qint64 location, qint64 length, const QString& replacement) const;

private:
    std::uint64_t m_allowedMaxLength = 0;
    bool m_ignoreWhiteSpace = false;
};

// Digits 0 to 9 only; emptying the field is allowed.
class LMNumericTextField : public LMLengthLimitTextField {
public:
    using LMLengthLimitTextField::LMLengthLimitTextField;
    bool textView_shouldChangeTextInRange(qint64 location, qint64 length, const QString& replacement) override;
};

// A file name: it may not start with a point.
class LMPathNameTextField : public LMLengthLimitTextField {
public:
    using LMLengthLimitTextField::LMLengthLimitTextField;
    bool textView_shouldChangeTextInRange(qint64 location, qint64 length, const QString& replacement) override;
};
