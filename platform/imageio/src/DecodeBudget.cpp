#include "imageio/DecodeBudget.h"

#include <chrono>

namespace kpv {

namespace {
// Reservations the calling thread holds now; nested ones do not wait.
thread_local int t_held = 0;
// The innermost CancelScope of this thread: what a reservation made without its own
// cancellation, and every reader, asks.
thread_local const DecodeBudget::CancelScope* t_cancelScope = nullptr;
thread_local std::uint64_t t_cancelChecks = 0;
// How often a waiting decode looks whether it was cancelled.
constexpr auto kCancelPoll = std::chrono::milliseconds(50);
} // namespace

DecodeBudget& DecodeBudget::shared()
{
    static DecodeBudget budget(kDefaultBytes);
    return budget;
}

DecodeBudget::Reservation& DecodeBudget::Reservation::operator=(Reservation&& other) noexcept
{
    if (this != &other) {
        release();
        m_budget = other.m_budget;
        m_bytes = other.m_bytes;
        m_running = other.m_running;
        other.m_budget = nullptr;
    }
    return *this;
}

void DecodeBudget::Reservation::release()
{
    if (m_budget) {
        m_budget->give(m_bytes, m_running);
        m_budget = nullptr;
    }
}

void DecodeBudget::Reservation::shrinkTo(std::uint64_t bytes)
{
    if (m_budget && bytes < m_bytes) {
        m_budget->give(m_bytes - bytes, false);
        m_bytes = bytes;
    }
}

DecodeBudget::CancelScope::CancelScope(std::function<bool()> cancelled)
    : m_cancelled(std::move(cancelled)), m_outer(t_cancelScope)
{
    t_cancelScope = this;
}

DecodeBudget::CancelScope::~CancelScope() { t_cancelScope = m_outer; }

std::uint64_t DecodeBudget::cancelChecks() { return t_cancelChecks; }

bool DecodeBudget::cancelRequested()
{
    ++t_cancelChecks;
    for (const CancelScope* scope = t_cancelScope; scope; scope = scope->m_outer)
        if (scope->m_cancelled && scope->m_cancelled())
            return true;
    return false;
}

bool DecodeBudget::fits(std::uint64_t bytes, QString* error) const
{
    const std::uint64_t capacity = m_capacity;
    if (bytes <= capacity)
        return true;
    if (error)
        *error = QStringLiteral("decoding would take %1 MB, more than the %2 MB all decodes may use")
                     .arg((bytes >> 20) + ((bytes & 0xFFFFF) != 0))
                     .arg(capacity >> 20);
    return false;
}

DecodeBudget::Reservation DecodeBudget::reserve(std::uint64_t bytes, QString* error, const std::function<bool()>& cancelled)
{
    return take(bytes, error, cancelled, true);
}

DecodeBudget::Reservation DecodeBudget::reserveKept(std::uint64_t bytes, QString* error, const std::function<bool()>& cancelled)
{
    return take(bytes, error, cancelled, false);
}

DecodeBudget::Reservation DecodeBudget::take(std::uint64_t bytes, QString* error, const std::function<bool()>& cancelled,
                                             bool running)
{
    Reservation r;
    if (!fits(bytes, error))
        return r;
    const std::function<bool()> giveUp = cancelled ? cancelled : std::function<bool()>(&DecodeBudget::cancelRequested);
    std::unique_lock lock(m_mutex);
    // A thread that holds a reservation already (the next buffer of one decode) waits too, but
    // never when every other holder waits as well: one of them must go on, over the budget, or
    // they would wait for each other for ever.
    const bool nested = t_held > 0;
    while (m_inUse + bytes > m_capacity) {
        if (nested && m_waitingHolders + 1 >= m_holders)
            break;
        if (!fits(bytes, error))
            return r;  // the budget was made smaller meanwhile
        if (giveUp()) {
            if (error)
                *error = cancelledError();
            return r;
        }
        ++m_waiting;
        m_waitingHolders += nested;
        m_changed.wait_for(lock, kCancelPoll);
        m_waitingHolders -= nested;
        --m_waiting;
    }
    m_inUse += bytes;
    m_peak = std::max(m_peak, m_inUse);
    if (running) {
        m_holders += t_held == 0;
        ++t_held;
    }
    r.m_budget = this;
    r.m_bytes = bytes;
    r.m_running = running;
    return r;
}

void DecodeBudget::give(std::uint64_t bytes, bool running)
{
    {
        std::lock_guard lock(m_mutex);
        m_inUse -= std::min(bytes, m_inUse);
        if (running) {
            --t_held;
            m_holders -= t_held == 0 && m_holders > 0;
        }
    }
    m_changed.notify_all();
}

DecodeBudget::FileTurn& DecodeBudget::FileTurn::operator=(FileTurn&& other) noexcept
{
    if (this != &other) {
        this->~FileTurn();
        m_budget = other.m_budget;
        m_path = std::move(other.m_path);
        other.m_budget = nullptr;
    }
    return *this;
}

DecodeBudget::FileTurn::~FileTurn()
{
    if (m_budget) {
        {
            std::lock_guard lock(m_budget->m_mutex);
            m_budget->m_busyFiles.erase(m_path);
        }
        m_budget->m_changed.notify_all();
        m_budget = nullptr;
    }
}

DecodeBudget::FileTurn DecodeBudget::takeTurn(const QString& path, const std::function<bool()>& cancelled, bool* gotTurn)
{
    FileTurn turn;
    if (gotTurn)
        *gotTurn = false;
    std::unique_lock lock(m_mutex);
    for (;;) {
        const auto busy = m_busyFiles.find(path);
        if (busy == m_busyFiles.end())
            break;
        if (busy->second == std::this_thread::get_id()) {
            if (gotTurn)
                *gotTurn = true;
            return turn;  // this thread's own decode of the file
        }
        if (cancelled && cancelled())
            return turn;
        m_changed.wait_for(lock, kCancelPoll);
    }
    m_busyFiles.emplace(path, std::this_thread::get_id());
    turn.m_budget = this;
    turn.m_path = path;
    if (gotTurn)
        *gotTurn = true;
    return turn;
}

std::uint64_t DecodeBudget::inUse() const
{
    std::lock_guard lock(m_mutex);
    return m_inUse;
}

std::uint64_t DecodeBudget::peak() const
{
    std::lock_guard lock(m_mutex);
    return m_peak;
}

int DecodeBudget::waiting() const
{
    std::lock_guard lock(m_mutex);
    return m_waiting;
}

void DecodeBudget::resetPeak()
{
    std::lock_guard lock(m_mutex);
    m_peak = m_inUse;
}

std::uint64_t DecodeBudget::setCapacity(std::uint64_t bytes)
{
    const std::uint64_t former = m_capacity.exchange(bytes);
    m_changed.notify_all();
    return former;
}

} // namespace kpv
