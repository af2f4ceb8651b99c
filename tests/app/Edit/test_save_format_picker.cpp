// The save-format picker's view and the Save As panel around it: the option page follows the
// format, the controls write the picker's parameters, the panel starts with the source's format,
// gives the chosen path the format's extension, asks before that new name replaces a file, and
// keeps quality and compression from one save to the next.

#include "Edit/EditPopUpButton.h"
#include "Edit/ImageSaveAsPanel.h"
#include "Edit/LMImageSaveParamController.h"
#include "Edit/LMImageSaveParamView.h"

#include "appkit/Control.h"
#include "appkit/Panels.h"
#include "imageio/ContentTypes.h"
#include "imageio/ImageProperties.h"
#include "imageio/ImageDestination.h"
#include "imageio/ImageSource.h"
#include "Model/LMImageTools.h"

#include "foundation/RunLoop.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QLineEdit>
#include <QFile>
#include <QKeyEvent>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>
#include <tiffio.h>

#include <tuple>

namespace {

using namespace kpv::ContentTypes;

// A save panel that answers at once, after the user's choices in it.
class AnsweringPanel final : public kpv::SavePanel {
public:
    AnsweringPanel(QString answer, std::function<void(AnsweringPanel &)> choices)
        : m_answer(std::move(answer)), m_choices(std::move(choices))
    {
    }
    void beginSheetModalForWindow(kpv::Window *, std::function<void(long)> handler) override
    {
        if (m_choices)
            m_choices(*this);
        if (!m_answer.isEmpty())
            m_urls = QStringList{m_answer};
        handler(m_answer.isEmpty() ? 0 : 1);
    }

private:
    QString m_answer;
    std::function<void(AnsweringPanel &)> m_choices;
};

TEST(SaveFormatPicker, TheOptionPageFollowsTheFormatAndTheControlsWriteTheParameters)
{
    LMImageSaveParamController picker;
    picker.setSaveType(kJpeg);
    LMImageSaveParamView view(picker);
    EXPECT_EQ(view.shownTab(), 1);
    EXPECT_FALSE(view.sliderQuality()->isHidden());
    EXPECT_TRUE(view.popupCompression()->isHidden());
    EXPECT_NEAR(view.sliderQuality()->doubleValue(), 0.9, 1e-6);

    // TIFF: the compression page; LZW is stored in the TIFF sub-dictionary.
    view.popupFormat()->chooseItemAtIndex(3);
    EXPECT_EQ(picker.saveType(), kTiff);
    EXPECT_EQ(view.shownTab(), 3);
    EXPECT_TRUE(view.sliderQuality()->isHidden());
    EXPECT_FALSE(view.popupCompression()->isHidden());
    view.popupCompression()->chooseItemAtIndex(1);
    EXPECT_EQ(picker.saveCompression(), 5);
    const QVariantMap tiff = picker.saveParameters()->value(QString::fromLatin1(kpv::kCGImagePropertyTIFFDictionary)).toMap();
    EXPECT_EQ(tiff.value(QString::fromLatin1(kpv::kCGImagePropertyTIFFCompression)).toInt(), 5);

    // JPEG 2000: the quality page again; the slider stores a float quality.
    view.popupFormat()->chooseItemAtIndex(1);
    EXPECT_EQ(view.shownTab(), 2);
    view.sliderQuality()->setDoubleValue(0.5);
    view.qualityChanged();
    EXPECT_EQ(picker.saveQuality().typeId(), QMetaType::Float);
    EXPECT_FLOAT_EQ(picker.saveQuality().toFloat(), 0.5f);

    // PNG and BMP have no options.
    view.popupFormat()->chooseItemAtIndex(2);
    EXPECT_EQ(view.shownTab(), 0);
    EXPECT_TRUE(view.sliderQuality()->isHidden());
    EXPECT_TRUE(view.popupCompression()->isHidden());
}

TEST(SaveAsPanel, NamesFollowTheChosenFormat)
{
    EXPECT_EQ(ImageSaveAsPanel::initialSaveType("/p/a.png"), kPng);
    EXPECT_EQ(ImageSaveAsPanel::initialSaveType("/p/a.TIF"), kTiff);
    EXPECT_EQ(ImageSaveAsPanel::initialSaveType("/p/a.gif"), kJpeg);
    EXPECT_EQ(ImageSaveAsPanel::pathForSaveType("/p/a.jpeg", kJpeg), "/p/a.jpeg");
    EXPECT_EQ(ImageSaveAsPanel::pathForSaveType("/p/a.png", kTiff), "/p/a.tiff");
    EXPECT_EQ(ImageSaveAsPanel::pathForSaveType("/p/holiday", kPng), "/p/holiday.png");
    EXPECT_EQ(ImageSaveAsPanel::pathForSaveType("/p/v1.2.jpg", kBmp), "/p/v1.2.bmp");
    // Points that are part of the name stay; only a picture's extension is replaced.
    EXPECT_EQ(ImageSaveAsPanel::pathForSaveType("/p/Trip 2023.05.07", kPng), "/p/Trip 2023.05.07.png");
    EXPECT_EQ(ImageSaveAsPanel::pathForSaveType("/p/a.gif", kJpeg), "/p/a.jpg");
}

TEST(SaveAsPanel, AnsweredPanelsAndTheReplaceQuestion)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    ImageSaveAsPanel panel;
    QString startedName;
    panel.setPanelFactory([&] {
        return std::make_unique<AnsweringPanel>(dir.filePath("shot"), [&](AnsweringPanel &p) {
            startedName = p.nameFieldStringValue();
            // The panel started with the source's format; the user picks PNG and types a name
            // without an extension.
            EXPECT_EQ(panel.picker().saveType(), kTiff);
            panel.picker().setSaveType(kPng);
        });
    });
    bool chosen = false;
    QString path;
    std::optional<QVariantMap> params;
    auto done = [&](bool c, const QString &p, const std::optional<QVariantMap> &q) {
        chosen = c;
        path = p;
        params = q;
    };
    panel.run(nullptr, "/photos/scan.tif", dir.path(), done);
    EXPECT_EQ(startedName, "scan.tif");
    EXPECT_TRUE(chosen);
    EXPECT_EQ(path, dir.filePath("shot.png"));
    ASSERT_TRUE(params);

