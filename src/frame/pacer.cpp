#include "frame/pacer.h"

#include <algorithm>

namespace kx {

pacer::pacer(uint32_t rate, int64_t now_ms)
    : rate_(std::max<uint32_t>(rate, 1)),
      credit_(unit),
      most_credit_(std::max<uint64_t>(uint64_t{rate_} * 16, unit)),
      now_(now_ms) {}

uint32_t pacer::allowed(int64_t now_ms) {
    if (now_ms > now_) {
        const int64_t elapsed = now_ms - now_;
        credit_ = std::min(
            most_credit_,
            credit_ + uint64_t{rate_} * static_cast<uint64_t>(std::min<int64_t>(elapsed, 1000)));
        // Each tick entering the window takes the slot of the tick leaving it.
        for (int64_t tick = now_ + 1; tick <= now_ms && tick <= now_ + window_ticks; ++tick) {
            uint32_t &slot = per_tick_[tick % window_ticks];
            in_window_ -= slot;
            slot = 0;
        }
        now_ = now_ms;
    }
    return static_cast<uint32_t>(std::min<uint64_t>(credit_ / unit, rate_ - in_window_));
}

void pacer::sent(uint32_t count) {
    per_tick_[now_ % window_ticks] += count;
    in_window_ += count;
    credit_ -= std::min(credit_, uint64_t{count} * unit);
}

int pacer::wait_ms() const {
    if (credit_ >= unit) return 1;  // the window is full: a tick frees it
    return static_cast<int>(std::max<uint64_t>(1, (unit - credit_ + rate_ - 1) / rate_));
}

}  // namespace kx
