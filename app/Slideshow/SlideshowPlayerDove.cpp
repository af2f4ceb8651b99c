#include "Slideshow/SlideshowPlayerDove.h"

#include "Slideshow/SlideshowBitmapConverter.h"

#include "DoveCamera.h"
#include "DoveContext.h"
#include "DoveElement.h"
#include "DoveBendDeformer.h"
#include "DoveMesh.h"
#include "DoveNode.h"
#include "DoveRenderEngine.h"
#include "DoveScene.h"
#include "DoveSceneManager.h"
#include "ZephraResource.h"

#include "foundation/RunLoop.h"

#include <algorithm>
#include <cmath>

namespace {
// The photo fills the mesh's rectangle with its whole picture (fit inside).
constexpr Dove::TextureFitType kPhotoFit = 1;
} // namespace

SlideshowPlayerDove::SlideshowPlayerDove(SlideshowTheme theme, SlideshowThemeParam param)
    : m_theme(std::move(theme))
    , m_param(std::move(param))
{
    m_param.groupStartFrames.resize(m_param.maskGroups.size(), -1.0f);
}

SlideshowPlayerDove::~SlideshowPlayerDove()
{
    *m_alive = false;
    cleanUp();
}

std::shared_ptr<Dove::ZephraSceneFile> SlideshowPlayerDove::readScene(const SlideshowTheme& theme)
{
    return Dove::ZephraResource::readSceneFile(theme.sceneFile.toStdString(), &BitmapConverter);
}

bool SlideshowPlayerDove::start(void* hostView, unsigned width, unsigned height, const std::vector<QImage>& slides)
{
    auto next = std::make_shared<std::size_t>(0);
    setSlideSource([slides, next]() -> QImage {
        if (slides.empty())
            return {};
        return slides[(*next)++ % slides.size()];
    });
    return start(hostView, width, height);
}

bool SlideshowPlayerDove::start(void* hostView, unsigned width, unsigned height)
{
    cleanUp();
    m_error.clear();
    m_slidesBound = 0;
    m_loops = 0;
    m_recent.clear();
    m_recentNumbers.clear();
    m_recentSmall.clear();
    m_recentNext = 0;
    m_recentOldest = 0;
    m_photoMeshes.clear();
    m_taken = 0;
    m_meshPhoto.clear();
    m_meshPicture.clear();
    m_standIns.clear();
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

    m_resource = m_scene ? std::make_unique<Dove::ZephraResource>(std::move(m_scene))
                         : std::make_unique<Dove::ZephraResource>(m_theme.sceneFile.toStdString());
    m_resource->setAnimationFrameRate(m_param.frameRate);
    Dove::Scene* root = m_resource->getRootScene();
    if (!root) {
        m_error = QStringLiteral("cannot load the theme's scene: %1")
                      .arg(QString::fromStdString(m_resource->loadError()));
        cleanUp();
        return false;
    }
    sm->getRoot3DScene()->addChild(root);
    if (Dove::Camera* camera = m_resource->getCamera()) {
        m_themeAspect = camera->getAspect();
        m_themeFov = camera->getFov().valueRadians();
    }
    fillView(width, height);
    for (std::size_t g = 0; g < m_param.maskGroups.size(); ++g)
        bindGroup(g);
    engine->restoreGLContext();

    if (Dove::Animation* animation = m_resource->animation) {
        animation->setListener(this);
        // A group's start tells the player to refill the group before it.
        for (std::size_t g = 1; g < m_param.groupStartFrames.size(); ++g)
            if (m_param.groupStartFrames[g] > 0)
                animation->registerCallbackAtTime(m_param.groupStartFrames[g] / m_resource->getAnimationFrameRate());
        animation->seek(0);
        animation->play();
    }
    engine->startRender();
    m_started = true;
    m_paused = false;
    return true;
}

void SlideshowPlayerDove::bindGroup(std::size_t group)
{
    if (!m_resource || group >= m_param.maskGroups.size())
        return;
    for (const QString& mesh : m_param.maskGroups[group]) {
        const std::string name = mesh.toStdString();
        if (m_resource->getElement(name)) // a parameter naming a mesh the scene lacks is skipped
            putNextPhoto(name);
    }
}

