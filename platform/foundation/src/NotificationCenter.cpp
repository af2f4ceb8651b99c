#include "foundation/NotificationCenter.h"

#include <algorithm>
#include <atomic>

namespace kpv {

struct NotificationCenter::Entry {
    const void* observer;
    QString name;
    const void* sender;
    Handler handler;
    std::atomic<bool> removed{false};
};

NotificationCenter::NotificationCenter() = default;
NotificationCenter::~NotificationCenter() = default;

NotificationCenter& NotificationCenter::defaultCenter()
{
    static NotificationCenter center;
    return center;
}

void NotificationCenter::addObserver(const void* observer, const QString& name, const void* sender, Handler handler)
{
    if (!handler) {
        return;
    }
    auto entry = std::make_shared<Entry>();
    entry->observer = observer;
    entry->name = name;
    entry->sender = sender;
    entry->handler = std::move(handler);
    std::lock_guard lock(mutex_);
    entries_.push_back(std::move(entry));
}

void NotificationCenter::removeObserver(const void* observer)
{
    std::vector<std::shared_ptr<Entry>> dropped; // handlers die outside the lock
    {
        std::lock_guard lock(mutex_);
        auto keep = std::stable_partition(entries_.begin(), entries_.end(),
                                          [observer](const auto& e) { return e->observer != observer; });
        for (auto it = keep; it != entries_.end(); ++it) {
            (*it)->removed = true;
            dropped.push_back(*it);
        }
        entries_.erase(keep, entries_.end());
    }
}

void NotificationCenter::removeObserver(const void* observer, const QString& name, const void* sender)
{
    std::vector<std::shared_ptr<Entry>> dropped;
    {
        std::lock_guard lock(mutex_);
        auto matches = [&](const std::shared_ptr<Entry>& e) {
            return e->observer == observer && (name.isEmpty() || e->name == name) &&
                   (sender == nullptr || e->sender == sender);
        };
        auto keep = std::stable_partition(entries_.begin(), entries_.end(),
                                          [&](const auto& e) { return !matches(e); });
        for (auto it = keep; it != entries_.end(); ++it) {
            (*it)->removed = true;
            dropped.push_back(*it);
        }
        entries_.erase(keep, entries_.end());
    }
}

void NotificationCenter::postNotification(const Notification& notification)
{
    std::vector<std::shared_ptr<Entry>> targets;
    {
        std::lock_guard lock(mutex_);
        for (const auto& e : entries_) {
            if ((e->name.isEmpty() || e->name == notification.name) &&
                (e->sender == nullptr || e->sender == notification.object)) {
                targets.push_back(e);
            }
        }
    }
    for (const auto& e : targets) {
        // An observer removed by an earlier handler of this post hears nothing more.
        if (!e->removed.load()) {
            e->handler(notification);
        }
    }
}

void NotificationCenter::postNotification(const QString& name, const void* sender, const QVariantMap& userInfo)
{
    postNotification(Notification{name, sender, userInfo});
}

int NotificationCenter::observerCount() const
{
    std::lock_guard lock(mutex_);
    return static_cast<int>(entries_.size());
}

} // namespace kpv
