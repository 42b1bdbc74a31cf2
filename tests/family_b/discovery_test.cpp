// Family B discovery against simulated devices.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "device_b.h"
#include "family_b/wire_b.h"
#include "kxconf.h"
#include "lan.h"

namespace {

using kxsim::device_b;
using kxsim::fault;
using wire_b::bytes;

const kxsim::device_id_bytes first_id{0, 16, 11, 0, 0, 1};
const kxsim::device_id_bytes second_id{0, 16, 11, 0, 0, 2};

std::string text_of(const char *field, size_t width) {
    return std::string(field, strnlen(field, width));
}

// The one search request: 36 bytes, marker and opcode 1, nothing else.
void expect_search_request(const kxsim::datagram &d) {
    ASSERT_EQ(d.payload.size(), 36u);
    EXPECT_EQ(d.payload[0], 0xFF);
    EXPECT_EQ(d.payload[8], 1);
    EXPECT_TRUE(wire_b::zero_except(d.payload, {{0, 0}, {8, 8}}));
    EXPECT_TRUE(wire_b::crc_ok(d.payload));
    EXPECT_EQ(d.source_port, kxsim::host_port);
}

// A device's search answer, as a datagram another sender can repeat.
bytes search_answer_of(const device_b &dev) {
    return kxsim::packet_b::settings_packet(dev.settings(), 1, 0);
}

TEST(SearchAllB, NothingAnsweringGivesCountZeroAfterTheQuietTime) {
    kxsim::lan lan;
    kx_device_record records[2];
    int32_t count = -7;
    int64_t ms = 0;
    EXPECT_EQ(wire_b::timed(ms, [&] { return kxb_search_all(records, &count); }), KX_OK);
    EXPECT_EQ(count, 0);
    EXPECT_GE(ms, 290);
    EXPECT_LT(ms, 900);
    auto trace = lan.received_on(kxsim::family_b_port);
    ASSERT_EQ(trace.size(), 1u);
    EXPECT_TRUE(trace[0].broadcast());
    expect_search_request(trace[0]);
}

TEST(SearchAllB, ListsEachDeviceWithItsFields) {
    kxsim::lan lan;
    auto &a = lan.add<device_b>("127.0.0.2", first_id, "ALPHA");
    auto &b = lan.add<device_b>("127.0.0.3", second_id, "BETA-NAME!");
    b.inject(kxsim::any_request(), fault().late(60));  // a known order
    kxsim::settings_b s = a.settings();
    s.local_port = 0x1234;
    s.dest_ip = {10, 1, 2, 3};
    s.mask = {255, 255, 0, 0};
    s.gateway = {127, 0, 0, 254};
    s.li = {172, 16, 0, 1};
    s.li2 = {172, 16, 0, 2};
    s.firmware = kxsim::text_field<16>("B-2.03-long-text");
    a.set_settings(s);

    kx_device_record records[3];
    std::memset(records, 0xEE, sizeof records);
    int32_t count = -7;
    ASSERT_EQ(kxb_search_all(records, &count), KX_OK);
    ASSERT_EQ(count, 2);

    const kx_device_record &r = records[0];
    EXPECT_EQ(r.family, KX_FAMILY_B);
    EXPECT_EQ(std::memcmp(r.firmware_version, "B-2.03-long-text", 16), 0);
    EXPECT_EQ(std::memcmp(r.device_name, "ALPHA\0\0\0\0\0", 10), 0);
    EXPECT_EQ(std::memcmp(r.device_id, first_id.data(), 6), 0);
    EXPECT_EQ(text_of(r.ip_address, 16), "127.0.0.2");
    EXPECT_EQ(r.local_port, 0x1234);
    EXPECT_EQ(text_of(r.dest_ip, 16), "10.1.2.3");
    EXPECT_EQ(text_of(r.subnet_mask, 16), "255.255.0.0");
    EXPECT_EQ(text_of(r.gateway, 16), "127.0.0.254");
    EXPECT_EQ(text_of(r.li_address, 16), "172.16.0.1");
    EXPECT_EQ(text_of(r.li_address_2, 16), "172.16.0.2");
    // Discovery writes its fields only.
    EXPECT_EQ(r.reserved_49, 0xEE);
    for (char byte : r.answered_from) ASSERT_EQ(static_cast<uint8_t>(byte), 0xEE);
    for (uint8_t byte : r.reserved_148) ASSERT_EQ(byte, 0xEE);

    EXPECT_EQ(std::memcmp(records[1].device_name, "BETA-NAME!", 10), 0);  // all 10 bytes raw
    EXPECT_EQ(std::memcmp(records[1].device_id, second_id.data(), 6), 0);
    EXPECT_EQ(text_of(records[1].ip_address, 16), "127.0.0.3");
    EXPECT_EQ(records[2].family, 0xEE);

    EXPECT_EQ(lan.received_on(kxsim::family_b_port).size(), 1u);
}

TEST(SearchAllB, OnlyConsecutiveDuplicatesAreMerged) {
    {
        kxsim::lan lan;
        lan.add<device_b>("127.0.0.2", first_id).inject(kxsim::any_request(), fault().twice());
        kx_device_record records[3];
        int32_t count = -7;
        ASSERT_EQ(kxb_search_all(records, &count), KX_OK);
        EXPECT_EQ(count, 1);
    }
    {
        // Answers A, B, A: three records.
        kxsim::lan lan;
        auto &a = lan.add<device_b>("127.0.0.2", first_id);
        lan.add<device_b>("127.0.0.3", second_id).inject(kxsim::any_request(), fault().late(50));
        lan.send("127.0.0.2", kxsim::family_b_port, search_answer_of(a), 120);
        kx_device_record records[4];
        int32_t count = -7;
        ASSERT_EQ(kxb_search_all(records, &count), KX_OK);
        ASSERT_EQ(count, 3);
        EXPECT_EQ(records[0].device_id[5], 1);
        EXPECT_EQ(records[1].device_id[5], 2);
        EXPECT_EQ(records[2].device_id[5], 1);
    }
}

TEST(SearchAllB, UnusableAnswersAreNeverCounted) {
    kxsim::lan lan;
    auto &other = lan.add<device_b>("127.0.0.2", first_id);
    other.reply_family(KX_FAMILY_A);  // good CRC, another family
    auto &good = lan.add<device_b>("127.0.0.3", second_id);
    good.inject(kxsim::any_request(), fault().late(40));
    // Cut to 157 bytes but resealed: a good CRC on an incomplete packet.
    bytes cut = kxsim::packet_b::settings_packet(good.settings(), 1, 0);
    cut.resize(157);
    lan.send("127.0.0.4", kxsim::family_b_port, wire_b::sealed(cut), 80);

    kx_device_record records[4];
    std::memset(records, 0, sizeof records);
    int32_t count = -7;
    ASSERT_EQ(kxb_search_all(records, &count), KX_OK);
    ASSERT_EQ(count, 1);
    EXPECT_EQ(records[0].device_id[5], 2);
    EXPECT_EQ(records[1].family, 0);  // nothing written after the one device
}

TEST(SearchAllB, AGoodAnswerBehindABadCrcIsStillCollected) {
    kxsim::lan lan;
    auto &dev = lan.add<device_b>("127.0.0.2", first_id);
    bytes broken = search_answer_of(dev);
    broken.back() ^= 0x5A;
    dev.inject(kxsim::any_request(), fault().stray_first(broken));
    kx_device_record records[2];
    int32_t count = -7;
    ASSERT_EQ(kxb_search_all(records, &count), KX_OK);
    EXPECT_EQ(count, 1);
    EXPECT_EQ(records[0].device_id[5], 1);
}

TEST(SearchOneB, AsksOneAddressAndFillsOnlyDiscoveryFields) {
    kxsim::lan lan;
    lan.add<device_b>("127.0.0.3", second_id, "ONE");
    kx_device_record record;
    std::memset(&record, 0xEE, sizeof record);
    ASSERT_EQ(kxb_search_one("127.0.0.3", &record), KX_OK);
    EXPECT_EQ(record.family, KX_FAMILY_B);
    EXPECT_EQ(std::memcmp(record.device_id, second_id.data(), 6), 0);
    EXPECT_EQ(text_of(record.ip_address, 16), "127.0.0.3");
    EXPECT_EQ(record.local_port, 4001);
    EXPECT_EQ(record.reserved_49, 0xEE);
    for (char byte : record.answered_from) ASSERT_EQ(static_cast<uint8_t>(byte), 0xEE);
    for (uint8_t byte : record.reserved_148) ASSERT_EQ(byte, 0xEE);

    auto trace = lan.received_on(kxsim::family_b_port);
    ASSERT_EQ(trace.size(), 1u);
    EXPECT_EQ(trace[0].destination, "127.0.0.3");
    expect_search_request(trace[0]);
}

TEST(SearchOneB, UnusableAnswersLeaveTheRecordUntouched) {
    struct failing {
        const char *what;
        int32_t expected;
        void (*arrange)(device_b &);
    };
    const failing cases[] = {
        {"no answer", KX_E_TIMEOUT,
         [](device_b &d) { d.inject(kxsim::any_request(), fault().no_answer()); }},
        {"bad CRC", KX_E_REPLY,
         [](device_b &d) { d.inject(kxsim::any_request(), fault().bad_last_byte()); }},
        {"another family", KX_E_REPLY, [](device_b &d) { d.reply_family(KX_FAMILY_A); }},
        {"cut to 157 bytes, resealed", KX_E_REPLY,
         [](device_b &d) {
             bytes cut = kxsim::packet_b::settings_packet(d.settings(), 1, 0);
             cut.resize(157);
             d.inject(kxsim::any_request(), fault().reply_with(wire_b::sealed(cut)));
         }},
    };
    for (const failing &c : cases) {
        SCOPED_TRACE(c.what);
        kxsim::lan lan;
        c.arrange(lan.add<device_b>("127.0.0.2", first_id));
        kx_device_record record;
        std::memset(&record, 0xEE, sizeof record);
        EXPECT_EQ(kxb_search_one("127.0.0.2", &record), c.expected);
        const uint8_t *bytes_of = reinterpret_cast<const uint8_t *>(&record);
        for (size_t i = 0; i < sizeof record; ++i) ASSERT_EQ(bytes_of[i], 0xEE) << i;
    }
}

}  // namespace
