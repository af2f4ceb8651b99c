// The open and save panels as the user drives them: names that are not UTF-8 listed, chosen and
// handed back by their bytes; folders, the type filter, hidden files and the keyboard; a file
// that would be replaced asked about; a name too long and a folder that cannot be read told.

#include "appkit/Panels.h"
#include "appkit/Window.h"
#include "foundation/FileNames.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QFileInfo>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace kpv;

namespace {

// Makes a file or folder by the bytes of its name.
void make(const QByteArray& path, bool folder = false)
{
    if (folder) {
        ASSERT_EQ(::mkdir(path.constData(), 0755), 0) << path.constData();
        return;
    }
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL, 0644);
    ASSERT_GE(fd, 0) << path.constData();
    ASSERT_EQ(::write(fd, "x", 1), 1);
    ::close(fd);
}

QStringList listed(QDialog* d)
{
    QStringList names;
    auto* list = d->findChild<QTreeWidget*>(QStringLiteral("fileList"));
    for (int i = 0; list && i < list->topLevelItemCount(); ++i)
        names << list->topLevelItem(i)->text(0);
    return names;
}

void key(QWidget* w, Qt::Key k, Qt::KeyboardModifiers mods = Qt::NoModifier)
{
    QTest::keyClick(w, k, mods);
}

class FilePanel : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(scratch.isValid());
        root = QFile::encodeName(scratch.path());
        ASSERT_NO_FATAL_FAILURE(make(root + "/caf\xe9.png"));
        ASSERT_NO_FATAL_FAILURE(make(root + "/b.png"));
        ASSERT_NO_FATAL_FAILURE(make(root + "/notes.txt"));
        ASSERT_NO_FATAL_FAILURE(make(root + "/.secret.png"));
        ASSERT_NO_FATAL_FAILURE(make(root + "/Ordner\xfc", true));
        ASSERT_NO_FATAL_FAILURE(make(root + "/Ordner\xfc/inner.png"));
        window.orderFront();
    }
    void TearDown() override
    {
        // Names that are not UTF-8 are beyond the toolkit's own removal.
        ::unlink((root + "/Ordner\xfc/inner.png").constData());
        ::rmdir((root + "/Ordner\xfc").constData());
        ::unlink((root + "/caf\xe9.png").constData());
    }
    QDialog* dialog() { return window.widget()->findChild<QDialog*>(QStringLiteral("filePanel")); }
    // Opens `panel` as Save As in the scratch folder with `name` typed; its answer goes to `result`.
    QDialog* saveAs(SavePanel& panel, const QString& name, long& result)
    {
        panel.setDirectoryURL(decodeFileName(root));
        panel.setNameFieldStringValue(name);
        panel.beginSheetModalForWindow(&window, [&result](long r) { result = r; });
        return dialog();
    }
    // Opens `panel` as a folder picker in the scratch folder; its answer goes to `result`.
    QDialog* pickFolder(OpenPanel& panel, long& result, bool canCreate = false)
    {
        panel.setCanChooseDirectories(true);
        panel.setCanChooseFiles(false);
        panel.setCanCreateDirectories(canCreate);
        panel.setDirectoryURL(decodeFileName(root));
        panel.beginSheetModalForWindow(&window, [&result](long r) { result = r; });
        return dialog();
    }

    QTemporaryDir scratch;
    QByteArray root;
    Window window{Rect(0, 0, 600, 400), TitledWindowMask};
};

} // namespace