    // The new name is taken: the user is asked. Esc on the question keeps the file, as its
    // default "Cancel" does; it never means "Replace".
    QFile(dir.filePath("shot.png")).open(QIODevice::WriteOnly);
    panel.run(nullptr, "/photos/scan.tif", dir.path(), done);
    auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
    ASSERT_TRUE(box);
    QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(box->focusWidget() ? box->focusWidget() : box, &esc);
    EXPECT_FALSE(chosen);
    kpv::RunLoop::main().runOnce();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    chosen = true;
    int asked = 0;
    bool replace = false;
    panel.setReplaceQuestion([&](const QString &p, const QString &, kpv::Window *, std::function<void(bool)> answer) {
        ++asked;
        EXPECT_EQ(p, dir.filePath("shot.png"));
        answer(replace);
    });
    panel.run(nullptr, "/photos/scan.tif", dir.path(), done);
    EXPECT_EQ(asked, 1);
    EXPECT_FALSE(chosen);
    replace = true;
    panel.run(nullptr, "/photos/scan.tif", dir.path(), done);
    EXPECT_TRUE(chosen);
    EXPECT_EQ(path, dir.filePath("shot.png"));

    // Cancelled: nothing chosen. The quality set before stays for the next save.
    panel.picker().setSaveQuality(QVariant::fromValue(0.4f));
    panel.setPanelFactory([] { return std::make_unique<AnsweringPanel>(QString(), nullptr); });
    panel.run(nullptr, "/photos/a.jpg", dir.path(), done);
    EXPECT_FALSE(chosen);
    EXPECT_FLOAT_EQ(panel.picker().saveQuality().toFloat(), 0.4f);
}

