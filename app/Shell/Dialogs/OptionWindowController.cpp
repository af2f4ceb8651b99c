#include "Shell/Dialogs/OptionWindowController.h"

#include "Kit/LMNineSliceImageRep.h"
#include "Kit/LMNineSliceImageView.h"
#include "Kit/LMNormalCheckButton.h"
#include "Kit/LMNormalCustomButton.h"
#include "Kit/LMNormalCustomWindow.h"
#include "Kit/LMButton.h"
#include "appkit/Control.h"
#include "appkit/Event.h"
#include "foundation/Bundle.h"

namespace {
constexpr double kWidth = 540;
constexpr double kHeight = 400;
constexpr double kPageWidth = 500;
constexpr double kPageHeight = 250;
constexpr unsigned short kEscKeyCode = 53;
const kpv::Color kTitleColor(230 / 255.0, 230 / 255.0, 230 / 255.0);

QString text(const char* key) { return kpv::Bundle::mainBundle().localizedString(QString::fromLatin1(key)); }

// The file information checks in the order the page lists them (two columns, top down).
constexpr long kFileInfoTypes[] = {0, 1, 2, 3, 4, 5, 18, 6, 7, 9, 10, 8, 11, 12, 13, 14, 15, 16, 17};
} // namespace

OptionWindowController::OptionWindowController(MainConfig& config, FileTypeAssociator& associator,
                                               kpv::NotificationCenter& center)
    : m_model(config, associator, center)
{
    loadWindow();
    awakeFromNib();
}

OptionWindowController::~OptionWindowController()
{
    if (m_window)
        m_window->setCustomWindowDelegate(nullptr);
    // The rows' views belong to the pages; the rows go first.
    m_items.clear();
}

LMNormalCheckButton* OptionWindowController::makeCheck(kpv::View* page, const kpv::Rect& frame, const char* titleKey,
                                                       bool radio)
{
    auto* check = new LMNormalCheckButton(frame);
    auto* title = new kpv::TextField(kpv::Rect(frame.x() + 22, frame.y(), frame.width() - 22, frame.height()));
    title->setTextColor(kpv::Color::whiteColor());
    page->addSubview(check);
    page->addSubview(title);
    check->setTextButtonTitle(title);
    check->setIconLeftMargin(0);
    check->awakeFromNib();
    check->setImageName(radio ? QStringLiteral("icon_rado") : QStringLiteral("icon_chck"));
    if (titleKey)
        check->setTitle(text(titleKey));
    return check;
}

void OptionWindowController::loadWindow()
{
    m_window = std::make_unique<LMNormalCustomWindow>(kpv::Rect(0, 0, kWidth, kHeight));
    m_window->setCustomWindowDelegate(this);
    kpv::View* content = m_window->contentView();
    m_txtTitle = new kpv::TextField(kpv::Rect(40, kHeight - 34, kWidth - 80, 22));
    m_txtTitle->setAlignment(Qt::AlignCenter);
    m_txtTitle->setTextColor(kTitleColor);
    content->addSubview(m_txtTitle);

    const double tabWidth = 156;
    const double tabGap = 6;
    const double tabX = (kWidth - 3 * tabWidth - 2 * tabGap) / 2;
    for (long tab = 1; tab <= 3; ++tab) {
        auto* button =
            new LMNormalCustomButton(kpv::Rect(tabX + (tab - 1) * (tabWidth + tabGap), kHeight - 76, tabWidth, 28));
        button->setAction([this, tab](kpv::View*) { optionTabButtonClicked(tab); });
        content->addSubview(button);
        m_tabButtons[tab - 1] = button;
    }
    m_nineSliceImageViewInfoContainer =
        new LMNineSliceImageView(kpv::Rect((kWidth - kPageWidth) / 2, 62, kPageWidth, kPageHeight));
    content->addSubview(m_nineSliceImageViewInfoContainer);

    m_btnApply = new LMNormalCustomButton(kpv::Rect(kWidth - 20 - 90, 16, 90, 30));
    m_btnCancel = new LMNormalCustomButton(kpv::Rect(kWidth - 20 - 2 * 90 - 10, 16, 90, 30));
    m_btnOK = new LMNormalCustomButton(kpv::Rect(kWidth - 20 - 3 * 90 - 20, 16, 90, 30));
    m_btnOK->setAction([this](kpv::View*) { okButtonClicked(); });
    m_btnCancel->setAction([this](kpv::View*) { cancelButtonClicked(); });
    m_btnApply->setAction([this](kpv::View*) { applyButtonClicked(); });
    content->addSubview(m_btnOK);
    content->addSubview(m_btnCancel);
    content->addSubview(m_btnApply);
    m_window->setDefaultButton(m_btnOK);
    // The frame's close button drops the edits as Cancel does.
    if (m_window->btnClose())
        m_window->btnClose()->setAction([this](kpv::View*) { closeWindow(); });

    buildGeneralPage();
    buildFileInfoPage();
    buildAssociatePage();
}

