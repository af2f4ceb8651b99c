#pragma once
// The rules by which the kit's text inputs refuse an edit before it happens. Lengths are UTF-16
// code units; a limit of 0 means no limit.

#include <QString>
#include <cstdint>
#include <optional>

namespace LMTextEditRules {

// The text after replacing `length` units at `location` by `replacement`; nothing when the range
// does not lie inside the text or one of its edges falls inside a surrogate pair.
std::optional<QString> textAfterChange(const QString& current, qint64 location, qint64 length,
                                       const QString& replacement);
// The text without blanks (spaces, tabs and other space separators) at both ends.
QString trimmedWhiteSpace(const QString& s);
bool lengthAllows(const QString& wouldBe, std::uint64_t allowedMaxLength, bool ignoreWhiteSpace);
// The length test of an edit: the text as it would be fits the limit, or the text is already
// longer than the limit (set lower after it was written) and the edit makes it no longer, so the
// user can always shorten a text to fit.
bool lengthAllowsChange(const QString& current, const QString& wouldBe, std::uint64_t allowedMaxLength,
                        bool ignoreWhiteSpace);
bool isAllDigits(const QString& s);
// Whether typed characters are text to insert (their first character, a surrogate pair taken
// whole, is printable), rather than a control key.
bool isTypedText(const QString& chars);
// Text from outside (a paste, the desktop's selection, an input method) as an input takes it:
// every line break (CR LF, CR, LF, the Unicode line and paragraph separators) is one LF in an
// input of several lines, and a space, as a tab is, in a one-line input; other control characters
// are dropped, so that no pasted text puts them in a name.
QString insertableText(const QString& s, bool multiLine);
// The range of the last character (a surrogate pair counts as one), for a delete key.
void lastCharacterRange(const QString& s, qint64* location, qint64* length);

} // namespace LMTextEditRules
