#include "appkit/Panels.h"

#include "appkit/View.h"
#include "foundation/Bundle.h"
#include "foundation/RunLoop.h"

#include <algorithm>

#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QPushButton>

namespace kpv {
namespace {

// An open panel that may choose folders as well as files. Asked to accept a folder (typed into
// the name field, or the one selected), the toolkit's dialog would open it and stay; here a folder
// is a choice like a file, and the panel ends with it. Double-clicking a folder still opens it.
class ChoosingDialog final : public QFileDialog {
public:
    ChoosingDialog(QWidget* parent, bool foldersAreChoices) : QFileDialog(parent), m_folders(foldersAreChoices) {}

    void accept() override
    {
        if (m_folders && fileMode() != QFileDialog::Directory) {
            const QStringList chosen = selectedFiles();
            if (!chosen.isEmpty() && std::all_of(chosen.begin(), chosen.end(), [](const QString& p) {
                    return QFileInfo(p).isDir();
                })) {
                QDialog::accept();
                return;
            }
        }
        QFileDialog::accept();
    }

private:
    bool m_folders;
};

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

namespace {
// The name field of our own (not the desktop's native) file dialog.
QLineEdit* nameEdit(QFileDialog* d) { return d ? d->findChild<QLineEdit*>(QStringLiteral("fileNameEdit")) : nullptr; }
} // namespace

void SavePanel::setNameFieldStringValue(const QString& n)
{
    m_name = n;
    if (QLineEdit* edit = nameEdit(m_dialog))
        edit->setText(n);
}

QString SavePanel::nameFieldStringValue() const
{
    if (QLineEdit* edit = nameEdit(m_dialog))
        return edit->text();
    return m_name;
}

QFileDialog* SavePanel::makeDialog(QWidget* parent)
{
    QFileDialog* d = new ChoosingDialog(parent, isOpenPanel() && m_canChooseDirectories);
    m_dialog = d;
    // Our own dialog, so that the accessory view can live inside it.
    d->setOption(QFileDialog::DontUseNativeDialog, true);
    d->setWindowTitle(m_title);
    if (!m_directory.isEmpty())
        d->setDirectory(m_directory);
    if (!m_types.isEmpty()) {
        QStringList patterns;
        for (const QString& t : m_types)
            patterns << "*." + t;
        d->setNameFilter(patterns.join(' '));
    }
    if (isOpenPanel()) {
        d->setAcceptMode(QFileDialog::AcceptOpen);
        if (m_canChooseDirectories && !m_canChooseFiles)
            d->setFileMode(QFileDialog::Directory);
        else
            d->setFileMode(m_multiple ? QFileDialog::ExistingFiles : QFileDialog::ExistingFile);
    } else {
        d->setAcceptMode(QFileDialog::AcceptSave);
        d->setFileMode(QFileDialog::AnyFile);
        d->setOption(QFileDialog::ReadOnly, !m_canCreateDirectories);
        if (!m_name.isEmpty())
            d->selectFile(m_name);
        if (m_types.size() == 1)
            d->setDefaultSuffix(m_types.first());
    }
    if (!m_prompt.isEmpty())
        d->setLabelText(QFileDialog::Accept, m_prompt);
    auto* grid = qobject_cast<QGridLayout*>(d->layout());
    int row = grid ? grid->rowCount() : 0;
    if (grid && !m_message.isEmpty())
        grid->addWidget(new QLabel(m_message, d), row++, 0, 1, grid->columnCount());
    if (grid && m_accessory) {
        QWidget* w = m_accessory->widget();
        w->setMinimumSize(int(m_accessory->frame().width()), int(m_accessory->frame().height()));
        w->setParent(d);
        grid->addWidget(w, row, 0, 1, grid->columnCount());
        w->show();
    }
    return d;
}

void SavePanel::takeResult(QFileDialog* d, bool accepted)
{
    if (QLineEdit* edit = nameEdit(d))
        m_name = edit->text();
    m_dialog = nullptr;
    m_urls.clear();
    if (accepted)
        m_urls = d->selectedFiles();
    if (m_accessory && m_accessory->widget()->parent() == d) {
        // Hand the accessory view back before the dialog goes away.
        m_accessory->widget()->hide();
        m_accessory->widget()->setParent(nullptr);
    }
}

long SavePanel::runModal()
{
    QFileDialog* d = makeDialog(nullptr);
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
    QFileDialog* d = makeDialog(window ? window->widget() : nullptr);
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
    QObject::connect(box, &QMessageBox::finished, box, [box, def, alt, other, handler](int) {
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
