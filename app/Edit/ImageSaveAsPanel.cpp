#include "Edit/ImageSaveAsPanel.h"

#include "Edit/EditFileTools.h"
#include "Edit/LMImageSaveParamView.h"
#include "Kit/LMAlertSheet.h"
#include "Model/LMPathString.h"
#include "Model/LMPathTools.h"
#include "Model/LMPerformSelectorWrapper.h"
#include "Kit/LMSavePanelWrapper.h"

#include "appkit/Panels.h"
#include "foundation/FileNames.h"
#include "foundation/Bundle.h"
#include "foundation/StringFormat.h"
#include "imageio/ContentTypes.h"
#include "imageio/ImageDestination.h"
#include "imageio/ImageProperties.h"

#include <QDir>
#include <QGuiApplication>
#include <QPalette>
#include <QFileInfo>

namespace {
QString text(const char *key) { return kpv::Bundle::mainBundle().localizedString(QString::fromLatin1(key)); }

// Asks with an alert sheet; the default answer (Cancel) keeps the file, and so does Esc.
void askReplace(const QString &path, const QString &warning, kpv::Window *window, std::function<void(bool)> answer)
{
    auto *alert = new LMAlertSheet;
    alert->beginAlertSheet(kpv::stringWithFormat(text("IDS_ReplaceExisting_Fmt"), kpv::displayFileName(LMPathString::lastPathComponent(path))),
                           text("IDS_Cancel"), text("IDS_Replace"), QString(), window,
                           [alert, answer](std::int32_t code) {
                               answer(code == 0);
                               // The alert is still unwinding: freed on the next turn.
                               LMPerformSelectorWrapper().performWithBlock([alert] { delete alert; }, 0);
                           },
                           warning, kpv::AlertEscape::Dismiss);
}
} // namespace

ImageSaveAsPanel::ImageSaveAsPanel()
{
    m_picker.setDelegate(this);
    m_view = std::make_unique<LMImageSaveParamView>(m_picker);
    // The panel is drawn by the toolkit in the desktop's colours: the captions follow them.
    m_view->setLabelTextColor(kpv::Color::fromQColor(QGuiApplication::palette().color(QPalette::WindowText)));
}

ImageSaveAsPanel::~ImageSaveAsPanel() { m_picker.setDelegate(nullptr); }

ImageSaveAsPanel &ImageSaveAsPanel::shared()
{
    // Lives for the process: its view's widget must not be destroyed after the toolkit has gone.
    static ImageSaveAsPanel *panel = new ImageSaveAsPanel;
    return *panel;
}

QString ImageSaveAsPanel::initialSaveType(const QString &srcFilePath)
{
    const QString type = kpv::ImageDestination::typeForPath(srcFilePath);
    return LMImageSaveParamController::savedFileExtensionAndUtis().contains(type) ? type : kpv::ContentTypes::kJpeg;
}

QString ImageSaveAsPanel::pathForSaveType(const QString &typedPath, const QString &uti)
{
    const QString ext = LMImageSaveParamController::savedFileExtensionAndUtis().value(uti);
    if (ext.isEmpty() || typedPath.isEmpty() || kpv::ImageDestination::typeForPath(typedPath) == uti)
        return typedPath;
    const QFileInfo info(typedPath);
    const QString name = info.fileName();
    // Only a picture's extension gives way to the format's: the other points of a name (a date
    // such as "Trip 2023.05.07") are part of it and stay.
    const QString typedExt = EditFileTools::fileExtension(name);
    const bool pictureExtension = !typedExt.isEmpty() && !kpv::ContentTypes::typeForExtension(typedExt).isEmpty();
    const QString stem = pictureExtension ? EditFileTools::fileNameWithoutExtension(name) : name;
    return info.dir().filePath(stem + QLatin1Char('.') + ext);
}

ImageSaveAsPanel::SaveChoice ImageSaveAsPanel::saveChoiceForTypedPath(const QString &typedPath, const QString &chosenUti)
{
    const QMap<QString, QString> offered = LMImageSaveParamController::savedFileExtensionAndUtis();
    const QString typedUti = kpv::ImageDestination::typeForPath(typedPath);
    if (offered.contains(typedUti))
        return {typedPath, typedUti};
    const QString ext = offered.value(chosenUti);
    if (ext.isEmpty() || typedPath.isEmpty())
        return {typedPath, chosenUti};
    return {typedPath + QLatin1Char('.') + ext, chosenUti};
}

