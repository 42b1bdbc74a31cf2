#include "events.h"

namespace kxtool::console {
namespace {

// Enough for a batch of 1,000 devices between two reads of a slow page.
constexpr size_t kept_events = 8192;

}  // namespace

void event_hub::publish(const std::string &type, const nlohmann::json &data) {
    // One line of JSON: a newline would end the event's data.
    std::string text = "event: " + type + "\ndata: " + data.dump() + "\n\n";
    {
        std::lock_guard lock(mutex_);
        recent_.emplace_back(++last_, std::move(text));
        if (recent_.size() > kept_events) recent_.pop_front();
    }
    changed_.notify_all();
}

uint64_t event_hub::latest() {
    std::lock_guard lock(mutex_);
    return last_;
}

std::string event_hub::next(uint64_t &seen, std::chrono::milliseconds wait) {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, wait, [&] { return closed_ || last_ > seen; });
    if (closed_ || last_ <= seen) return {};
    std::string text;
    if (!recent_.empty() && recent_.front().first > seen + 1)
        text = "event: lost\ndata: {}\n\n";  // a subscriber too slow for kept_events
    for (const auto &[sequence, event] : recent_)
        if (sequence > seen) text += event;
    seen = last_;
    return text;
}

void event_hub::close() {
    {
        std::lock_guard lock(mutex_);
        closed_ = true;
    }
    changed_.notify_all();
}

bool event_hub::closed() {
    std::lock_guard lock(mutex_);
    return closed_;
}

bool job_slot::take(const std::string &what, std::string &busy) {
    std::lock_guard lock(mutex_);
    if (closed_) {
        busy = "kxtool serve is stopping; no job starts";
        return false;
    }
    if (!running_.empty()) {
        busy = "busy: " + running_ +
               " is under way, and kxtool talks to one device job at a time; wait for it to end "
               "or stop it";
        return false;
    }
    running_ = what;
    stop_ = false;
    return true;
}

void job_slot::release() {
    std::lock_guard lock(mutex_);
    running_.clear();
    if (!closed_) stop_ = false;
}

bool job_slot::stop() {
    std::lock_guard lock(mutex_);
    if (running_.empty()) return false;
    stop_ = true;
    return true;
}

void job_slot::close() {
    std::lock_guard lock(mutex_);
    closed_ = true;
    stop_ = true;
}

std::string job_slot::running() {
    std::lock_guard lock(mutex_);
    return running_;
}

}  // namespace kxtool::console