// Save As of an LZW-coded TIFF as a TIFF: the file is written with the compression the menu
// shows, "None" as the panel starts and PackBits once the user picks it, not with the coding the
// source named (the crop and the turned photo are written from the source's properties merged
// with the panel's parameters).
TEST(SaveAsPanel, TheTiffCompressionShownIsTheOneWritten)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString source = dir.filePath("scan.tif");
    QImage scan(8, 4, QImage::Format_RGB32);
    scan.fill(Qt::darkCyan);
    ASSERT_TRUE(kpv::ImageDestination::writeImage(
        scan, source, kTiff, {{kpv::kCGImagePropertyTIFFDictionary, QVariantMap{{kpv::kCGImagePropertyTIFFCompression, 5}}}}));
    const auto read = kpv::ImageSource::createWithFile(source);
    ASSERT_TRUE(read);
    const QVariantMap sourceProperties = read->propertiesAtIndex(0);
    const QImage picture = read->createImageAtIndex(0);
    auto writtenCompression = [](const QString &path) {
        TIFF *tif = TIFFOpen(QFile::encodeName(path).constData(), "r");
        uint16_t compression = 0;
        if (tif) {
            TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &compression);
            TIFFClose(tif);
        }
        return int(compression);
    };

    ASSERT_EQ(writtenCompression(source), 5);

    ImageSaveAsPanel panel;
    int shown = -1;
    int pick = -1;
    QString answer = dir.filePath("copy.tiff");
    panel.setPanelFactory([&] {
        return std::make_unique<AnsweringPanel>(answer, [&](AnsweringPanel &) {
            if (pick >= 0)
                panel.accessoryView()->popupCompression()->chooseItemAtIndex(pick);
            shown = panel.accessoryView()->popupCompression()->selectedValue().toInt();
        });
    });
    for (int choice : {-1, 2}) {
        SCOPED_TRACE(choice);
        pick = choice;
        std::optional<QVariantMap> params;
        QString path;
        panel.run(nullptr, source, dir.path(), [&](bool, const QString &p, const std::optional<QVariantMap> &q) {
            path = p;
            params = q;
        });
        ASSERT_TRUE(params);
        EXPECT_EQ(shown, choice < 0 ? 1 : 32773);
        const auto properties = LMImageTools::createPropertiesFrom(sourceProperties, params);
        ASSERT_TRUE(properties);
        QFile::remove(path);
        ASSERT_TRUE(LMImageTools::saveImage(picture, path, *properties, LMImageTools::writeOptionsKeepingMetadataOf(source)));
        EXPECT_EQ(writtenCompression(path), shown);
    }
}

// The user types a name with the extension of another offered format: that format is written
// and the menu follows it; an extension the menu does not offer keeps the chosen format.
TEST(SaveAsPanel, ATypedExtensionChoosesItsFormat)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    ImageSaveAsPanel panel;
    QString answer;
    panel.setPanelFactory([&] { return std::make_unique<AnsweringPanel>(answer, nullptr); });
    QString path;
    std::optional<QVariantMap> params;
    auto done = [&](bool, const QString &p, const std::optional<QVariantMap> &q) {
        path = p;
        params = q;
    };
    struct Row {
        const char *typed;
        const char *written;
        QString type;
    };
    // Each row starts from a JPEG source, so JPEG is chosen when the panel comes up.
    for (const Row &row : {Row{"out.bmp", "out.bmp", kBmp}, Row{"Out.PNG", "Out.PNG", kPng},
                           Row{"scan.tif", "scan.tif", kTiff}, Row{"x.jp2", "x.jp2", kJpeg2000},
                           Row{"out.jpeg", "out.jpeg", kJpeg}, Row{"out.gif", "out.gif.jpg", kJpeg},
                           Row{"Trip 2023.05.07", "Trip 2023.05.07.jpg", kJpeg}}) {
        SCOPED_TRACE(row.typed);
        answer = dir.filePath(row.typed);
        params.reset();
        panel.run(nullptr, "/photos/a.jpg", dir.path(), done);
        EXPECT_EQ(path, dir.filePath(row.written));
        EXPECT_EQ(panel.picker().saveType(), row.type);
        EXPECT_TRUE(params);
    }

    // In the panel itself the menu turns as the extension is typed.
    panel.setPanelFactory({});
    bool chosen = false;
    panel.run(nullptr, "/photos/a.jpg", dir.path(), [&](bool c, const QString &p, const std::optional<QVariantMap> &) {
        chosen = c;
        path = p;
    });
    QDialog *shown = nullptr;
    for (QWidget *w : QApplication::topLevelWidgets())
        if (w->objectName() == "filePanel" && w->isVisible())
            shown = qobject_cast<QDialog *>(w);
    ASSERT_TRUE(shown);
    auto *name = shown->findChild<QLineEdit *>("fileNameEdit");
    ASSERT_TRUE(name);
    // The name is typed with a folder before it, which stays as typed.
    ASSERT_TRUE(QDir(dir.path()).mkdir("night"));
    name->selectAll();
    QTest::keyClicks(name, "night/sky.png");
    EXPECT_EQ(panel.picker().saveType(), kPng);
    EXPECT_EQ(panel.accessoryView()->popupFormat()->selectedValue().toString(), kPng);
    EXPECT_EQ(name->text(), "night/sky.png");
    QTest::keyClick(name, Qt::Key_Return);
    EXPECT_TRUE(chosen);
    EXPECT_EQ(path, dir.filePath("night/sky.png"));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

