#include "FilePanelDialog.h"

#include "AlertText.h"
#include "ToolTipText.h"

#include "foundation/FileNames.h"

#include <QApplication>
#include <QCheckBox>
#include <QCollator>
#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QInputDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QPushButton>
#include <QStyle>
#include <QToolButton>
#include <QTreeWidget>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kpv {
namespace {

constexpr int kNameRole = Qt::UserRole;      // the entry's name with its bytes
constexpr int kFolderRole = Qt::UserRole + 1; // true for a folder

struct Entry {
    QString name;
    bool folder = false;
    qint64 size = 0;
    qint64 modified = 0; // ms since 1970
};

struct Listing {
    QList<Entry> entries;
    QString error; // empty when the folder could be read
};

QString reason(int err)
{
    return QString::fromLocal8Bit(std::strerror(err));
}

Listing readFolder(const QString& folder)
{
    Listing listing;
    DIR* dir = ::opendir(encodeFileName(folder).constData());
    if (!dir) {
        listing.error = reason(errno);
        return listing;
    }
    const int fd = ::dirfd(dir);
    errno = 0;
    while (const dirent* e = ::readdir(dir)) {
        const char* n = e->d_name;
        if (std::strcmp(n, ".") == 0 || std::strcmp(n, "..") == 0)
            continue;
        Entry entry;
        entry.name = decodeFileName(QByteArray(n));
        struct stat st {};
        // A link counts as what it points at; a broken one is listed as the link itself.
        if (::fstatat(fd, n, &st, 0) == 0 || ::fstatat(fd, n, &st, AT_SYMLINK_NOFOLLOW) == 0) {
            entry.folder = S_ISDIR(st.st_mode);
            entry.size = qint64(st.st_size);
            entry.modified = fileTimeMsecs(qint64(st.st_mtim.tv_sec), st.st_mtim.tv_nsec);
        }
        listing.entries.append(entry);
        errno = 0;
    }
    if (errno != 0)
        listing.error = reason(errno);
    ::closedir(dir);
    return listing;
}

// A name as the list shows it: bytes that are not text as the replacement character, and
// control characters (a name may hold a line break) as visible marks.
QString shownName(const QString& name)
{
    return displayFileName(name);
}

QString joinPath(const QString& folder, const QString& name)
{
    return folder.endsWith(u'/') ? folder + name : folder + u'/' + name;
}

QString parentOf(const QString& path)
{
    const qsizetype slash = path.lastIndexOf(u'/');
    return slash <= 0 ? QStringLiteral("/") : path.left(slash);
}

QString baseName(const QString& path)
{
    return path.mid(path.lastIndexOf(u'/') + 1);
}

// The nearest folder that exists at or above the path; the home folder when none does.
QString existingFolder(QString path)
{
    path = QDir::cleanPath(absoluteFileName(path));
    while (!path.isEmpty()) {
        if (pathStatus(path).isDirectory)
            return path;
        if (path == QLatin1String("/"))
            break;
        path = parentOf(path);
    }
    return QDir::homePath();
}

} // namespace

