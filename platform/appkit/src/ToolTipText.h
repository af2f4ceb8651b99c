#pragma once
// Tool tips show their text as it stands. The toolkit reads a tip that looks like markup as
// markup, and tips often hold what came from a file (its name, its metadata): "<b>" in a name
// would turn bold, an image tag would be loaded. Such a tip is handed over escaped.

#include <QString>
#include <QTextDocument>

namespace kpv {

inline QString plainToolTip(const QString& tip)
{
    return Qt::mightBeRichText(tip) ? Qt::convertFromPlainText(tip, Qt::WhiteSpaceNormal) : tip;
}

} // namespace kpv
