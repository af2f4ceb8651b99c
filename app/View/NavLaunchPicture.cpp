#include "View/NavLaunchPicture.h"

#include <QDebug>
#include <QFileInfo>

#include <atomic>
#include <exception>

namespace {
// Read by the load workers while the main thread may set or withdraw it.
std::atomic<NavLaunchPicture *> g_current{nullptr};
}

NavLaunchPicture::NavLaunchPicture(const QString &path, Maker maker)
{
    const QFileInfo info(path);
    if (path.isEmpty() || !maker || !info.isFile())
        return;
    m_path = info.canonicalFilePath();
    if (m_path.isEmpty())
        return;
    g_current = this;
    m_thread = std::thread([this, maker = std::move(maker)]() mutable { make(std::move(maker)); });
}

NavLaunchPicture::~NavLaunchPicture()
{
    // Withdrawn first, so that no load finds a picture being torn down.
    NavLaunchPicture *self = this;
    g_current.compare_exchange_strong(self, nullptr);
    if (m_thread.joinable())
        m_thread.join();
}

NavLaunchPicture *NavLaunchPicture::current() { return g_current; }

void NavLaunchPicture::make(Maker maker)
{
    // The file's identity before and after the read: a file rewritten meanwhile gives no picture.
    const kpv::FileIdentity before = kpv::fileIdentity(m_path);
    QImage image;
    // A maker that throws (out of memory included) makes no picture: the thread ends normally and
    // the loads waiting for it get their answer and decode the file themselves.
    try {
        if (before.isValid())
            image = maker(m_path);
    } catch (const std::exception &e) {
        qWarning() << "start-up picture failed:" << e.what();
    } catch (...) {
        qWarning() << "start-up picture failed";
    }
    if (kpv::fileIdentity(m_path) != before)
        image = QImage();
    std::lock_guard lock(m_mutex);
    m_identity = before;
    m_image = std::move(image);
    m_done = true;
    m_made.notify_all();
}

QImage NavLaunchPicture::take(const LMFileImgBaseInfo &base)
{
    if (m_path.isEmpty() || base.filePath().path() != m_path)
        return {};
    std::unique_lock lock(m_mutex);
    m_made.wait(lock, [this] { return m_done; });
    if (m_taken)
        return {};
    m_taken = true;
    QImage image = std::move(m_image);
    m_image = QImage();
    if (!base.fileIdentity().isValid() || base.fileIdentity() != m_identity)
        return {};
    return image;
}
