#pragma once
// The floating Info panel: the current file's name, size, date and file size, fifteen EXIF facts,
// its thumbnail and a colour histogram. The panel keeps the user's wish to see it (showStatus)
// apart from being on screen: losing focus, the main window resigning key or leaving the view mode
// close the window, and it comes back by itself while the wish stands. The histogram is computed
// on the panel's own queue; a result for an image that is no longer current is dropped.
// The view-mode controller owns the panel; the host gives it what it needs of the rest.

#include "Shell/Panels/LMGrayHistogramView.h"

#include "Model/LMNavFileInfo.h"

#include <QImage>
#include <QSizeF>
#include <QString>
#include <QStringList>

#include <memory>

class PropertiesWindowHost {
public:
    virtual ~PropertiesWindowHost() = default;
    virtual LMNavFileInfoPtr curFileInfo() const = 0;
    virtual long mainShowMode() const = 0;
    virtual bool canDoAction(long actionId) const = 0;
    virtual bool isMainWindowKey() const = 0;
    // Shows or closes the panel's window.
    virtual void setPanelWindowVisible(bool visible) = 0;
    // Placeholder pictures: 1 not loaded yet, 2 cannot be decoded.
    virtual QImage defaultImage(long kind) const = 0;
    // The device pixels the thumbnail is drawn on, unturned.
    virtual QSizeF thumbPixelSize() const = 0;
    // The rows or the thumbnail changed: the window shows them anew.
    virtual void panelContentChanged() = 0;
};

namespace kpv {
class NotificationCenter;
class OperationQueue;
}

class PropertiesWindowController {
public:
    static constexpr int kItemCount = 20;
    static constexpr long kPropertiesAction = 29;

    // Registers with `center` for the focus, key, file and show-mode notifications. `mainWindow`
    // and `application` are the senders of the key and activation notifications.
    PropertiesWindowController(PropertiesWindowHost& host, kpv::NotificationCenter& center, const void* application,
                               const void* mainWindow);
    ~PropertiesWindowController();
    PropertiesWindowController(const PropertiesWindowController&) = delete;
    PropertiesWindowController& operator=(const PropertiesWindowController&) = delete;

    void show();
    void hide();
    bool showStatus() const { return m_showStatus; }
    bool isWindowVisible() const { return m_windowVisible; }
    void showWithCheckStatus();
    void hideWithoutChangeStatus();
    void closeButtonClicked() { hide(); }

    void updateFileName();
    void updateFileInfo();
    void updateThumb();
    void beginUpdateGrayHistogram();
    LMImagePtr curFileImageForGrayHistogramWithFailFlag(bool* failFlag) const;

    // The label of a row ("Camera maker:"), empty for an unknown type.
    static QString infoDisplayNameByType(long type);
    // The value of row `type` for a file, "--" where nothing is known.
    static QString infoValueByType(long type, const LMFileInfo* fileInfo);

    // What the rows and the thumbnail show now.
    QString infoValue(long type) const { return m_values.value(int(type)); }
    const QImage& thumbImage() const { return m_thumb; }
    long thumbAngle() const { return m_thumbAngle; }
    LMGrayHistogramView& grayHistogramView() { return m_histogramView; }
    const LMImagePtr& lastImageForGrayHistogram() const { return m_lastImageForGrayHistogram; }
    // Waits for queued histogram work (tests; the results still arrive through the main loop).
    void waitForGrayHistogram();

private:
    void registNotifications(bool regist);
    void applyGrayHistogram(const tagLMGrayHistogramDataInfos& infos, const LMImagePtr& image);

    PropertiesWindowHost& m_host;
    kpv::NotificationCenter& m_center;
    const void* m_application;
    const void* m_mainWindow;
    bool m_showStatus = false;
    bool m_windowVisible = false;
    QStringList m_values;
    QImage m_thumb;
    long m_thumbAngle = 0;
    LMImagePtr m_lastThumbImage;
    LMImagePtr m_lastImageForGrayHistogram;
    LMGrayHistogramView m_histogramView;
    std::unique_ptr<kpv::OperationQueue> m_operationQueueGrayHistogram;
    std::shared_ptr<bool> m_alive;
};