FilePanelDialog::FilePanelDialog(QWidget* parent, FilePanelOptions options) : QDialog(parent), m_options(std::move(options))
{
    setObjectName(QStringLiteral("filePanel"));
    setWindowTitle(m_options.title.isEmpty() ? (m_options.open ? tr("Open") : tr("Save As")) : m_options.title);
    setSizeGripEnabled(true);
    resize(760, 500);

    m_grid = new QGridLayout(this);
    auto* top = new QHBoxLayout;
    m_up = new QToolButton(this);
    m_up->setObjectName(QStringLiteral("parentButton"));
    m_up->setIcon(style()->standardIcon(QStyle::SP_FileDialogToParent));
    m_up->setToolTip(tr("Enclosing folder (Backspace)"));
    connect(m_up, &QToolButton::clicked, this, [this] { goUp(); });
    auto* home = new QToolButton(this);
    home->setObjectName(QStringLiteral("homeButton"));
    home->setIcon(style()->standardIcon(QStyle::SP_DirHomeIcon));
    home->setToolTip(tr("Home folder"));
    connect(home, &QToolButton::clicked, this, [this] { setFolder(QDir::homePath()); });
    m_folderLabel = new QLabel(this);
    m_folderLabel->setObjectName(QStringLiteral("folderLabel"));
    m_folderLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_folderLabel->setMinimumWidth(100);
    m_folderLabel->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    top->addWidget(m_up);
    top->addWidget(home);
    top->addWidget(m_folderLabel, 1);
    // A save panel, and a panel that chooses a folder for what is to come (the copies, the new
    // files), can make the folder the user has in mind; a panel that opens files has no use for one.
    const bool choosesAFolder = m_options.open && m_options.chooseFolders && !m_options.chooseFiles;
    if ((!m_options.open || choosesAFolder) && m_options.canCreateFolders) {
        auto* create = new QPushButton(tr("New Folder"), this);
        create->setObjectName(QStringLiteral("newFolderButton"));
        create->setAutoDefault(false);
        connect(create, &QPushButton::clicked, this, [this] { newFolder(); });
        top->addWidget(create);
    }
    m_grid->addLayout(top, 0, 0, 1, 2);

    // A problem names a file or folder, whose name may be long and hold no space: it wraps
    // anywhere rather than widen the panel past the screen.
    m_problem = new WrappingLabel(this);
    m_problem->setObjectName(QStringLiteral("panelProblem"));
    QFont bold = m_problem->font();
    bold.setBold(true);
    m_problem->setFont(bold);
    m_problem->hide();
    m_grid->addWidget(m_problem, 1, 0, 1, 2);

    m_list = new QTreeWidget(this);
    m_list->setObjectName(QStringLiteral("fileList"));
    m_list->setColumnCount(3);
    m_list->setHeaderLabels({tr("Name"), tr("Size"), tr("Modified")});
    m_list->setRootIsDecorated(false);
    m_list->setUniformRowHeights(true);
    m_list->setAllColumnsShowFocus(true);
    m_list->setTextElideMode(Qt::ElideMiddle); // a long name keeps its start and its extension
    m_list->setSelectionMode(m_options.open && m_options.multiple ? QAbstractItemView::ExtendedSelection
                                                                   : QAbstractItemView::SingleSelection);
    m_list->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    m_list->header()->setSectionResizeMode(1, QHeaderView::ResizeToContents);
    m_list->header()->setSectionResizeMode(2, QHeaderView::ResizeToContents);
    m_list->header()->setStretchLastSection(false);
    m_list->installEventFilter(this);
    connect(m_list, &QTreeWidget::itemActivated, this, [this](QTreeWidgetItem* item, int) { activate(item); });
    connect(m_list, &QTreeWidget::itemSelectionChanged, this, [this] { selectionChanged(); });
    m_grid->addWidget(m_list, 2, 0, 1, 2);

    auto* nameLabel = new QLabel(m_options.open ? tr("Name or path:") : tr("Save as:"), this);
    m_name = new QLineEdit(this);
    m_name->setObjectName(QStringLiteral("fileNameEdit"));
    nameLabel->setBuddy(m_name);
    connect(m_name, &QLineEdit::textEdited, this, [this] {
        m_fieldShowsSelection = false;
        m_problem->hide();
        if (m_nameEdited)
            m_nameEdited();
    });
    m_grid->addWidget(nameLabel, 3, 0);
    m_grid->addWidget(m_name, 3, 1);

    auto* typeLabel = new QLabel(tr("Show:"), this);
    m_filter = new QComboBox(this);
    m_filter->setObjectName(QStringLiteral("fileTypeCombo"));
    typeLabel->setBuddy(m_filter);
    if (!m_options.types.isEmpty()) {
        QStringList patterns;
        for (const QString& t : m_options.types)
            patterns << QStringLiteral("*.") + t;
        // The list of extensions can be long: the title stays short and the list is its tip.
        const QString name = m_options.typesName.isEmpty() ? tr("Image files") : m_options.typesName;
        m_filter->addItem(m_options.types.size() <= 8 ? name + QStringLiteral(" (%1)").arg(patterns.join(u' ')) : name);
        m_filter->setItemData(0, patterns.join(u' '), Qt::ToolTipRole);
    }
    m_filter->addItem(tr("All files"));
    connect(m_filter, &QComboBox::currentIndexChanged, this, [this] { relist(); });
    m_hidden = new QCheckBox(tr("Hidden files"), this);
    m_hidden->setObjectName(QStringLiteral("hiddenCheck"));
    m_hidden->setToolTip(tr("Show files whose names begin with a dot (Ctrl+H)"));
    connect(m_hidden, &QCheckBox::toggled, this, [this] { relist(); });
    auto* typeRow = new QHBoxLayout;
    typeRow->addWidget(m_filter, 1);
    typeRow->addWidget(m_hidden);
    m_grid->addWidget(typeLabel, 4, 0);
    m_grid->addLayout(typeRow, 4, 1);
    // A panel that chooses folders only lists its files greyed out, so a filter of file types
    // would mean nothing there; hidden folders may still be shown.
    if (!m_options.chooseFiles) {
        typeLabel->hide();
        m_filter->hide();
    }

    if (!m_options.message.isEmpty()) {
        auto* message = new WrappingLabel(this);
        message->setText(m_options.message);
        m_grid->addWidget(message, 5, 0, 1, 2);
    }

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    auto* cancel = m_cancel = new QPushButton(tr("Cancel"), this);
    cancel->setObjectName(QStringLiteral("cancelButton"));
    cancel->setAutoDefault(false);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    m_ok = new QPushButton(m_options.prompt.isEmpty() ? (m_options.open ? tr("Open") : tr("Save")) : m_options.prompt, this);
    m_ok->setObjectName(QStringLiteral("okButton"));
    m_ok->setDefault(true);
    connect(m_ok, &QPushButton::clicked, this, &FilePanelDialog::accept);
    buttons->addWidget(cancel);
    buttons->addWidget(m_ok);
    m_grid->addLayout(buttons, 100, 0, 1, 2);

    setFolder(m_options.folder.isEmpty() ? QDir::homePath() : m_options.folder);
    if (!m_options.name.isEmpty())
        setNameFieldValue(m_options.name);
    if (m_options.open) {
        m_list->setFocus();
    } else {
        m_name->setFocus();
        // The name without its extension is selected, ready to be typed over.
        const QString shown = m_name->text();
        const qsizetype dot = shown.lastIndexOf(u'.');
        m_name->setSelection(0, dot > 0 ? int(dot) : int(shown.size()));
    }
}