void ImageSaveAsPanel::saveTypeChangedOfImageSaveParamController(LMImageSaveParamController *)
{
    // The name field follows the format as it is chosen, also while the panel is up. Only the
    // name's extension changes: a folder typed before the name ("trip/a.jpg", "/tmp/a.jpg") stays.
    if (!m_panel || m_panel->nameFieldStringValue().isEmpty())
        return;
    const QString typed = m_panel->nameFieldStringValue();
    const qsizetype slash = typed.lastIndexOf(QLatin1Char('/'));
    const QString name = typed.left(slash + 1) +
                         QFileInfo(pathForSaveType(typed.mid(slash + 1), m_picker.saveType())).fileName();
    if (name != typed) // the user may be typing: the caret stays
        m_panel->setNameFieldStringValue(name);
}

void ImageSaveAsPanel::run(kpv::Window *window, const QString &srcFilePath, const QString &directory, Done done,
                           ReplaceWarning replaceWarning)
{
    if (m_panel) {
        // One panel at a time: a second request while one is up is refused.
        if (done)
            done(false, QString(), std::nullopt);
        return;
    }
    m_panel = m_panelFactory ? m_panelFactory() : std::make_unique<kpv::SavePanel>();
    m_panel->setTitle(text("IDS_SAVEAS"));
    m_panel->setCanCreateDirectories(true);
    m_panel->setReplaceWarning(replaceWarning);
    // The name written is the one the panel shows and asks about replacing.
    m_panel->setSavedPathForChosenPath(
        [this](const QString &path) { return saveChoiceForTypedPath(path, m_picker.saveType()).path; });
    m_panel->setAllowedFileTypes({QStringLiteral("jpg"), QStringLiteral("jpeg"), QStringLiteral("jp2"),
                                  QStringLiteral("png"), QStringLiteral("tif"), QStringLiteral("tiff"),
                                  QStringLiteral("bmp")});
    // The panel opens in the given folder, or beside the source. A name taken there gets a
    // counter, so the source itself is never what the panel proposes to overwrite.
    const QString folder = directory.isEmpty() ? QFileInfo(srcFilePath).absolutePath() : directory;
    m_panel->setDirectoryURL(folder);
    m_panel->setNameFieldStringValue(QFileInfo(srcFilePath).fileName());
    m_picker.setSaveType(initialSaveType(srcFilePath));
    const QString free = LMPathTools::writableFilePathInDirectory(folder, m_panel->nameFieldStringValue());
    if (!free.isEmpty())
        m_panel->setNameFieldStringValue(QFileInfo(free).fileName());
    m_view->reload();
    m_panel->setAccessoryView(m_view.get());
    // A name typed with an offered format's extension chooses that format at once.
    m_panel->setNameFieldEditedHandler([this](const QString &name) {
        const QString uti = kpv::ImageDestination::typeForPath(name);
        if (!LMImageSaveParamController::savedFileExtensionAndUtis().contains(uti) || uti == m_picker.saveType())
            return;
        m_picker.setSaveType(uti);
        m_view->reload();
    });

    LMSavePanelWrapper().savePanel(*m_panel, window, [this, window, done, replaceWarning](std::int64_t result) {
        const QString typed = result == 1 && m_panel ? m_panel->URL() : QString();
        m_panel.reset();
        if (typed.isEmpty()) {
            if (done)
                done(false, QString(), std::nullopt);
            return;
        }
        const SaveChoice choice = saveChoiceForTypedPath(typed, m_picker.saveType());
        // The menu follows the typed extension, so the parameters are the written format's.
        if (choice.uti != m_picker.saveType())
            m_picker.setSaveType(choice.uti);
        const QString path = choice.path;
        QVariantMap params = *m_picker.saveParameters();
        // A TIFF is written with the compression the menu shows, "None" too: without it the writer
        // would keep the coding the source's properties name, which the menu never showed.
        if (choice.uti == kpv::ContentTypes::kTiff) {
            const QString tiffKey = QString::fromLatin1(kpv::kCGImagePropertyTIFFDictionary);
            QVariantMap tiff = params.value(tiffKey).toMap();
            tiff.insert(QString::fromLatin1(kpv::kCGImagePropertyTIFFCompression), m_picker.saveCompression());
            params.insert(tiffKey, tiff);
        }
        // The panel confirmed replacing what the user typed; a name changed here is asked again.
        if (path != typed && EditFileTools::itemExistsAtPath(path)) {
            auto answer = [done, path, params](bool replace) {
                if (done)
                    replace ? done(true, path, params) : done(false, QString(), std::nullopt);
            };
            const QString warning = replaceWarning ? replaceWarning(path) : QString();
            (m_replaceQuestion ? m_replaceQuestion : ReplaceQuestion(askReplace))(path, warning, window, answer);
            return;
        }
        if (done)
            done(true, path, params);
    });
}