bool SlideshowPlayerDove::putNextPhoto(const std::string& name)
{
    long taken = -1;
    long shown = -1;
    const QImage slide = nextPhoto(&taken, &shown);
    if (!bindPhoto(name, slide))
        return false;
    m_meshPhoto[name] = taken;
    m_meshPicture[name] = shown;
    const auto standIn = std::find(m_standIns.begin(), m_standIns.end(), name);
    if (taken < 0 && standIn == m_standIns.end())
        m_standIns.push_back(name);
    else if (taken >= 0 && standIn != m_standIns.end())
        m_standIns.erase(standIn);
    ++m_slidesBound;
    if (std::find(m_photoMeshes.begin(), m_photoMeshes.end(), name) == m_photoMeshes.end())
        m_photoMeshes.push_back(name);
    return true;
}

bool SlideshowPlayerDove::bindPhoto(const std::string& name, const QImage& photo)
{
    Dove::Element* element = m_resource ? m_resource->getElement(name) : nullptr;
    MBITMAP bitmap{};
    if (!element || !fillMBitmapFromImage(photo, &bitmap))
        return false;
    // The mesh's own picture from the theme is its mask: the photo shows through its shape.
    if (!element->getTexture(Dove::TU_MASK))
        if (Dove::Texture* shape = element->getTexture(Dove::TU_BASE))
            element->bindTexture(shape, Dove::TU_MASK);
    m_resource->bindMeshTexture(name, &bitmap, 0, kPhotoFit);
    delete[] bitmap.pPlane[0];
    return true;
}

QImage SlideshowPlayerDove::takeFromSource(long* number)
{
    QImage photo = m_source ? m_source() : QImage();
    if (photo.isNull())
        return {};
    *number = m_taken++;
    // Kept (shared, not copied) to stand in later; the oldest gives way.
    if (m_recent.size() < kRecentPhotos) {
        m_recent.push_back(photo);
        m_recentSmall.emplace_back();
        m_recentNumbers.push_back(*number);
    } else {
        m_recent[m_recentOldest] = photo;
        m_recentSmall[m_recentOldest] = QImage();
        m_recentNumbers[m_recentOldest] = *number;
        m_recentOldest = (m_recentOldest + 1) % m_recent.size();
    }
    return photo;
}

QImage SlideshowPlayerDove::nextPhoto(long* taken, long* shown)
{
    long number = -1;
    QImage photo = takeFromSource(&number);
    if (!photo.isNull()) {
        if (taken)
            *taken = number;
        if (shown)
            *shown = number;
        return photo;
    }
    if (m_recent.empty())
        return {};
    const std::size_t i = m_recentNext % m_recent.size();
    m_recentNext = (m_recentNext + 1) % m_recent.size();
    if (shown)
        *shown = m_recentNumbers[i];
    // A stand-in holds its card only until the card's own photo comes: a smaller copy is made
    // into a texture many times faster.
    QImage& small = m_recentSmall[i];
    if (small.isNull())
        small = m_recent[i].width() > kStandInSide || m_recent[i].height() > kStandInSide
                    ? m_recent[i].scaled(kStandInSide, kStandInSide, Qt::KeepAspectRatio, Qt::SmoothTransformation)
                    : m_recent[i];
    return small;
}

std::vector<long> SlideshowPlayerDove::photosInUse() const
{
    std::vector<long> numbers(m_recentNumbers.begin(), m_recentNumbers.end());
    for (const auto& [name, number] : m_meshPicture)
        if (number >= 0)
            numbers.push_back(number);
    std::sort(numbers.begin(), numbers.end());
    numbers.erase(std::unique(numbers.begin(), numbers.end()), numbers.end());
    return numbers;
}

void SlideshowPlayerDove::replacePhoto(long number, const QImage& sharper)
{
    if (!m_started || !m_resource || number < 0 || sharper.isNull())
        return;
    for (std::size_t i = 0; i < m_recentNumbers.size(); ++i)
        if (m_recentNumbers[i] == number) {
            m_recent[i] = sharper;
            m_recentSmall[i] = QImage();
        }
    Dove::RenderEngine* engine = Dove::RenderEngine::getSingleton();
    bool bound = false;
    engine->setCurrent();
    for (const auto& [name, picture] : m_meshPicture)
        if (picture == number)
            bound = bindPhoto(name, sharper) || bound;
    engine->restoreGLContext();
    // Paused, nothing draws by itself.
    if (bound && m_paused)
        engine->requestFrame();
}

