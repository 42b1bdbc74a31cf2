// Family B packet format: CRC, sequence byte, settings record codec. Expected
// bytes are written out by hand here, not produced by the library's own code.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "family_b/packet_b.h"
#include "family_b/replies_b.h"
#include "family_b/sequenced_exchange_b.h"
#include "kxconf.h"

namespace {

using kx::pack_settings_b;
using kx::settings_packet;
using kx::unpack_settings_b;

// The scrambled wire byte of a payload value.
constexpr uint8_t wire(uint8_t plain) { return static_cast<uint8_t>(plain ^ 0xC5); }

// A record with a distinct value in every named field.
kxb_settings_record sample_record() {
    kxb_settings_record r{};
    r.family = KX_FAMILY_B;
    const uint8_t id[6] = {0x00, 0x10, 0x02, 0x03, 0x04, 0xFF};
    std::memcpy(r.device_id, id, 6);
    std::memcpy(r.device_name, "NAME567890", 10);
    std::memcpy(r.firmware_version, "FW-1.2.3-abcdefg", 16);
    const uint8_t ip[4] = {192, 168, 0, 1}, mask[4] = {255, 255, 255, 0},
                  gw[4] = {192, 168, 0, 254};
    std::memcpy(r.ip_address, ip, 4);
    std::memcpy(r.subnet_mask, mask, 4);
    std::memcpy(r.gateway, gw, 4);
    r.local_port = 0x1234;
    r.rm_value = 3;
    r.dhcp_enabled = 1;
    const uint8_t dest[4] = {10, 0, 0, 7}, li[4] = {172, 16, 1, 2}, li2[4] = {172, 16, 3, 4};
    std::memcpy(r.dest_ip, dest, 4);
    r.dest_port = 0xABCD;
    r.tp_value = 4;
    r.ww_flag = 5;
    r.dd_flag = 6;
    std::memcpy(r.li_address, li, 4);
    std::memcpy(r.li_address_2, li2, 4);
    std::memcpy(r.dw_text, "dw-text-0123456789-abcdefghijk", 30);
    r.ml_value = 0x0102;
    r.md_value = 7;
    r.keep_alive = 8;
    r.baud_hundreds = 1152;
    r.data_bits = 8;
    r.parity = 2;
    r.stop_bits = 1;
    r.flow_control = 9;
    std::memcpy(r.on_text, "on-text-01", 10);
    std::memcpy(r.password, "secret-pw!", 10);
    return r;
}

std::vector<uint8_t> bytes_of(const kxb_settings_record &r) {
    std::vector<uint8_t> out(sizeof r);
    std::memcpy(out.data(), &r, sizeof r);
    return out;
}

// Record offsets that carry no named field.
bool reserved_record_byte(size_t at) {
    return (at >= 1 && at <= 3) || at == 10 || at == 11 || (at >= 22 && at <= 27) ||
           (at >= 69 && at <= 71) || (at >= 110 && at <= 115) || at == 122 || at == 123;
}

TEST(CrcB, KnownAnswersAndLengthModulo65536) {
    const uint8_t digits[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
    EXPECT_EQ(cal_crc(digits, 9), 0x31C3);
    EXPECT_EQ(cal_crc(digits, 0), 0);
    const uint8_t zero = 0;
    EXPECT_EQ(cal_crc(&zero, 1), 0);

    std::vector<uint8_t> big(65537, 0xAB);
    EXPECT_EQ(cal_crc(big.data(), 1), 0x0481);
    EXPECT_EQ(cal_crc(big.data(), 65536), 0);       // counts as 0 bytes
    EXPECT_EQ(cal_crc(big.data(), 65537), 0x0481);  // counts as 1 byte
}

TEST(CrcB, ChecksTheLastTwoBytesLowFirst) {
    std::vector<uint8_t> d = {'1', '2', '3', '4', '5', '6', '7', '8', '9', 0xC3, 0x31};
    EXPECT_TRUE(kx::crc_matches_b(d));
    std::swap(d[9], d[10]);
    EXPECT_FALSE(kx::crc_matches_b(d));
    EXPECT_FALSE(kx::crc_matches_b(std::vector<uint8_t>{0x00}));
    // Two bytes: the CRC of nothing is 0.
    EXPECT_TRUE(kx::crc_matches_b(std::vector<uint8_t>{0x00, 0x00}));
}

TEST(SequenceB, SameGeneratorAsTheWindowsRuntime) {
    // First draws of that runtime after srand(1).
    kx::crt_random generator{1};
    EXPECT_EQ(generator.next(), 41);
    EXPECT_EQ(generator.next(), 18467);
    EXPECT_EQ(generator.next(), 6334);
    EXPECT_EQ(kx::sequence_byte_b(), 0x57);
}

TEST(PackSettingsB, FieldsAtTheirWireOffsets) {
    const kxb_settings_record r = sample_record();
    settings_packet p{};
    ASSERT_EQ(pack_settings_b(r, p), 148);

    // Ports big-endian.
    EXPECT_EQ(p[64], wire(0x12));
    EXPECT_EQ(p[65], wire(0x34));
    EXPECT_EQ(p[72], wire(0xAB));
    EXPECT_EQ(p[73], wire(0xCD));
    // 16-bit values little-endian.
    EXPECT_EQ(p[124], wire(0x02));
    EXPECT_EQ(p[125], wire(0x01));
    EXPECT_EQ(p[128], wire(0x80));
    EXPECT_EQ(p[129], wire(0x04));
    // Addresses first octet first.
    EXPECT_EQ(p[52], wire(192));
    EXPECT_EQ(p[53], wire(168));
    EXPECT_EQ(p[54], wire(0));
    EXPECT_EQ(p[55], wire(1));
    EXPECT_EQ(p[68], wire(10));
    EXPECT_EQ(p[83], wire(2));
    EXPECT_EQ(p[87], wire(4));
    // Raw bytes and single bytes.
    EXPECT_EQ(p[12], wire(0x00));
    EXPECT_EQ(p[17], wire(0xFF));
    EXPECT_EQ(p[20], wire('N'));
    EXPECT_EQ(p[36], wire('F'));
    EXPECT_EQ(p[66], wire(3));
    EXPECT_EQ(p[67], wire(1));
    EXPECT_EQ(p[74], wire(4));
    EXPECT_EQ(p[76], wire(6));
    EXPECT_EQ(p[88], wire('d'));
    EXPECT_EQ(p[117], wire('k'));
    EXPECT_EQ(p[126], wire(7));
    EXPECT_EQ(p[127], wire(8));
    EXPECT_EQ(p[132], wire(8));
    EXPECT_EQ(p[133], wire(2));
    EXPECT_EQ(p[134], wire(1));
    EXPECT_EQ(p[135], wire(9));
    EXPECT_EQ(p[136], wire('o'));
    EXPECT_EQ(p[146], wire('s'));
    EXPECT_EQ(p[155], wire('!'));
    // Reserved payload bytes are zero before scrambling; the header and the
    // CRC field are the caller's.
    for (size_t at : {18u, 19u, 30u, 35u, 77u, 79u, 118u, 123u, 130u, 131u})
        EXPECT_EQ(p[at], wire(0)) << at;
    for (size_t at = 0; at < 12; ++at) EXPECT_EQ(p[at], 0) << at;
    EXPECT_EQ(p[156], 0);
    EXPECT_EQ(p[157], 0);
}

TEST(PackSettingsB, RefusesAnotherFamilyOrAShortBuffer) {
    kxb_settings_record r = sample_record();
    r.family = KX_FAMILY_A;
    settings_packet p;
    p.fill(0x5A);
    EXPECT_EQ(pack_settings_b(r, p), 0);
    for (uint8_t b : p) ASSERT_EQ(b, 0x5A);

    r.family = KX_FAMILY_B;
    std::vector<uint8_t> small(155, 0x5A);
    EXPECT_EQ(pack_settings_b(r, small), 0);
    for (uint8_t b : small) ASSERT_EQ(b, 0x5A);
}

TEST(UnpackSettingsB, RoundTripRestoresNamedFieldsAndKeepsReservedBytes) {
    const kxb_settings_record original = sample_record();
    settings_packet p{};
    ASSERT_EQ(pack_settings_b(original, p), 148);
    p[9] = KX_FAMILY_B;

    kxb_settings_record target;
    std::memset(&target, 0xEE, sizeof target);
    ASSERT_TRUE(unpack_settings_b(p, target));

    const std::vector<uint8_t> want = bytes_of(original), got = bytes_of(target);
    for (size_t at = 0; at < want.size(); ++at) {
        if (reserved_record_byte(at))
            EXPECT_EQ(got[at], 0xEE) << "reserved record byte " << at;
        else
            EXPECT_EQ(got[at], want[at]) << "record byte " << at;
    }
}

TEST(UnpackSettingsB, DecodesAHandBuiltPacket) {
    settings_packet p{};
    p[9] = KX_FAMILY_B;
    for (size_t at = 12; at < 156; ++at) p[at] = wire(0);
    p[52] = wire(192), p[53] = wire(168), p[54] = wire(0), p[55] = wire(1);
    p[64] = wire(0x12), p[65] = wire(0x34);
    p[72] = wire(0x00), p[73] = wire(0x50);
    p[124] = wire(0x34), p[125] = wire(0x12);
    p[128] = wire(0x80), p[129] = wire(0x04);
    p[146] = wire('p');

    kxb_settings_record r{};
    ASSERT_TRUE(unpack_settings_b(p, r));
    EXPECT_EQ(r.family, KX_FAMILY_B);
    EXPECT_EQ(r.ip_address[0], 192);
    EXPECT_EQ(r.ip_address[3], 1);
    EXPECT_EQ(r.local_port, 0x1234);
    EXPECT_EQ(r.dest_port, 80);
    EXPECT_EQ(r.ml_value, 0x1234);
    EXPECT_EQ(r.baud_hundreds, 1152);
    EXPECT_EQ(r.password[0], 'p');
}

TEST(UnpackSettingsB, IgnoresAnotherFamilyAndShortPackets) {
    settings_packet p{};
    ASSERT_EQ(pack_settings_b(sample_record(), p), 148);
    p[9] = KX_FAMILY_A;
    const settings_packet before = p;
    kxb_settings_record r;
    std::memset(&r, 0xEE, sizeof r);
    EXPECT_FALSE(unpack_settings_b(p, r));
    for (uint8_t b : bytes_of(r)) ASSERT_EQ(b, 0xEE);
    EXPECT_EQ(p, before);  // not unscrambled either

    p[9] = KX_FAMILY_B;
    EXPECT_FALSE(unpack_settings_b(std::span<uint8_t>(p.data(), 155), r));
    for (uint8_t b : bytes_of(r)) ASSERT_EQ(b, 0xEE);
}

TEST(SearchReplyB, OnlyAWholeSealedFamilyBPacketFillsTheRecord) {
    settings_packet p{};
    p[8] = 1;  // search
    p[9] = KX_FAMILY_B;
    for (size_t at = 12; at < 156; ++at) p[at] = wire(0);
    p[52] = wire(10), p[53] = wire(0), p[54] = wire(0), p[55] = wire(9);
    kx::seal_packet_b(p);
    kxb_settings_record r;
    std::memset(&r, 0xEE, sizeof r);

    // Cut short, bad CRC, another family: the record stays as it was.
    EXPECT_EQ(kx::judge_search_reply_b(std::span<uint8_t>(p.data(), 157), r),
              kx::search_reply::damaged);
    settings_packet bad = p;
    bad[156] ^= 1;
    EXPECT_EQ(kx::judge_search_reply_b(bad, r), kx::search_reply::damaged);
    settings_packet other = p;
    other[9] = KX_FAMILY_A;
    kx::seal_packet_b(other);
    EXPECT_EQ(kx::judge_search_reply_b(other, r), kx::search_reply::other_family);
    for (uint8_t b : bytes_of(r)) ASSERT_EQ(b, 0xEE);
    EXPECT_EQ(kx::result_of(kx::search_reply::damaged), KX_E_REPLY);
    EXPECT_EQ(kx::result_of(kx::search_reply::other_family), KX_E_REPLY);

    EXPECT_EQ(kx::judge_search_reply_b(p, r), kx::search_reply::device);
    EXPECT_EQ(kx::result_of(kx::search_reply::device), KX_OK);
    const uint8_t ip[4] = {10, 0, 0, 9};
    EXPECT_EQ(std::memcmp(r.ip_address, ip, 4), 0);
}

}  // namespace
