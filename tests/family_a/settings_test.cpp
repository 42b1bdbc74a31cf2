// The family A command table on its own: the get reply rules, the value texts
// of the set commands, and the read and write lists the table yields.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "family_a/settings_a.h"
#include "family_a/settings_exchange_a.h"
#include "support/records.h"

namespace {

using namespace std::string_literals;

kxa_settings_record filled(uint8_t byte) { return kxtest::filled<kxa_settings_record>(byte); }

// Stores one reply as the read does: the bytes followed by a NUL.
void store(kxa_settings_record &r, const std::string &reply) {
    std::string buffer = reply;
    buffer.push_back('\0');
    kx::store_reply_a(reinterpret_cast<const uint8_t *>(buffer.data()), reply.size(), r);
}

kxa_settings_record stored(const std::string &reply, uint8_t fill = 0xEE) {
    kxa_settings_record r = filled(fill);
    store(r, reply);
    return r;
}

std::string bytes_of(const kxa_settings_record &r) {
    return {reinterpret_cast<const char *>(&r), sizeof r};
}

// Only the bytes in [from, to) differ between a and b.
::testing::AssertionResult only_changed(const kxa_settings_record &a, const kxa_settings_record &b,
                                        size_t from, size_t to) {
    const std::string x = bytes_of(a), y = bytes_of(b);
    for (size_t i = 0; i < x.size(); ++i)
        if ((i < from || i >= to) && x[i] != y[i])
            return ::testing::AssertionFailure() << "byte " << i << " changed";
    return ::testing::AssertionSuccess();
}

std::string text_of(const char *field, size_t width) {
    return std::string(field, strnlen(field, width));
}
#define TEXT(r, field) text_of((r).field, sizeof(r).field)

TEST(StoreReplyA, Texts) {
    auto r = stored("A10.0.0.7|22");
    EXPECT_EQ(TEXT(r, ip_address), "10.0.0.7");
    EXPECT_EQ(TEXT(stored("A|22"), ip_address), "");
    // The value ends at the first '|'.
    EXPECT_EQ(TEXT(stored("A12|34|22"), ip_address), "12");
    // At most 16 characters of an address, 9 of a name.
    EXPECT_EQ(TEXT(stored("A123456789.123456789|25"), dest_ip), "123456789.123456");
    EXPECT_EQ(TEXT(stored("ALONGDEVICENAME|2F"), device_name), "LONGDEVIC");
    EXPECT_EQ(TEXT(stored("Ahunter2|3A"), password), "hunter2");
    EXPECT_EQ(TEXT(stored("AA-1.07|33"), firmware_version), "A-1.07");
    EXPECT_EQ(TEXT(stored("A0.16.2.3.4.5|21"), device_id_text), "0.16.2.3.4.5");
    EXPECT_EQ(TEXT(stored("A255.0.0.0|28"), subnet_mask), "255.0.0.0");
    EXPECT_EQ(TEXT(stored("A10.0.0.1|27"), gateway), "10.0.0.1");
    EXPECT_EQ(TEXT(stored("Aon|39"), on_text), "on");
    // Only the field and its NUL are written.
    const auto before = filled(0xEE);
    EXPECT_TRUE(only_changed(before, r, offsetof(kxa_settings_record, ip_address),
                             offsetof(kxa_settings_record, ip_address) + 9));
}

TEST(StoreReplyA, FullWidthTextsKeepTheirLimitAndSpillTheNulIntoTheNextField) {
    const std::string forty(40, 'd');
    auto r = stored("A" + forty + "|38");
    EXPECT_EQ(std::string(r.dw_text, 30), forty.substr(0, 30));
    EXPECT_EQ(r.nb_flag, 0);  // the NUL of a 30-character dw_text
    EXPECT_TRUE(only_changed(filled(0xEE), r, offsetof(kxa_settings_record, dw_text),
                             sizeof(kxa_settings_record)));

    r = stored("A" + std::string(15, 'v') + "|33");
    EXPECT_EQ(std::string(r.firmware_version, 15), std::string(15, 'v'));
    EXPECT_EQ(r.on_text[0], '\0');
    r = stored("A" + std::string(30, '1') + "|21");
    EXPECT_EQ(r.ip_address[0], '\0');
}

TEST(StoreReplyA, AddressTextsShorterThanSevenBecomeZeroAddress) {
    EXPECT_EQ(TEXT(stored("A1.2.3|35"), li_address), "0.0.0.0");
    EXPECT_EQ(TEXT(stored("A1.2.3.4|35"), li_address), "1.2.3.4");
    EXPECT_EQ(TEXT(stored("A|36"), li_address_2), "0.0.0.0");
    EXPECT_EQ(TEXT(stored("A192.168.100.200|36"), li_address_2), "192.168.100.200");
}

TEST(StoreReplyA, NumbersTakeTheirCharacterCountModuloTheirWidth) {
    EXPECT_EQ(uint16_t(stored("A4001|23").local_port), 4001);
    EXPECT_EQ(uint16_t(stored("A123456|23").local_port), 12345);
    EXPECT_EQ(uint16_t(stored("A70000|23").local_port), 4464);
    EXPECT_EQ(uint16_t(stored("A|23").local_port), 0);
    EXPECT_EQ(uint16_t(stored("A65535|26").dest_port), 65535);
    EXPECT_EQ(uint16_t(stored("A1024|2C").ml_value), 1024);
    EXPECT_EQ(stored("A300|2D").md_value, 44);
    EXPECT_EQ(stored("A2559|2D").md_value, 255);  // three characters only
    EXPECT_EQ(stored("A60|32").keep_alive, 60);
    // Any character counts as its code minus 48: ':' is 10, '/' is -1.
    EXPECT_EQ(uint16_t(stored("A1:|23").local_port), 20);
    EXPECT_EQ(uint16_t(stored("A/|23").local_port), 65535);
    // A byte of 128 or more counts as its value minus 256.
    EXPECT_EQ(stored("A\xff|2D").md_value, static_cast<uint8_t>(-1 - 48));
    // 16-bit numbers are little-endian in the record.
    auto r = stored("A258|23");
    const auto *raw =
        reinterpret_cast<const uint8_t *>(&r) + offsetof(kxa_settings_record, local_port);
    EXPECT_EQ(raw[0], 2);
    EXPECT_EQ(raw[1], 1);
}

TEST(StoreReplyA, DigitsFlagsDataBitsAndBaudCodes) {
    EXPECT_EQ(stored("A7|24").rm_value, 7);
    EXPECT_EQ(stored("A2|2A").parity, 2);
    EXPECT_EQ(stored("A5|2E").tp_value, 5);
    EXPECT_EQ(stored("Ax|2A").parity, 'x' - 48);  // whatever the character is
    EXPECT_EQ(stored("A|2A").parity, '|' - 48);

    EXPECT_EQ(stored("A0|30", 9).dhcp_enabled, 0);
    EXPECT_EQ(stored("A2|30", 9).dhcp_enabled, 1);
    EXPECT_EQ(stored("A1|31", 9).flow_control, 1);
    EXPECT_EQ(stored("A2|31", 9).flow_control, 0);
    EXPECT_EQ(stored("A1|34").dd_flag, 1);
    EXPECT_EQ(stored("A1|37").ww_flag, 1);
    EXPECT_EQ(stored("A0|37").ww_flag, 0);
    EXPECT_EQ(stored("A1|3B").family, 1);
    EXPECT_EQ(stored("A0|3B").family, 0);
    EXPECT_EQ(stored("A1|3C").nb_flag, 1);
    EXPECT_EQ(stored("A|3C").nb_flag, 0);

    EXPECT_EQ(stored("A0|2B").data_bits, 7);
    EXPECT_EQ(stored("A1|2B").data_bits, 8);
    EXPECT_EQ(stored("A2|2B").data_bits, 8);

    for (char c = '0'; c <= '7'; ++c) EXPECT_EQ(stored("A"s + c + "|29").baud_code, c - '0');
    EXPECT_EQ(stored("A9|29").baud_code, 3);
    EXPECT_EQ(stored("A|29").baud_code, 3);
}

TEST(StoreReplyA, RepliesWithoutATableTagStoreNothing) {
    const auto untouched = filled(0xEE);
    for (const std::string &reply : {"A|20"s, "A0.16.2.3.4.5|20"s, "A1|3D"s, "A1|1F"s,
                                     "A10.0.0.2|22\r\n"s, "A1|2b"s, "A|2"s, "A2"s, ""s, "A1|3c"s})
        EXPECT_TRUE(only_changed(untouched, stored(reply), 0, 0)) << reply;
    // "GLI" and "GLi" differ in case only; their tags keep them apart.
    auto r = stored("A1.2.3.4|35");
    EXPECT_EQ(TEXT(r, li_address), "1.2.3.4");
    EXPECT_EQ(static_cast<uint8_t>(r.li_address_2[0]), 0xEE);
}

kxa_settings_record sample_record() {
    kxa_settings_record r = filled(0);
    r.family = 1;
    std::strcpy(r.device_id_text, "0.16.2.3.4.5");
    std::strcpy(r.ip_address, "10.0.0.5");
    r.local_port = 4001;
    std::strcpy(r.dest_ip, "10.0.0.9");
    r.dest_port = 5000;
    std::strcpy(r.subnet_mask, "255.255.255.0");
    std::strcpy(r.gateway, "10.0.0.1");
    r.tp_value = 1;
    r.rm_value = 2;
    r.dhcp_enabled = 1;
    r.baud_code = 7;
    r.parity = 2;
    r.data_bits = 8;
    r.flow_control = 1;
    r.md_value = 255;
    r.ml_value = 65535;
    r.keep_alive = 60;
    std::strcpy(r.firmware_version, "A-1.07");
    std::strcpy(r.on_text, "on");
    std::strcpy(r.password, "pw");
    r.ww_flag = 1;
    r.dd_flag = 0;
    std::strcpy(r.li_address, "1.2.3.4");
    std::strcpy(r.li_address_2, "5.6.7.8");
    std::strcpy(r.dw_text, "dw");
    r.nb_flag = 1;
    return r;
}

std::vector<std::string> write_commands(const kxa_settings_record &r) {
    std::vector<std::string> out;
    for (uint8_t index : kx::write_order_a) {
        const auto command = kx::set_command_a(kx::settings_table_a[index], r);
        EXPECT_TRUE(command.fits);
        out.emplace_back(command.view());
    }
    return out;
}

TEST(CommandTableA, ReadListIsTheTwentyEightGetCommandsInOrder) {
    const std::vector<std::string> expected = {
        "GFE|21", "GIP|22", "GPN|23", "GRM|24", "GDI|25", "GDP|26", "GGI|27",
        "GNM|28", "GBR|29", "GPR|2A", "GBB|2B", "GML|2C", "GMD|2D", "GTP|2E",
        "GDN|2F", "GDH|30", "GFC|31", "GKL|32", "V|33",   "GDD|34", "GLI|35",
        "GLi|36", "GWW|37", "GDW|38", "GON|39", "GPW|3A", "T|3B",   "GNB|3C"};
    std::vector<std::string> got;
    for (const auto &s : kx::settings_table_a) got.emplace_back(s.get_command);
    EXPECT_EQ(got, expected);
    EXPECT_EQ(kx::read_request_count_a, 29u);
    EXPECT_EQ(kx::select_command_a("0.16.2.3.4.5", kx::select_tag_read_a).view(),
              "W0.16.2.3.4.5|20");
}

TEST(CommandTableA, WriteListIsTheTwentyFiveSetCommandsInTagOrder) {
    const std::vector<std::string> expected = {
        "SDN|1F",         "SIP10.0.0.5|21", "SPN4001|22",     "SRM2|23",
        "SDI10.0.0.9|24", "SDP5000|25",     "SGI10.0.0.1|26", "SNM255.255.255.0|27",
        "SBR7|28",        "SPR2|29",        "SBB1|2A",        "SML65535|2B",
        "SMD255|2C",      "STP1|2D",        "SDH1|2E",        "SFC1|2F",
        "SKL60|30",       "SDD0|34",        "SLI1.2.3.4|35",  "SLi5.6.7.8|36",
        "SWW1|37",        "SDWdw|38",       "SONon|39",       "SPWpw|3A",
        "SNB1|3B"};
    EXPECT_EQ(write_commands(sample_record()), expected);
    EXPECT_EQ(kx::write_request_count_a, 26u);
    EXPECT_EQ(kx::select_command_a("", kx::select_tag_write_a).view(), "W|1E");
}

TEST(CommandTableA, TagsAreUniqueWithinEachList) {
    std::set<std::string> get_tags{std::string(kx::select_tag_read_a)};
    std::set<std::string> set_tags{std::string(kx::select_tag_write_a)};
    for (const auto &s : kx::settings_table_a) {
        EXPECT_TRUE(get_tags.insert(std::string(s.get_tag())).second) << s.get_command;
        if (s.writable()) {
            EXPECT_TRUE(set_tags.insert(std::string(s.set_tag)).second) << s.set_letters;
        }
    }
    EXPECT_EQ(get_tags.size(), 29u);
    EXPECT_EQ(set_tags.size(), 26u);
}

TEST(StoreReplyA, EachGetTagLandsInItsField) {
    // A reply "A1|" + tag changes that field's bytes (and the byte after, for
    // a text's NUL) and nothing else.
    struct landing {
        const char *tag;
        size_t at;
        size_t width;
    };
#define LANDS(tag, field) \
    landing { tag, offsetof(kxa_settings_record, field), sizeof(kxa_settings_record::field) }
    const landing landings[] = {
        LANDS("21", device_id_text),   LANDS("22", ip_address),   LANDS("23", local_port),
        LANDS("24", rm_value),         LANDS("25", dest_ip),      LANDS("26", dest_port),
        LANDS("27", gateway),          LANDS("28", subnet_mask),  LANDS("29", baud_code),
        LANDS("2A", parity),           LANDS("2B", data_bits),    LANDS("2C", ml_value),
        LANDS("2D", md_value),         LANDS("2E", tp_value),     LANDS("2F", device_name),
        LANDS("30", dhcp_enabled),     LANDS("31", flow_control), LANDS("32", keep_alive),
        LANDS("33", firmware_version), LANDS("34", dd_flag),      LANDS("35", li_address),
        LANDS("36", li_address_2),     LANDS("37", ww_flag),      LANDS("38", dw_text),
        LANDS("39", on_text),          LANDS("3A", password),     LANDS("3B", family),
        LANDS("3C", nb_flag),
    };
#undef LANDS
    for (const landing &l : landings) {
        const auto r = stored("A1|"s + l.tag);
        EXPECT_NE(bytes_of(r), bytes_of(filled(0xEE))) << l.tag;
        EXPECT_TRUE(only_changed(filled(0xEE), r, l.at, l.at + l.width + 1)) << l.tag;
    }
}

TEST(ValueTextA, NumbersDataBitsAndTexts) {
    auto r = sample_record();
    r.data_bits = 0;
    r.local_port = 0;
    r.baud_code = 7;
    r.device_name[0] = '\0';
    auto commands = write_commands(r);
    EXPECT_EQ(commands[0], "SDN|1F");
    EXPECT_EQ(commands[2], "SPN0|22");
    EXPECT_EQ(commands[8], "SBR7|28");
    EXPECT_EQ(commands[10], "SBB-7|2A");
    r.data_bits = 7;
    EXPECT_EQ(write_commands(r)[10], "SBB0|2A");
    r.data_bits = 255;
    EXPECT_EQ(write_commands(r)[10], "SBB248|2A");
}

TEST(ValueTextA, TextsStopAtTheFieldsEnd) {
    auto r = sample_record();
    std::memset(r.device_name, 'n', sizeof r.device_name);  // no NUL: all ten
    std::memset(r.password, 'p', sizeof r.password);
    std::memset(r.dw_text, 'w', sizeof r.dw_text);  // runs into nb_flag (1)
    std::memset(r.ip_address, '1', sizeof r.ip_address);
    auto commands = write_commands(r);
    EXPECT_EQ(commands[0], "SDN" + std::string(10, 'n') + "|1F");
    EXPECT_EQ(commands[1], "SIP" + std::string(20, '1') + "|21");
    EXPECT_EQ(commands[21], "SDW" + std::string(30, 'w') + "|38");  // 36 characters, whole
    EXPECT_EQ(commands[23], "SPW" + std::string(10, 'p') + "|3A");
}

TEST(CommandTextA, LongArgumentsGoWholeUpToTheLargestDatagram) {
    const std::string id252(252, '9');
    auto fits = kx::select_command_a(id252.c_str(), "20");
    EXPECT_TRUE(fits.fits);
    EXPECT_EQ(fits.view(), "W" + id252 + "|20");
    const std::string id253(253, '9');
    EXPECT_FALSE(kx::select_command_a(id253.c_str(), "20").fits);
    EXPECT_EQ(kx::select_command_a(nullptr, "20").view(), "W|20");
}

TEST(SettingsArguments, NeedAnAddressOrACompleteIdentifierText) {
    EXPECT_EQ(kx::check_settings_arguments_a("", "1.2.3.4.5"), KX_E_ARGUMENT);
    EXPECT_EQ(kx::check_settings_arguments_a("", ""), KX_E_ARGUMENT);
    EXPECT_EQ(kx::check_settings_arguments_a(nullptr, nullptr), KX_E_ARGUMENT);
    EXPECT_EQ(kx::check_settings_arguments_a("1.2.3.4", "x"), KX_OK);
    EXPECT_EQ(kx::check_settings_arguments_a("", "0.0.0.0.0.0"), KX_OK);
    EXPECT_EQ(kx::check_settings_arguments_a("0.0.0", "0.0.0.0.0."), KX_E_ARGUMENT);
}

}  // namespace
