#pragma once
// A short message over the slideshow, near its top: why the chosen theme or music does not play.
// The controller shows it for a few seconds. A message wider than the slideshow is wrapped onto
// more lines, never cut: the reason is usually at its end.

#include "appkit/View.h"

#include <QString>
#include <QStringList>

class SlideshowNoticeView : public kpv::View {
public:
    static constexpr double kHeight = 34;
    static constexpr double kTopMargin = 28;

    SlideshowNoticeView();
    void setText(const QString& text);
    QString text() const { return m_text; }
    // Sizes the notice to its text and centres it near the top of `bounds`.
    void placeIn(const kpv::Rect& bounds);
    // The lines the text is shown in, as placeIn laid them out.
    const QStringList& lines() const { return m_lines; }
    void drawRect(const kpv::Rect& dirty) override;

private:
    QString m_text;
    QStringList m_lines;
};
