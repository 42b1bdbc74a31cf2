// Faults per exchange shape, with what each exchange sends afterwards: a
// stream of non-matching datagrams against the overall step bound (family
// B), and a datagram over 256 bytes in the middle of a conversation (both
// families). A failed step never leads to "E" nor to a family B
// confirmation.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "device_a.h"
#include "device_b.h"
#include "family_b/wire_b.h"
#include "kxconf.h"
#include "lan.h"
#include "support/trace.h"

namespace {

using kxsim::fault;
using strings = std::vector<std::string>;

const char *const address = "127.0.0.2";
const char *const id_text = "0.16.2.3.4.5";
const kxsim::device_id_bytes id_b{0, 16, 11, 0, 0, 7};
const kxsim::bytes oversized(300, 'A');  // starts like an acceptance

// Family B opcodes of what the library sent, in order.
std::vector<int> opcodes_sent(kxsim::lan &lan) {
    std::vector<int> opcodes;
    for (const auto &d : lan.received_on(kxsim::family_b_port))
        opcodes.push_back(d.payload.size() > 8 ? d.payload[8] : -1);
    return opcodes;
}

strings texts_sent(kxsim::lan &lan) { return kxtest::texts(lan.received_on(kxsim::family_a_port)); }

// Answers with another sequence byte every 500 ms, for longer than the bound.
void stream_non_matching(kxsim::lan &lan, uint8_t opcode) {
    for (int i = 0; i < 23; ++i)
        lan.send(address, kxsim::family_b_port, wire_b::short_answer(opcode, 0x58), 100 + 500 * i);
}

TEST(FaultShapesB, NonMatchingStreamEndsLoginAndReadAtTheBoundWithALogout) {
    kxsim::lan lan;
    auto &d = lan.add<kxsim::device_b>(address, id_b);
    const kx_settings_record login = wire_b::login_record("");
    d.inject(kxsim::opcode_is(17), fault().no_answer());
    stream_non_matching(lan, 17);
    int64_t ms = 0;
    EXPECT_EQ(wire_b::timed(ms, [&] { return kxb_login(address, id_b.data(), &login); }),
              KX_E_TIMEOUT);
    EXPECT_GE(ms, 9900);
    EXPECT_LT(ms, 12000);
    EXPECT_EQ(opcodes_sent(lan), (std::vector<int>{17, 21}));  // login, logout

    lan.clear_received();
    d.inject(kxsim::opcode_is(11), fault().no_answer());
    stream_non_matching(lan, 11);
    kxb_settings_record record;
    std::memset(&record, 0xEE, sizeof record);
    EXPECT_EQ(
        wire_b::timed(ms, [&] { return kxb_read_setting(address, id_b.data(), &record, nullptr); }),
        KX_E_TIMEOUT);
    EXPECT_GE(ms, 9900);
    EXPECT_LT(ms, 12000);
    EXPECT_EQ(record.family, 0xEE);
    EXPECT_EQ(opcodes_sent(lan), (std::vector<int>{11, 21}));  // read, logout
}

TEST(FaultShapes, OversizedDatagramInTheMiddleOfAMatchingStep) {
    kxsim::lan lan;
    auto &a = lan.add<kxsim::device_a>(address, id_text);
    a.set_password("pw");
    kx_settings_record login_a{};
    login_a.family = KX_FAMILY_A;
    std::memcpy(login_a.password, "pw", 2);

    // Family A login, broadcast: the selection is answered, the login not.
    a.inject(kxsim::text_starts_with("L"), fault().stray_first(oversized).once());
    EXPECT_EQ(kxa_login("", id_text, &login_a), KX_E_SOCKET);
    EXPECT_EQ(texts_sent(lan), (strings{"W0.16.2.3.4.5|20", "Lpw|19", "O"}));
    EXPECT_FALSE(a.logged_in());

    // Family A read: the third request meets the oversized datagram.
    lan.clear_received();
    a.inject(kxsim::text_is("GIP|22"), fault().stray_first(oversized).once());
    kxa_settings_record record_a;
    std::memset(&record_a, 0xEE, sizeof record_a);
    EXPECT_EQ(kxa_read_setting(address, id_text, &record_a, nullptr), KX_E_SOCKET);
    EXPECT_EQ(texts_sent(lan), (strings{"W0.16.2.3.4.5|20", "GFE|21", "GIP|22", "O"}));
    EXPECT_EQ(static_cast<uint8_t>(record_a.ip_address[0]), 0xEE);

    // Family A write: "O" after the failed step, never "E", nothing applied.
    ASSERT_EQ(kxa_read_setting(address, id_text, &record_a, nullptr), KX_OK);
    std::memcpy(record_a.device_name, "CHANGED", 8);
    lan.clear_received();
    a.inject(kxsim::text_starts_with("SPN"), fault().stray_first(oversized).once());
    EXPECT_EQ(kxa_write_setting(address, id_text, &record_a, nullptr), KX_E_SOCKET);
    const strings written = texts_sent(lan);
    ASSERT_GE(written.size(), 3u);
    EXPECT_EQ(written.front(), "W0.16.2.3.4.5|1E");
    EXPECT_EQ(written[written.size() - 2].substr(0, 3), "SPN");
    EXPECT_EQ(written.back(), "O");
    EXPECT_NE(a.setting("DN"), "CHANGED");

    // Family B login and read: the logout follows, as after any failed receive.
    auto &b = lan.add<kxsim::device_b>("127.0.0.4", id_b);
    const kx_settings_record login_b = wire_b::login_record("");
    b.inject(kxsim::opcode_is(17), fault().stray_first(oversized).once());
    EXPECT_EQ(kxb_login("127.0.0.4", id_b.data(), &login_b), KX_E_SOCKET);
    EXPECT_EQ(opcodes_sent(lan), (std::vector<int>{17, 21}));
    EXPECT_FALSE(b.logged_in());

    lan.clear_received();
    b.inject(kxsim::opcode_is(11), fault().stray_first(oversized).once());
    kxb_settings_record record_b;
    std::memset(&record_b, 0xEE, sizeof record_b);
    EXPECT_EQ(kxb_read_setting("127.0.0.4", id_b.data(), &record_b, nullptr), KX_E_SOCKET);
    EXPECT_EQ(opcodes_sent(lan), (std::vector<int>{11, 21}));
    EXPECT_EQ(record_b.family, 0xEE);
}

TEST(FaultShapes, OversizedDatagramBeforeASingleReply) {
    kxsim::lan lan;
    auto &a = lan.add<kxsim::device_a>(address, id_text);
    auto &b = lan.add<kxsim::device_b>("127.0.0.4", id_b);

    // Family A quick setting: the first datagram decides, and it cannot be read.
    a.inject(kxsim::text_starts_with("P"), fault().stray_first(oversized).once());
    EXPECT_EQ(kxa_setting_baud(address, 9600), KX_E_SOCKET);
    EXPECT_EQ(texts_sent(lan).size(), 1u);

    // Family B write: the answer to the record cannot be read, so no
    // confirmation is sent and the device applies nothing.
    kxb_settings_record record_b{};
    record_b.family = KX_FAMILY_B;
    std::memcpy(record_b.device_id, id_b.data(), 6);
    b.inject(kxsim::opcode_is(5), fault().stray_first(oversized).once());
    EXPECT_EQ(kxb_write_setting("127.0.0.4", nullptr, &record_b, nullptr), KX_E_REPLY);
    EXPECT_EQ(opcodes_sent(lan), (std::vector<int>{5}));
    EXPECT_EQ(b.confirmations(), 0);
    EXPECT_EQ(b.writes_applied(), 0);

    // Family B serial block.
    lan.clear_received();
    b.inject(kxsim::opcode_is(9), fault().stray_first(oversized).once());
    EXPECT_EQ(kxb_setting_baud("127.0.0.4", 9600), KX_E_REPLY);
    EXPECT_EQ(opcodes_sent(lan), (std::vector<int>{9}));
}

}  // namespace
