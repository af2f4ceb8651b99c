#include "appkit/Panels.h"

#include "appkit/View.h"
#include "foundation/Bundle.h"
#include "foundation/RunLoop.h"

#include "AlertText.h"
#include "FilePanelDialog.h"

#include <QMessageBox>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QPushButton>

#include <memory>
#include <utility>

namespace kpv {
namespace {

// An alert that Esc and the window's close button may end without pressing any of its buttons.
class DismissableAlert final : public QMessageBox {
public:
    DismissableAlert(QWidget* parent, bool dismissOnEscape) : QMessageBox(parent), m_dismissOnEscape(dismissOnEscape) {}
    bool dismissed() const { return m_dismissed; }

protected:
    void keyPressEvent(QKeyEvent* e) override
    {
        if (m_dismissOnEscape && e->matches(QKeySequence::Cancel)) {
            m_dismissed = true;
            reject();
            return;
        }
        QMessageBox::keyPressEvent(e);
    }
    void closeEvent(QCloseEvent* e) override
    {
        if (!m_dismissOnEscape) {
            QMessageBox::closeEvent(e); // as the escape button
            return;
        }
        m_dismissed = true;
        QDialog::closeEvent(e);
    }

private:
    bool m_dismissOnEscape;
    bool m_dismissed = false;
};

} // namespace

void SavePanel::setNameFieldStringValue(const QString& n)
{
    m_name = n;
    if (m_dialog)
        m_dialog->setNameFieldValue(n);
}

QString SavePanel::nameFieldStringValue() const
{
    return m_dialog ? m_dialog->nameFieldValue() : m_name;
}

void SavePanel::setDirectoryURL(const QString& dir)
{
    m_directory = dir;
    if (m_dialog)
        m_dialog->setFolder(dir);
}

QString SavePanel::directoryURL() const
{
    return m_dialog ? m_dialog->folder() : m_directory;
}

FilePanelDialog* SavePanel::makeDialog(QWidget* parent)
{
    FilePanelOptions o;
    o.open = isOpenPanel();
    o.chooseFiles = !o.open || m_canChooseFiles;
    o.chooseFolders = o.open && m_canChooseDirectories;
    o.multiple = o.open && m_multiple;
    o.canCreateFolders = m_canCreateDirectories;
    o.types = m_types;
    o.typesName = m_typesName;
    o.folder = m_directory;
    o.name = o.open ? QString() : m_name;
    o.title = m_title;
    o.prompt = m_prompt;
    o.message = m_message;
    o.replaceWarning = m_replaceWarning;
    o.savedPath = m_savedPath;
    auto* d = new FilePanelDialog(parent, std::move(o));
    m_dialog = d;
    if (!isOpenPanel())
        d->setNameEditedHandler([this, d] {
            if (m_nameEdited)
                m_nameEdited(d->nameFieldValue());
        });
    if (m_accessory) {
        QWidget* w = m_accessory->widget();
        w->setMinimumSize(int(m_accessory->frame().width()), int(m_accessory->frame().height()));
        w->setParent(d);
        QList<QWidget*> keyWidgets;
        for (View* v : m_accessory->keyViewsInScreenOrder(false))
            keyWidgets << v->widget();
        d->addAccessory(w, keyWidgets);
        w->show();
    }
    return d;
}

void SavePanel::takeResult(FilePanelDialog* d, bool accepted)
{
    m_name = d->nameFieldValue();
    m_directory = d->folder();
    m_dialog = nullptr;
    m_urls.clear();
    if (accepted)
        m_urls = d->chosen();
    if (m_accessory && m_accessory->widget()->parent() == d) {
        // Hand the accessory view back before the dialog goes away.
        m_accessory->widget()->hide();
        m_accessory->widget()->setParent(nullptr);
    }
}

long SavePanel::runModal()
{
    FilePanelDialog* d = makeDialog(nullptr);
    int rc;
    {
        RunLoop::NestedScope nested(RunLoop::main());
        rc = d->exec();
    }
    takeResult(d, rc == QDialog::Accepted);
    delete d;
    return rc == QDialog::Accepted ? ModalResponseOK : ModalResponseCancel;
}

void SavePanel::beginSheetModalForWindow(Window* window, std::function<void(long)> handler)
{
    FilePanelDialog* d = makeDialog(window ? window->widget() : nullptr);
    d->setWindowModality(window ? Qt::WindowModal : Qt::ApplicationModal);
    QObject::connect(d, &QDialog::finished, d, [this, d, handler](int rc) {
        takeResult(d, rc == QDialog::Accepted);
        d->deleteLater();
        if (handler)
            handler(rc == QDialog::Accepted ? ModalResponseOK : ModalResponseCancel);
    });
    d->open();
}

QMessageBox* AlertSheet::begin(const QString& title, const QString& defaultButton, const QString& alternateButton,
                               const QString& otherButton, Window* window, std::function<void(long)> handler,
                               const QString& message, AlertEscape escape)
{
    auto* box = new DismissableAlert(window ? window->widget() : nullptr, escape == AlertEscape::Dismiss);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setTextFormat(Qt::PlainText);
    // Titled with the program's name: without a title the window manager shows the executable's.
    box->setWindowTitle(Bundle::mainBundle().objectForInfoDictionaryKey(QStringLiteral("CFBundleName")).toString());
    box->setText(title);
    box->setInformativeText(message); // never a format string: shown as it stands
    box->setWindowModality(window ? Qt::WindowModal : Qt::ApplicationModal);
    QPushButton* def = box->addButton(defaultButton.isEmpty() ? QStringLiteral("OK") : defaultButton,
                                      QMessageBox::AcceptRole);
    QPushButton* alt = alternateButton.isEmpty() ? nullptr : box->addButton(alternateButton, QMessageBox::RejectRole);
    QPushButton* other = otherButton.isEmpty() ? nullptr : box->addButton(otherButton, QMessageBox::DestructiveRole);
    box->setDefaultButton(def);
    if (alt && escape == AlertEscape::Alternate)
        box->setEscapeButton(alt);
    wrapAlertTexts(box);
    // A dialog ends once for its caller, though it may finish again (closed as its window goes):
    // callers free what the alert held on the answer.
    auto answered = std::make_shared<bool>(false);
    QObject::connect(box, &QMessageBox::finished, box, [box, def, alt, other, handler, answered](int) {
        if (std::exchange(*answered, true))
            return;
        QAbstractButton* clicked = box->clickedButton();
        long code = AlertDefaultReturn;
        if (clicked && clicked == alt)
            code = AlertAlternateReturn;
        else if (clicked && clicked == other)
            code = AlertOtherReturn;
        else if (!clicked && box->dismissed())
            code = AlertDismissedReturn;
        else if (!clicked && alt)
            code = AlertAlternateReturn; // closed without a button: as the cancelling one
        (void)def;
        if (handler)
            handler(code);
    });
    box->open();
    return box;
}

} // namespace kpv
