#pragma once
// The dialog behind the open and save panels. It reads folders itself, by the bytes of their
// names, so that a file whose name is not UTF-8 is listed (shown with the replacement character
// for the bytes that are not text), can be chosen, and comes back with its very bytes.

#include <QDialog>
#include <QElapsedTimer>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <functional>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QToolButton;
class QTreeWidget;
class QTreeWidgetItem;
class QGridLayout;

namespace kpv {

struct FilePanelOptions {
    bool open = true;
    bool chooseFiles = true;
    bool chooseFolders = false;
    bool multiple = false;
    bool canCreateFolders = true;
    QStringList types; // extensions without the dot; empty: every file
    QString typesName; // the filter's name for them; empty: image files
    QString folder, name, title, prompt, message;
    // Save: what replacing the file at a path would cost beyond its contents, said in the question
    // before replacing it; empty for the usual words.
    std::function<QString(const QString& path)> replaceWarning;
    // Save: the path written for the one chosen; unset, the same.
    std::function<QString(const QString& path)> savedPath;
};

class FilePanelDialog final : public QDialog {
public:
    FilePanelDialog(QWidget* parent, FilePanelOptions options);

    // The folder shown; it follows the user's moves.
    QString folder() const { return m_folder; }
    void setFolder(const QString& folder);
    // The name in the name field with its bytes (a name shown with replacement characters is
    // the one that was set or chosen, not the characters seen).
    QString nameFieldValue() const;
    void setNameFieldValue(const QString& name);
    // Called after each edit the user makes in the name field.
    void setNameEditedHandler(std::function<void()> h) { m_nameEdited = std::move(h); }
    // What the user chose, as paths; empty until the dialog is accepted.
    QStringList chosen() const { return m_chosen; }
    // A row below the others, for the caller's own controls. `keyWidgets`, in the order they stand
    // on screen, take their place in the Tab order where the row stands: after the type row, before
    // the buttons.
    void addAccessory(QWidget* w, const QList<QWidget*>& keyWidgets = {});

    void accept() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* key) override;

private:
    void relist();
    void goUp();
    void typeToSelect(const QString& text);
    void activate(QTreeWidgetItem* item);
    void selectionChanged();
    void tell(const QString& problem);
    void choose(const QStringList& paths);
    void acceptOpen();
    void acceptSave();
    void askToReplace(const QString& path);
    void newFolder();
    QString typedPath(const QString& text) const;
    bool passesFilter(const QString& name) const;

    FilePanelOptions m_options;
    QString m_folder;
    std::function<void()> m_nameEdited;
    QString m_nameRaw;              // the name last set or chosen, with its bytes
    bool m_fieldShowsSelection = false;
    QStringList m_chosen;
    QStringList m_listedNames;      // the names of the listed entries, with their bytes
    QString m_typed;                // letters typed in the list to select by name
    QElapsedTimer m_typedSince;

    QToolButton* m_up = nullptr;
    QLabel* m_folderLabel = nullptr;
    QTreeWidget* m_list = nullptr;
    QLabel* m_problem = nullptr;
    QLineEdit* m_name = nullptr;
    QComboBox* m_filter = nullptr;
    QCheckBox* m_hidden = nullptr;
    QPushButton* m_ok = nullptr;
    QPushButton* m_cancel = nullptr;
    QGridLayout* m_grid = nullptr;
};

} // namespace kpv