TEST(SaveAsPanel, TheProposedNameNeverNamesAFileThatIsThere)
{
    QTemporaryDir dir, other;
    ASSERT_TRUE(dir.isValid() && other.isValid());
    const QString source = dir.filePath("scan.png");
    ASSERT_TRUE(QFile(source).open(QIODevice::WriteOnly));
    ImageSaveAsPanel panel;
    QString startedName, startedFolder;
    panel.setPanelFactory([&] {
        return std::make_unique<AnsweringPanel>(QString(), [&](AnsweringPanel &p) {
            startedName = p.nameFieldStringValue();
            startedFolder = p.directoryURL();
        });
    });
    const auto done = [](bool, const QString &, const std::optional<QVariantMap> &) {};

    // No folder remembered: the panel opens beside the source, with a new name there.
    panel.run(nullptr, source, QString(), done);
    EXPECT_EQ(startedFolder, dir.path());
    EXPECT_NE(startedName, "scan.png");
    EXPECT_TRUE(startedName.endsWith(".png")) << startedName.toStdString();
    EXPECT_FALSE(QFile::exists(dir.filePath(startedName)));

    // The remembered folder is the source's own: the same.
    panel.run(nullptr, source, dir.path(), done);
    EXPECT_NE(startedName, "scan.png");
    EXPECT_FALSE(QFile::exists(dir.filePath(startedName)));

    // Another folder without such a file keeps the source's name; a source whose format is not
    // written gets the written format's name, checked the same way.
    panel.run(nullptr, source, other.path(), done);
    EXPECT_EQ(startedFolder, other.path());
    EXPECT_EQ(startedName, "scan.png");
    ASSERT_TRUE(QFile(other.filePath("anim.jpg")).open(QIODevice::WriteOnly));
    panel.run(nullptr, dir.filePath("anim.gif"), other.path(), done);
    EXPECT_NE(startedName, "anim.jpg");
    EXPECT_TRUE(startedName.endsWith(".jpg")) << startedName.toStdString();

    // A name near the length limit taken there: the proposal is shortened before its extension
    // so that it can be written, not pushed past the limit by its counter.
    const QString longName = QString(250, QLatin1Char('b')) + ".png";
    ASSERT_TRUE(QFile(dir.filePath(longName)).open(QIODevice::WriteOnly));
    panel.run(nullptr, dir.filePath(longName), QString(), done);
    EXPECT_LE(startedName.toUtf8().size(), 255);
    EXPECT_TRUE(startedName.startsWith("bbbb") && startedName.endsWith(".png")) << startedName.toStdString();
    EXPECT_FALSE(QFile::exists(dir.filePath(startedName)));
}

QDialog *shownSavePanel()
{
    for (QWidget *w : QApplication::topLevelWidgets())
        if (w->objectName() == "filePanel" && w->isVisible())
            return qobject_cast<QDialog *>(w);
    return nullptr;
}

