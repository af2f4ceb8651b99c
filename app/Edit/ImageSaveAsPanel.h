#pragma once

// Save As with the format picker under the file list: the panel starts in the given folder with
// the source's name and format, and answers the chosen path and the picker's save parameters. A
// name typed with the extension of an offered format chooses that format; any other name gets
// the chosen format's extension. One picker serves the whole run, so the quality and
// the TIFF compression stay as the user left them from one save to the next.

#include "Edit/LMImageSaveParamController.h"

#include <QString>
#include <QVariantMap>

#include <functional>
#include <memory>
#include <optional>

class LMImageSaveParamView;
namespace kpv {
class SavePanel;
class Window;
} // namespace kpv

class ImageSaveAsPanel final : public LMImageSaveParamControllerDelegate {
public:
    // `chosen` false when cancelled (path empty, no parameters).
    using Done = std::function<void(bool chosen, const QString &path, const std::optional<QVariantMap> &saveParameters)>;
    // Asks whether an existing file may be replaced, saying `warning` when there is one; `answer`
    // gets true to replace.
    using ReplaceQuestion = std::function<void(const QString &path, const QString &warning, kpv::Window *window,
                                               std::function<void(bool)> answer)>;

    ImageSaveAsPanel();
    ~ImageSaveAsPanel() override;

    // The one the application uses.
    static ImageSaveAsPanel &shared();

    // What replacing the file at a path would lose beyond its contents (pages, depth), in words
    // for the question asked before it is replaced; empty: nothing.
    using ReplaceWarning = std::function<QString(const QString &path)>;

    // Runs the panel as a sheet of `window` (application-modal without one). A file chosen that
    // exists is replaced only once the user agreed, in one question that names what
    // `replaceWarning` says it would lose.
    void run(kpv::Window *window, const QString &srcFilePath, const QString &directory, Done done,
             ReplaceWarning replaceWarning = {});

    LMImageSaveParamController &picker() { return m_picker; }
    LMImageSaveParamView *accessoryView() const { return m_view.get(); }
    // Tests answer the panel and the question themselves.
    void setPanelFactory(std::function<std::unique_ptr<kpv::SavePanel>()> factory) { m_panelFactory = std::move(factory); }
    void setReplaceQuestion(ReplaceQuestion question) { m_replaceQuestion = std::move(question); }

    // The type the panel starts with for a source file: its own when it is one of the five, else JPEG.
    static QString initialSaveType(const QString &srcFilePath);
    // The typed path with the chosen type's extension: kept when it already names that type
    // ("a.jpeg" for JPEG), else replaced or appended ("a.png" for TIFF gives "a.tiff").
    static QString pathForSaveType(const QString &typedPath, const QString &uti);
    // What the panel's answer saves, as desktop save panels do: a typed extension of a format the
    // picker offers chooses that format ("out.bmp" with JPEG chosen is a BMP file "out.bmp");
    // any other name keeps the chosen format and gets its extension appended ("out.gif" with
    // JPEG chosen is "out.gif.jpg", "holiday" is "holiday.jpg").
    struct SaveChoice {
        QString path;
        QString uti;
    };
    static SaveChoice saveChoiceForTypedPath(const QString &typedPath, const QString &chosenUti);

    void saveTypeChangedOfImageSaveParamController(LMImageSaveParamController *controller) override;

private:
    LMImageSaveParamController m_picker;
    std::unique_ptr<LMImageSaveParamView> m_view;
    std::unique_ptr<kpv::SavePanel> m_panel;
    std::function<std::unique_ptr<kpv::SavePanel>()> m_panelFactory;
    ReplaceQuestion m_replaceQuestion;
};
