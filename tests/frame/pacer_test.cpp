#include "frame/pacer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

// A sender that sends whenever the pacer lets it, on a clock that mostly
// steps a millisecond but stalls now and then (a descheduled thread).
TEST(Pacer, NeverMoreThanTheRateInASecondNorABurstAfterAStall) {
    for (const uint32_t rate : {10u, 5000u, 100000u}) {
        kx::pacer pace(rate, 0);
        std::vector<int64_t> sent_at;
        size_t most_at_once = 0;
        int64_t running_ms = 0;  // the time not stalled
        for (int64_t now = 0; now < 10000; now += (now % 997 == 0) ? 120 : 1) {
            if (now % 997 != 0) ++running_ms;
            size_t at_once = 0;
            while (pace.allowed(now) > 0) {
                pace.sent(1);
                sent_at.push_back(now);
                ++at_once;
            }
            if (now > 0) most_at_once = std::max(most_at_once, at_once);
        }
        size_t peak = 0;
        for (size_t first = 0, last = 0; last < sent_at.size(); ++last) {
            while (sent_at[last] - sent_at[first] >= 1000) ++first;
            peak = std::max(peak, last - first + 1);
        }
        EXPECT_LE(peak, rate) << rate;
        // Close to the rate while the sender runs.
        EXPECT_GE(sent_at.size(), rate * static_cast<uint64_t>(running_ms) * 95 / 100000) << rate;
        // After a stall of 120 ms, at most 16 ms' worth at once.
        EXPECT_LE(most_at_once, std::max<size_t>(1, rate * 16 / 1000)) << rate;
    }
}

}  // namespace
