#include "View/NavLaunchPicture.h"

#include "foundation/FileNames.h"

#include <QDebug>

#include <atomic>
#include <cstdint>
#include <exception>

namespace {
// Read by the load workers while the main thread may set or withdraw them.
std::atomic<NavLaunchPicture *> g_current[2] = {nullptr, nullptr};
// As the loads open a photo: a file read into memory (small ones) may have at most this.
constexpr std::int64_t kMaxLaunchFileBytes = std::int64_t(1) << 30;
}

NavLaunchPicture::NavLaunchPicture(const QString &path, Maker maker, Kind kind) : m_kind(kind)
{
    // Names of any bytes: a photo from another system's disk gets its picture too.
    if (path.isEmpty() || !maker || !kpv::pathStatus(path).isRegularFile)
        return;
    m_path = kpv::canonicalFileName(path);
    if (m_path.isEmpty())
        return;
    g_current[m_kind] = this;
    m_thread = std::thread([state = m_state, path = m_path, maker = std::move(maker)]() mutable {
        make(state, path, std::move(maker));
    });
}

NavLaunchPicture::~NavLaunchPicture()
{
    // Withdrawn first, so that no load finds a picture being torn down.
    NavLaunchPicture *self = this;
    g_current[m_kind].compare_exchange_strong(self, nullptr);
    if (m_thread.joinable())
        m_thread.join();
}

void NavLaunchPicture::abandon()
{
    NavLaunchPicture *self = this;
    g_current[m_kind].compare_exchange_strong(self, nullptr);
    {
        std::lock_guard lock(m_state->mutex);
        m_state->taken = true;
        m_state->image = QImage();
        m_state->opening.reset();
    }
    if (m_thread.joinable())
        m_thread.detach();
}

NavLaunchPicture *NavLaunchPicture::current(Kind kind) { return g_current[kind]; }

void NavLaunchPicture::closeFiles()
{
    for (const Kind kind : {QuickPicture, SharpPicture}) {
        NavLaunchPicture *launch = g_current[kind];
        if (!launch)
            continue;
        std::shared_ptr<const kpv::FileContents> gone;
        std::lock_guard lock(launch->m_state->mutex);
        launch->m_state->filesClosed = true;
        gone = std::move(launch->m_state->opening);
    }
}

void NavLaunchPicture::make(const std::shared_ptr<State> &state, const QString &path, Maker maker)
{
    // The file's identity before and after the read: a file rewritten meanwhile gives no picture.
    const kpv::FileIdentity before = kpv::fileIdentity(path);
    QImage image;
    {
        std::shared_ptr<const kpv::FileContents> opening =
            before.isValid() ? kpv::FileContents::open(path, kMaxLaunchFileBytes) : nullptr;
        std::lock_guard lock(state->mutex);
        if (!state->taken && !state->filesClosed)
            state->opening = std::move(opening);
    }
    // A maker that throws (out of memory included) makes no picture: the thread ends normally and
    // the loads waiting for it get their answer and decode the file themselves.
    try {
        if (before.isValid())
            image = maker(path);
    } catch (const std::exception &e) {
        qWarning() << "start-up picture failed:" << e.what();
    } catch (...) {
        qWarning() << "start-up picture failed";
    }
    if (kpv::fileIdentity(path) != before)
        image = QImage();
    std::lock_guard lock(state->mutex);
    state->identity = before;
    if (!state->taken)
        state->image = std::move(image);
    state->done = true;
    state->made.notify_all();
}

QImage NavLaunchPicture::take(const LMFileImgBaseInfo &base)
{
    if (m_path.isEmpty() || base.filePath().path() != m_path)
        return {};
    State &s = *m_state;
    std::unique_lock lock(s.mutex);
    s.made.wait(lock, [&s] { return s.done || s.taken; });
    if (s.taken)
        return {};
    s.taken = true;
    s.opening.reset();
    QImage image = std::move(s.image);
    s.image = QImage();
    if (!base.fileIdentity().isValid() || base.fileIdentity() != s.identity)
        return {};
    return image;
}
