#pragma once
// The About window: the product's name, version and copyright, a link to the product's help
// pages on the web, closed by its button or Esc. Main thread only.

#include "Kit/LMCustomWindowDelegate.h"

#include <QString>

#include <functional>
#include <memory>

class LMButton;
class LMLinkButton;
class LMCustomWindow;

namespace kpv {
class TextField;
}

class AboutWindowController : public LMCustomWindowDelegate {
public:
    // The texts come from the application's bundle information; empty for what it lacks.
    AboutWindowController(QString productName, QString version, QString copyright);
    // The texts of the running application.
    AboutWindowController();
    ~AboutWindowController() override;
    AboutWindowController(const AboutWindowController&) = delete;
    AboutWindowController& operator=(const AboutWindowController&) = delete;

    LMCustomWindow* aboutWindow() const { return m_window.get(); }
    LMButton* btnClose() const { return m_btnClose; }
    kpv::TextField* txtProductName() const { return m_txtProductName; }
    kpv::TextField* txtVersion() const { return m_txtVersion; }
    kpv::TextField* txtCopyright() const { return m_txtCopyright; }
    LMLinkButton* btnWebsite() const { return m_btnWebsite; }
    // What a click on the web link does (the owner opens the help pages).
    void setWebsiteHandler(std::function<void()> handler) { m_websiteHandler = std::move(handler); }

    void showWindow();
    void closeButtonClicked();
    bool customWindow(LMCustomWindow* window, const kpv::Event& keyDown) override;

private:
    void loadWindow();
    void awakeFromNib(const QString& productName, const QString& version, const QString& copyright);

    std::unique_ptr<LMCustomWindow> m_window;
    LMButton* m_btnClose = nullptr;
    kpv::TextField* m_txtProductName = nullptr;
    kpv::TextField* m_txtVersion = nullptr;
    kpv::TextField* m_txtCopyright = nullptr;
    LMLinkButton* m_btnWebsite = nullptr;
    std::function<void()> m_websiteHandler;
};