std::size_t SlideshowPlayerDove::forgetPhotos(const std::vector<long>& numbers)
{
    // Kept from the oldest on, so that the newest still gives way last.
    std::vector<QImage> recent, small;
    std::vector<long> kept;
    const std::size_t count = m_recent.size();
    for (std::size_t k = 0; k < count; ++k) {
        const std::size_t i = (m_recentOldest + k) % count;
        if (std::find(numbers.begin(), numbers.end(), m_recentNumbers[i]) != numbers.end())
            continue;
        recent.push_back(std::move(m_recent[i]));
        small.push_back(std::move(m_recentSmall[i]));
        kept.push_back(m_recentNumbers[i]);
    }
    const std::size_t dropped = count - kept.size();
    m_recent = std::move(recent);
    m_recentSmall = std::move(small);
    m_recentNumbers = std::move(kept);
    m_recentOldest = 0;
    m_recentNext = m_recent.empty() ? 0 : m_recentNext % m_recent.size();
    return dropped;
}

std::size_t SlideshowPlayerDove::fillStandIns()
{
    if (!m_started || !m_resource || m_standIns.empty())
        return 0;
    Dove::RenderEngine* engine = Dove::RenderEngine::getSingleton();
    std::size_t filled = 0;
    engine->setCurrent();
    while (!m_standIns.empty()) {
        long number = -1;
        const QImage photo = takeFromSource(&number);
        if (photo.isNull())
            break;
        const std::string name = m_standIns.front();
        m_standIns.erase(m_standIns.begin());
        if (!bindPhoto(name, photo))
            continue;
        m_meshPhoto[name] = number;
        m_meshPicture[name] = number;
        ++m_slidesBound;
        ++filled;
    }
    engine->restoreGLContext();
    if (filled && m_paused)
        engine->requestFrame();
    return filled;
}

std::size_t SlideshowPlayerDove::replacePhotos(const std::vector<long>& numbers)
{
    if (!m_started || !m_resource || numbers.empty())
        return 0;
    const std::string watched = meshOnScreen();
    std::vector<std::string> meshes;
    for (const auto& [name, picture] : m_meshPicture)
        if (name != watched && std::find(numbers.begin(), numbers.end(), picture) != numbers.end())
            meshes.push_back(name);
    if (meshes.empty())
        return 0;
    Dove::RenderEngine* engine = Dove::RenderEngine::getSingleton();
    std::size_t replaced = 0;
    engine->setCurrent();
    for (const std::string& name : meshes)
        replaced += putNextPhoto(name) ? 1 : 0;
    engine->restoreGLContext();
    if (replaced && m_paused)
        engine->requestFrame();
    return replaced;
}

long SlideshowPlayerDove::photoOnScreen() const
{
    const auto it = m_meshPhoto.find(meshOnScreen());
    return it == m_meshPhoto.end() ? -1 : it->second;
}