void OptionWindowController::buildGeneralPage()
{
    auto page = std::make_unique<kpv::View>(kpv::Rect(0, 0, kPageWidth, kPageHeight));
    const double w = kPageWidth - 60;
    m_chkEnableMouseWheel = makeCheck(page.get(), kpv::Rect(30, 200, w, 22), "IDS_MouseWheelSettings", false);
    m_rdoMouseWheelNavFile = makeCheck(page.get(), kpv::Rect(56, 172, w - 26, 22), "IDS_PageTurn", true);
    m_rdoMouseWheelZoom = makeCheck(page.get(), kpv::Rect(56, 146, w - 26, 22), "IDS_ZoomInOut", true);
    m_chkEnableAnimationZoom = makeCheck(page.get(), kpv::Rect(30, 108, w, 22), "IDS_EnableZoomAnimation", false);
    m_chkKeepZoomRatio = makeCheck(page.get(), kpv::Rect(30, 78, w, 22), "IDS_KeepZoomRatio", false);
    m_chkViewPhotosInSubfolder = makeCheck(page.get(), kpv::Rect(30, 48, w, 22), "IDS_ViewPhotosInSubfolder", false);
    m_chkUseDesktopColours = makeCheck(page.get(), kpv::Rect(30, 18, w, 22), "IDS_UseDesktopColours", false);
    m_chkEnableMouseWheel->setAction([this](kpv::View*) { enableMouseWheelCheckButtonClicked(); });
    m_rdoMouseWheelNavFile->setAction([this](kpv::View*) { generalRadioButtonClicked(false); });
    m_rdoMouseWheelZoom->setAction([this](kpv::View*) { generalRadioButtonClicked(true); });
    m_chkEnableAnimationZoom->setAction([this](kpv::View*) { enableAnimationZoomCheckButtonClicked(); });
    m_chkKeepZoomRatio->setAction([this](kpv::View*) { keepZoomRatioCheckButtonClicked(); });
    m_chkViewPhotosInSubfolder->setAction([this](kpv::View*) { viewPhotosInSubfolderRatioCheckButtonClicked(); });
    m_chkUseDesktopColours->setAction([this](kpv::View*) { useDesktopColoursCheckButtonClicked(); });
    m_pages[0] = page.get();
    m_pageHolders[0] = std::move(page);
}

void OptionWindowController::buildFileInfoPage()
{
    auto page = std::make_unique<kpv::View>(kpv::Rect(0, 0, kPageWidth, kPageHeight));
    // Tab runs down the first column, then down the second, as the list reads.
    page->setKeyViewsReadInColumns(true);
    const int perColumn = 10;
    for (size_t i = 0; i < std::size(kFileInfoTypes); ++i) {
        const long type = kFileInfoTypes[i];
        const double x = 30 + double(i / perColumn) * 230;
        const double y = kPageHeight - 34 - double(i % perColumn) * 22;
        LMNormalCheckButton* check = makeCheck(page.get(), kpv::Rect(x, y, 200, 20), nullptr, false);
        check->setTitle(OptionWindowModel::fileInfoDisplayNameByType(type));
        check->setAction([this, type](kpv::View*) { fileInfoCheckButtonClicked(type); });
        m_fileInfoBtnAndTypeDict[type] = check;
    }
    m_pages[1] = page.get();
    m_pageHolders[1] = std::move(page);
}

