#include "Kit/LMIncludeSubDirOpenPanelController.h"

#include "Kit/LMOpenPanelWrapper.h"
#include "Model/LMAppServices.h"
#include "Model/MainConfig.h"
#include "foundation/Bundle.h"
#include "foundation/FileNames.h"

LMIncludeSubDirOpenPanelController::LMIncludeSubDirOpenPanelController(
    MainConfig* config, std::function<std::unique_ptr<kpv::OpenPanel>()> makePanel)
    : m_config(config), m_makePanel(std::move(makePanel))
{
}

LMIncludeSubDirOpenPanelController::~LMIncludeSubDirOpenPanelController() = default;

MainConfig* LMIncludeSubDirOpenPanelController::config() const
{
    if (m_config)
        return m_config;
    LMAppServices* services = LMAppServices::shared();
    return services ? services->mainConfig() : nullptr;
}

void LMIncludeSubDirOpenPanelController::setIncludeSubDirTitle(const QString& t)
{
    m_includeSubDirTitle = t;
    if (m_checkBox)
        m_checkBox->setTitle(t);
}

bool LMIncludeSubDirOpenPanelController::includeSubDir() const
{
    return m_checkBox ? m_checkBox->state() == 1 : m_includeSubDir;
}

void LMIncludeSubDirOpenPanelController::setIncludeSubDir(bool on)
{
    m_includeSubDir = on;
    if (m_checkBox)
        m_checkBox->setState(on ? 1 : 0);
}

kpv::View* LMIncludeSubDirOpenPanelController::view()
{
    if (!m_view) {
        m_view = std::make_unique<kpv::View>(kpv::Rect(0, 0, 300, 30));
        m_checkBox = new LMNormalCheckButton(kpv::Rect(10, 6, 280, 18));
        auto* title = new kpv::TextField(kpv::Rect(30, 6, 260, 18));
        m_view->addSubview(m_checkBox);
        m_view->addSubview(title);
        // The accessory sits in the desktop's dialog: its title reads in the dialog's colours.
        title->setTextColor(kpv::Color::panelTextColor());
        m_checkBox->setTextButtonTitle(title);
        // The box sits at the button's left edge, clear of the title beside it.
        m_checkBox->setIconLeftMargin(0);
        m_checkBox->awakeFromNib();
        m_checkBox->setImageName("BT_Check");
        // The check box never changes its own state: a click toggles the choice here.
        m_checkBox->setAction([this](kpv::View*) { setIncludeSubDir(!includeSubDir()); });
        awakeFromNib();
    }
    return m_view.get();
}

void LMIncludeSubDirOpenPanelController::awakeFromNib()
{
    setIncludeSubDirTitle(kpv::Bundle::mainBundle().localizedString("IDS_ViewPhotosInSubfolder", QString()));
    MainConfig* c = config();
    setIncludeSubDir(c ? c->viewPhotosInSubfolder() : false);
}

long LMIncludeSubDirOpenPanelController::runModalOpenPanelWithDirectory(const QUrl& directory, bool canChooseFiles,
                                                                        bool canChooseSubDirectory)
{
    m_openPanel = m_makePanel ? m_makePanel() : std::make_unique<kpv::OpenPanel>();
    kpv::OpenPanel& panel = *m_openPanel;
    panel.setCanChooseDirectories(true);
    panel.setCanChooseFiles(canChooseFiles);
    // A new folder holds no photos to open.
    panel.setCanCreateDirectories(false);
    panel.setAllowsMultipleSelection(true);
    if (LMAppServices* services = LMAppServices::shared())
        panel.setAllowedFileTypes(services->allowedFileExtensions());
    if (canChooseSubDirectory)
        panel.setAccessoryView(view());
    if (directory.isValid())
        panel.setDirectoryURL(directory.isLocalFile() ? kpv::fileNameFromUrl(directory) : directory.toString());
    const long result = long(LMOpenPanelWrapper().runModalForOpenPanel(panel));
    if (result == kpv::ModalResponseOK && canChooseSubDirectory)
        if (MainConfig* c = config())
            c->setViewPhotosInSubfolder(includeSubDir());
    return result;
}

QStringList LMIncludeSubDirOpenPanelController::openFileURLs() const
{
    return m_openPanel ? m_openPanel->URLs() : QStringList();
}
