#pragma once
// "Other Application...": a window-modal list of every application the user can start on a file,
// with a filter field (whose Up and Down keys step through the list), for opening the photo with one that does not say it opens images.

#include "desktop/DesktopServices.h"

#include <QDialog>
#include <QString>

#include <functional>

class QLineEdit;
class QListWidget;
class QPushButton;

class OtherApplicationChooser : public QDialog {
public:
    // `chosen` runs with the application's id once the user confirms one.
    OtherApplicationChooser(QWidget* parent, const QString& fileName, const QList<kpv::DesktopApplication>& apps,
                            std::function<void(const QString& applicationId)> chosen);

    QLineEdit* filterField() const { return m_filter; }
    QListWidget* list() const { return m_list; }
    QPushButton* openButton() const { return m_open; }

protected:
    // The arrow and page keys typed in the filter field move through the list it filters.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void applyFilter(const QString& text);
    void confirm();

    QLineEdit* m_filter;
    QListWidget* m_list;
    QPushButton* m_open;
    std::function<void(const QString&)> m_chosen;
};
