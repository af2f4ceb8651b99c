#pragma once
// A short message over the slideshow, near its top: why the chosen theme or music does not play.
// The controller shows it for a few seconds.

#include "appkit/View.h"

#include <QString>

class SlideshowNoticeView : public kpv::View {
public:
    static constexpr double kHeight = 34;
    static constexpr double kTopMargin = 28;

    SlideshowNoticeView();
    void setText(const QString& text);
    QString text() const { return m_text; }
    // Sizes the notice to its text and centres it near the top of `bounds`.
    void placeIn(const kpv::Rect& bounds);
    void drawRect(const kpv::Rect& dirty) override;

private:
    QString m_text;
};
