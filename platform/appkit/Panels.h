#pragma once
// Open and save panels, and alerts, as window-modal dialogs. Completions run on the main
// thread. The panels' run and begin operations are virtual so that callers can be tested with
// panels that answer at once.
//
// The panels list folders by the bytes of their names: a name that is not UTF-8 is shown with
// replacement characters, and what the user chooses comes back as a path that keeps its bytes
// (see foundation/FileNames.h).

#include "appkit/Window.h"

#include <QPointer>
#include <QString>
#include <QStringList>
#include <functional>

class QMessageBox;
class QWidget;

namespace kpv {

class View;
class FilePanelDialog;

class SavePanel {
public:
    SavePanel() = default;
    virtual ~SavePanel() = default;

    void setTitle(const QString& t) { m_title = t; }
    void setMessage(const QString& m) { m_message = m; }
    void setPrompt(const QString& p) { m_prompt = p; }
    // Extensions without the dot; empty allows every file.
    void setAllowedFileTypes(const QStringList& types) { m_types = types; }
    QStringList allowedFileTypes() const { return m_types; }
    // What the type filter calls the allowed files; "Image files" when not set.
    void setAllowedFileTypesName(const QString& name) { m_typesName = name; }
    // The name field; while the panel is up, the name as the user sees and types it.
    void setNameFieldStringValue(const QString& n);
    QString nameFieldStringValue() const;
    // Called with the name as the user edits it in the name field (not when it is set).
    void setNameFieldEditedHandler(std::function<void(const QString&)> h) { m_nameEdited = std::move(h); }
    void setDirectoryURL(const QString& dir);
    // While the panel is up, the folder it shows.
    QString directoryURL() const;
    void setCanCreateDirectories(bool c) { m_canCreateDirectories = c; }
    // What replacing an existing file would cost beyond its contents (pages, depth), in words for
    // the question asked before it is replaced; empty for the usual words.
    void setReplaceWarning(std::function<QString(const QString& path)> w) { m_replaceWarning = std::move(w); }
    // The path a save writes for the one the user chose (the chosen format's extension put on a
    // name that has none of its own); the panel shows that name and asks about replacing that file,
    // not the one typed. Unset: the path chosen is the one written.
    void setSavedPathForChosenPath(std::function<QString(const QString& path)> f) { m_savedPath = std::move(f); }
    // Shown below the file list; not owned (the caller keeps it alive while the panel runs).
    void setAccessoryView(View* v) { m_accessory = v; }
    View* accessoryView() const { return m_accessory; }

    // The chosen file (save) or first chosen item (open); empty before a run or after cancel.
    QString URL() const { return m_urls.isEmpty() ? QString() : m_urls.first(); }

    // 1 (OK) or 0 (cancel). Runs a nested loop in which only common-mode timers fire.
    virtual long runModal();
    // Shows the panel as a sheet of the window (window-modal) and returns at once.
    virtual void beginSheetModalForWindow(Window* window, std::function<void(long)> handler);

protected:
    virtual bool isOpenPanel() const { return false; }
    FilePanelDialog* makeDialog(QWidget* parent);
    void takeResult(FilePanelDialog* dialog, bool accepted);

    QString m_title, m_message, m_prompt, m_name, m_directory;
    QStringList m_types;
    QString m_typesName;
    bool m_canCreateDirectories = true;
    std::function<QString(const QString& path)> m_replaceWarning;
    std::function<QString(const QString& path)> m_savedPath;
    View* m_accessory = nullptr;
    QStringList m_urls;
    std::function<void(const QString&)> m_nameEdited;
    QPointer<FilePanelDialog> m_dialog; // while the panel is up

    friend class OpenPanel;
    bool m_canChooseFiles = true;
    bool m_canChooseDirectories = false;
    bool m_multiple = false;
};

class OpenPanel : public SavePanel {
public:
    void setCanChooseFiles(bool c) { m_canChooseFiles = c; }
    void setCanChooseDirectories(bool c) { m_canChooseDirectories = c; }
    void setAllowsMultipleSelection(bool m) { m_multiple = m; }
    bool canChooseFiles() const { return m_canChooseFiles; }
    bool canChooseDirectories() const { return m_canChooseDirectories; }
    bool allowsMultipleSelection() const { return m_multiple; }
    QStringList URLs() const { return m_urls; }

protected:
    bool isOpenPanel() const override { return true; }
};

// What Esc (or closing the alert's window) answers: the alternate button, where that button
// cancels; or nothing at all, where the alternate button does something of its own (goes on
// without saving, replaces a file), so that Esc never does it.
enum class AlertEscape { Alternate, Dismiss };

// A message with up to three buttons, run as a sheet. The texts are shown as plain text.
// Return codes: the default button 1, the alternate 0, the other -1; Esc under
// AlertEscape::Dismiss AlertDismissedReturn.
class AlertSheet {
public:
    // Any button title may be empty (no such button; with all empty, one "OK" button). With no
    // window the alert is application-modal. The dialog is owned by Qt and deleted after use.
    static QMessageBox* begin(const QString& title, const QString& defaultButton, const QString& alternateButton,
                              const QString& otherButton, Window* window, std::function<void(long)> handler,
                              const QString& message, AlertEscape escape = AlertEscape::Alternate);
};

} // namespace kpv
