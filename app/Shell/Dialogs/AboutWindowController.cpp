#include "Shell/Dialogs/AboutWindowController.h"

#include "Kit/LMButton.h"
#include "Kit/LMCustomWindow.h"
#include "Kit/LMLinkButton.h"
#include "Kit/LMNineSliceImageRep.h"
#include "appkit/Control.h"
#include "foundation/Bundle.h"

#include <algorithm>
#include <cmath>

namespace {
constexpr double kWidth = 520;
constexpr double kHeight = 200;
constexpr unsigned short kEscKeyCode = 53;

QString infoString(const char* key)
{
    return kpv::Bundle::mainBundle().objectForInfoDictionaryKey(QString::fromLatin1(key)).toString();
}
} // namespace

AboutWindowController::AboutWindowController(QString productName, QString version, QString copyright)
{
    loadWindow();
    awakeFromNib(productName, version, copyright);
}

AboutWindowController::AboutWindowController()
    : AboutWindowController(infoString("CFBundleName"), infoString("CFBundleShortVersionString"),
                            infoString("NSHumanReadableCopyright"))
{
}

AboutWindowController::~AboutWindowController()
{
    if (m_window)
        m_window->setCustomWindowDelegate(nullptr);
}

void AboutWindowController::loadWindow()
{
    m_window = std::make_unique<LMCustomWindow>(kpv::Rect(0, 0, kWidth, kHeight));
    m_window->setCustomWindowDelegate(this);
    m_window->setPopWindowPanel();
    kpv::View* content = m_window->contentView();
    m_btnClose = new LMButton(kpv::Rect(kWidth - 30, kHeight - 30, 20, 20));
    m_btnClose->setAction([this](kpv::View*) { closeButtonClicked(); });
    m_txtProductName = new kpv::TextField(kpv::Rect(20, 116, kWidth - 40, 30));
    m_txtVersion = new kpv::TextField(kpv::Rect(20, 88, kWidth - 40, 20));
    m_txtCopyright = new kpv::TextField(kpv::Rect(20, 34, kWidth - 40, 20));
    m_btnWebsite = new LMLinkButton(kpv::Rect(kWidth / 2 - 110, 62, 220, 20));
    m_btnWebsite->setAction([this](kpv::View*) {
        if (m_websiteHandler)
            m_websiteHandler();
    });
    m_txtProductName->setFont(kpv::Font::boldSystemFontOfSize(18));
    m_txtCopyright->setFont(kpv::Font::systemFontOfSize(10));
    for (kpv::TextField* field : {m_txtProductName, m_txtVersion, m_txtCopyright})
        field->setAlignment(Qt::AlignCenter);
    content->addSubview(m_txtProductName);
    content->addSubview(m_txtVersion);
    content->addSubview(m_txtCopyright);
    content->addSubview(m_btnWebsite);
    content->addSubview(m_btnClose);
}

void AboutWindowController::awakeFromNib(const QString& productName, const QString& version, const QString& copyright)
{
    m_window->setMouseDownMoveable(true);
    m_btnClose->setImageName(QStringLiteral("close"));
    m_txtProductName->setStringValue(productName);
    m_txtVersion->setStringValue(version);
    m_txtCopyright->setStringValue(copyright);
    kpv::TextField* link = m_btnWebsite->textButtonTitle();
    link->setAlignment(Qt::AlignCenter);
    link->setTextColor(kpv::Color(0.35, 0.65, 1.0, 1.0));
    link->setStringValue(kpv::Bundle::mainBundle().localizedString(QStringLiteral("IDS_AboutHelpLink")));
    // The link is as wide as its words, centred under the version.
    const double linkWidth = std::min(kWidth - 40, std::ceil(link->attributedStringValueSize().width) + 8);
    const kpv::Rect f = m_btnWebsite->frame();
    m_btnWebsite->setFrame(kpv::Rect(std::round((kWidth - linkWidth) / 2), f.y(), linkWidth, f.height()));
    m_btnWebsite->awakeFromNib();
    m_btnWebsite->setRollTextColor(kpv::Color(0.65, 0.85, 1.0, 1.0));
}

void AboutWindowController::showWindow()
{
    if (!m_window->isVisible())
        m_window->center();
    m_window->makeKeyAndOrderFront();
}

void AboutWindowController::closeButtonClicked() { m_window->close(); }

bool AboutWindowController::customWindow(LMCustomWindow*, const kpv::Event& keyDown)
{
    if (keyDown.keyCode() != kEscKeyCode)
        return false;
    m_window->close();
    return true;
}
