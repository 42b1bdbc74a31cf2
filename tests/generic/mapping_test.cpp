// The two settings mappings between the family records and the generic one.
#include <gtest/gtest.h>

#include <cstring>
#include <initializer_list>
#include <string>
#include <utility>

#include "family_a/mapping_a.h"
#include "family_b/mapping_b.h"
#include "kxconf.h"

namespace {

using kx::generic_to_settings_a;
using kx::generic_to_settings_b;
using kx::settings_a_to_generic;
using kx::settings_b_to_generic;

template <typename Record>
Record filled(uint8_t byte) {
    Record r;
    std::memset(&r, byte, sizeof r);
    return r;
}

template <size_t N>
void put_text(char (&field)[N], const std::string &text) {
    std::memset(field, 0, N);
    std::memcpy(field, text.data(), text.size() < N ? text.size() : N);
}

const uint8_t *bytes_of(const void *record) { return static_cast<const uint8_t *>(record); }

// Offsets of a record, from..to inclusive, that still hold byte.
::testing::AssertionResult holds(const void *record,
                                 std::initializer_list<std::pair<int, int>> runs, uint8_t byte) {
    for (auto [from, to] : runs)
        for (int at = from; at <= to; ++at)
            if (bytes_of(record)[at] != byte)
                return ::testing::AssertionFailure() << "byte " << at << " changed";
    return ::testing::AssertionSuccess();
}

// Every generic stretch that holds no field, and the 16th firmware byte.
const std::initializer_list<std::pair<int, int>> unnamed_generic_a = {
    {46, 46}, {47, 63}, {200, 257}, {265, 289}, {291, 291}, {294, 295}};
const std::initializer_list<std::pair<int, int>> unnamed_generic_b = {
    {47, 63}, {200, 257}, {265, 289}, {291, 291}, {294, 295}};

// A family A record as a device read fills it, every field distinct.
kxa_settings_record sample_a() {
    kxa_settings_record a{};
    a.family = 1;
    put_text(a.device_name, "ALPHA-9");
    put_text(a.device_id_text, "0.17.34.51.68.85");
    put_text(a.ip_address, "192.168.7.20");
    a.local_port = 4001;
    put_text(a.dest_ip, "192.168.7.1");
    a.dest_port = 5020;
    put_text(a.subnet_mask, "255.255.255.0");
    put_text(a.gateway, "192.168.7.254");
    a.tp_value = 4;
    a.rm_value = 5;
    a.dhcp_enabled = 1;
    a.baud_code = 6;
    a.parity = 2;
    a.data_bits = 7;
    a.flow_control = 1;
    a.md_value = 200;
    a.ml_value = 65000;
    a.keep_alive = 33;
    put_text(a.firmware_version, "A-1.07-build-77");  // 15 characters, no NUL
    put_text(a.on_text, "onval");
    put_text(a.password, "secret");
    a.ww_flag = 1;
    a.dd_flag = 1;
    put_text(a.li_address, "10.1.2.3");
    put_text(a.li_address_2, "10.1.2.4");
    put_text(a.dw_text, "dw-text-that-fills-thirty-byte");  // 30, no NUL
    a.nb_flag = 1;
    return a;
}

// A family B record as a device read fills it, every field distinct.
kxb_settings_record sample_b() {
    kxb_settings_record b = filled<kxb_settings_record>(0xEE);  // reserved bytes
    b.family = 16;
    const uint8_t id[6] = {0, 16, 11, 0, 0, 7};
    std::memcpy(b.device_id, id, 6);
    std::memcpy(b.device_name, "BRAVO-NAME", 10);  // 10 raw bytes
    put_text(b.firmware_version, "B-2.03");
    b.firmware_version[15] = 'Z';
    const uint8_t ip[4] = {10, 0, 0, 9}, mask[4] = {255, 255, 0, 0}, gw[4] = {10, 0, 0, 1},
                  dest[4] = {10, 0, 0, 2}, li[4] = {0, 0, 0, 0}, li2[4] = {172, 16, 0, 1};
    std::memcpy(b.ip_address, ip, 4);
    std::memcpy(b.subnet_mask, mask, 4);
    std::memcpy(b.gateway, gw, 4);
    std::memcpy(b.dest_ip, dest, 4);
    std::memcpy(b.li_address, li, 4);
    std::memcpy(b.li_address_2, li2, 4);
    b.local_port = 40001;
    b.rm_value = 3;
    b.dhcp_enabled = 1;
    b.dest_port = 6001;
    b.tp_value = 2;
    b.ww_flag = 1;
    b.dd_flag = 1;
    put_text(b.dw_text, "bravo dw");
    b.ml_value = 512;
    b.md_value = 9;
    b.keep_alive = 120;
    b.baud_hundreds = 1152;
    b.data_bits = 8;
    b.parity = 3;
    b.stop_bits = 2;
    b.flow_control = 1;
    put_text(b.on_text, "b-on");
    put_text(b.password, "pw-b");
    return b;
}

TEST(MappingA, BaudCodesAndRates) {
    const uint32_t rates[8] = {1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};
    for (uint8_t code = 0; code < 8; ++code) {
        kxa_settings_record a{};
        a.baud_code = code;
        kx_settings_record g{};
        settings_a_to_generic(g, a);
        EXPECT_EQ(uint32_t{g.baud_rate}, rates[code]);
        kxa_settings_record back{};
        generic_to_settings_a(back, g);
        EXPECT_EQ(back.baud_code, code);
    }
    kxa_settings_record a{};
    a.baud_code = 9;
    kx_settings_record g{};
    settings_a_to_generic(g, a);
    EXPECT_EQ(uint32_t{g.baud_rate}, 9600u);
    // Rates that are not one of the eight, by all 32 bits, go as 9600.
    for (uint32_t rate : {300u, 14400u, 0u, 115200u + (1u << 16), 0xFFFFFFFFu}) {
        g.baud_rate = rate;
        kxa_settings_record to{};
        generic_to_settings_a(to, g);
        EXPECT_EQ(to.baud_code, 3) << rate;
    }
}

TEST(MappingA, ReadFillsEveryNamedFieldAndNothingElse) {
    kx_settings_record g = filled<kx_settings_record>(0xFF);
    const kxa_settings_record a = sample_a();
    settings_a_to_generic(g, a);
    EXPECT_TRUE(holds(&g, unnamed_generic_a, 0xFF));
    EXPECT_EQ(g.family, 1);
    EXPECT_EQ(std::string(g.device_name, 10), std::string("ALPHA-9\0\0\0", 10));
    EXPECT_EQ(std::string(g.firmware_version, 15), "A-1.07-build-77");
    const uint8_t id[6] = {0, 17, 34, 51, 68, 85};
    EXPECT_EQ(std::memcmp(g.device_id, id, 6), 0);
    EXPECT_STREQ(g.ip_address, "192.168.7.20");
    EXPECT_EQ(uint16_t{g.local_port}, 4001);
    EXPECT_STREQ(g.dest_ip, "192.168.7.1");
    EXPECT_EQ(uint16_t{g.dest_port}, 5020);
    EXPECT_STREQ(g.subnet_mask, "255.255.255.0");
    EXPECT_STREQ(g.gateway, "192.168.7.254");
    EXPECT_STREQ(g.li_address, "10.1.2.3");
    EXPECT_STREQ(g.li_address_2, "10.1.2.4");
    EXPECT_EQ(std::string(g.dw_text, 30), "dw-text-that-fills-thirty-byte");
    EXPECT_STREQ(g.on_text, "onval");
    EXPECT_STREQ(g.password, "secret");
    EXPECT_EQ(g.tp_value, 4);
    EXPECT_EQ(g.rm_value, 5);
    EXPECT_EQ(g.dhcp_enabled, 1);
    EXPECT_EQ(g.ww_flag, 1);
    EXPECT_EQ(g.dd_flag, 1);
    EXPECT_EQ(g.nb_flag, 1);
    EXPECT_EQ(g.keep_alive, 33);
    EXPECT_EQ(g.md_value, 200);
    EXPECT_EQ(uint16_t{g.ml_value}, 65000);
    EXPECT_EQ(uint32_t{g.baud_rate}, 57600u);
    EXPECT_EQ(g.parity, 2);
    EXPECT_EQ(g.data_bits, 7);
    EXPECT_EQ(g.stop_bits, 1);  // family A has none
    EXPECT_EQ(g.flow_control, 1);
}

TEST(MappingA, WriteTakesEveryFieldBackAndForcesFamilyOne) {
    const kxa_settings_record a = sample_a();
    kx_settings_record g{};
    settings_a_to_generic(g, a);
    g.family = 16;
    g.stop_bits = 2;
    kxa_settings_record back{};
    generic_to_settings_a(back, g);
    EXPECT_EQ(back.family, 1);
    // Everything comes back as it was, the identifier text included.
    EXPECT_EQ(std::memcmp(&back, &a, sizeof a), 0);
    EXPECT_STREQ(back.device_id_text, "0.17.34.51.68.85");

    // stop_bits is not read at all.
    g.stop_bits = 0;
    kxa_settings_record other{};
    generic_to_settings_a(other, g);
    EXPECT_EQ(std::memcmp(&back, &other, sizeof back), 0);
}

TEST(MappingA, AddressFieldsMoveOnlyTheirFirst16Bytes) {
    // Family A to generic: bytes 17 to 20 of the family A fields are not read.
    kxa_settings_record a = sample_a();
    kx_settings_record from_plain{};
    settings_a_to_generic(from_plain, a);
    for (char *field :
         {a.ip_address, a.dest_ip, a.subnet_mask, a.gateway, a.li_address, a.li_address_2})
        std::memset(field + 16, 'x', 4);
    kx_settings_record from_marked{};
    settings_a_to_generic(from_marked, a);
    EXPECT_EQ(std::memcmp(&from_plain, &from_marked, sizeof from_plain), 0);

    // Generic to family A: they are not written.
    kxa_settings_record to = filled<kxa_settings_record>(0xAB);
    generic_to_settings_a(to, from_plain);
    for (const char *field :
         {to.ip_address, to.dest_ip, to.subnet_mask, to.gateway, to.li_address, to.li_address_2})
        EXPECT_TRUE(holds(field, {{16, 19}}, 0xAB));
}

TEST(MappingA, IdentifierTextBytesBeyondItsComponentsKeepTheCallers) {
    // A short identifier text fills as many bytes as it has components.
    kxa_settings_record a{};
    put_text(a.device_id_text, "1.2.3");
    kx_settings_record g = filled<kx_settings_record>(0xFF);
    settings_a_to_generic(g, a);
    const uint8_t expected[6] = {1, 2, 3, 0xFF, 0xFF, 0xFF};
    EXPECT_EQ(std::memcmp(g.device_id, expected, 6), 0);
}

TEST(MappingB, BaudHundreds) {
    kxb_settings_record b = sample_b();
    kx_settings_record g{};
    settings_b_to_generic(g, b);
    EXPECT_EQ(uint32_t{g.baud_rate}, 115200u);
    const std::pair<uint32_t, uint16_t> cases[] = {
        {115200, 1152},   {57600, 576},
        {230400, 2304},   {110, 1},
        {99, 0},          {9650, 96},
        {6553500, 65535}, {7000000, 70000 & 0xFFFF},  // only the low 16 bits of the hundreds
    };
    for (auto [rate, hundreds] : cases) {
        g.baud_rate = rate;
        kxb_settings_record to{};
        generic_to_settings_b(to, g);
        EXPECT_EQ(uint16_t{to.baud_hundreds}, hundreds) << rate;
    }
    b.baud_hundreds = 65535;
    settings_b_to_generic(g, b);
    EXPECT_EQ(uint32_t{g.baud_rate}, 6553500u);
}

TEST(MappingB, ReadFillsEveryNamedFieldAndNothingElse) {
    kx_settings_record g = filled<kx_settings_record>(0xFF);
    settings_b_to_generic(g, sample_b());
    EXPECT_TRUE(holds(&g, unnamed_generic_b, 0xFF));
    EXPECT_EQ(g.family, 16);
    EXPECT_EQ(std::string(g.device_name, 10), "BRAVO-NAME");
    EXPECT_EQ(std::string(g.firmware_version, 16), std::string("B-2.03\0\0\0\0\0\0\0\0\0Z", 16));
    const uint8_t id[6] = {0, 16, 11, 0, 0, 7};
    EXPECT_EQ(std::memcmp(g.device_id, id, 6), 0);
    EXPECT_STREQ(g.ip_address, "10.0.0.9");
    EXPECT_STREQ(g.subnet_mask, "255.255.0.0");
    EXPECT_STREQ(g.gateway, "10.0.0.1");
    EXPECT_STREQ(g.dest_ip, "10.0.0.2");
    EXPECT_STREQ(g.li_address, "0.0.0.0");
    EXPECT_STREQ(g.li_address_2, "172.16.0.1");
    EXPECT_EQ(uint16_t{g.local_port}, 40001);
    EXPECT_EQ(uint16_t{g.dest_port}, 6001);
    EXPECT_EQ(g.rm_value, 3);
    EXPECT_EQ(g.dhcp_enabled, 1);
    EXPECT_EQ(g.tp_value, 2);
    EXPECT_EQ(g.ww_flag, 1);
    EXPECT_EQ(g.dd_flag, 1);
    EXPECT_EQ(g.nb_flag, 0);  // family B has no such setting
    EXPECT_STREQ(g.dw_text, "bravo dw");
    EXPECT_EQ(uint16_t{g.ml_value}, 512);
    EXPECT_EQ(g.md_value, 9);
    EXPECT_EQ(g.keep_alive, 120);
    EXPECT_EQ(g.data_bits, 8);
    EXPECT_EQ(g.parity, 3);
    EXPECT_EQ(g.stop_bits, 2);
    EXPECT_EQ(g.flow_control, 1);
    EXPECT_STREQ(g.on_text, "b-on");
    EXPECT_STREQ(g.password, "pw-b");
}

TEST(MappingB, WriteCarriesEveryFieldButNbFlagAndCopiesTheFamily) {
    const kxb_settings_record b = sample_b();
    kx_settings_record g{};
    settings_b_to_generic(g, b);
    kxb_settings_record back = filled<kxb_settings_record>(0xEE);
    generic_to_settings_b(back, g);
    // Reserved bytes untouched, every field as it came.
    EXPECT_EQ(std::memcmp(&back, &b, sizeof b), 0);

    // nb_flag is not carried: the family B record is the same either way.
    g.nb_flag = 1;
    kxb_settings_record with_flag = filled<kxb_settings_record>(0xEE);
    generic_to_settings_b(with_flag, g);
    EXPECT_EQ(std::memcmp(&with_flag, &b, sizeof b), 0);

    // The family code is copied, not forced to 16.
    g.family = 1;
    kxb_settings_record family_a{};
    generic_to_settings_b(family_a, g);
    EXPECT_EQ(family_a.family, 1);
}

TEST(MappingB, AddressTexts) {
    kx_settings_record g{};
    put_text(g.ip_address, "0.0.0.0");
    put_text(g.dest_ip, "1.2.3.300");
    put_text(g.subnet_mask, "not an address");
    put_text(g.gateway, "");
    put_text(g.li_address, "255.255.255.255");
    kxb_settings_record b{};
    generic_to_settings_b(b, g);
    auto addr = [](const uint8_t(&a)[4]) {
        return std::to_string(a[0]) + "." + std::to_string(a[1]) + "." + std::to_string(a[2]) +
               "." + std::to_string(a[3]);
    };
    EXPECT_EQ(addr(b.ip_address), "0.0.0.0");
    EXPECT_EQ(addr(b.dest_ip), "255.255.255.255");
    EXPECT_EQ(addr(b.subnet_mask), "255.255.255.255");
    EXPECT_EQ(addr(b.gateway), "255.255.255.255");
    EXPECT_EQ(addr(b.li_address), "255.255.255.255");

    // Read back, the texts come in canonical dotted form.
    kx_settings_record back{};
    settings_b_to_generic(back, b);
    EXPECT_STREQ(back.ip_address, "0.0.0.0");
    EXPECT_STREQ(back.dest_ip, "255.255.255.255");
}

TEST(MappingB, AnAddressFieldWithoutNulIsReadToItsEndOnly) {
    // Sixteen bytes without a NUL: the parser must see just them, not the
    // port number that follows the field in the record.
    // Leading zeros make a valid address 16 characters long; with "99"
    // appended it no longer parses.
    kx_settings_record g{};
    std::memcpy(g.ip_address, "1.2.3.0000000004", 16);
    g.local_port = 0x3939;
    kxb_settings_record b{};
    generic_to_settings_b(b, g);
    const uint8_t expected[4] = {1, 2, 3, 4};
    EXPECT_EQ(std::memcmp(b.ip_address, expected, 4), 0);
}

}  // namespace
