// Family B read and write settings against a simulated device.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "device_b.h"
#include "family_b/wire_b.h"
#include "kxconf.h"
#include "lan.h"
#include "support/settings_b.h"

namespace {

using kxsim::device_b;
using kxsim::fault;
using wire_b::bytes;

const kxsim::device_id_bytes device_id{0, 16, 11, 0, 0, 7};
const kxsim::device_id_bytes other_id{0, 16, 11, 0, 0, 8};

// Distinct values in every field, so a field read from the wrong place shows.
kxsim::settings_b distinct_settings() { return kxtest::distinct_settings_b(device_id); }

template <size_t N, typename Byte>
bool same_bytes(const std::array<uint8_t, N> &want, const Byte (&got)[N]) {
    return std::memcmp(want.data(), got, N) == 0;
}

void expect_record_matches(const kxb_settings_record &r, const kxsim::settings_b &s) {
    EXPECT_EQ(r.family, KX_FAMILY_B);
    EXPECT_TRUE(same_bytes(s.id, r.device_id));
    EXPECT_TRUE(same_bytes(s.name, r.device_name));
    EXPECT_TRUE(same_bytes(s.firmware, r.firmware_version));
    EXPECT_TRUE(same_bytes(s.ip, r.ip_address));
    EXPECT_TRUE(same_bytes(s.mask, r.subnet_mask));
    EXPECT_TRUE(same_bytes(s.gateway, r.gateway));
    EXPECT_EQ(r.local_port, s.local_port);
    EXPECT_EQ(r.rm_value, s.rm);
    EXPECT_EQ(r.dhcp_enabled, s.dhcp);
    EXPECT_TRUE(same_bytes(s.dest_ip, r.dest_ip));
    EXPECT_EQ(r.dest_port, s.dest_port);
    EXPECT_EQ(r.tp_value, s.tp);
    EXPECT_EQ(r.ww_flag, s.ww);
    EXPECT_EQ(r.dd_flag, s.dd);
    EXPECT_TRUE(same_bytes(s.li, r.li_address));
    EXPECT_TRUE(same_bytes(s.li2, r.li_address_2));
    EXPECT_TRUE(same_bytes(s.dw_text, r.dw_text));
    EXPECT_EQ(r.ml_value, s.ml);
    EXPECT_EQ(r.md_value, s.md);
    EXPECT_EQ(r.keep_alive, s.keep_alive);
    EXPECT_EQ(r.baud_hundreds, s.baud_hundreds);
    EXPECT_EQ(r.data_bits, s.data_bits);
    EXPECT_EQ(r.parity, s.parity);
    EXPECT_EQ(r.stop_bits, s.stop_bits);
    EXPECT_EQ(r.flow_control, s.flow);
    EXPECT_TRUE(same_bytes(s.on_text, r.on_text));
    EXPECT_TRUE(same_bytes(s.password, r.password));
}

bool untouched(const kxb_settings_record &r, uint8_t fill) {
    const uint8_t *b = reinterpret_cast<const uint8_t *>(&r);
    for (size_t i = 0; i < sizeof r; ++i)
        if (b[i] != fill) return false;
    return true;
}

void expect_read_request(const kxsim::datagram &d, uint8_t opcode) {
    ASSERT_EQ(d.payload.size(), 36u);
    EXPECT_EQ(d.payload[0], 0xFF);
    EXPECT_EQ(d.payload[7], wire_b::sequence);
    EXPECT_EQ(d.payload[8], opcode);
    EXPECT_EQ(wire_b::scrambled_id(d.payload), device_id);
    EXPECT_TRUE(wire_b::zero_except(d.payload, {{0, 0}, {7, 8}, {12, 17}}));
    EXPECT_TRUE(wire_b::crc_ok(d.payload));
}

// A read answer as the device would send it, with the given sequence byte.
bytes read_answer(const kxsim::settings_b &s, uint8_t sequence, uint8_t opcode = 11) {
    return kxsim::packet_b::settings_packet(s, opcode, sequence);
}

TEST(ReadB, UnicastDecodesEveryField) {
    kxsim::lan lan;
    auto &dev = lan.add<device_b>("127.0.0.2", device_id);
    dev.set_settings(distinct_settings());
    kxb_settings_record record;
    std::memset(&record, 0xEE, sizeof record);
    ASSERT_EQ(kxb_read_setting("127.0.0.2", device_id.data(), &record, nullptr), KX_OK);
    expect_record_matches(record, distinct_settings());
    EXPECT_EQ(record.reserved_1[0], 0xEE);  // reserved record bytes are left alone
    EXPECT_EQ(record.reserved_122[1], 0xEE);

    auto trace = lan.received_on(kxsim::family_b_port);
    ASSERT_EQ(trace.size(), 1u);
    EXPECT_EQ(trace[0].destination, "127.0.0.2");
    expect_read_request(trace[0], 11);
}

TEST(ReadB, BroadcastAsksWithOpcode13AndTakesReply11) {
    kxsim::lan lan;
    lan.add<device_b>("127.0.0.2", device_id).set_settings(distinct_settings());
    kxb_settings_record record{};
    ASSERT_EQ(kxb_read_setting("", device_id.data(), &record, nullptr), KX_OK);
    expect_record_matches(record, distinct_settings());
    auto trace = lan.received_on(kxsim::family_b_port);
    ASSERT_EQ(trace.size(), 1u);
    EXPECT_TRUE(trace[0].broadcast());
    expect_read_request(trace[0], 13);
}

TEST(ReadB, SkipsAnotherSequenceByteAndTakesTheFirstEcho) {
    kxsim::lan lan;
    auto &dev = lan.add<device_b>("127.0.0.2", device_id);
    dev.set_settings(distinct_settings());
    kxsim::settings_b decoy = distinct_settings();
    decoy.local_port = 1;
    // Another sequence byte (even with a broken CRC), and one too short for a CRC.
    bytes broken = read_answer(decoy, 0x56);
    broken.back() ^= 0x5A;
    fault f;
    f.stray_first(read_answer(decoy, 0x58), 20)
        .stray_first(broken, 20)
        .stray_first(bytes{0, 0, 0, 0, 0, 0, 0, wire_b::sequence, 11}, 20);
    dev.inject(kxsim::opcode_is(11), f);
    kxb_settings_record record{};
    ASSERT_EQ(kxb_read_setting("127.0.0.2", device_id.data(), &record, nullptr), KX_OK);
    EXPECT_EQ(record.local_port, 0x1234);
}

TEST(ReadB, UnusableRepliesGiveReplyErrorAndLeaveTheRecord) {
    struct failing {
        const char *what;
        void (*arrange)(device_b &);
    };
    const failing cases[] = {
        // The good answer follows the wrong one and must not be looked at.
        {"reply opcode 12 first",
         [](device_b &d) {
             d.inject(kxsim::opcode_is(11),
                      fault().stray_first(read_answer(d.settings(), wire_b::sequence, 12)));
         }},
        {"reply opcode 13", [](device_b &d) { d.reply_opcode(11, 13); }},
        {"bad CRC", [](device_b &d) { d.inject(kxsim::opcode_is(11), fault().bad_last_byte()); }},
        {"another family", [](device_b &d) { d.reply_family(KX_FAMILY_A); }},
        {"cut to 157 bytes, resealed",
         [](device_b &d) {
             bytes cut = read_answer(d.settings(), wire_b::sequence);
             cut.resize(157);
             d.inject(kxsim::opcode_is(11), fault().reply_with(wire_b::sealed(cut)));
         }},
    };
    for (const failing &c : cases) {
        SCOPED_TRACE(c.what);
        kxsim::lan lan;
        auto &dev = lan.add<device_b>("127.0.0.2", device_id);
        c.arrange(dev);
        kxb_settings_record record;
        std::memset(&record, 0xEE, sizeof record);
        int64_t ms = 0;
        EXPECT_EQ(
            wire_b::timed(
                ms,
                [&] { return kxb_read_setting("127.0.0.2", device_id.data(), &record, nullptr); }),
            KX_E_REPLY);
        EXPECT_LT(ms, 500);
        EXPECT_TRUE(untouched(record, 0xEE));
        // No logout after an unusable reply.
        EXPECT_EQ(lan.received_on(kxsim::family_b_port).size(), 1u);
    }
}

TEST(ReadB, TimeoutGivesTimeoutAndTheLogoutReachesTheDevice) {
    kxsim::lan lan;
    auto &dev = lan.add<device_b>("127.0.0.2", device_id);
    const kx_settings_record login = wire_b::login_record("");
    ASSERT_EQ(kxb_login("127.0.0.2", device_id.data(), &login), KX_OK);
    ASSERT_TRUE(dev.logged_in());
    dev.inject(kxsim::opcode_is(11), fault().no_answer());
    kxb_settings_record record;
    std::memset(&record, 0xEE, sizeof record);
    int64_t ms = 0;
    EXPECT_EQ(
        wire_b::timed(
            ms, [&] { return kxb_read_setting("127.0.0.2", device_id.data(), &record, nullptr); }),
        KX_E_TIMEOUT);
    EXPECT_GE(ms, 990);
    EXPECT_TRUE(untouched(record, 0xEE));
    auto trace = lan.received_on(kxsim::family_b_port);
    ASSERT_EQ(trace.size(), 3u);
    EXPECT_EQ(trace[2].payload.size(), 36u);
    EXPECT_EQ(trace[2].payload[8], 21);
    EXPECT_EQ(wire_b::scrambled_id(trace[2].payload), device_id);
    EXPECT_FALSE(dev.logged_in());
}

// A record as a caller would send it: the device's own, with changes.
kxb_settings_record record_to_write() {
    kxb_settings_record r{};
    r.family = KX_FAMILY_B;
    std::memcpy(r.device_id, device_id.data(), 6);
    std::memcpy(r.device_name, "WRITTEN!!!", 10);
    const uint8_t ip[4] = {127, 0, 0, 2}, dest[4] = {192, 168, 0, 1};
    std::memcpy(r.ip_address, ip, 4);
    std::memcpy(r.dest_ip, dest, 4);
    r.local_port = 0x1234;
    r.dest_port = 0x0102;
    r.ml_value = 0x0304;
    r.baud_hundreds = 1152;
    r.data_bits = 8;
    r.parity = 1;
    std::memcpy(r.password, "new-pass!!", 10);
    return r;
}

TEST(WriteB, SendsTheRecordThenConfirmsWithItsOwnIdentifier) {
    kxsim::lan lan;
    auto &dev = lan.add<device_b>("127.0.0.2", device_id);
    const kxb_settings_record record = record_to_write();
    // The identifier argument names another device: the record's own is sent.
    ASSERT_EQ(kxb_write_setting("127.0.0.2", other_id.data(), &record, nullptr), KX_OK);

    auto trace = lan.received_on(kxsim::family_b_port);
    ASSERT_EQ(trace.size(), 2u);
    const bytes &w = trace[0].payload;
    ASSERT_EQ(w.size(), 158u);
    EXPECT_EQ(trace[0].destination, "127.0.0.2");
    EXPECT_EQ(w[8], 5);
    EXPECT_EQ(w[9], 16);
    for (size_t at : {0u, 1u, 2u, 3u, 4u, 5u, 6u, 7u, 10u, 11u}) EXPECT_EQ(w[at], 0) << at;
    const uint16_t crc = wire_b::crc_bitwise(w.data(), 156);
    EXPECT_EQ(w[156], crc & 0xFF);
    EXPECT_EQ(w[157], crc >> 8);
    EXPECT_EQ(wire_b::scrambled_id(w), device_id);
    EXPECT_EQ(wire_b::plain(w, 20), 'W');
    EXPECT_EQ(wire_b::plain(w, 52), 127);
    EXPECT_EQ(wire_b::plain(w, 55), 2);
    EXPECT_EQ(wire_b::plain_be16(w, 64), 0x1234);
    EXPECT_EQ(wire_b::plain(w, 68), 192);
    EXPECT_EQ(wire_b::plain(w, 71), 1);
    EXPECT_EQ(wire_b::plain_be16(w, 72), 0x0102);
    EXPECT_EQ(wire_b::plain_le16(w, 124), 0x0304);
    EXPECT_EQ(wire_b::plain_le16(w, 128), 1152);
    EXPECT_EQ(wire_b::plain(w, 132), 8);
    EXPECT_EQ(wire_b::plain(w, 133), 1);
    EXPECT_EQ(wire_b::plain(w, 146), 'n');

    const bytes &c = trace[1].payload;
    ASSERT_EQ(c.size(), 36u);
    EXPECT_EQ(trace[1].destination, "127.0.0.2");
    EXPECT_EQ(c[0], 0xFF);
    EXPECT_EQ(c[8], 7);
    EXPECT_EQ(wire_b::scrambled_id(c), device_id);
    EXPECT_TRUE(wire_b::zero_except(c, {{0, 0}, {8, 8}, {12, 17}}));
    EXPECT_TRUE(wire_b::crc_ok(c));

    // The device applied the record on the confirmation.
    EXPECT_EQ(dev.writes_applied(), 1);
    const kxsim::settings_b s = dev.settings();
    EXPECT_EQ(s.local_port, 0x1234);
    EXPECT_EQ(s.baud_hundreds, 1152);
    EXPECT_EQ(s.name, kxsim::text_field<10>("WRITTEN!!!"));
}

TEST(WriteB, AnotherFamilyIsRefusedWithNothingSent) {
    kxsim::lan lan;
    lan.add<device_b>("127.0.0.2", device_id);
    kxb_settings_record record = record_to_write();
    record.family = KX_FAMILY_A;
    EXPECT_EQ(kxb_write_setting("127.0.0.2", device_id.data(), &record, nullptr), KX_E_ARGUMENT);
    EXPECT_TRUE(lan.received().empty());
}

TEST(WriteB, AnUnansweredConfirmationStillSucceeds) {
    kxsim::lan lan;
    auto &dev = lan.add<device_b>("127.0.0.2", device_id);
    dev.inject(kxsim::opcode_is(7), fault().no_answer());
    const kxb_settings_record record = record_to_write();
    int64_t ms = 0;
    EXPECT_EQ(wire_b::timed(ms, [&] { return kxb_write_setting("", nullptr, &record, nullptr); }),
              KX_OK);
    EXPECT_GE(ms, 990);
    EXPECT_LT(ms, 2500);
    auto trace = lan.received_on(kxsim::family_b_port);
    ASSERT_EQ(trace.size(), 2u);
    EXPECT_TRUE(trace[0].broadcast());  // the opcode does not change with the form
    EXPECT_EQ(trace[0].payload[8], 5);
    EXPECT_TRUE(trace[1].broadcast());
    EXPECT_EQ(trace[1].payload[8], 7);
}

TEST(WriteB, UnusableAnswersToTheRecord) {
    struct failing {
        const char *what;
        int32_t expected;
        fault what_goes_wrong;
    };
    const failing cases[] = {
        {"no answer", KX_E_TIMEOUT, fault().no_answer()},
        {"bad CRC", KX_E_REPLY, fault().bad_last_byte()},
        {"one byte", KX_E_REPLY, fault().cut_to(1)},
    };
    for (const failing &c : cases) {
        SCOPED_TRACE(c.what);
        kxsim::lan lan;
        auto &dev = lan.add<device_b>("127.0.0.2", device_id);
        dev.inject(kxsim::opcode_is(5), c.what_goes_wrong);
        const kxb_settings_record record = record_to_write();
        EXPECT_EQ(kxb_write_setting("127.0.0.2", device_id.data(), &record, nullptr), c.expected);
        // No confirmation, no logout: the write stays pending on the device.
        EXPECT_EQ(lan.received_on(kxsim::family_b_port).size(), 1u);
        EXPECT_EQ(dev.writes_applied(), 0);
    }
    {
        // Any answer with a good CRC will do, whatever it says.
        kxsim::lan lan;
        auto &dev = lan.add<device_b>("127.0.0.2", device_id);
        dev.inject(kxsim::opcode_is(5), fault().reply_with(bytes{0, 0}));
        const kxb_settings_record record = record_to_write();
        EXPECT_EQ(kxb_write_setting("127.0.0.2", device_id.data(), &record, nullptr), KX_OK);
        EXPECT_EQ(dev.writes_applied(), 1);
    }
}

}  // namespace
