#pragma once
// One file of the thumbnail mode's grid. Its identifier joins the path and the modification date
// the item was made for, so the browser's cached picture is dropped when the file changes.

#include "Browse/LMImageBrowserItem.h"

#include "Model/LMPathString.h"

#include <QDateTime>
#include <memory>

class ThumbImageBrowserItem : public LMImageBrowserItem {
public:
    ThumbImageBrowserItem(const LMPathString& filePath, const QDateTime& fileModificationDate);

    const LMPathString& filePath() const { return m_filePath; }
    const QDateTime& fileModificationDate() const { return m_fileModificationDate; }
    QString imageUID() const override { return m_imageUID; }
    QString imageRepresentation() const override { return m_filePath.path(); }
    // Reads the date from the file again and remakes the identifier.
    void updateForFileModified();

private:
    void makeImageUID();

    LMPathString m_filePath;
    QDateTime m_fileModificationDate;
    QString m_imageUID;
};

using ThumbImageBrowserItemPtr = std::shared_ptr<ThumbImageBrowserItem>;