void OptionWindowController::buildAssociatePage()
{
    auto page = std::make_unique<kpv::View>(kpv::Rect(0, 0, kPageWidth, kPageHeight));
    m_model.initAssociateFileTypes();
    const auto& groups = m_model.arrayFileTypes();
    for (int row = 0; row < groups.size(); ++row) {
        const double x = 30 + double(row % 2) * 230;
        const double y = kPageHeight - 40 - double(row / 2) * 32;
        auto item = std::make_unique<OptionFileAssociateItemController>(
            page.get(), kpv::Rect(x, y, OptionFileAssociateItemController::kItemWidth,
                                  OptionFileAssociateItemController::kItemHeight),
            row, this);
        item->setItemInfo(groups[row]);
        m_items.push_back(std::move(item));
    }
    m_pages[2] = page.get();
    m_pageHolders[2] = std::move(page);
}

void OptionWindowController::awakeFromNib()
{
    m_window->setMouseDownMoveable(true);
    m_txtTitle->setStringValue(text("IDS_Preferences"));
    m_nineSliceImageViewInfoContainer->setBackgroundImageRep(
        std::make_shared<LMNineSliceImageRep>(QStringLiteral("bg_option"), kpv::Point{4, 4}, kpv::Point{4, 4}));
    const char* tabTitles[3] = {"IDS_General", "IDS_FileInformation", "IDS_FileAssociation"};
    for (int i = 0; i < 3; ++i) {
        LMNormalCustomButton* tab = m_tabButtons[i];
        tab->setCareState(true);
        tab->setBkgrdImageName(QStringLiteral("bt_option"), kpv::Point{4, 4}, kpv::Point{4, 4});
        tab->setTitle(text(tabTitles[i]));
        tab->setTitleColorForStateOn(kpv::Color::whiteColor());
    }
    m_btnOK->setTitle(text("IDS_OK"));
    m_btnCancel->setTitle(text("IDS_Cancel"));
    m_btnApply->setTitle(text("IDS_Apply"));
    updateTabPage();
}

void OptionWindowController::showWithTabType(long tab, bool associateAllFileTypes)
{
    const bool visible = m_window->isVisible();
    m_model.showWithTabType(tab, associateAllFileTypes, visible);
    updateTabPage();
    for (const auto& item : m_items)
        item->updateItemSelectState(m_model.arrayFileTypes()[item->row()]);
    if (!visible)
        m_window->center();
    m_window->makeKeyAndOrderFront();
    updateUI();
    if (!visible || !m_window->firstResponder())
        focusFirstChoice();
}

void OptionWindowController::focusFirstChoice()
{
    // The keyboard starts on the page's first choice, where the focus ring shows it; Return
    // still presses OK from there, and Shift+Tab reaches the tabs.
    kpv::View* page = currentPage();
    const std::vector<kpv::View*> choices = page ? page->keyViewsInScreenOrder() : std::vector<kpv::View*>();
    if (!choices.empty() && m_window->makeFirstResponder(choices.front()))
        choices.front()->didReceiveKeyFocusFromKeyboard();
}

kpv::View* OptionWindowController::currentPage() const
{
    const auto& subs = m_nineSliceImageViewInfoContainer->subviews();
    for (kpv::View* page : m_pages)
        if (std::find(subs.begin(), subs.end(), page) != subs.end())
            return page;
    return nullptr;
}

void OptionWindowController::updateTabPage()
{
    const long tab = m_model.curOptionTabType();
    if (tab < 1 || tab > 3)
        return;
    kpv::View* wanted = m_pages[tab - 1];
    if (currentPage() != wanted) {
        for (int i = 0; i < 3; ++i) {
            if (m_pages[i]->superview() == m_nineSliceImageViewInfoContainer) {
                m_pages[i]->removeFromSuperview();
                m_pageHolders[i].reset(m_pages[i]);
            }
        }
        wanted->setFrame(m_nineSliceImageViewInfoContainer->bounds());
        m_nineSliceImageViewInfoContainer->addSubview(m_pageHolders[tab - 1].release());
    }
    for (long t = 1; t <= 3; ++t)
        m_tabButtons[t - 1]->setState(t == tab ? 1 : 0);
}