void FilePanelDialog::addAccessory(QWidget* w, const QList<QWidget*>& keyWidgets)
{
    m_grid->addWidget(w, 6, 0, 1, 2);
    QWidget* previous = m_hidden;
    for (QWidget* k : keyWidgets) {
        k->setFocusPolicy(Qt::TabFocus);
        QWidget::setTabOrder(previous, k);
        previous = k;
    }
    if (!keyWidgets.isEmpty())
        QWidget::setTabOrder(previous, m_cancel);
}

bool FilePanelDialog::passesFilter(const QString& name) const
{
    if (m_options.types.isEmpty() || m_filter->currentIndex() != 0)
        return true;
    const qsizetype dot = name.lastIndexOf(u'.');
    return dot > 0 && m_options.types.contains(name.mid(dot + 1), Qt::CaseInsensitive);
}

void FilePanelDialog::setFolder(const QString& folder)
{
    m_folder = existingFolder(folder);
    m_problem->hide();
    // What was chosen in the folder left behind is no choice here; a name to save under stays.
    if (m_options.open) {
        m_name->clear();
        m_fieldShowsSelection = false;
    }
    relist();
}

void FilePanelDialog::relist()
{
    const QString shownFolder = shownName(m_folder);
    m_folderLabel->setText(shownFolder);
    m_folderLabel->setToolTip(plainToolTip(shownFolder));
    m_up->setEnabled(m_folder != QLatin1String("/"));

    QStringList keep;
    for (QTreeWidgetItem* item : m_list->selectedItems())
        keep << item->data(0, kNameRole).toString();

    Listing listing = readFolder(m_folder);
    if (!listing.error.isEmpty())
        tell(tr("The folder \u201c%1\u201d cannot be read: %2.").arg(shownName(baseName(m_folder)), listing.error));
    const bool hidden = m_hidden->isChecked();
    listing.entries.removeIf([&](const Entry& e) {
        return (!hidden && e.name.startsWith(u'.')) || (!e.folder && !passesFilter(e.name));
    });
    // Folders first, then by name as people read numbers: "2" before "10", case aside.
    QCollator collator;
    collator.setNumericMode(true);
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    std::stable_sort(listing.entries.begin(), listing.entries.end(), [&](const Entry& a, const Entry& b) {
        if (a.folder != b.folder)
            return a.folder;
        const int c = collator.compare(shownName(a.name), shownName(b.name));
        return c != 0 ? c < 0 : a.name < b.name;
    });

    const QSignalBlocker quiet(m_list);
    m_typed.clear();
    m_list->clear();
    m_listedNames.clear();
    const QLocale locale;
    const QIcon folderIcon = style()->standardIcon(QStyle::SP_DirIcon);
    const QIcon fileIcon = style()->standardIcon(QStyle::SP_FileIcon);
    QTreeWidgetItem* firstKept = nullptr;
    for (const Entry& e : std::as_const(listing.entries)) {
        auto* item = new QTreeWidgetItem(m_list);
        const QString shown = shownName(e.name);
        item->setText(0, shown);
        item->setToolTip(0, plainToolTip(shown));
        item->setIcon(0, e.folder ? folderIcon : fileIcon);
        item->setData(0, kNameRole, e.name);
        item->setData(0, kFolderRole, e.folder);
        if (!e.folder)
            item->setText(1, locale.formattedDataSize(e.size));
        item->setTextAlignment(1, Qt::AlignRight | Qt::AlignVCenter);
        if (e.modified != 0)
            item->setText(2, locale.toString(QDateTime::fromMSecsSinceEpoch(e.modified), QLocale::ShortFormat));
        // Where only folders may be chosen, files are shown but cannot be chosen.
        if (!e.folder && !m_options.chooseFiles && m_options.open)
            item->setFlags(item->flags() & ~(Qt::ItemIsSelectable | Qt::ItemIsEnabled));
        if (keep.contains(e.name)) {
            item->setSelected(true);
            if (!firstKept)
                firstKept = item;
        }
        m_listedNames << e.name;
    }
    if (firstKept)
        m_list->setCurrentItem(firstKept, 0, QItemSelectionModel::NoUpdate);
    else if (m_list->topLevelItemCount() > 0)
        m_list->setCurrentItem(m_list->topLevelItem(0), 0, QItemSelectionModel::NoUpdate);
}