std::string SlideshowPlayerDove::meshOnScreen() const
{
    Dove::Camera* camera = m_resource ? m_resource->getCamera() : nullptr;
    if (!camera)
        return {};
    const Dove::Matrix4 viewProjection = camera->getProjectionMatrix().multiply(camera->getViewMatrix());
    std::vector<std::pair<std::string, float>> areas;
    float largest = 0;
    for (const auto& [name, taken] : m_meshPhoto) {
        Dove::Element* element = m_resource->getElement(name);
        if (!element || !element->getMesh() || !element->getVisible() ||
            (element->getParentNode() && !element->getParentNode()->getVisible()))
            continue;
        // The card's box, as the camera sees it, cut to the screen: its share of the screen.
        const Dove::Matrix4 m = viewProjection.multiply(element->getModelMatrix());
        const Dove::AABBox& box = element->getMesh()->getBoundingBox();
        float left = 1, right = -1, bottom = 1, top = -1;
        bool behind = false;
        for (int corner = 0; corner < 8; ++corner) {
            const Dove::Vector3 p((corner & 1 ? box.getMax() : box.getMin()).x, (corner & 2 ? box.getMax() : box.getMin()).y,
                                  (corner & 4 ? box.getMax() : box.getMin()).z);
            const Dove::Vector4 clip = m * Dove::Vector4(p, 1.0f);
            if (!(clip.w > 1e-6f)) {
                behind = true;
                break;
            }
            left = std::min(left, clip.x / clip.w);
            right = std::max(right, clip.x / clip.w);
            bottom = std::min(bottom, clip.y / clip.w);
            top = std::max(top, clip.y / clip.w);
        }
        if (behind)
            continue;
        const float area = std::max(0.0f, std::min(right, 1.0f) - std::max(left, -1.0f)) *
                           std::max(0.0f, std::min(top, 1.0f) - std::max(bottom, -1.0f));
        if (area > 0)
            areas.emplace_back(name, area);
        largest = std::max(largest, area);
    }
    // Cards of (almost) the same size, as the photos pinned side by side on a wall or the two
    // pages of an open book: the user reads them in the order they came, so the one that came
    // first is the one looked at. Picking among them by a hair of perspective sent a step back to
    // a photo still on screen (nothing seemed to happen) and a step on past photos never seen.
    constexpr float kSameSize = 0.95f;
    std::string mesh;
    long first = -1;
    for (const auto& [name, area] : areas) {
        if (area < largest * kSameSize)
            continue;
        const long taken = m_meshPhoto.at(name);
        if (mesh.empty() || (taken >= 0 && (first < 0 || taken < first))) {
            mesh = name;
            first = taken;
        }
    }
    return mesh;
}

std::size_t SlideshowPlayerDove::meshesWithoutPhoto() const
{
    if (!m_resource)
        return 0;
    std::size_t blank = 0;
    for (const QStringList& group : m_param.maskGroups)
        for (const QString& mesh : group) {
            const std::string name = mesh.toStdString();
            if (m_resource->getElement(name) &&
                std::find(m_photoMeshes.begin(), m_photoMeshes.end(), name) == m_photoMeshes.end())
                ++blank;
        }
    return blank;
}

void SlideshowPlayerDove::resize(unsigned width, unsigned height)
{
    if (!m_started || !m_resource)
        return;
    fillView(width, height);
}

void SlideshowPlayerDove::fillView(unsigned width, unsigned height)
{
    Dove::Camera* camera = m_resource ? m_resource->getCamera() : nullptr;
    if (camera && width > 0 && height > 0 && m_themeAspect > 0 && m_themeFov > 0) {
        const float aspect = float(width) / float(height);
        camera->setAspect(aspect);
        // Narrower than the theme's frame: the view opens upwards and downwards so that the
        // frame's width still fits.
        const float fov = aspect < m_themeAspect
                              ? 2.0f * std::atan(std::tan(m_themeFov / 2.0f) * m_themeAspect / aspect)
                              : m_themeFov;
        camera->setFov(Dove::Radian(std::min(fov, 2.6f)));
    }
    m_resource->fitViewportToScreen(width, height);
}

bool SlideshowPlayerDove::isPlaying() const
{
    return m_resource && m_resource->animation && m_resource->animation->isPlaying();
}

void SlideshowPlayerDove::pause()
{
    if (!m_started || m_paused)
        return;
    m_paused = true;
    if (m_resource->animation)
        m_resource->animation->pause();
    Dove::RenderEngine::getSingleton()->stopRender();
}

void SlideshowPlayerDove::resume()
{
    if (!m_started || !m_paused)
        return;
    m_paused = false;
    Dove::RenderEngine* engine = Dove::RenderEngine::getSingleton();
    engine->setCurrent();
    if (m_resource->animation)
        m_resource->animation->resume();
    engine->restoreGLContext();
    engine->startRender();
    // A loop that came due while paused runs now.
    if (m_pendingLoop || !m_pendingGroups.empty())
        schedulePending();
}

void SlideshowPlayerDove::stop()
{
    if (!m_started)
        return;
    m_pendingGroups.clear();
    m_pendingLoop = false;
    m_stopping = true;
    if (m_resource->animation)
        m_resource->animation->stop();
    m_stopping = false;
    Dove::RenderEngine::getSingleton()->stopRender();
    if (m_onFinished)
        m_onFinished();
}