void OptionWindowController::updateUI()
{
    const bool wheel = m_model.mouseWheelEnabled();
    m_chkEnableMouseWheel->setState(wheel ? 1 : 0);
    m_rdoMouseWheelNavFile->setEnabled(wheel);
    m_rdoMouseWheelZoom->setEnabled(wheel);
    m_rdoMouseWheelNavFile->setState(m_model.zoomWhileMouseWheel() ? 0 : 1);
    m_rdoMouseWheelZoom->setState(m_model.zoomWhileMouseWheel() ? 1 : 0);
    m_chkEnableAnimationZoom->setState(m_model.animationZoom() ? 1 : 0);
    m_chkKeepZoomRatio->setState(m_model.keepZoomRatio() ? 1 : 0);
    m_chkViewPhotosInSubfolder->setState(m_model.viewPhotosInSubfolder() ? 1 : 0);
    m_chkUseDesktopColours->setState(m_model.useDesktopColours() ? 1 : 0);
    for (const auto& [type, check] : m_fileInfoBtnAndTypeDict)
        check->setState((m_model.filePropertyMask() >> type) & 1);
    m_btnApply->setEnabled(m_model.applyEnabled());
}

LMNormalCheckButton* OptionWindowController::fileInfoCheckButton(long type) const
{
    auto it = m_fileInfoBtnAndTypeDict.find(type);
    return it == m_fileInfoBtnAndTypeDict.end() ? nullptr : it->second;
}

LMNormalCustomButton* OptionWindowController::tabButton(long tab) const
{
    return tab >= 1 && tab <= 3 ? m_tabButtons[tab - 1] : nullptr;
}

// ---- Actions ----

void OptionWindowController::optionTabButtonClicked(long tab)
{
    m_model.optionTabButtonClicked(tab);
    updateTabPage();
    // A choice of the page left behind had the focus: it moves to the new page.
    if (!m_window->firstResponder())
        focusFirstChoice();
}

void OptionWindowController::generalRadioButtonClicked(bool zoom)
{
    m_model.setZoomWhileMouseWheel(zoom);
    updateUI();
}

void OptionWindowController::enableMouseWheelCheckButtonClicked()
{
    m_model.setMouseWheelEnabled(!m_model.mouseWheelEnabled());
    updateUI();
}

void OptionWindowController::enableAnimationZoomCheckButtonClicked()
{
    m_model.setAnimationZoom(!m_model.animationZoom());
    updateUI();
}

void OptionWindowController::keepZoomRatioCheckButtonClicked()
{
    m_model.setKeepZoomRatio(!m_model.keepZoomRatio());
    updateUI();
}

void OptionWindowController::viewPhotosInSubfolderRatioCheckButtonClicked()
{
    m_model.setViewPhotosInSubfolder(!m_model.viewPhotosInSubfolder());
    updateUI();
}

void OptionWindowController::useDesktopColoursCheckButtonClicked()
{
    m_model.setUseDesktopColours(!m_model.useDesktopColours());
    updateUI();
}

void OptionWindowController::fileInfoCheckButtonClicked(long type)
{
    m_model.fileInfoCheckButtonClicked(type);
    updateUI();
}

void OptionWindowController::optionFileAssociateItemController(OptionFileAssociateItemController* item, int row)
{
    m_model.optionFileAssociateItemClicked(row);
    updateUI();
    if (item && row >= 0 && row < m_model.arrayFileTypes().size())
        item->updateItemSelectState(m_model.arrayFileTypes()[row]);
}

void OptionWindowController::saveSettings()
{
    QString error;
    if (!m_model.saveSettings(&error) && m_failureHandler)
        m_failureHandler(kpv::Bundle::mainBundle().localizedStringWithFormat(QStringLiteral("IDS_SettingsNotSaved"), error));
}

void OptionWindowController::closeWindow()
{
    m_window->close();
    m_model.closeWindow();
}

void OptionWindowController::okButtonClicked()
{
    saveSettings();
    closeWindow();
    m_btnOK->normalizeRollState();
}

void OptionWindowController::cancelButtonClicked()
{
    closeWindow();
    m_btnCancel->normalizeRollState();
}

void OptionWindowController::applyButtonClicked()
{
    saveSettings();
    updateUI();
}

bool OptionWindowController::customWindow(LMCustomWindow*, const kpv::Event& keyDown)
{
    if (keyDown.keyCode() != kEscKeyCode)
        return false;
    closeWindow();
    return true;
}
