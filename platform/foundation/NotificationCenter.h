#pragma once
// Named notifications, delivered synchronously on the posting thread, in the order the observers
// were added. An observer is identified by a pointer of the caller's choosing (usually `this`);
// removeObserver(observer) drops all of its registrations at once. Adding or removing observers
// during a post is safe: a removed observer receives nothing more, not even later in the same post;
// observers added during a post see the next post only. Thread-safe.

#include <QString>
#include <QVariantMap>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace kpv {

struct Notification {
    QString name;
    const void* object = nullptr; // the sender, or nullptr
    QVariantMap userInfo;
};

class NotificationCenter {
public:
    using Handler = std::function<void(const Notification&)>;

    static NotificationCenter& defaultCenter();

    // Calls `handler` for notifications named `name` (empty: every name) posted by `sender`
    // (nullptr: any sender). Adding the same observer twice gives two deliveries, as requested.
    void addObserver(const void* observer, const QString& name, const void* sender, Handler handler);

    // Removes every registration of the observer.
    void removeObserver(const void* observer);
    // Removes the observer's registrations for `name` (empty: all names) and `sender`
    // (nullptr: all senders).
    void removeObserver(const void* observer, const QString& name, const void* sender = nullptr);

    void postNotification(const Notification& notification);
    void postNotification(const QString& name, const void* sender = nullptr, const QVariantMap& userInfo = {});

    int observerCount() const; // registrations, for tests

    NotificationCenter();
    ~NotificationCenter();
    NotificationCenter(const NotificationCenter&) = delete;
    NotificationCenter& operator=(const NotificationCenter&) = delete;

private:
    struct Entry;
    mutable std::mutex mutex_;
    std::vector<std::shared_ptr<Entry>> entries_;
};

} // namespace kpv
