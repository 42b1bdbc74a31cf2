// The console's jobs and what it tells its pages while they run.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>

namespace kxtool::console {

// Server-Sent Events for every page that listens: each gets what is
// published after it subscribed, in order.
class event_hub {
  public:
    void publish(const std::string &type, const nlohmann::json &data);
    // Where a new subscriber starts.
    uint64_t latest();
    // The events after seen, as event-stream text (seen moves past them),
    // waiting up to wait for one; empty when none came or the hub closed.
    std::string next(uint64_t &seen, std::chrono::milliseconds wait);
    // Wakes every subscriber for good (the server is stopping).
    void close();
    bool closed();

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::pair<uint64_t, std::string>> recent_;  // sequence, text
    uint64_t last_ = 0;
    bool closed_ = false;
};

// One device job at a time: every library operation binds local UDP port
// 65281, so a second job would fail on the port; it is refused as busy.
class job_slot {
  public:
    // Takes the slot for a job described by what ("a search", "set
    // 127.0.1.1"); false with busy saying why not.
    bool take(const std::string &what, std::string &busy);
    void release();
    // Asks the job under way to stop between steps, as Ctrl-C does; false
    // when none runs.
    bool stop();
    // No more jobs; the one under way is stopped.
    void close();
    // What runs, or empty.
    std::string running();
    const std::atomic<bool> &stop_flag() const { return stop_; }

  private:
    std::mutex mutex_;
    std::string running_;
    bool closed_ = false;
    std::atomic<bool> stop_{false};
};

}  // namespace kxtool::console