// A folder picker whose list has the keys: a path typed there goes into the name field, and
// Return chooses the folder typed, not the one shown. It offers no filter of file types, whose
// files cannot be chosen anyway, but still shows hidden folders on request.
TEST_F(FilePanel, APathTypedInTheListIsTheFolderChosen)
{
    OpenPanel panel;
    long result = 99;
    QDialog* d = pickFolder(panel, result);
    ASSERT_NE(d, nullptr);
    auto* list = d->findChild<QTreeWidget*>(QStringLiteral("fileList"));
    ASSERT_NE(list, nullptr);
    auto* types = d->findChild<QComboBox*>(QStringLiteral("fileTypeCombo"));
    ASSERT_NE(types, nullptr);
    EXPECT_FALSE(types->isVisibleTo(d));
    for (QLabel* label : d->findChildren<QLabel*>())
        EXPECT_FALSE(label->isVisibleTo(d) && label->text().contains(QStringLiteral("Show"))) << label->text().toStdString();
    EXPECT_TRUE(d->findChild<QCheckBox*>(QStringLiteral("hiddenCheck"))->isVisibleTo(d));
    list->setFocus();
    const QString elsewhere = QDir::cleanPath(QDir::tempPath());
    auto* name = d->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    ASSERT_NE(name, nullptr);
    // The first key of the path moves the keys to the name field; the rest are typed there.
    QTest::keyClicks(list, elsewhere.left(1));
    EXPECT_EQ(name->text(), "/");
    QTest::keyClicks(name, elsewhere.mid(1));
    key(name, Qt::Key_Return);
    EXPECT_EQ(result, ModalResponseOK);
    EXPECT_EQ(panel.URL(), elsewhere);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

// A folder picker for new files can make the folder they are to go to: New Folder asks for its
// name, makes it, opens it, and Return then chooses it.
TEST_F(FilePanel, AFolderPickerMakesTheFolderTheUserNames)
{
    OpenPanel panel;
    long result = 99;
    QDialog* d = pickFolder(panel, result, true);
    ASSERT_NE(d, nullptr);
    auto* create = d->findChild<QPushButton*>(QStringLiteral("newFolderButton"));
    ASSERT_NE(create, nullptr);
    create->click();
    auto* ask = d->findChild<QInputDialog*>(QStringLiteral("newFolderQuestion"));
    ASSERT_NE(ask, nullptr);
    ask->setTextValue(QStringLiteral("Urlaub 2026"));
    ask->accept();
    const QString made = decodeFileName(root) + QStringLiteral("/Urlaub 2026");
    EXPECT_TRUE(QFileInfo(made).isDir());
    key(d->findChild<QTreeWidget*>(QStringLiteral("fileList")), Qt::Key_Return);
    EXPECT_EQ(result, ModalResponseOK);
    EXPECT_EQ(panel.URL(), made);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

// A photo and a folder whose names hold Latin-1 bytes are listed readably, reached with the
// keyboard, and the chosen file comes back with its very bytes.
TEST_F(FilePanel, OpenListsAndChoosesNamesThatAreNotUtf8ByTheirBytes)
{
    OpenPanel panel;
    panel.setAllowedFileTypes({"png", "jpg"});
    panel.setAllowsMultipleSelection(true);
    panel.setDirectoryURL(decodeFileName(root));
    long result = 99;
    panel.beginSheetModalForWindow(&window, [&](long r) { result = r; });
    QDialog* d = dialog();
    ASSERT_NE(d, nullptr);
    auto* list = d->findChild<QTreeWidget*>(QStringLiteral("fileList"));
    ASSERT_NE(list, nullptr);
    // Folders first; the type filter leaves the notes out, hidden files stay hidden.
    EXPECT_TRUE(d->findChild<QComboBox*>(QStringLiteral("fileTypeCombo"))->isVisibleTo(d));
    EXPECT_EQ(listed(d), (QStringList{QStringLiteral("Ordner\uFFFD"), "b.png", QStringLiteral("caf\uFFFD.png")}));
    key(list, Qt::Key_H, Qt::ControlModifier);
    EXPECT_TRUE(listed(d).contains(".secret.png"));
    d->findChild<QComboBox*>(QStringLiteral("fileTypeCombo"))->setCurrentIndex(1);
    EXPECT_TRUE(listed(d).contains("notes.txt"));
    d->findChild<QComboBox*>(QStringLiteral("fileTypeCombo"))->setCurrentIndex(0);
    key(list, Qt::Key_H, Qt::ControlModifier);

    // Into the folder by typing its start and Return, and back out with Backspace.
    list->setFocus();
    QTest::keyClicks(list, "o");
    key(list, Qt::Key_Return);
    EXPECT_EQ(encodeFileName(panel.directoryURL()), root + "/Ordner\xfc");
    EXPECT_EQ(listed(d), QStringList{"inner.png"});
    key(list, Qt::Key_Backspace);
    EXPECT_EQ(encodeFileName(panel.directoryURL()), root);
    EXPECT_EQ(result, 99);
    // Return on the marked first entry of a folder, with nothing selected, opens that folder too.
    list->clearSelection();
    list->setCurrentItem(list->topLevelItem(0), 0, QItemSelectionModel::NoUpdate);
    key(list, Qt::Key_Return);
    EXPECT_EQ(encodeFileName(panel.directoryURL()), root + "/Ordner\xfc");
    EXPECT_EQ(result, 99);
    key(list, Qt::Key_Backspace);

    QTest::keyClicks(list, "c");
    ASSERT_EQ(list->selectedItems().size(), 1);
    EXPECT_EQ(d->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->text(), QStringLiteral("caf\uFFFD.png"));
    key(list, Qt::Key_Return);
    EXPECT_EQ(result, ModalResponseOK);
    ASSERT_EQ(panel.URLs().size(), 1);
    EXPECT_EQ(encodeFileName(panel.URL()), root + "/caf\xe9.png");
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);

    // Esc ends it with nothing chosen.
    panel.beginSheetModalForWindow(&window, [&](long r) { result = r; });
    key(dialog()->findChild<QTreeWidget*>(QStringLiteral("fileList")), Qt::Key_Escape);
    EXPECT_EQ(result, ModalResponseCancel);
    EXPECT_TRUE(panel.URLs().isEmpty());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);

    // A panel for other files than pictures says what its filter lets through.
    OpenPanel music;
    music.setAllowedFileTypes({"mp3", "ogg"});
    music.setAllowedFileTypesName(QStringLiteral("Music files"));
    music.beginSheetModalForWindow(&window, [&](long r) { result = r; });
    EXPECT_EQ(dialog()->findChild<QComboBox*>(QStringLiteral("fileTypeCombo"))->itemText(0), "Music files (*.mp3 *.ogg)");
    key(dialog()->findChild<QTreeWidget*>(QStringLiteral("fileList")), Qt::Key_Escape);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

// Save As proposes a name that is not UTF-8, keeps its bytes through a change of extension,
// and asks before replacing a file of that name: Esc there keeps the panel up.
TEST_F(FilePanel, SaveKeepsTheNamesBytesAndAsksBeforeReplacing)
{
    SavePanel panel;
    panel.setAllowedFileTypes({"png"});
    long result = 99;
    QDialog* d = saveAs(panel, decodeFileName("caf\xe9.jpg"), result);
    ASSERT_NE(d, nullptr);
    auto* name = d->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    EXPECT_EQ(name->text(), QStringLiteral("caf\uFFFD.jpg"));
    // The caller puts the format's extension on the name it reads back.
    QString value = panel.nameFieldStringValue();
    panel.setNameFieldStringValue(value.left(value.size() - 3) + "png");
    EXPECT_EQ(name->text(), QStringLiteral("caf\uFFFD.png"));

    key(name, Qt::Key_Return);
    auto* question = d->findChild<QMessageBox*>(QStringLiteral("replaceQuestion"));
    ASSERT_NE(question, nullptr) << "replacing a file is asked about";
    EXPECT_TRUE(question->text().contains(QStringLiteral("caf\uFFFD.png")));
    key(question, Qt::Key_Escape);
    EXPECT_EQ(result, 99);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);

    key(name, Qt::Key_Return);
    question = d->findChild<QMessageBox*>(QStringLiteral("replaceQuestion"));
    ASSERT_NE(question, nullptr);
    for (QAbstractButton* b : question->buttons())
        if (b->text() == "Replace")
            b->click();
    EXPECT_EQ(result, ModalResponseOK);
    EXPECT_EQ(encodeFileName(panel.URL()), root + "/caf\xe9.png");
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);

    // A name typed without an extension gets the only type's; a new name is not asked about.
    panel.beginSheetModalForWindow(&window, [&](long r) { result = r; });
    name = dialog()->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    name->selectAll();
    QTest::keyClicks(name, "fresh");
    key(name, Qt::Key_Return);
    EXPECT_EQ(result, ModalResponseOK);
    EXPECT_EQ(panel.URL(), decodeFileName(root) + "/fresh.png");
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

