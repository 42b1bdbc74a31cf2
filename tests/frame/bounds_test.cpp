// The fixed overall bound of a request-and-matching-reply step: a steady
// stream of datagrams that never match cannot hold the caller for ever.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>

#include "device_a.h"
#include "kxconf.h"
#include "lan.h"
#include "support/records.h"

namespace {

TEST(MatchingStepBound, NonMatchingStreamEndsTheStepAfterTenSeconds) {
    kxsim::lan lan;
    auto &dev = lan.add<kxsim::device_a>("127.0.0.2", "0.16.2.3.4.5");
    dev.inject(kxsim::text_starts_with("L"), kxsim::fault().no_answer());
    // Every 500 ms, for longer than the bound, a datagram without "|19".
    for (int i = 0; i < 26; ++i)
        lan.send("127.0.0.2", kxsim::family_a_port, kxsim::to_bytes("A|20"), 100 + 500 * i);
    const kx_settings_record login = kxtest::login_record(KX_FAMILY_A, "");
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(kxa_login("127.0.0.2", "0.16.2.3.4.5", &login), KX_E_TIMEOUT);
    const int64_t ms = kxtest::elapsed_ms(start);
    EXPECT_GE(ms, 9900);
    EXPECT_LT(ms, 11000);
    // The step still ends like any timeout: "O" is the last datagram sent.
    const auto sent = lan.received_on(kxsim::family_a_port);
    ASSERT_FALSE(sent.empty());
    EXPECT_EQ(sent.back().text(), "O");
}

}  // namespace
