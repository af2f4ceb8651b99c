#include "Model/LMSaveStages.h"

#include <atomic>
#include <memory>
#include <mutex>

namespace {
std::mutex g_mutex;
std::shared_ptr<LMSaveStages::Observer> g_observer;
std::atomic<bool> g_observed{false};
} // namespace

void LMSaveStages::setObserverForTesting(Observer observer)
{
    std::lock_guard lock(g_mutex);
    g_observer = observer ? std::make_shared<Observer>(std::move(observer)) : nullptr;
    g_observed = bool(g_observer);
}

void LMSaveStages::reach(Stage stage, const QString &path)
{
    if (!g_observed)
        return;
    std::shared_ptr<Observer> observer;
    {
        std::lock_guard lock(g_mutex);
        observer = g_observer;
    }
    if (observer)
        (*observer)(stage, path);
}
