#include "Slideshow/SlideshowDovePresenter.h"

#include "appkit/View.h"

#include "foundation/FileHelpers.h"

#include <QFile>

namespace {
constexpr qint64 kMaxParamFileBytes = 1 << 20;
}

// The view the engine draws in; it tells the presenter when the slideshow's size changes.
class SlideshowDovePresenter::HostView : public kpv::View {
public:
    HostView(const kpv::Rect& frame, SlideshowDovePresenter& presenter) : kpv::View(frame), m_presenter(presenter) {}
    void setFrame(const kpv::Rect& frame) override
    {
        const kpv::Size before = bounds().size;
        kpv::View::setFrame(frame);
        if (!(bounds().size == before))
            m_presenter.hostResized();
    }

private:
    SlideshowDovePresenter& m_presenter;
};

SlideshowDovePresenter::SlideshowDovePresenter(kpv::View* container, kpv::View* above)
    : m_host(new HostView(container ? container->bounds() : kpv::Rect(), *this))
{
    m_host->setAutoresizingMask(kpv::ViewWidthSizable | kpv::ViewHeightSizable);
    m_hostGuard = m_host->widget();
    if (!container) {
        return;
    }
    if (above && above->superview() == container)
        container->addSubview(m_host, false, above);
    else
        container->addSubview(m_host);
}

SlideshowDovePresenter::~SlideshowDovePresenter()
{
    // The engine lets go of its layer in the host before the host goes.
    m_player.reset();
    if (!m_hostGuard)
        return; // deleted with the container
    if (m_host->superview())
        m_host->removeFromSuperview(); // hands ownership back
    delete m_host;
}

bool SlideshowDovePresenter::loadThemeParam(const SlideshowTheme& theme, SlideshowThemeParam* param, QString* error)
{
    // A pipe where the file belongs in a theme folder of the user's is refused unread: it would
    // hold the window for good.
    QFile file;
    if (QString why; !kpv::openRegularFileToRead(theme.paramFile, &file, &why)) {
        if (error)
            *error = why;
        return false;
    }
    if (file.size() > kMaxParamFileBytes) {
        if (error)
            *error = QStringLiteral("the parameter file is too large");
        return false;
    }
    return parseSlideshowThemeParam(file.read(kMaxParamFileBytes), param, error);
}

std::size_t SlideshowDovePresenter::photoCount(const SlideshowThemeParam& param)
{
    std::size_t n = 0;
    for (const QStringList& group : param.maskGroups)
        n += std::size_t(group.size());
    return n;
}

bool SlideshowDovePresenter::start(const SlideshowTheme& theme, const SlideshowThemeParam& param,
                                   SlideshowPlayerDove::SlideSource source, QString* error,
                                   std::shared_ptr<Dove::ZephraSceneFile> scene)
{
    m_player.reset();
    if (!hostView()) {
        if (error)
            *error = QStringLiteral("the slideshow has no view to draw in");
        return false;
    }
    m_player = std::make_unique<SlideshowPlayerDove>(theme, param);
    m_player->setSlideSource(std::move(source));
    m_player->setScene(std::move(scene));
    const kpv::Rect b = m_host->bounds();
    if (!m_player->start(m_host, unsigned(std::max(1.0, b.width())), unsigned(std::max(1.0, b.height())))) {
        if (error)
            *error = m_player->lastError();
        m_player.reset();
        return false;
    }
    return true;
}

kpv::View* SlideshowDovePresenter::hostView() const { return m_hostGuard ? m_host : nullptr; }

void SlideshowDovePresenter::hostResized()
{
    if (!m_player)
        return;
    const kpv::Rect b = m_host->bounds();
    m_player->resize(unsigned(std::max(1.0, b.width())), unsigned(std::max(1.0, b.height())));
}

void SlideshowDovePresenter::pause()
{
    if (m_player)
        m_player->pause();
}

void SlideshowDovePresenter::resume()
{
    if (m_player)
        m_player->resume();
}