void SlideshowPlayerDove::OnAnimationAtTime(Dove::Animation*, float seconds)
{
    // The group starting now is on screen; the one before it is not any more.
    const float rate = m_resource ? m_resource->getAnimationFrameRate() : m_param.frameRate;
    for (std::size_t g = 1; g < m_param.groupStartFrames.size(); ++g)
        if (m_param.groupStartFrames[g] > 0 && m_param.groupStartFrames[g] / rate == seconds)
            m_pendingGroups.push_back(g - 1);
    schedulePending();
}

void SlideshowPlayerDove::OnAnimationStopped(Dove::Animation*)
{
    if (m_stopping || !m_started)
        return;
    // Played to the end: the last group gets new photos and the theme starts again.
    if (!m_param.maskGroups.empty())
        m_pendingGroups.push_back(m_param.maskGroups.size() - 1);
    m_pendingLoop = true;
    schedulePending();
}

void SlideshowPlayerDove::schedulePending()
{
    if (m_pendingScheduled)
        return;
    m_pendingScheduled = true;
    std::weak_ptr<bool> alive = m_alive;
    kpv::RunLoop::main().perform([this, alive] {
        const auto a = alive.lock();
        if (a && *a)
            performPendingWork();
    });
}

void SlideshowPlayerDove::performPendingWork()
{
    m_pendingScheduled = false;
    if (!m_started || m_paused)
        return; // kept for resume(), or dropped by stop() and clean-up
    std::vector<std::size_t> groups;
    groups.swap(m_pendingGroups);
    const bool loop = m_pendingLoop;
    m_pendingLoop = false;
    Dove::RenderEngine* engine = Dove::RenderEngine::getSingleton();
    if (!groups.empty()) {
        // Cards still showing a stand-in get their own photos before a group takes new ones.
        fillStandIns();
        engine->setCurrent();
        std::sort(groups.begin(), groups.end());
        groups.erase(std::unique(groups.begin(), groups.end()), groups.end());
        for (std::size_t g : groups)
            bindGroup(g);
        engine->restoreGLContext();
    }
    if (loop && m_resource->animation) {
        ++m_loops;
        m_resource->animation->seek(0);
        m_resource->animation->play();
    }
}

void SlideshowPlayerDove::restart()
{
    if (!m_started || !m_resource)
        return;
    // Group changes and a loop that were due belong to the pass that is left.
    m_pendingGroups.clear();
    m_pendingLoop = false;
    m_taken = 0;
    m_meshPhoto.clear();
    // Stand-ins come from the new order; a mesh the source has nothing for keeps its photo.
    m_meshPicture.clear();
    m_standIns.clear();
    m_recent.clear();
    m_recentNumbers.clear();
    m_recentSmall.clear();
    m_recentNext = 0;
    m_recentOldest = 0;
    Dove::RenderEngine* engine = Dove::RenderEngine::getSingleton();
    engine->setCurrent();
    for (std::size_t g = 0; g < m_param.maskGroups.size(); ++g)
        bindGroup(g);
    engine->restoreGLContext();
    if (Dove::Animation* animation = m_resource->animation) {
        // Back to the first frame without telling the listener the theme has ended.
        m_stopping = true;
        animation->cancel();
        m_stopping = false;
        animation->seek(0);
        if (!m_paused)
            animation->play();
    }
    // Paused, nothing draws by itself: the first frame with its new photos is drawn once.
    if (m_paused)
        engine->requestFrame();
}

void SlideshowPlayerDove::cleanUp()
{
    m_pendingGroups.clear();
    m_pendingLoop = false;
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
    // The resource releases the photos it put on meshes with everything else it made.
    m_resource.reset();
    // The engine's objects (shader programs among them) are freed with the context, and only
    // while the engine's own OpenGL context is current can the driver free them: the resource's
    // tear-down restored the caller's context, so the engine's is made current again. Releasing
    // the render engine then ends its context.
    if (engine)
        engine->setCurrent();
    Dove::Context::releaseSingleton();
    m_contextUp = false;
    m_started = false;
    m_paused = false;
}
