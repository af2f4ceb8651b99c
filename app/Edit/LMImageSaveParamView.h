#pragma once

// The view of the save-format picker: the format pop-up and, under it, the options of the chosen
// format (the quality slider of JPEG and of JPEG 2000, the TIFF compression pop-up, nothing for
// PNG and BMP). It reads and writes the picker's properties only, so whatever the picker holds
// (set by its owner before showing, or left from the last save) is what the view shows.

#include "appkit/Color.h"
#include "appkit/View.h"

class EditPopUpButton;
class LMImageSaveParamController;
namespace kpv {
class Slider;
class TextField;
} // namespace kpv

class LMImageSaveParamView final : public kpv::View {
public:
    static constexpr double kWidth = 440;
    static constexpr double kHeight = 70;

    // The picker is not owned and must outlive the view.
    explicit LMImageSaveParamView(LMImageSaveParamController &controller);

    // Shows the picker's current values.
    void reload();
    // The captions' colour: light on the sheets' dark windows (the default), the dialog's own
    // text colour inside a save panel.
    void setLabelTextColor(const kpv::Color &colour);

    // The user's edits, as the controls send them.
    void formatChosen();
    void qualityChanged();
    void compressionChosen();

    EditPopUpButton *popupFormat() const { return m_popupFormat; }
    EditPopUpButton *popupCompression() const { return m_popupCompression; }
    kpv::Slider *sliderQuality() const { return m_sliderQuality; }
    // The option page shown: 0 none, 1 JPEG quality, 2 JPEG 2000 quality, 3 TIFF compression.
    int shownTab() const { return m_shownTab; }

private:
    LMImageSaveParamController &m_controller;
    kpv::TextField *m_textFormat = nullptr;
    EditPopUpButton *m_popupFormat = nullptr;
    kpv::TextField *m_textQuality = nullptr;
    kpv::TextField *m_textLeast = nullptr;
    kpv::TextField *m_textBest = nullptr;
    kpv::Slider *m_sliderQuality = nullptr;
    kpv::TextField *m_textCompression = nullptr;
    EditPopUpButton *m_popupCompression = nullptr;
    int m_shownTab = -1;
};
