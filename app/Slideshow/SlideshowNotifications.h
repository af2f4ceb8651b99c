#pragma once
// Notifications and keys the slideshow posts or answers.

#include <QMetaType>
#include <QVariantMap>
#include <memory>

// Posted by the slideshow mode once its first slide is on screen.
inline constexpr const char* DidSlideshowFirstFrameDisplayedNotification = "DidSlideshowFirstFrameDisplayed";
// Posted before the cursor is hidden. Notifications carry a read-only user information, so the
// poster puts a shared, writable dictionary under QueryAutoHideCursorReplyKey; an observer that
// wants the cursor to stay writes DisableAutoHideCursorKey = true into it.
inline constexpr const char* QueryAutoHideCursorNotification = "QueryAutoHideCursor";
inline constexpr const char* QueryAutoHideCursorReplyKey = "reply";
inline constexpr const char* DisableAutoHideCursorKey = "DisableAutoHideCursor";
// Posted on the main thread when the theme manager has finished reading the catalogues.
inline constexpr const char* DidLoadSlideshowThemesNotification = "DidLoadSlideshowThemes";

using SlideshowQueryReply = std::shared_ptr<QVariantMap>;
Q_DECLARE_METATYPE(SlideshowQueryReply)