void FilePanelDialog::typeToSelect(const QString& text)
{
    // The letters typed in a short run name the start of the entry to select; a pause, or
    // another folder, starts a new run.
    if (!m_typedSince.isValid() || m_typedSince.elapsed() > QApplication::keyboardInputInterval())
        m_typed.clear();
    m_typedSince.start();
    m_typed += text;
    for (int i = 0; i < m_list->topLevelItemCount(); ++i) {
        QTreeWidgetItem* item = m_list->topLevelItem(i);
        if ((item->flags() & Qt::ItemIsEnabled) && item->text(0).startsWith(m_typed, Qt::CaseInsensitive)) {
            m_list->setCurrentItem(item);
            m_list->scrollToItem(item);
            return;
        }
    }
    QApplication::beep();
}

void FilePanelDialog::goUp()
{
    if (m_folder == QLatin1String("/"))
        return;
    const QString was = baseName(m_folder);
    setFolder(parentOf(m_folder));
    // The folder just left is the one selected, as where the user came from.
    for (int i = 0; i < m_list->topLevelItemCount(); ++i) {
        QTreeWidgetItem* item = m_list->topLevelItem(i);
        if (item->data(0, kNameRole).toString() == was) {
            m_list->setCurrentItem(item);
            m_list->scrollToItem(item);
            break;
        }
    }
}

