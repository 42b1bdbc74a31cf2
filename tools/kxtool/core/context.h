// What a front end hands every core function: a stop flag, where progress,
// warnings and the -v trace go, an observer of what was read and written,
// and how searches are made. The core prints nothing; it reports here.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "adapters.h"
#include "kxconf.h"

namespace kxtool {

// Outcome codes: the command line's exit codes, and each device's outcome.
constexpr int exit_ok = 0;
constexpr int exit_failed = 1;   // a device operation failed or a value was not kept
constexpr int exit_refused = 2;  // usage error or a value refused before anything was sent
constexpr int exit_not_found = 3;
constexpr int exit_incomplete = 4;     // the search may have missed devices
constexpr int exit_interrupted = 130;  // stopped: not done, nothing left half-done

struct target;
struct device_row;

// A job's progress, reported as it happens.
struct progress {
    // device_checked: search has checked a device it listed at its address.
    enum class step {
        search_started,
        search_done,
        device_started,
        device_done,
        device_checked,
        sweep_asked
    };
    step what;
    size_t index = 0;  // device steps: position, from 1; sweep_asked: addresses asked
    size_t total = 0;  // device steps: how many devices the job has; sweep_asked:
                       // addresses to ask
    std::string name;  // device_started: the device as the job names it
    const device_row *row = nullptr;  // device_done: its outcome
    size_t found = 0;                 // search_done, sweep_asked: devices listed
};

// Where a job's search looks instead of broadcasting, for devices beyond a
// router: address ranges asked one address at a time (kx_sweep, at most
// rate requests a second; 0: the library's default) and directed broadcast
// addresses (kx_discover_directed). Both empty: the broadcast search.
struct search_plan {
    std::vector<kx_address_range> ranges;
    std::vector<uint32_t> targets;  // first part in the high byte
    uint32_t rate = 0;

    bool routed() const { return !ranges.empty() || !targets.empty(); }
};

// What a record of the site (a journal) wants to know. Every method has a
// no-op default, so an observer implements only what it keeps.
class observer {
  public:
    virtual ~observer() = default;
    // A search ended with these devices; complete: none can have been missed.
    virtual void search_finished(std::span<const kx_device_record> devices, bool complete) {
        (void)devices, (void)complete;
    }
    // A device's settings as read from it (password included: leave it out).
    virtual void settings_read(const target &device, const kx_settings_record &settings) {
        (void)device, (void)settings;
    }
    // A write sent to a device by command ("set", "restore", "apply", "baud",
    // ...): before as read (null where the command does not read first),
    // after as read back (null when the read-back failed), the outcome code
    // and its text.
    virtual void change_written(const target &device, std::string_view command,
                                const kx_settings_record *before, const kx_settings_record *after,
                                int code, const std::string &detail) {
        (void)device, (void)command, (void)before, (void)after, (void)code, (void)detail;
    }
};

struct context {
    // Set (from a signal handler or another thread) to stop the job: a write
    // under way completes, sessions are logged out, devices not yet begun
    // are reported as interrupted.
    const std::atomic<bool> *stop = nullptr;
    std::function<void(const progress &)> on_progress;
    std::function<void(const std::string &)> on_trace;    // -v lines; unset: no trace
    std::function<void(const std::string &)> on_warning;  // things worth knowing, not failures
    observer *watch = nullptr;
    // How many times a search asks; the answers are merged.
    int search_rounds = 1;
    search_plan plan;
    // The adapter a job keeps to (--interface); unset: every adapter.
    std::optional<adapter> interface;

    // Named so for front ends that include <windows.h>, where "interface" is a macro.
    bool keeps_to_one_adapter() const { return interface.has_value(); }
    bool stopping() const { return stop != nullptr && stop->load(); }
    bool tracing() const { return static_cast<bool>(on_trace); }
    void trace(const std::string &line) const {
        if (on_trace) on_trace(line);
    }
    void warn(const std::string &text) const {
        if (on_warning) on_warning(text);
    }
    void report(const progress &p) const {
        if (on_progress) on_progress(p);
    }
    observer &watcher() const {
        static observer nothing;
        return watch != nullptr ? *watch : nothing;
    }
};

// One library call, traced with its result, the library's text and its time.
void trace_call(const context &ctx, const std::string &call, int32_t result, double milliseconds);
template <typename Call>
int32_t traced(const context &ctx, const std::string &call, Call &&run) {
    const auto start = std::chrono::steady_clock::now();
    const int32_t result = run();
    const std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - start;
    trace_call(ctx, call, result, took.count());
    return result;
}

}  // namespace kxtool