// A name whose extension no offered format has gets the chosen format's: the panel shows that
// name and asks about replacing that file, never about the file of the name typed.
TEST(SaveAsPanel, ANameOfAnotherFormatIsShownAndAskedAboutAsWritten)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    ASSERT_TRUE(QFile(dir.filePath("out.gif")).open(QIODevice::WriteOnly));
    ImageSaveAsPanel panel;
    int laterQuestions = 0;
    panel.setReplaceQuestion([&](const QString &, const QString &, kpv::Window *, std::function<void(bool)> answer) {
        ++laterQuestions;
        answer(false);
    });
    bool chosen = false;
    QString path;
    const auto done = [&](bool c, const QString &p, const std::optional<QVariantMap> &) {
        chosen = c;
        path = p;
    };
    const auto typeAndSave = [&] {
        QDialog *shown = shownSavePanel();
        EXPECT_TRUE(shown);
        auto *name = shown ? shown->findChild<QLineEdit *>("fileNameEdit") : nullptr;
        if (!name)
            return std::pair<QDialog *, QLineEdit *>{};
        name->selectAll();
        QTest::keyClicks(name, "out.gif");
        QTest::keyClick(name, Qt::Key_Return);
        return std::pair{shown, name};
    };

    // Only "out.gif" is there: "out.gif.jpg" is new, nothing to ask.
    panel.run(nullptr, "/photos/a.jpg", dir.path(), done);
    auto [shown, name] = typeAndSave();
    ASSERT_TRUE(name);
    EXPECT_FALSE(shown->findChild<QMessageBox *>("replaceQuestion")) << "asked about a file that stays as it is";
    EXPECT_TRUE(chosen);
    EXPECT_EQ(path, dir.filePath("out.gif.jpg"));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);

    // Both are there: one question, about the file written, whose name the field shows.
    ASSERT_TRUE(QFile(dir.filePath("out.gif.jpg")).open(QIODevice::WriteOnly));
    chosen = false;
    panel.run(nullptr, "/photos/a.jpg", dir.path(), done);
    std::tie(shown, name) = typeAndSave();
    ASSERT_TRUE(name);
    auto *question = shown->findChild<QMessageBox *>("replaceQuestion");
    ASSERT_TRUE(question);
    EXPECT_TRUE(question->text().contains("\u201cout.gif.jpg\u201d")) << question->text().toStdString();
    EXPECT_EQ(name->text(), "out.gif.jpg");
    for (QAbstractButton *b : question->buttons())
        if (b->text() == "Replace")
            b->click();
    EXPECT_TRUE(chosen);
    EXPECT_EQ(path, dir.filePath("out.gif.jpg"));
    EXPECT_EQ(laterQuestions, 0) << "asked twice";
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

// The format menu and the quality slider under the file list are reached with Tab and Shift+Tab
// in the order they stand, between the type row and the buttons; with the focus, the arrows move
// the slider and open the menu, whose item the keyboard then chooses.
TEST(SaveAsPanel, TheFormatAndQualityAreWorkedWithTheKeyboard)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    ImageSaveAsPanel panel;
    bool ended = false, chosen = true;
    panel.run(nullptr, "/photos/a.jpg", dir.path(), [&](bool c, const QString &, const std::optional<QVariantMap> &) {
        ended = true;
        chosen = c;
    });
    QDialog *shown = shownSavePanel();
    ASSERT_TRUE(shown);
    shown->activateWindow();
    QApplication::setActiveWindow(shown);
    QWidget *format = panel.accessoryView()->popupFormat()->widget();
    QWidget *quality = panel.accessoryView()->sliderQuality()->widget();
    auto *hidden = shown->findChild<QWidget *>("hiddenCheck");
    auto *cancel = shown->findChild<QWidget *>("cancelButton");
    ASSERT_TRUE(hidden && cancel);
    hidden->setFocus(Qt::OtherFocusReason);
    const auto press = [](Qt::Key k, Qt::KeyboardModifiers m = Qt::NoModifier) {
        QWidget *focus = QApplication::focusWidget();
        ASSERT_TRUE(focus);
        QTest::keyClick(focus, k, m);
    };
    press(Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), format);
    press(Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), quality);
    const double before = panel.accessoryView()->sliderQuality()->doubleValue();
    press(Qt::Key_Left);
    EXPECT_LT(panel.accessoryView()->sliderQuality()->doubleValue(), before);
    EXPECT_LT(panel.picker().saveQuality().toDouble(), before);
    press(Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), cancel);
    press(Qt::Key_Tab, Qt::ShiftModifier);
    press(Qt::Key_Tab, Qt::ShiftModifier);
    ASSERT_EQ(QApplication::focusWidget(), format);

    // Down opens the menu at the format chosen; Down and Return there choose the next one.
    const auto &items = panel.accessoryView()->popupFormat()->items();
    ASSERT_GE(items.size(), 2);
    ASSERT_EQ(items[0].value.toString(), panel.picker().saveType());
    press(Qt::Key_Down);
    auto *menu = QApplication::activePopupWidget();
    ASSERT_TRUE(menu) << "no menu opened";
    QTest::keyClick(menu, Qt::Key_Down);
    QTest::keyClick(menu, Qt::Key_Return);
    EXPECT_EQ(panel.picker().saveType(), items[1].value.toString());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);

    // Return there saves, as on every control of the panel but a button, leaving the menu shut.
    ASSERT_EQ(QApplication::focusWidget(), format);
    press(Qt::Key_Return);
    EXPECT_EQ(QApplication::activePopupWidget(), nullptr) << "Return opened the format menu";
    EXPECT_TRUE(ended);
    EXPECT_TRUE(chosen);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

} // namespace