// A name longer than the volume takes is told in the panel, which stays up with the name to
// shorten; the shortened name is then chosen.
TEST_F(FilePanel, SaveTellsANameTooLongAndKeepsThePanelUp)
{
    SavePanel panel;
    panel.setAllowedFileTypes({"png"});
    long result = 99;
    QDialog* d = saveAs(panel, "a.png", result);
    ASSERT_NE(d, nullptr);
    auto* name = d->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    name->setText(QString(300, u'q') + ".png");
    key(name, Qt::Key_Return);
    EXPECT_EQ(result, 99);
    auto* problem = d->findChild<QLabel*>(QStringLiteral("panelProblem"));
    ASSERT_NE(problem, nullptr);
    EXPECT_FALSE(problem->isHidden());
    EXPECT_TRUE(problem->text().contains("too long")) << problem->text().toStdString();
    EXPECT_TRUE(problem->text().contains("304")) << problem->text().toStdString();

    name->setText(QString(251, u'q') + ".png");
    key(name, Qt::Key_Return);
    EXPECT_EQ(result, ModalResponseOK);
    EXPECT_EQ(panel.URL(), decodeFileName(root) + "/" + QString(251, u'q') + ".png");
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

// A typed path of a folder that is not there, with a name of 200 letters in it: the panel says
// so in full, wrapped within the panel, which keeps its width.
TEST_F(FilePanel, ALongProblemWrapsWithinThePanel)
{
    SavePanel panel;
    long result = 99;
    QDialog* d = saveAs(panel, "a.png", result);
    ASSERT_NE(d, nullptr);
    QCoreApplication::processEvents();
    const int width = d->width();
    auto* name = d->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    const QString missing = "/nonexistent/" + QString(200, u'b');
    name->setText(missing + "/a.png");
    key(name, Qt::Key_Return);
    QCoreApplication::processEvents();
    auto* problem = d->findChild<QLabel*>(QStringLiteral("panelProblem"));
    ASSERT_NE(problem, nullptr);
    EXPECT_FALSE(problem->isHidden());
    EXPECT_TRUE(problem->text().contains(missing)) << problem->text().toStdString();
    EXPECT_EQ(d->width(), width);
    // Every line of it is shown: the label is as tall as the wrapped text needs.
    const QFontMetrics fm(problem->font());
    EXPECT_GE(problem->height(), (fm.horizontalAdvance(problem->text()) / problem->width() + 1) * fm.lineSpacing());
    EXPECT_EQ(result, 99);
    d->reject();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

// A folder that cannot be read is said so in the panel, which stays usable.
TEST_F(FilePanel, AFolderThatCannotBeReadIsTold)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "root reads every folder";
    const QByteArray locked = root + "/locked";
    ASSERT_NO_FATAL_FAILURE(make(locked, true));
    ASSERT_EQ(::chmod(locked.constData(), 0), 0);
    OpenPanel panel;
    panel.setDirectoryURL(decodeFileName(locked));
    long result = 99;
    panel.beginSheetModalForWindow(&window, [&](long r) { result = r; });
    QDialog* d = dialog();
    ASSERT_NE(d, nullptr);
    auto* problem = d->findChild<QLabel*>(QStringLiteral("panelProblem"));
    EXPECT_FALSE(problem->isHidden());
    EXPECT_TRUE(problem->text().contains("locked")) << problem->text().toStdString();
    EXPECT_TRUE(listed(d).isEmpty());
    key(d->findChild<QTreeWidget*>(QStringLiteral("fileList")), Qt::Key_Backspace);
    EXPECT_TRUE(problem->isHidden());
    EXPECT_TRUE(listed(d).contains("b.png"));
    d->reject();
    EXPECT_EQ(result, ModalResponseCancel);
    ::chmod(locked.constData(), 0755);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}
