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
    virtual bool isFavoriteFile(const LMPathString&) const { return false; }
    // Navigates to the index; `done` gets true when the navigation did not take place.
    virtual void doNavCurFileToIndex(std::size_t index, std::function<void(bool notNavigated)> done) = 0;
    virtual void switchToFitin() {}
    virtual bool beginDraggingSession(kpv::View*, const kpv::Event&, std::size_t) { return false; }
    // The container at whose top edge the bin sits.
    virtual kpv::View* viewNavToolbarContainer() const { return nullptr; }
    // Placeholders: kind 1 loading ("Img_DefaultThumb"), kind 2 bad ("Img_BadThumb").
    virtual QImage defaultImage(int kind) const;
};
