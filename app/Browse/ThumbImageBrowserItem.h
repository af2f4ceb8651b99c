#pragma once
// One file of the thumbnail mode's grid. Its identifier joins the path and the modification date
// the item was made for, so the browser's cached picture is dropped when the file changes. An
// item made with a date source reads the date when it is first needed (when its cell comes into
// sight), so that a folder of thousands of files is laid out without touching each file.

#include "Browse/LMImageBrowserItem.h"

#include "Model/LMPathString.h"

#include <QDateTime>
#include <cstdint>
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
    // The file the date was read from (see FileStamp): a picture read of another file that stood
    // at the path under the same date is not shown for this one.
    QString imageVersion() const override;
    // Reads the date from the file again and remakes the identifier.
    void updateForFileModified();
    // Whether another file now stands at the path with the date the item was made for: one put
    // there by a program that keeps the dates of what it copies, or rewritten with its old date
    // set again. Only known once the date was read.
    bool wasReplaced() const;

private:
    void makeImageUID() const;

    LMPathString m_filePath;
    DateSource m_dateSource;
    mutable QDateTime m_fileModificationDate;
    mutable QString m_imageUID;
    mutable bool m_hasDate = false;
    // The file the date was read from: which file it is, and when it last changed in any way (a
    // write sets that time, whatever date the writer sets afterwards).
    struct FileStamp {
        bool valid = false;
        std::uint64_t device = 0, inode = 0;
        std::int64_t size = 0, changedSecs = 0, changedNsec = 0;
        bool operator==(const FileStamp&) const = default;
    };
    static FileStamp fileStamp(const LMPathString& path);
    void takeFileStamp() const;
    mutable FileStamp m_fileStamp;
    mutable QString m_imageVersion;
};

using ThumbImageBrowserItemPtr = std::shared_ptr<ThumbImageBrowserItem>;
