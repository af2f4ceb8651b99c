#pragma once
// What the photo bin reads of the view-mode controller and the favourites. The shell connects
// an adapter over the navigator; tests use a fake.

#include "Model/LMNavFileInfo.h"
#include "Model/LMPathString.h"

#include <QImage>
#include <QList>
#include <cstddef>
#include <functional>
#include <memory>

namespace kpv {
class Event;
class View;
}

class PhotoBinNavigator {
public:
    static constexpr std::size_t kNotFound = static_cast<std::size_t>(-1);
    virtual ~PhotoBinNavigator() = default;
    virtual const QList<LMPathString>& filePaths() const = 0;
    virtual std::size_t curFileIndex() const = 0;
    // The navigator's record of the file; nullptr when it has none.
    virtual std::shared_ptr<LMNavFileInfo> fileInfoByPath(const LMPathString& path) const = 0;
    virtual bool isFavoriteFile(const LMPathString& path) const = 0;
    // Navigates to the index; `done` gets true when the navigation did not take place.
    virtual void doNavCurFileToIndex(std::size_t index, std::function<void(bool notNavigated)> done) = 0;
    virtual void switchToFitin() = 0;
    // Starts a drag of the file at the index out of the strip; true when it began.
    virtual bool beginDraggingSession(kpv::View* view, const kpv::Event& e, std::size_t index) = 0;
    // The container at whose top edge the bin sits (nullptr: nowhere to show it).
    virtual kpv::View* viewNavToolbarContainer() const = 0;
    // Placeholders: kind 1 loading ("Img_DefaultThumb"), kind 2 bad ("Img_BadThumb"); the skin's
    // images unless a caller draws its own.
    virtual QImage defaultImage(int kind) const;
};
