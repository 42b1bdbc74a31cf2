// The test-only family T (family_t/family_t.h) on a simulated LAN beside
// families A and B: the library and the simulator were each given one more
// family in their lists, and the generic functions run it without naming it.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "family_t/device_t.h"
#include "kxconf.h"
#include "lan.h"
#include "sim_devices.h"
#include "support/records.h"

namespace {

constexpr uint8_t code_t = 48;
constexpr uint16_t port_t = 65290;
constexpr const char *ip_t = "127.0.0.4";
constexpr uint8_t id_t[6] = {0, 16, 13, 0, 0, 1};

kxsim::bytes datagram_t(uint8_t sequence, const std::string &lines, uint8_t count) {
    const std::string text =
        std::string("KV") + static_cast<char>(sequence) + static_cast<char>(count) + lines;
    return kxsim::bytes(text.begin(), text.end());
}

std::vector<kxsim::datagram> sent_to(kxsim::lan &lan, uint16_t port) {
    auto all = lan.received_on(port);
    lan.clear_received();
    return all;
}

TEST(FamilyT, IsFoundLoggedIntoReadWrittenAndLoggedOutThroughTheGenericFunctions) {
    kxsim::lan lan;
    ASSERT_TRUE(kxsim::add_default_device(lan, KX_FAMILY_A, "127.0.0.2", 1));
    ASSERT_TRUE(kxsim::add_default_device(lan, KX_FAMILY_B, "127.0.0.3", 1));
    auto &device =
        lan.add<kxsim::device_t>(ip_t, kxsim::device_id_bytes{0, 16, 13, 0, 0, 1}, "SIM-T1");
    kxsim::settings_t s = device.settings();
    s.password = "pw";
    device.set_settings(s);

    // Each device once; family T's from its answer to OP=WHO on its port.
    kx_device_record records[4];
    int32_t count = 0;
    ASSERT_EQ(kx_discover(records, 4, &count, 0), KX_OK);
    ASSERT_EQ(count, 3);
    const kx_device_record *found = nullptr;
    for (int32_t i = 0; i < count; ++i)
        if (records[i].family == code_t) found = &records[i];
    ASSERT_NE(found, nullptr);
    EXPECT_STREQ(found->ip_address, ip_t);
    EXPECT_EQ(std::memcmp(found->device_id, id_t, 6), 0);
    EXPECT_EQ(std::string(found->device_name), "SIM-T1");
    EXPECT_EQ(std::string(found->firmware_version), "T-0.9");
    EXPECT_STREQ(found->subnet_mask, "255.0.0.0");
    EXPECT_EQ(uint32_t{found->local_port}, 4001u);
    auto who = sent_to(lan, port_t);
    ASSERT_EQ(who.size(), 1u);
    EXPECT_EQ(who[0].payload, datagram_t(1, "OP=WHO\n", 1));

    // Family A's probe goes unanswered, so family T's own search follows.
    kx_device_record one = kxtest::filled<kx_device_record>(0xEE);
    ASSERT_EQ(kx_search_one(ip_t, &one), KX_OK);
    EXPECT_EQ(std::memcmp(&one, found, sizeof one), 0);
    const auto asked = lan.received();
    ASSERT_EQ(asked.size(), 2u);
    EXPECT_EQ(asked[0].text(), "X");
    EXPECT_EQ(asked[1].destination_port, port_t);
    EXPECT_EQ(asked[1].destination, ip_t);
    lan.clear_received();

    // The login opens session 7, which every later request carries.
    const kx_settings_record wrong = kxtest::login_record(code_t, "nope");
    EXPECT_EQ(kx_login(ip_t, id_t, &wrong), KX_E_REFUSED);
    const kx_settings_record login = kxtest::login_record(code_t, "pw");
    ASSERT_EQ(kx_login(ip_t, id_t, &login), KX_OK);
    EXPECT_EQ(device.session(), 7u);
    kx_settings_record settings = kxtest::filled<kx_settings_record>(0xEE);
    ASSERT_EQ(kx_read_setting(ip_t, id_t, &settings, &one), KX_OK);
    auto requests = sent_to(lan, port_t);
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[1].payload, datagram_t(2, "OP=LOGIN\nID=0.16.13.0.0.1\nPASS=pw\n", 3));
    EXPECT_EQ(requests[2].payload, datagram_t(3, "OP=GET\nID=0.16.13.0.0.1\nSESSION=7\n", 3));
    EXPECT_EQ(settings.family, code_t);
    EXPECT_EQ(std::string(settings.device_name), "SIM-T1");
    EXPECT_EQ(std::string(settings.password), "pw");
    EXPECT_STREQ(settings.gateway, "127.0.0.1");
    EXPECT_EQ(uint32_t{settings.baud_rate}, 9600u);
    EXPECT_EQ(settings.data_bits, 8);
    // What the family does not carry reads as empty or 0.
    EXPECT_EQ(settings.on_text[0], 0);
    EXPECT_EQ(uint32_t{settings.dest_port}, 0u);
    EXPECT_EQ(settings.flow_control, 0);

    std::memcpy(settings.device_name, "RENAMED\0\0", 10);
    settings.baud_rate = 57600;
    settings.stop_bits = 2;
    ASSERT_EQ(kx_write_setting(ip_t, id_t, &settings, &one), KX_OK);
    requests = sent_to(lan, port_t);
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].payload,
              datagram_t(4,
                         "OP=SET\nID=0.16.13.0.0.1\nSESSION=7\nNAME=RENAMED\nPASS=pw\n"
                         "IP=127.0.0.4\nMASK=255.0.0.0\nGW=127.0.0.1\nPORT=4001\nBAUD=57600\n"
                         "PARITY=0\nBITS=8\nSTOP=2\n",
                         13));
    EXPECT_EQ(device.settings().name, "RENAMED");
    kx_settings_record again = kxtest::filled<kx_settings_record>(0xEE);
    ASSERT_EQ(kx_read_setting(ip_t, id_t, &again, &one), KX_OK);
    EXPECT_EQ(std::memcmp(&again, &settings, sizeof again), 0);

    ASSERT_EQ(kx_logout(ip_t, id_t, &one), KX_OK);
    EXPECT_EQ(device.session(), 0u);
    // Without a session the device refuses a read.
    EXPECT_EQ(kx_read_setting(ip_t, id_t, &again, &one), KX_E_REPLY);
    // A quick setting needs none.
    EXPECT_EQ(kx_setting_baud(ip_t, 19200, &one), KX_OK);
    EXPECT_EQ(device.settings().baud, 19200u);
    EXPECT_EQ(device.rejected(), 0);
}

TEST(FamilyT, IsListedByTheLibraryAndAskedWhereNothingAnswersTheProbe) {
    kx_family_record info{};
    ASSERT_EQ(kx_family_info(2, &info), KX_OK);
    EXPECT_EQ(info.family, code_t);
    EXPECT_EQ(info.letter, 'T');
    EXPECT_EQ(uint32_t{info.device_port}, port_t);
    EXPECT_EQ(uint32_t{info.record_size}, 64u);
    EXPECT_STREQ(info.name, "key=value lines");
    EXPECT_EQ(kx_family_info(3, &info), KX_E_ARGUMENT);

    kxsim::lan lan;
    kx_device_record record;
    EXPECT_EQ(kx_search_one("127.0.0.9", &record), KX_E_TIMEOUT);
    const auto asked = lan.received();
    ASSERT_EQ(asked.size(), 2u);
    EXPECT_EQ(asked[1].payload, datagram_t(1, "OP=WHO\n", 1));
}

}  // namespace
