// Paces a stream of datagrams from one socket: never more than the rate in
// any one second of real time, and after a pause no more than a few
// milliseconds' worth at once, so a sweep reaches a plant network as a
// steady trickle.
#pragma once

#include <cstdint>

namespace kx {

class pacer {
  public:
    // rate: datagrams per second, at least 1. One may go at once.
    pacer(uint32_t rate, int64_t now_ms);

    // How many may go at now_ms (a clock that never goes back).
    uint32_t allowed(int64_t now_ms);
    // That many went, at the time of the last allowed(): ask allowed() again
    // for each datagram, so that each is counted when it goes.
    void sent(uint32_t count);
    // Milliseconds from the last allowed() until one more may go, at least 1.
    int wait_ms() const;

  private:
    // The clock is read in whole milliseconds, and any second of real time
    // lies within 1001 of its ticks; a datagram may leave a little after the
    // tick it was counted at (a thread is not always running). No 1010
    // consecutive ticks hold more than the rate.
    static constexpr int window_ticks = 1010;
    // Credit is kept in thousandths of a datagram: rate of them per tick.
    static constexpr uint64_t unit = 1000;

    uint32_t rate_;
    uint64_t credit_;       // thousandths of a datagram that may go now
    uint64_t most_credit_;  // what a pause can save up: 16 ms' worth
    int64_t now_;
    uint32_t in_window_ = 0;                // sent in the last window_ticks ticks
    uint32_t per_tick_[window_ticks] = {};  // sent at each tick, by tick % window_ticks
};

}  // namespace kx
