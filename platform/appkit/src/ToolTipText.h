#pragma once
// Tool tips show their text as it stands. The toolkit reads a tip that looks like markup as
// markup, and tips often hold what came from a file (its name, its metadata): "<b>" in a name
// would turn bold, an image tag would be loaded. Such a tip is handed over escaped.
//
// A tip wider than the screen is wrapped by the toolkit, but only where the text allows a
// break: a long file name has none and ran off both edges of the screen. Runs without a space
// get invisible break opportunities, in what is shown only.

#include <QString>
#include <QTextDocument>

namespace kpv {

inline QString plainToolTip(const QString& tip)
{
    constexpr int kLongestRun = 60;
    QString shown;
    shown.reserve(tip.size());
    int run = 0;
    for (qsizetype i = 0; i < tip.size(); ++i) {
        const QChar c = tip.at(i);
        shown += c;
        run = c.isSpace() ? 0 : run + 1;
        const bool pairGoesOn = c.isHighSurrogate() && i + 1 < tip.size();
        if (run >= kLongestRun && !pairGoesOn) {
            shown += QChar(0x200B); // zero-width space
            run = 0;
        }
    }
    return Qt::mightBeRichText(shown) ? Qt::convertFromPlainText(shown, Qt::WhiteSpaceNormal) : shown;
}

} // namespace kpv