void FilePanelDialog::activate(QTreeWidgetItem* item)
{
    if (!item)
        return;
    if (item->data(0, kFolderRole).toBool()) {
        setFolder(joinPath(m_folder, item->data(0, kNameRole).toString()));
        return;
    }
    accept();
}

void FilePanelDialog::selectionChanged()
{
    if (m_name->hasFocus() && !m_fieldShowsSelection)
        return; // the user is typing there
    const QList<QTreeWidgetItem*> selected = m_list->selectedItems();
    QStringList names;
    for (QTreeWidgetItem* item : selected) {
        const bool folder = item->data(0, kFolderRole).toBool();
        if (!folder || (m_options.open && m_options.chooseFolders))
            names << item->data(0, kNameRole).toString();
    }
    if (!m_options.open && names.isEmpty())
        return; // the name being saved stays as it is when a folder is selected
    m_problem->hide();
    if (names.size() == 1) {
        setNameFieldValue(names.first());
    } else {
        QStringList quoted;
        for (const QString& n : std::as_const(names))
            quoted << u'"' + shownName(n) + u'"';
        m_name->setText(quoted.join(u' '));
        m_nameRaw.clear();
    }
    m_fieldShowsSelection = true;
}

void FilePanelDialog::setNameFieldValue(const QString& name)
{
    m_nameRaw = name;
    m_name->setText(shownName(name));
    m_fieldShowsSelection = false;
}

QString FilePanelDialog::nameFieldValue() const
{
    const QString text = m_name->text();
    if (!m_nameRaw.isEmpty() && text == shownName(m_nameRaw))
        return m_nameRaw;
    // A name typed as it is shown, replacement characters and all, is the listed file that
    // looks so, when only one does.
    if (text.contains(QChar(QChar::ReplacementCharacter))) {
        QString found;
        int matches = 0;
        for (const QString& n : m_listedNames)
            if (shownName(n) == text) {
                found = n;
                ++matches;
            }
        if (matches == 1)
            return found;
    }
    return text;
}

QString FilePanelDialog::typedPath(const QString& text) const
{
    QString name = text == m_name->text() ? nameFieldValue() : text;
    if (name == QLatin1String("~"))
        name = QDir::homePath();
    else if (name.startsWith(QLatin1String("~/")))
        name = QDir::homePath() + name.mid(1);
    const QString path = name.startsWith(u'/') ? name : joinPath(m_folder, name);
    return QDir::cleanPath(path);
}

void FilePanelDialog::tell(const QString& problem)
{
    m_problem->setText(problem);
    m_problem->show();
}

void FilePanelDialog::choose(const QStringList& paths)
{
    m_chosen = paths;
    QDialog::accept();
}

void FilePanelDialog::accept()
{
    m_options.open ? acceptOpen() : acceptSave();
}

