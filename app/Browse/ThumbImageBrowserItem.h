#pragma once
// One file of the thumbnail mode's grid. Its identifier joins the path and the modification date
// the item was made for, so the browser's cached picture is dropped when the file changes. An
// item made with a date source reads the date when it is first needed (when its cell comes into
// sight), so that a folder of thousands of files is laid out without touching each file.

#include "Browse/LMImageBrowserItem.h"

#include "Model/LMPathString.h"

#include <QDateTime>
#include <functional>
#include <memory>

class ThumbImageBrowserItem : public LMImageBrowserItem {
public:
    using DateSource = std::function<QDateTime(const LMPathString&)>;

    ThumbImageBrowserItem(const LMPathString& filePath, const QDateTime& fileModificationDate);
    ThumbImageBrowserItem(const LMPathString& filePath, DateSource dateSource);

    const LMPathString& filePath() const { return m_filePath; }
    const QDateTime& fileModificationDate() const;
    // Whether the date was read (or given) already.
    bool hasFileModificationDate() const { return m_hasDate; }
    QString imageUID() const override;
    QString imageRepresentation() const override { return m_filePath.path(); }
    // Reads the date from the file again and remakes the identifier.
    void updateForFileModified();

private:
    void makeImageUID() const;

    LMPathString m_filePath;
    DateSource m_dateSource;
    mutable QDateTime m_fileModificationDate;
    mutable QString m_imageUID;
    mutable bool m_hasDate = false;
};

using ThumbImageBrowserItemPtr = std::shared_ptr<ThumbImageBrowserItem>;
