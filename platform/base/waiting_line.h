// Threads served one at a time, in the order they asked: what both the folder chooser (one
// dialog at a time, as the platform's main thread runs one modal session at a time) and the
// Dock store's lock polling (so that no waiter loses to later callers again and again) need. A
// mutex alone serves its waiters in no order.
#pragma once

#include <chrono>
#include <condition_variable>
#include <list>
#include <mutex>
#include <optional>

namespace perivane::platform {

class WaitingLine {
public:
    // The calling thread's turn, held until the holder goes; the next in line is served then.
    class Turn {
    public:
        Turn(Turn&& other) noexcept;
        ~Turn();
        Turn(const Turn&) = delete;
        Turn& operator=(const Turn&) = delete;
        Turn& operator=(Turn&&) = delete;

    private:
        friend class WaitingLine;
        Turn(WaitingLine* line, std::list<char>::iterator place) : line_(line), place_(place) {}
        WaitingLine* line_;
        std::list<char>::iterator place_;
    };

    // Waits for the turn, however long the threads ahead take.
    Turn wait();
    // Waits for the turn until `deadline`; nullopt when it passed first (the place is given up).
    std::optional<Turn> waitUntil(std::chrono::steady_clock::time_point deadline);

private:
    void leave(std::list<char>::iterator place);

    std::mutex mutex_;
    std::condition_variable changed_;
    std::list<char> waiting_;  // one place per thread in line, the first served
};

}  // namespace perivane::platform
