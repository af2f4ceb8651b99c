#pragma once
// The slideshow's controls: a dark rounded bar with Pause/Play, Themes, Music and End buttons,
// centred near the bottom of the slideshow. The controller shows it while the pointer moves and
// hides it again when the pointer rests. Hovering the music button asks for the music pop-up.

#include "Kit/LMButtonDelegate.h"
#include "appkit/View.h"

class LMButton;

class SlideshowControlBarDelegate {
public:
    virtual ~SlideshowControlBarDelegate() = default;
    virtual void controlBarPauseClicked() = 0;
    virtual void controlBarThemesClicked(LMButton* button) = 0;
    virtual void controlBarMusicClicked(LMButton* button) = 0;
    virtual void controlBarEndClicked() = 0;
    // The pointer entered (true) or left (false) the music button.
    virtual void controlBarMusicHovered(LMButton* button, bool inside) = 0;
};

class SlideshowControlBar : public kpv::View, public LMButtonDelegate {
public:
    static constexpr double kButtonSize = 28;
    static constexpr double kWidth = 4 * 40 + 16;
    static constexpr double kHeight = 44;
    static constexpr double kBottomMargin = 36;

    explicit SlideshowControlBar(SlideshowControlBarDelegate& delegate);

    // Shows Play instead of Pause while paused.
    void setPaused(bool paused);
    bool isPaused() const { return m_paused; }
    // Centres the bar near the bottom of `bounds` (its superview's).
    void placeIn(const kpv::Rect& bounds);

    LMButton* pauseButton() const { return m_pause; }
    LMButton* themesButton() const { return m_themes; }
    LMButton* musicButton() const { return m_music; }
    LMButton* endButton() const { return m_end; }

    void drawRect(const kpv::Rect& dirty) override;
    // A click on the bar between or beside its buttons is the bar's: it does not reach the
    // slideshow behind, where a click ends the show.
    void mouseDown(const kpv::Event&) override {}
    void mouseUp(const kpv::Event&) override {}
    // Whether the pointer is over the bar: the controls stay while it rests there.
    bool isPointerInside() const { return m_pointerInside; }
    void mouseEntered(const kpv::Event&) override { m_pointerInside = true; }
    void mouseExited(const kpv::Event&) override { m_pointerInside = false; }
    // Hidden, the bar forgets the pointer: the End button takes the bar out of the window with
    // the pointer still on it, and no leaving ever comes. The next show would keep its controls
    // up, over the photos, until the pointer happened to cross the bar again.
    void setHidden(bool hidden) override;
    void buttonMouseEntered(LMButton* button) override;
    void buttonMouseExited(LMButton* button) override;

private:
    LMButton* addButton(int slot, const char* image, const char* tip);

    SlideshowControlBarDelegate& m_delegate;
    LMButton* m_pause = nullptr;
    LMButton* m_themes = nullptr;
    LMButton* m_music = nullptr;
    LMButton* m_end = nullptr;
    bool m_paused = false;
    bool m_pointerInside = false;
};
