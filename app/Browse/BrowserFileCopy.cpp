#include "Browse/BrowserFileCopy.h"

#include "Model/LMFailedFiles.h"
#include "appkit/Pasteboard.h"
#include "foundation/Bundle.h"
#include "foundation/FileNames.h"

#include <QUrl>

QString BrowserFileCopy::copyFilesToPasteboard(const QList<LMPathString>& paths)
{
    if (paths.isEmpty())
        return {};
    const kpv::Bundle& bundle = kpv::Bundle::mainBundle();
    QList<QUrl> urls;
    LMFailedFiles gone;
    for (const LMPathString& path : paths) {
        // A link counts by what it leads to: a dangling one gives the paste nothing either.
        if (kpv::pathStatus(path.path()).exists)
            urls.append(path.filePathURL());
        else
            gone.add(path, bundle.localizedString(QStringLiteral("IDS_CopyFileGone")));
    }
    kpv::Pasteboard& board = kpv::Pasteboard::generalPasteboard();
    if (urls.isEmpty())
        return bundle.localizedString(QStringLiteral("IDS_FailedCopyFiles")) + QLatin1Char('\n') + gone.details();
    if (!board.writeFileURLs(urls))
        return bundle.localizedString(QStringLiteral("IDS_FailedCopyFilesNoClipboard"));
    if (gone.isEmpty())
        return {};
    return bundle.localizedStringWithFormat(QStringLiteral("IDS_CopiedSomeFiles_Fmt"), long(urls.size()),
                                            long(paths.size())) +
           QLatin1Char('\n') + gone.details();
}
