#include "Slideshow/SlideshowPlayerDove.h"

#include "Slideshow/SlideshowBitmapConverter.h"

#include "DoveContext.h"
#include "DoveElement.h"
#include "DoveRenderEngine.h"
#include "DoveResManager.h"
#include "DoveScene.h"
#include "DoveSceneManager.h"
#include "ZephraResource.h"

SlideshowPlayerDove::SlideshowPlayerDove(SlideshowTheme theme, SlideshowThemeParam param)
    : m_theme(std::move(theme))
    , m_param(std::move(param))
{
}

SlideshowPlayerDove::~SlideshowPlayerDove()
{
    cleanUp();
}

bool SlideshowPlayerDove::start(void* hostView, unsigned width, unsigned height, const std::vector<QImage>& slides)
{
    cleanUp();
    m_error.clear();
    Dove::Context* context = Dove::Context::getSingleton();
    context->registerBitmapConverter(&BitmapConverter);
    context->init();
    m_contextUp = true;
    Dove::RenderEngine* engine = Dove::RenderEngine::getSingleton();
    Dove::DisplayParam display;
    display.hostView = hostView;
    engine->initDisplayParam(&display);
    engine->setCurrent();

    Dove::SceneManager* sm = Dove::SceneManager::getSingleton();
    sm->init(width, height);

    m_resource = std::make_unique<Dove::ZephraResource>(m_theme.sceneFile.toStdString());
    m_resource->setAnimationFrameRate(m_param.frameRate);
    Dove::Scene* root = m_resource->getRootScene();
    if (!root) {
        m_error = QStringLiteral("cannot load the theme's scene: %1")
                      .arg(QString::fromStdString(m_resource->loadError()));
        cleanUp();
        return false;
    }
    sm->getRoot3DScene()->addChild(root);
    bindSlides(slides);
    engine->restoreGLContext();

    if (Dove::Animation* animation = m_resource->animation) {
        animation->setListener(this);
        animation->seek(0);
        animation->play();
    }
    engine->startRender();
    m_started = true;
    return true;
}

void SlideshowPlayerDove::bindSlides(const std::vector<QImage>& slides)
{
    if (slides.empty())
        return;
    Dove::SceneManager* sm = Dove::SceneManager::getSingleton();
    Dove::ResManager* rm = Dove::ResManager::getSingleton();
    std::size_t next = 0;
    for (const QStringList& group : m_param.maskGroups) {
        for (const QString& mask : group) {
            const std::string name = mask.toStdString();
            Dove::Element* element = sm->getElementByName(name);
            const QImage& slide = slides[next++ % slides.size()];
            if (!element)
                continue; // a parameter naming a mask the scene lacks is skipped
            MBITMAP bitmap{};
            if (!fillMBitmapFromImage(slide, &bitmap))
                continue;
            Dove::Texture* texture = rm->createTextureFromMBitmap(&bitmap, std::string());
            delete[] bitmap.pPlane[0];
            if (!texture)
                continue;
            element->bindTexture(texture, Dove::TU_MASK);
            m_textures.push_back(texture);
            m_bindings.emplace_back(name, texture);
        }
    }
}

bool SlideshowPlayerDove::isPlaying() const
{
    return m_resource && m_resource->animation && m_resource->animation->isPlaying();
}

void SlideshowPlayerDove::pause()
{
    if (!m_started)
        return;
    if (m_resource->animation)
        m_resource->animation->pause();
    Dove::RenderEngine::getSingleton()->stopRender();
}

void SlideshowPlayerDove::resume()
{
    if (!m_started)
        return;
    Dove::RenderEngine* engine = Dove::RenderEngine::getSingleton();
    engine->setCurrent();
    if (m_resource->animation)
        m_resource->animation->resume();
    engine->startRender();
}

void SlideshowPlayerDove::stop()
{
    if (!m_started)
        return;
    if (m_resource->animation)
        m_resource->animation->stop();
    Dove::RenderEngine::getSingleton()->stopRender();
}

void SlideshowPlayerDove::OnAnimationStopped(Dove::Animation*)
{
    if (m_onFinished)
        m_onFinished();
}

void SlideshowPlayerDove::cleanUp()
{
    if (!m_contextUp)
        return;
    Dove::RenderEngine* engine = Dove::RenderEngine::peekSingleton();
    if (engine) {
        engine->stopRender();
        engine->setCurrent();
    }
    if (m_resource && m_resource->animation) {
        // No callbacks into a player that is going away.
        m_resource->animation->setListener(nullptr);
        m_resource->animation->stop();
    }
    // Unbind before releasing, so that no element keeps a texture that is gone.
    if (Dove::SceneManager* sm = Dove::SceneManager::peekSingleton())
        for (const auto& [name, texture] : m_bindings)
            if (Dove::Element* e = sm->getElementByName(name); e && e->getTexture(Dove::TU_MASK) == texture)
                e->unbindTexture(Dove::TU_MASK);
    m_bindings.clear();
    if (Dove::ResManager* rm = Dove::ResManager::peekSingleton())
        for (Dove::Texture* texture : m_textures)
            rm->releaseTexture(texture, 1);
    m_textures.clear();
    m_resource.reset();
    if (engine)
        engine->suspend();
    Dove::Context::releaseSingleton();
    m_contextUp = false;
    m_started = false;
}
