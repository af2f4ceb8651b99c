#include "Model/LMFileCopy.h"

#include "foundation/FileReplace.h"
#include "imageio/FileAccess.h"

#include <QByteArray>

bool LMFileCopy::copyToNewFile(const QString &source, const QString &target, QString *error, bool *nameTaken)
{
    if (nameTaken)
        *nameTaken = false;
    QByteArray bytes;
    if (!kpv::readRegularFile(source, kMaxBytes, &bytes, error))
        return false;
    kpv::FileReplaceOptions options;
    options.createOnly = true;
    options.nameTaken = nameTaken;
    return kpv::replaceFileContents(target, bytes, options, error);
}
