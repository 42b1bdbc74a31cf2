// Family B login and logout against a simulated device.
#include <gtest/gtest.h>

#include <string>

#include "device_b.h"
#include "family_b/wire_b.h"
#include "kxconf.h"
#include "lan.h"

namespace {

using kxsim::device_b;
using kxsim::fault;
using wire_b::bytes;

const kxsim::device_id_bytes device_id{0, 16, 11, 0xC5, 0x3A, 0xFF};
const kx_settings_record good_login = wire_b::login_record("letmein");

void expect_login_request(const kxsim::datagram &d, uint8_t opcode, const std::string &password) {
    ASSERT_EQ(d.payload.size(), 36u);
    EXPECT_EQ(d.payload[7], wire_b::sequence);
    EXPECT_EQ(d.payload[8], opcode);
    EXPECT_EQ(wire_b::scrambled_id(d.payload), device_id);
    // The password travels in clear, padded as the caller's field holds it.
    const std::string padded = password + std::string(10 - password.size(), '\0');
    EXPECT_EQ(std::string(d.payload.begin() + 24, d.payload.begin() + 34), padded);
    EXPECT_TRUE(wire_b::zero_except(d.payload, {{7, 8}, {12, 17}, {24, 33}}));
    EXPECT_TRUE(wire_b::crc_ok(d.payload));
}

void expect_logout_request(const kxsim::datagram &d, uint8_t opcode) {
    ASSERT_EQ(d.payload.size(), 36u);
    EXPECT_EQ(d.payload[8], opcode);
    EXPECT_EQ(wire_b::scrambled_id(d.payload), device_id);
    EXPECT_TRUE(wire_b::zero_except(d.payload, {{8, 8}, {12, 17}}));
    EXPECT_TRUE(wire_b::crc_ok(d.payload));
}

TEST(LoginB, UnicastAndBroadcastRequests) {
    {
        kxsim::lan lan;
        auto &dev = lan.add<device_b>("127.0.0.2", device_id);
        dev.set_password("letmein");
        EXPECT_EQ(kxb_login("127.0.0.2", device_id.data(), &good_login), KX_OK);
        EXPECT_TRUE(dev.logged_in());
        auto trace = lan.received_on(kxsim::family_b_port);
        ASSERT_EQ(trace.size(), 1u);
        EXPECT_EQ(trace[0].destination, "127.0.0.2");
        expect_login_request(trace[0], 17, "letmein");
    }
    {
        // Shorter than 7 characters: broadcast.
        kxsim::lan lan;
        auto &dev = lan.add<device_b>("127.0.0.2", device_id);
        dev.set_password("letmein");
        EXPECT_EQ(kxb_login("1.2.3.", device_id.data(), &good_login), KX_OK);
        auto trace = lan.received_on(kxsim::family_b_port);
        ASSERT_EQ(trace.size(), 1u);
        EXPECT_TRUE(trace[0].broadcast());
        expect_login_request(trace[0], 15, "letmein");
    }
}

TEST(LoginB, VerdictIsTheReplyOpcode) {
    {
        kxsim::lan lan;
        auto &dev = lan.add<device_b>("127.0.0.2", device_id);
        dev.set_password("other");
        EXPECT_EQ(kxb_login("127.0.0.2", device_id.data(), &good_login), KX_E_REFUSED);
        EXPECT_FALSE(dev.logged_in());
        // A refusal sends no logout.
        EXPECT_EQ(lan.received_on(kxsim::family_b_port).size(), 1u);
    }
    for (uint8_t verdict : {uint8_t{15}, uint8_t{16}, uint8_t{0}, uint8_t{0xFF}}) {
        SCOPED_TRACE(static_cast<int>(verdict));
        kxsim::lan lan;
        auto &dev = lan.add<device_b>("127.0.0.2", device_id);
        dev.set_password("letmein");
        dev.reply_opcode(17, verdict);
        EXPECT_EQ(kxb_login("127.0.0.2", device_id.data(), &good_login), KX_E_REFUSED);
    }
}

TEST(LoginB, DatagramsWithAnotherSequenceByteAreSkipped) {
    kxsim::lan lan;
    auto &dev = lan.add<device_b>("127.0.0.2", device_id);
    dev.set_password("letmein");
    // Each would refuse the login if it were taken; the last one is too
    // short to carry a CRC after bytes 7 and 8.
    fault f;
    f.stray_first(wire_b::short_answer(18, 0x58), 20)
        .stray_first(wire_b::short_answer(18, 0x00), 20)
        .stray_first(bytes{0, 0, 0, 0, 0, 0, 0, wire_b::sequence, 18}, 20);
    dev.inject(kxsim::opcode_is(17), f);
    EXPECT_EQ(kxb_login("127.0.0.2", device_id.data(), &good_login), KX_OK);
}

TEST(LoginB, BadCrcGivesReplyErrorAndTheLogoutReachesTheDevice) {
    kxsim::lan lan;
    auto &dev = lan.add<device_b>("127.0.0.2", device_id);
    dev.set_password("letmein");
    dev.inject(kxsim::opcode_is(17), fault().bad_last_byte());
    EXPECT_EQ(kxb_login("127.0.0.2", device_id.data(), &good_login), KX_E_REPLY);
    auto trace = lan.received_on(kxsim::family_b_port);
    ASSERT_EQ(trace.size(), 2u);
    expect_logout_request(trace[1], 21);
    EXPECT_EQ(trace[1].destination, "127.0.0.2");
    EXPECT_FALSE(dev.logged_in());  // the device took the login, then the logout
}

TEST(LoginB, TimeoutGivesTimeoutAndTheLogoutReachesTheDevice) {
    for (const char *target : {"127.0.0.2", ""}) {
        SCOPED_TRACE(target);
        kxsim::lan lan;
        auto &dev = lan.add<device_b>("127.0.0.2", device_id);
        dev.set_password("letmein");
        dev.foreign_sequence(true);  // answers, but never with the request's sequence byte
        int64_t ms = 0;
        EXPECT_EQ(
            wire_b::timed(ms, [&] { return kxb_login(target, device_id.data(), &good_login); }),
            KX_E_TIMEOUT);
        EXPECT_GE(ms, 990);
        EXPECT_LT(ms, 2500);
        auto trace = lan.received_on(kxsim::family_b_port);
        ASSERT_EQ(trace.size(), 2u);
        expect_logout_request(trace[1], *target ? 21 : 19);
        EXPECT_FALSE(dev.logged_in());
    }
}

TEST(LogoutB, SendsTheScrambledIdentifierAndWaitsForNothing) {
    kxsim::lan lan;
    auto &dev = lan.add<device_b>("127.0.0.2", device_id);
    dev.set_password("letmein");
    ASSERT_EQ(kxb_login("127.0.0.2", device_id.data(), &good_login), KX_OK);
    int64_t ms = 0;
    EXPECT_EQ(wire_b::timed(ms, [&] { return kxb_logout("127.0.0.2", device_id.data()); }), KX_OK);
    EXPECT_LT(ms, 200);
    EXPECT_EQ(kxb_logout("", device_id.data()), KX_OK);
    // No device there: still 1.
    EXPECT_EQ(kxb_logout("127.0.0.9", device_id.data()), KX_OK);

    auto trace = lan.received_on(kxsim::family_b_port);
    ASSERT_EQ(trace.size(), 4u);
    expect_logout_request(trace[1], 21);
    EXPECT_EQ(trace[1].destination, "127.0.0.2");
    expect_logout_request(trace[2], 19);
    EXPECT_TRUE(trace[2].broadcast());
    EXPECT_EQ(trace[3].destination, "127.0.0.9");
    EXPECT_FALSE(dev.logged_in());
}

}  // namespace
