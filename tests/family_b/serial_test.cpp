// Family B serial-line quick settings against a simulated device.
#include <gtest/gtest.h>

#include <array>
#include <functional>

#include "device_b.h"
#include "family_b/wire_b.h"
#include "kxconf.h"
#include "lan.h"

namespace {

using kxsim::device_b;
using kxsim::fault;
using wire_b::bytes;

const kxsim::device_id_bytes device_id{0, 16, 11, 0, 0, 9};

TEST(SerialB, EachCallSendsItsOwnBlock) {
    struct block_case {
        const char *what;
        std::function<int32_t()> call;
        std::array<uint8_t, 6> block;
    };
    const block_case cases[] = {
        {"baud 115200",
         [] { return kxb_setting_baud("127.0.0.2", 115200); },
         {0x80, 0x04, 0xFF, 0xFF, 0xFF, 0xFF}},
        {"baud 9600",
         [] { return kxb_setting_baud("127.0.0.2", 9600); },
         {0x60, 0x00, 0xFF, 0xFF, 0xFF, 0xFF}},
        {"baud 50",
         [] { return kxb_setting_baud("127.0.0.2", 50); },
         {0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF}},
        {"parity 0x102",
         [] { return kxb_setting_parity("127.0.0.2", 0x102); },
         {0xFF, 0xFF, 0xFF, 0xFF, 0x02, 0xFF}},
        {"data bits 8",
         [] { return kxb_setting_databit("127.0.0.2", 8); },
         {0xFF, 0xFF, 0x08, 0xFF, 0xFF, 0xFF}},
    };
    for (const block_case &c : cases) {
        SCOPED_TRACE(c.what);
        kxsim::lan lan;
        auto &dev = lan.add<device_b>("127.0.0.2", device_id);
        EXPECT_EQ(c.call(), KX_OK);
        auto trace = lan.received_on(kxsim::family_b_port);
        ASSERT_EQ(trace.size(), 1u);
        EXPECT_EQ(trace[0].destination, "127.0.0.2");
        const bytes &p = trace[0].payload;
        ASSERT_EQ(p.size(), 36u);
        EXPECT_EQ(p[0], 0xFF);
        EXPECT_EQ(p[8], 9);
        // In clear, and no identifier: the address alone picks the device.
        const std::array<uint8_t, 6> sent{p[18], p[19], p[20], p[21], p[22], p[23]};
        EXPECT_EQ(sent, c.block);
        EXPECT_TRUE(wire_b::zero_except(p, {{0, 0}, {8, 8}, {18, 23}}));
        EXPECT_TRUE(wire_b::crc_ok(p));
        EXPECT_EQ(dev.serial_blocks(), 1);
    }
}

TEST(SerialB, AnswerMustBeWholeAndSealed) {
    struct answer_case {
        const char *what;
        fault f;
        int32_t expected;
    };
    const answer_case cases[] = {
        {"36 bytes, good CRC", fault().reply_with(wire_b::short_answer(0, 0, 36)), KX_OK},
        {"longer, good CRC", fault().reply_with(wire_b::short_answer(0, 0, 40)), KX_OK},
        {"35 bytes, good CRC", fault().reply_with(wire_b::short_answer(9, 0, 35)), KX_E_REPLY},
        {"bad CRC", fault().bad_last_byte(), KX_E_REPLY},
        {"no answer", fault().no_answer(), KX_E_TIMEOUT},
    };
    for (const answer_case &c : cases) {
        SCOPED_TRACE(c.what);
        kxsim::lan lan;
        lan.add<device_b>("127.0.0.2", device_id).inject(kxsim::opcode_is(9), c.f);
        EXPECT_EQ(kxb_setting_databit("127.0.0.2", 7), c.expected);
    }
}

TEST(SerialB, NeverBroadcasts) {
    kxsim::lan lan;
    auto &dev = lan.add<device_b>("127.0.0.2", device_id);
    // An address text too short to be one: all ones, and no broadcast permission.
    EXPECT_EQ(kxb_setting_baud("none", 9600), KX_E_TIMEOUT);
    EXPECT_EQ(dev.serial_blocks(), 0);
    EXPECT_TRUE(lan.received_on(kxsim::family_b_port).empty());
}

}  // namespace
