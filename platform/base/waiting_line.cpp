#include "platform/base/waiting_line.h"

#include <utility>

namespace perivane::platform {

WaitingLine::Turn::Turn(Turn&& other) noexcept
    : line_(std::exchange(other.line_, nullptr)), place_(other.place_) {}

WaitingLine::Turn::~Turn() {
    if (line_ != nullptr) line_->leave(place_);
}

WaitingLine::Turn WaitingLine::wait() {
    std::unique_lock lock(mutex_);
    const auto place = waiting_.insert(waiting_.end(), 0);
    changed_.wait(lock, [&] { return waiting_.begin() == place; });
    return Turn(this, place);
}

std::optional<WaitingLine::Turn> WaitingLine::waitUntil(std::chrono::steady_clock::time_point deadline) {
    std::unique_lock lock(mutex_);
    const auto place = waiting_.insert(waiting_.end(), 0);
    if (changed_.wait_until(lock, deadline, [&] { return waiting_.begin() == place; })) return Turn(this, place);
    lock.unlock();
    leave(place);
    return std::nullopt;
}

void WaitingLine::leave(std::list<char>::iterator place) {
    {
        const std::lock_guard lock(mutex_);
        waiting_.erase(place);
    }
    changed_.notify_all();
}

}  // namespace perivane::platform
