#pragma once
// The skinned check box and radio button: a state image at a left margin, centred vertically,
// and a title in a text field beside it. It never changes its own check state: a click sends
// the action and the owner sets the state.

#include "Kit/LMSimButtonBase.h"
#include "appkit/Color.h"
#include "appkit/Control.h"
#include "appkit/Image.h"

#include <QString>

class LMNormalCheckButton : public LMSimButtonBase {
public:
    explicit LMNormalCheckButton(const kpv::Rect& frame = kpv::Rect());

    // The title field, placed beside the button by the owner (not owned).
    kpv::TextField* textButtonTitle() const { return m_textButtonTitle; }
    void setTextButtonTitle(kpv::TextField* field) { m_textButtonTitle = field; }
    // Keeps the title field's current colour as the enabled colour.
    void awakeFromNib();

    QString imageName() const { return m_imageName; }
    void setImageName(const QString& name);
    // The check state: 1 is on, anything else off. Separate from the base class's state.
    std::int64_t state() const { return m_checkState; }
    void setState(std::int64_t state);
    std::int64_t iconLeftMargin() const { return m_iconLeftMargin; }
    void setIconLeftMargin(std::int64_t m) { m_iconLeftMargin = m; }
    void setTitle(const QString& title);
    void updateButtonFrame();
    void updateButtonUI() override;
    // Space ticks it; Return and Enter are left to the dialog, whose default button they press.
    bool performKeyAction(const kpv::Event& e) override;

    kpv::ImagePtr imageByState(long visualState);
    kpv::ImagePtr imageByState_(long code);
    void drawRect(const kpv::Rect& dirty) override;

private:
    kpv::TextField* m_textButtonTitle = nullptr;
    std::int64_t m_checkState = 0;
    QString m_imageName;
    std::int64_t m_iconLeftMargin = 15;
    kpv::Color m_buttonTitleNormalColor;
};