void FilePanelDialog::acceptOpen()
{
    const QString text = m_name->text().trimmed();
    if (!m_fieldShowsSelection && !text.isEmpty()) {
        const QString path = typedPath(m_name->text());
        const PathStatus st = pathStatus(path);
        if (!st.exists) {
            tell(tr("There is no file or folder \u201c%1\u201d.").arg(shownName(path)));
            return;
        }
        if (st.isDirectory) {
            if (m_options.chooseFolders)
                choose({path});
            else
                setFolder(path);
            return;
        }
        if (!m_options.chooseFiles) {
            tell(tr("Only a folder can be chosen here."));
            return;
        }
        choose({path});
        return;
    }
    const QList<QTreeWidgetItem*> selected = m_list->selectedItems();
    QStringList files, folders;
    for (QTreeWidgetItem* item : selected) {
        const QString path = joinPath(m_folder, item->data(0, kNameRole).toString());
        (item->data(0, kFolderRole).toBool() ? folders : files) << path;
    }
    if (!m_options.chooseFolders) {
        if (files.isEmpty()) {
            if (folders.size() == 1)
                setFolder(folders.first());
            return;
        }
        choose(files);
        return;
    }
    if (files.isEmpty() && folders.isEmpty()) {
        choose({m_folder}); // nothing selected: the folder shown is the choice
        return;
    }
    choose(m_options.chooseFiles ? folders + files : folders);
}

void FilePanelDialog::acceptSave()
{
    if (m_name->text().trimmed().isEmpty()) {
        tell(tr("Type a name for the file."));
        m_name->setFocus();
        return;
    }
    QString path = typedPath(m_name->text());
    PathStatus st = pathStatus(path);
    if (st.isDirectory) {
        setFolder(path);
        m_name->clear();
        m_nameRaw.clear();
        return;
    }
    if (m_options.types.size() == 1 && !baseName(path).contains(u'.')) {
        path += u'.' + m_options.types.first();
        st = pathStatus(path);
    }
    if (m_options.savedPath) {
        const QString saved = m_options.savedPath(path);
        if (!saved.isEmpty() && saved != path) {
            // The name to be written is the one shown and asked about; a folder typed before
            // the name stays as typed.
            if (parentOf(saved) == parentOf(path)) {
                const QString typed = nameFieldValue();
                setNameFieldValue(typed.left(typed.lastIndexOf(u'/') + 1) + baseName(saved));
            }
            path = saved;
            st = pathStatus(path);
        }
    }
    const QString folder = parentOf(path);
    if (!pathStatus(folder).isDirectory) {
        tell(tr("There is no folder \u201c%1\u201d.").arg(shownName(folder)));
        return;
    }
    // A name longer than the folder's volume takes would be refused only once the picture is made
    // and written, in words that do not say what to change: the panel says it while it is open.
    const long nameMax = ::pathconf(encodeFileName(folder).constData(), _PC_NAME_MAX);
    const qsizetype nameBytes = encodeFileName(baseName(path)).size();
    if (nameBytes > (nameMax > 0 ? qsizetype(nameMax) : qsizetype(NAME_MAX))) {
        tell(tr("The name is too long: the folder \u201c%1\u201d takes names of at most %2 bytes, and this one "
                "has %3. Type a shorter name.")
                 .arg(shownName(baseName(folder)))
                 .arg(nameMax > 0 ? qsizetype(nameMax) : qsizetype(NAME_MAX))
                 .arg(nameBytes));
        m_name->setFocus();
        return;
    }
    if (::access(encodeFileName(folder).constData(), W_OK | X_OK) != 0) {
        tell(tr("The file cannot be saved in the folder \u201c%1\u201d: %2.").arg(shownName(baseName(folder)), reason(errno)));
        return;
    }
    if (st.exists && !st.isRegularFile) {
        tell(tr("\u201c%1\u201d is not a file that can be replaced.").arg(shownName(baseName(path))));
        return;
    }
    if (st.exists) {
        askToReplace(path);
        return;
    }
    choose({path});
}

