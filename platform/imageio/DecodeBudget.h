#pragma once
// The memory that decodes running at the same time may take together, shared by every thread of
// the process, and one decode of a file at a time. Without it, each loader thread may take a
// frame at the size limit at once, and a few hostile files multiply into gigabytes.
//
// The reader that allocates a frame reserves its bytes, at the size it really decodes, before it
// allocates; the layers above it only ask whether a picture could fit at all (fits()) and hold no
// reservation of their own, so no pixel is counted twice. A reservation that
// does not fit beside the running ones waits for them to end (they always do); one larger than
// the whole budget fails at once. A thread that already holds a reservation waits for a nested
// one (the next buffer of its decode) only while another holder still runs, so decodes never
// wait on each other for ever.
//
// Memory a decode leaves behind for as long as a picture is shown (the compact frames of an
// animation) is reserved as kept: it counts like any other, but the thread that took it is no
// holder of a running decode once the decode returns, and it is given back on whichever thread
// drops the picture.

#include <QString>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <map>
#include <thread>

namespace kpv {

class DecodeBudget {
public:
    // What the decodes of the viewer may hold at once; with the pictures on screen the process
    // stays under about one and a half gigabytes.
    static constexpr std::uint64_t kDefaultBytes = std::uint64_t(1) << 30;

    static DecodeBudget& shared();
    explicit DecodeBudget(std::uint64_t capacity) : m_capacity(capacity) {}
    DecodeBudget(const DecodeBudget&) = delete;
    DecodeBudget& operator=(const DecodeBudget&) = delete;

    // Held for the length of one decode; releases its bytes when it goes.
    class Reservation {
    public:
        Reservation() = default;
        Reservation(Reservation&& other) noexcept { *this = std::move(other); }
        Reservation& operator=(Reservation&& other) noexcept;
        ~Reservation() { release(); }
        bool isValid() const { return m_budget != nullptr; }
        std::uint64_t bytes() const { return m_budget ? m_bytes : 0; }
        void release();
        // Gives back what exceeds `bytes` (a decode that turned out smaller than reserved).
        void shrinkTo(std::uint64_t bytes);

    private:
        friend class DecodeBudget;
        DecodeBudget* m_budget = nullptr;
        std::uint64_t m_bytes = 0;
        bool m_running = true;  // counted among the running decodes of its thread
    };

    // Reserves `bytes`, waiting while they do not fit; `cancelled` (polled while waiting) gives up.
    // Invalid, with *error set, when the bytes exceed the budget or the wait was cancelled.
    // Without `cancelled`, the wait gives up when the CancelScope of the calling thread says so.
    Reservation reserve(std::uint64_t bytes, QString* error = nullptr, const std::function<bool()>& cancelled = {});
    // As reserve(), for memory that outlives the decode that allocates it and may be released on
    // any thread.
    Reservation reserveKept(std::uint64_t bytes, QString* error = nullptr, const std::function<bool()>& cancelled = {});

    // Whether `bytes` could be reserved at all (they do not exceed the whole budget), with the
    // refusal's text in *error; reserves nothing.
    bool fits(std::uint64_t bytes, QString* error = nullptr) const;

    // While it lives, the reservations the readers make on this thread stop waiting when
    // `cancelled` answers true, and the readers stop decoding between rows: a load cancelled by
    // the user neither waits for memory nor spends the processor on a picture it no longer needs.
    // Scopes nest: a load inside a cancelled job stops too.
    class CancelScope {
    public:
        explicit CancelScope(std::function<bool()> cancelled);
        ~CancelScope();
        CancelScope(const CancelScope&) = delete;
        CancelScope& operator=(const CancelScope&) = delete;

    private:
        friend class DecodeBudget;
        std::function<bool()> m_cancelled;
        const CancelScope* m_outer;
    };
    // Whether a CancelScope of the calling thread says its load was cancelled; false outside any.
    // A reader asks every few rows (an atomic load or so each time).
    static bool cancelRequested();
    // How often the calling thread has asked cancelRequested() (tests and benchmarks): a reader
    // asks once for every few rows, band, tile or strip it decodes.
    static std::uint64_t cancelChecks();
    // The error a reservation or a decode stopped by its cancelled load answers: not a fault of
    // the file, and nothing to tell the user.
    static QString cancelledError() { return QStringLiteral("cancelled"); }
    static bool isCancelledError(const QString& error) { return error == cancelledError(); }

    // While held, no other thread decodes the same file (the same path). A thread that holds the
    // turn of a file already gets an empty turn for it at once.
    class FileTurn {
    public:
        FileTurn() = default;
        FileTurn(FileTurn&& other) noexcept { *this = std::move(other); }
        FileTurn& operator=(FileTurn&& other) noexcept;
        ~FileTurn();

    private:
        friend class DecodeBudget;
        DecodeBudget* m_budget = nullptr;
        QString m_path;
    };
    // Waits for the turn; `cancelled` (polled) gives up, and *gotTurn (when given) says which.
    FileTurn takeTurn(const QString& path, const std::function<bool()>& cancelled = {}, bool* gotTurn = nullptr);

    std::uint64_t capacity() const { return m_capacity; }
    std::uint64_t inUse() const;
    // The most ever held at once (tests and benchmarks), counted again from what is held now
    // after resetPeak().
    std::uint64_t peak() const;
    void resetPeak();
    // Reservations waiting now for others to end.
    int waiting() const;
    // Another size for the budget (tests and benchmarks of the shared one; a running decode keeps
    // what it holds). Returns the former size.
    std::uint64_t setCapacity(std::uint64_t bytes);

private:
    Reservation take(std::uint64_t bytes, QString* error, const std::function<bool()>& cancelled, bool running);
    void give(std::uint64_t bytes, bool running);

    std::atomic<std::uint64_t> m_capacity;
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::uint64_t m_inUse = 0;
    std::uint64_t m_peak = 0;
    int m_waiting = 0;
    int m_holders = 0;         // threads holding a reservation
    int m_waitingHolders = 0;  // of them, those waiting for a nested one
    std::map<QString, std::thread::id> m_busyFiles;
};

} // namespace kpv
