#include "Shell/Desktop/OtherApplicationChooser.h"

#include "foundation/Bundle.h"

#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPixmap>
#include <QPushButton>
#include <QVBoxLayout>

namespace {
QString text(const char* key)
{
    return kpv::Bundle::mainBundle().localizedString(QString::fromLatin1(key));
}
constexpr int kIdRole = Qt::UserRole + 1;
} // namespace

OtherApplicationChooser::OtherApplicationChooser(QWidget* parent, const QString& fileName,
                                                 const QList<kpv::DesktopApplication>& apps,
                                                 std::function<void(const QString&)> chosen)
    : QDialog(parent), m_chosen(std::move(chosen))
{
    setWindowTitle(kpv::Bundle::mainBundle().localizedString(QStringLiteral("IDS_OpenWithOtherTitle_Fmt")).arg(fileName));
    setWindowModality(Qt::WindowModal);
    setAttribute(Qt::WA_DeleteOnClose);
    resize(420, 480);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(text("IDS_OpenWithOtherPrompt"), this));
    m_filter = new QLineEdit(this);
    m_filter->setPlaceholderText(text("IDS_OpenWithOtherFilter"));
    m_filter->setClearButtonEnabled(true);
    m_filter->installEventFilter(this);
    layout->addWidget(m_filter);
    m_list = new QListWidget(this);
    m_list->setIconSize(QSize(24, 24));
    for (const kpv::DesktopApplication& app : apps) {
        auto* item = new QListWidgetItem(app.fileName, m_list);
        item->setData(kIdRole, app.id);
        item->setToolTip(app.id);
        QIcon icon;
        if (!app.iconName.isEmpty())
            icon = app.iconName.startsWith(QLatin1Char('/')) ? QIcon(app.iconName) : QIcon::fromTheme(app.iconName);
        // An application without an icon keeps its name in line with the others.
        if (icon.isNull()) {
            QPixmap blank(m_list->iconSize());
            blank.fill(Qt::transparent);
            icon = QIcon(blank);
        }
        item->setIcon(icon);
    }
    layout->addWidget(m_list, 1);
    auto* buttons = new QDialogButtonBox(this);
    m_open = buttons->addButton(text("IDS_OpenWithOtherOpen"), QDialogButtonBox::AcceptRole);
    buttons->addButton(text("IDS_Cancel"), QDialogButtonBox::RejectRole);
    layout->addWidget(buttons);
    m_open->setEnabled(false);

    connect(m_filter, &QLineEdit::textChanged, this, [this](const QString& text) { applyFilter(text); });
    connect(m_list, &QListWidget::currentItemChanged, this,
            [this](QListWidgetItem* current) { m_open->setEnabled(current && !current->isHidden()); });
    connect(m_list, &QListWidget::itemActivated, this, [this] { confirm(); });
    connect(buttons, &QDialogButtonBox::accepted, this, [this] { confirm(); });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    m_filter->setFocus();
}

void OtherApplicationChooser::applyFilter(const QString& text)
{
    QListWidgetItem* firstShown = nullptr;
    for (int i = 0; i < m_list->count(); ++i) {
        QListWidgetItem* item = m_list->item(i);
        const bool shown = text.isEmpty() || item->text().contains(text, Qt::CaseInsensitive) ||
                           item->data(kIdRole).toString().contains(text, Qt::CaseInsensitive);
        item->setHidden(!shown);
        if (shown && !firstShown)
            firstShown = item;
    }
    QListWidgetItem* current = m_list->currentItem();
    if (!current || current->isHidden())
        m_list->setCurrentItem(firstShown);
    m_open->setEnabled(m_list->currentItem() && !m_list->currentItem()->isHidden());
}

bool OtherApplicationChooser::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_filter && event->type() == QEvent::KeyPress) {
        switch (static_cast<QKeyEvent*>(event)->key()) {
        case Qt::Key_Up:
        case Qt::Key_Down:
        case Qt::Key_PageUp:
        case Qt::Key_PageDown:
            QCoreApplication::sendEvent(m_list, event);
            return true;
        default:
            break;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void OtherApplicationChooser::confirm()
{
    QListWidgetItem* item = m_list->currentItem();
    if (!item || item->isHidden())
        return;
    const QString id = item->data(kIdRole).toString();
    accept();
    if (m_chosen)
        m_chosen(id);
}
