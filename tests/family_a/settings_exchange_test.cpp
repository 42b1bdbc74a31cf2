// Family A read and write of the settings against a simulated device.
#include <gtest/gtest.h>

#include "family_a/net_helpers.h"

namespace {

using namespace std::string_literals;
using kxsim::fault;
using kxtest::device_id;
using kxtest::device_ip;
using kxtest::sent;
using strings = std::vector<std::string>;

kxa_settings_record filled(uint8_t byte) { return kxtest::filled<kxa_settings_record>(byte); }

std::string text_of(const char *field, size_t width) {
    return std::string(field, strnlen(field, width));
}
#define TEXT(r, field) text_of((r).field, sizeof(r).field)

// The read list as the devices expect it on the wire.
strings read_list(const std::string &id_text) {
    strings list{"W" + id_text + "|20"};
    for (const char *get : {"GFE|21", "GIP|22", "GPN|23", "GRM|24", "GDI|25", "GDP|26", "GGI|27",
                            "GNM|28", "GBR|29", "GPR|2A", "GBB|2B", "GML|2C", "GMD|2D", "GTP|2E",
                            "GDN|2F", "GDH|30", "GFC|31", "GKL|32", "V|33",   "GDD|34", "GLI|35",
                            "GLi|36", "GWW|37", "GDW|38", "GON|39", "GPW|3A", "T|3B",   "GNB|3C"})
        list.emplace_back(get);
    return list;
}

TEST(ReadA, SendsTheTwentyNineRequestsInOrderThenO) {
    kxsim::lan lan;
    auto &d = lan.add<kxsim::device_a>(device_ip, device_id, "NAME");
    d.set_setting("BR", "7");
    d.set_setting("DW", "dw text");
    auto r = filled(0xFF);
    EXPECT_EQ(kxa_read_setting(device_ip, device_id, &r, nullptr), KX_OK);
    auto expected = read_list(device_id);
    expected.push_back("O");
    EXPECT_EQ(sent(lan), expected);
    EXPECT_TRUE(kxtest::all_sent_to(lan, device_ip));
    EXPECT_EQ(r.family, 1);
    EXPECT_EQ(TEXT(r, device_id_text), device_id);
    EXPECT_EQ(TEXT(r, ip_address), device_ip);
    EXPECT_EQ(uint16_t(r.local_port), 4001);
    EXPECT_EQ(TEXT(r, subnet_mask), "255.0.0.0");
    EXPECT_EQ(r.baud_code, 7);
    EXPECT_EQ(r.data_bits, 8);
    EXPECT_EQ(uint16_t(r.ml_value), 1024);
    EXPECT_EQ(TEXT(r, device_name), "NAME");
    EXPECT_EQ(TEXT(r, firmware_version), "A-1.07");
    EXPECT_EQ(TEXT(r, dw_text), "dw text");
    EXPECT_EQ(TEXT(r, password), "");
    EXPECT_EQ(r.nb_flag, 0);
}

TEST(ReadA, BroadcastSelectsByIdentifierText) {
    kxsim::lan lan;
    lan.add<kxsim::device_a>(device_ip, device_id);
    lan.add<kxsim::device_a>("127.0.0.3", "0.16.2.3.4.6", "OTHER");
    auto r = filled(0);
    EXPECT_EQ(kxa_read_setting("", "0.16.2.3.4.6", &r, nullptr), KX_OK);
    auto trace = sent(lan);
    ASSERT_FALSE(trace.empty());
    EXPECT_EQ(trace.front(), "W0.16.2.3.4.6|20");
    EXPECT_EQ(trace.back(), "O");
    EXPECT_TRUE(kxtest::all_sent_to(lan, "255.255.255.255"));
    EXPECT_EQ(TEXT(r, device_name), "OTHER");
    EXPECT_EQ(TEXT(r, ip_address), "127.0.0.3");
}

TEST(ReadA, EveryReplyRule) {
    kxsim::lan lan;
    auto &d = lan.add<kxsim::device_a>(device_ip, device_id);
    d.set_setting("IP", "");       // empty text
    d.set_setting("LI", "1.2.3");  // address under 7 characters
    d.set_setting("Li", "10.1.2.3");
    d.set_setting("PN", "123456");  // five characters only
    d.set_setting("DP", "70000");   // modulo 65536
    d.set_setting("MD", "300");     // modulo 256
    d.set_setting("KL", "7");
    d.set_setting("RM", "5");  // digits
    d.set_setting("PR", "x");
    d.set_setting("DH", "2");  // zero flag
    d.set_setting("FC", "2");  // one flag
    d.set_setting("WW", "1");
    d.set_setting("BB", "0");  // data bits
    d.set_setting("BR", "9");  // unknown baud code
    d.set_setting("T", "0");   // family flag
    d.set_setting("DW", std::string(40, 'w'));
    d.set_setting("DN", "LONGERNAME");
    auto r = filled(0xEE);
    ASSERT_EQ(kxa_read_setting(device_ip, device_id, &r, nullptr), KX_OK);
    EXPECT_EQ(TEXT(r, ip_address), "");
    EXPECT_EQ(TEXT(r, li_address), "0.0.0.0");
    EXPECT_EQ(TEXT(r, li_address_2), "10.1.2.3");
    EXPECT_EQ(uint16_t(r.local_port), 12345);
    EXPECT_EQ(uint16_t(r.dest_port), 4464);
    EXPECT_EQ(r.md_value, 44);
    EXPECT_EQ(r.keep_alive, 7);
    EXPECT_EQ(r.rm_value, 5);
    EXPECT_EQ(r.parity, 'x' - '0');
    EXPECT_EQ(r.dhcp_enabled, 1);
    EXPECT_EQ(r.flow_control, 0);
    EXPECT_EQ(r.ww_flag, 1);
    EXPECT_EQ(r.data_bits, 7);
    EXPECT_EQ(r.baud_code, 3);
    EXPECT_EQ(r.family, 0);
    EXPECT_EQ(std::string(r.dw_text, 30), std::string(30, 'w'));
    EXPECT_EQ(TEXT(r, device_name), "LONGERNAM");
    // The 30-character dw_text spilled its NUL onto nb_flag, which its own
    // reply then set.
    EXPECT_EQ(r.nb_flag, 0);
}

TEST(ReadA, SilenceAfterBaudCodeKeepsEarlierFieldsAndLeavesLaterOnes) {
    kxsim::lan lan;
    auto &d = lan.add<kxsim::device_a>(device_ip, device_id);
    d.set_setting("BR", "5");
    d.inject(kxsim::text_is("GBR|29"), fault().then_silent());
    auto r = filled(0xEE);
    kxtest::stopwatch clock;
    EXPECT_EQ(kxa_read_setting(device_ip, device_id, &r, nullptr), KX_E_TIMEOUT);
    EXPECT_GE(clock.ms(), 990);
    EXPECT_EQ(r.baud_code, 5);
    EXPECT_EQ(TEXT(r, subnet_mask), "255.0.0.0");
    EXPECT_EQ(uint16_t(r.local_port), 4001);
    // parity and every later field untouched
    const auto *raw = reinterpret_cast<const uint8_t *>(&r);
    EXPECT_EQ(r.parity, 0xEE);
    EXPECT_EQ(r.data_bits, 0xEE);
    EXPECT_EQ(r.family, 0xEE);
    EXPECT_EQ(r.nb_flag, 0xEE);
    EXPECT_EQ(static_cast<uint8_t>(r.device_name[0]), 0xEE);
    EXPECT_EQ(static_cast<uint8_t>(r.dw_text[0]), 0xEE);
    EXPECT_EQ(raw[offsetof(kxa_settings_record, ml_value)], 0xEE);
    auto trace = sent(lan);
    ASSERT_EQ(trace.size(), 12u);
    EXPECT_EQ(trace[9], "GBR|29");
    EXPECT_EQ(trace[10], "GPR|2A");
    EXPECT_EQ(trace[11], "O");
}

TEST(ReadA, RefusedReplyEndsTheReadAndIsNotStored) {
    kxsim::lan lan;
    lan.add<kxsim::device_a>(device_ip, device_id)
        .inject(kxsim::text_is("GDI|25"), fault().reply_with("E|25"));
    auto r = filled(0xEE);
    EXPECT_EQ(kxa_read_setting(device_ip, device_id, &r, nullptr), KX_E_REPLY);
    EXPECT_EQ(static_cast<uint8_t>(r.dest_ip[0]), 0xEE);
    EXPECT_EQ(r.rm_value, 0);  // the step before was stored
    auto trace = sent(lan);
    ASSERT_EQ(trace.size(), 7u);
    EXPECT_EQ(trace[5], "GDI|25");
    EXPECT_EQ(trace[6], "O");
}

TEST(ReadA, AFailedReadLeavesEveryUnansweredFieldAsItWas) {
    kxsim::lan lan;
    const char *long_id = "0.16.2.3.4.5.6.7.8.9.10.11.12X";  // 30: no room for its NUL
    lan.add<kxsim::device_a>(device_ip, long_id).refuse("GIP");
    auto r = filled(0xEE);
    EXPECT_EQ(kxa_read_setting(device_ip, long_id, &r, nullptr), KX_E_REPLY);
    // Only the identifier text was answered, and it fills its 30 bytes.
    auto expected = filled(0xEE);
    std::memcpy(expected.device_id_text, "0.16.2.3.4.5.6.7.8.9.10.11.12X", 30);
    EXPECT_EQ(std::memcmp(&r, &expected, sizeof r), 0);
    EXPECT_EQ(static_cast<uint8_t>(r.ip_address[0]), 0xEE);
    EXPECT_EQ(sent(lan), (strings{"W0.16.2.3.4.5.6.7.8.9.10.11.12X|20", "GFE|21", "GIP|22", "O"}));
}

TEST(ReadA, DatagramsWithoutThePendingTagAreDropped) {
    kxsim::lan lan;
    auto &d = lan.add<kxsim::device_a>(device_ip, device_id);
    d.set_setting("T", "0");
    // While "GIP|22" is pending: a stray for another step, a refusal for
    // another step, a refusal whose tag lies behind a NUL, and one that
    // carries the tag without its "|".
    d.inject(
        kxsim::text_is("GIP|22"),
        fault().stray_first("A1|3B").stray_first("N|3B").stray_first("N\0|22"s).stray_first("N22"));
    auto r = filled(0xEE);
    EXPECT_EQ(kxa_read_setting(device_ip, device_id, &r, nullptr), KX_OK);
    EXPECT_EQ(TEXT(r, ip_address), device_ip);
    EXPECT_EQ(r.family, 0);
    EXPECT_EQ(sent(lan).size(), 30u);
}

TEST(ReadA, ArgumentCheckSendsNothing) {
    kxsim::lan lan;
    lan.add<kxsim::device_a>(device_ip, device_id);
    auto r = filled(0xEE);
    EXPECT_EQ(kxa_read_setting("", "1.2.3.4.5", &r, nullptr), KX_E_ARGUMENT);
    EXPECT_EQ(kxa_read_setting("127.0", "", &r, nullptr), KX_E_ARGUMENT);
    EXPECT_EQ(kxa_read_setting(nullptr, nullptr, &r, nullptr), KX_E_ARGUMENT);
    EXPECT_EQ(kxa_read_setting(device_ip, device_id, nullptr, nullptr), KX_E_ARGUMENT);
    // An identifier text too long for any datagram.
    const std::string huge(253, '1');
    EXPECT_EQ(kxa_read_setting(device_ip, huge.c_str(), &r, nullptr), KX_E_ARGUMENT);
    EXPECT_TRUE(sent(lan).empty());
    EXPECT_EQ(static_cast<uint8_t>(r.ip_address[0]), 0xEE);
}

TEST(ReadA, LongIdentifierTextGoesOutWhole) {
    const std::string long_id = "000.016.002.003.004.005.0000000000";  // 34 characters
    kxsim::lan lan;
    lan.add<kxsim::device_a>(device_ip, long_id);
    auto r = filled(0);
    EXPECT_EQ(kxa_read_setting("", long_id.c_str(), &r, nullptr), KX_OK);
    auto trace = sent(lan);
    ASSERT_FALSE(trace.empty());
    EXPECT_EQ(trace.front(), "W" + long_id + "|20");  // 38 characters
    EXPECT_EQ(std::string(r.device_id_text, 30), long_id.substr(0, 30));
}

kxa_settings_record write_record() {
    kxa_settings_record r = filled(0);
    r.family = 1;
    std::strcpy(r.device_id_text, "not sent");
    std::strcpy(r.ip_address, "10.0.0.5");
    r.local_port = 4001;
    std::strcpy(r.dest_ip, "10.0.0.9");
    r.dest_port = 65535;
    std::strcpy(r.subnet_mask, "255.255.255.0");
    std::strcpy(r.gateway, "10.0.0.1");
    r.tp_value = 4;
    r.rm_value = 2;
    r.dhcp_enabled = 1;
    r.baud_code = 7;
    r.parity = 3;
    r.data_bits = 8;
    r.flow_control = 1;
    r.md_value = 200;
    r.ml_value = 512;
    r.keep_alive = 30;
    std::strcpy(r.firmware_version, "not sent");
    std::strcpy(r.on_text, "ontext");
    std::strcpy(r.password, "newpw");
    r.ww_flag = 1;
    r.dd_flag = 1;
    std::strcpy(r.li_address, "1.2.3.4");
    std::strcpy(r.li_address_2, "5.6.7.8");
    std::strcpy(r.dw_text, "dw");
    r.nb_flag = 1;
    return r;
}

TEST(WriteA, SendsTheTwentySixRequestsThenEAndTheDeviceAppliesThem) {
    kxsim::lan lan;
    auto &d = lan.add<kxsim::device_a>(device_ip, device_id);
    const auto r = write_record();
    EXPECT_EQ(kxa_write_setting(device_ip, device_id, &r, nullptr), KX_OK);
    const strings expected = {"W0.16.2.3.4.5|1E", "SDN|1F",         "SIP10.0.0.5|21",
                              "SPN4001|22",       "SRM2|23",        "SDI10.0.0.9|24",
                              "SDP65535|25",      "SGI10.0.0.1|26", "SNM255.255.255.0|27",
                              "SBR7|28",          "SPR3|29",        "SBB1|2A",
                              "SML512|2B",        "SMD200|2C",      "STP4|2D",
                              "SDH1|2E",          "SFC1|2F",        "SKL30|30",
                              "SDD1|34",          "SLI1.2.3.4|35",  "SLi5.6.7.8|36",
                              "SWW1|37",          "SDWdw|38",       "SONontext|39",
                              "SPWnewpw|3A",      "SNB1|3B",        "E"};
    EXPECT_EQ(sent(lan), expected);
    // A non-empty identifier text broadcasts, even with an address.
    EXPECT_TRUE(kxtest::all_sent_to(lan, "255.255.255.255"));
    EXPECT_EQ(d.applied_writes(), 1);
    EXPECT_EQ(d.setting("BR"), "7");
    EXPECT_EQ(d.setting("BB"), "1");
    EXPECT_EQ(d.setting("DN"), "");
    EXPECT_EQ(d.setting("PW"), "newpw");
    EXPECT_EQ(d.setting("FE"), device_id);
}

TEST(WriteA, EmptyIdentifierTextGoesToTheAddress) {
    kxsim::lan lan;
    auto &d = lan.add<kxsim::device_a>(device_ip, device_id);
    auto r = write_record();
    r.data_bits = 0;
    r.local_port = 0;
    EXPECT_EQ(kxa_write_setting(device_ip, "", &r, nullptr), KX_OK);
    auto trace = sent(lan);
    ASSERT_EQ(trace.size(), 27u);
    EXPECT_EQ(trace.front(), "W|1E");
    EXPECT_EQ(trace[3], "SPN0|22");
    EXPECT_EQ(trace[11], "SBB-7|2A");
    EXPECT_EQ(trace.back(), "E");
    EXPECT_TRUE(kxtest::all_sent_to(lan, device_ip));
    EXPECT_EQ(d.applied_writes(), 1);

    lan.clear_received();
    EXPECT_EQ(kxa_write_setting("", "", &r, nullptr), KX_E_ARGUMENT);
    EXPECT_EQ(kxa_write_setting(device_ip, device_id, nullptr, nullptr), KX_E_ARGUMENT);
    const std::string huge(253, '1');
    EXPECT_EQ(kxa_write_setting(device_ip, huge.c_str(), &r, nullptr), KX_E_ARGUMENT);
    EXPECT_TRUE(sent(lan).empty());
}

TEST(WriteA, RefusedPasswordEndsWithOAndNothingIsApplied) {
    kxsim::lan lan;
    auto &d = lan.add<kxsim::device_a>(device_ip, device_id);
    d.refuse("SPW");
    const auto r = write_record();
    EXPECT_EQ(kxa_write_setting(device_ip, device_id, &r, nullptr), KX_E_REPLY);
    auto trace = sent(lan);
    ASSERT_EQ(trace.size(), 26u);
    EXPECT_EQ(trace[24], "SPWnewpw|3A");
    EXPECT_EQ(trace[25], "O");
    EXPECT_EQ(d.applied_writes(), 0);
    EXPECT_TRUE(d.pending_changes().empty());
    EXPECT_EQ(d.setting("BR"), "3");
}

TEST(WriteA, ThirtyCharacterDwTextGoesOutWhole) {
    kxsim::lan lan;
    auto &d = lan.add<kxsim::device_a>(device_ip, device_id);
    auto r = write_record();
    const std::string dw = "abcdefghijklmnopqrstuvwxyz0123";
    std::memcpy(r.dw_text, dw.data(), 30);  // no NUL: nb_flag follows
    EXPECT_EQ(kxa_write_setting(device_ip, device_id, &r, nullptr), KX_OK);
    auto trace = sent(lan);
    ASSERT_EQ(trace.size(), 27u);
    EXPECT_EQ(trace[22], "SDW" + dw + "|38");  // 36 characters
    EXPECT_EQ(d.setting("DW"), dw);
}

}  // namespace