void FilePanelDialog::askToReplace(const QString& path)
{
    auto* box = new QMessageBox(this);
    box->setObjectName(QStringLiteral("replaceQuestion"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setIcon(QMessageBox::Warning);
    box->setTextFormat(Qt::PlainText);
    box->setWindowTitle(windowTitle());
    box->setText(tr("\u201c%1\u201d already exists. Do you want to replace it?").arg(shownName(baseName(path))));
    const QString warning = m_options.replaceWarning ? m_options.replaceWarning(path) : QString();
    box->setInformativeText(
        !warning.isEmpty() ? warning
                           : tr("A file of that name is already in \u201c%1\u201d. Replacing it overwrites what it holds.")
                                 .arg(shownName(baseName(parentOf(path)))));
    QPushButton* replace = box->addButton(tr("Replace"), QMessageBox::AcceptRole);
    QPushButton* cancel = box->addButton(tr("Cancel"), QMessageBox::RejectRole);
    box->setDefaultButton(cancel);
    box->setEscapeButton(cancel);
    wrapAlertTexts(box);
    box->setWindowModality(Qt::WindowModal);
    connect(box, &QMessageBox::finished, this, [this, box, replace, path] {
        if (box->clickedButton() == replace)
            choose({path});
        else
            m_name->setFocus();
    });
    box->open();
}

void FilePanelDialog::newFolder()
{
    auto* ask = new QInputDialog(this);
    ask->setObjectName(QStringLiteral("newFolderQuestion"));
    ask->setAttribute(Qt::WA_DeleteOnClose);
    ask->setWindowTitle(tr("New Folder"));
    ask->setLabelText(tr("Name of the new folder:"));
    ask->setTextValue(tr("New Folder"));
    ask->setWindowModality(Qt::WindowModal);
    connect(ask, &QInputDialog::textValueSelected, this, [this](const QString& typed) {
        const QString name = typed.trimmed();
        if (name.isEmpty() || name.contains(u'/') || name == QLatin1String(".") || name == QLatin1String("..")) {
            tell(tr("\u201c%1\u201d cannot be the name of a folder.").arg(name));
            return;
        }
        const QString path = joinPath(m_folder, name);
        if (::mkdir(encodeFileName(path).constData(), 0777) != 0) {
            tell(tr("The folder \u201c%1\u201d could not be made: %2.").arg(name, reason(errno)));
            return;
        }
        setFolder(path);
    });
    ask->open();
}

void FilePanelDialog::keyPressEvent(QKeyEvent* key)
{
    // Keys the list and the name field leave alone come here.
    const Qt::KeyboardModifiers mods = key->modifiers() & ~Qt::KeypadModifier;
    if (key->key() == Qt::Key_H && mods == Qt::ControlModifier) {
        m_hidden->toggle();
    } else if (key->key() == Qt::Key_Up && mods == Qt::AltModifier) {
        goUp();
    } else if (key->key() == Qt::Key_F5 && mods == Qt::NoModifier) {
        relist();
    } else if (key->key() == Qt::Key_L && mods == Qt::ControlModifier) {
        m_name->setFocus();
        m_name->selectAll();
    } else {
        QDialog::keyPressEvent(key);
        return;
    }
    key->accept();
}

bool FilePanelDialog::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_list && event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        const Qt::KeyboardModifiers mods = key->modifiers() & ~Qt::KeypadModifier;
        if (key->key() == Qt::Key_Backspace && mods == Qt::NoModifier) {
            goUp();
            return true;
        }
        if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) && mods == Qt::NoModifier) {
            QTreeWidgetItem* current = m_list->currentItem();
            const QList<QTreeWidgetItem*> selected = m_list->selectedItems();
            // Return on a folder opens it, also on the first entry of a folder just opened, which
            // is marked without being selected; the Open button chooses it.
            if (current && current->data(0, kFolderRole).toBool() &&
                (selected.isEmpty() || (selected.size() == 1 && selected.first() == current)))
                activate(current);
            else
                accept();
            return true;
        }
        const QString text = key->text();
        const bool typing = !text.isEmpty() && text.at(0).isPrint() && !(mods & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier));
        if (typing && (text.at(0) == u'/' || text.at(0) == u'~')) {
            // A path begins: it goes into the name field, where Return takes it, rather than
            // selecting entries of the folder shown, which Return would then choose instead.
            m_name->setFocus();
            setNameFieldValue(text);
            return true;
        }
        if (typing) {
            typeToSelect(text);
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

} // namespace kpv
