// The test-only family C (family_c/family_c.h) on a simulated LAN beside
// families A and B: the library and the simulator were each given one more
// family in their lists, and the generic functions run it without naming it.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "kxconf.h"
#include "lan.h"
#include "sim_devices.h"

namespace {

constexpr uint8_t code_c = 32;
constexpr uint16_t port_c = 65290;
constexpr const char *ip_c = "127.0.0.4";
// The simulator's default identifier for device 1 of the family.
constexpr uint8_t id_c[6] = {0, 16, 12, 0, 0, 1};

TEST(FamilyC, IsFoundLoggedIntoReadAndWrittenThroughTheGenericFunctions) {
    kxsim::lan lan;
    ASSERT_TRUE(kxsim::add_default_device(lan, KX_FAMILY_A, "127.0.0.2", 1));
    ASSERT_TRUE(kxsim::add_default_device(lan, KX_FAMILY_B, "127.0.0.3", 1));
    ASSERT_TRUE(kxsim::add_default_device(lan, code_c, ip_c, 1));

    // Each device once, family C's from an answer to the request on its port.
    kx_device_record records[4];
    int32_t count = 0;
    ASSERT_EQ(kx_discover(records, 4, &count, 0), KX_OK);
    ASSERT_EQ(count, 3);
    int found_c = 0;
    for (int32_t i = 0; i < count; ++i)
        if (records[i].family == code_c) {
            ++found_c;
            EXPECT_STREQ(records[i].ip_address, ip_c);
            EXPECT_EQ(std::memcmp(records[i].device_id, id_c, 6), 0);
        }
    EXPECT_EQ(found_c, 1);
    EXPECT_EQ(lan.received_on(port_c).size(), 1u);

    // Family A's probe, answered with "Q9", then family C's own search.
    kx_device_record device;
    ASSERT_EQ(kx_search_one(ip_c, &device), KX_OK);
    EXPECT_EQ(device.family, code_c);
    EXPECT_EQ(std::string(device.device_name), "SIM-C1");

    kx_settings_record login{};
    login.family = code_c;
    ASSERT_EQ(kx_login(ip_c, id_c, &login), KX_OK);
    kx_settings_record settings{};
    ASSERT_EQ(kx_read_setting(ip_c, id_c, &settings, &device), KX_OK);
    EXPECT_EQ(settings.family, code_c);
    EXPECT_EQ(uint32_t{settings.baud_rate}, 9600u);
    settings.baud_rate = 57600;
    ASSERT_EQ(kx_write_setting(ip_c, id_c, &settings, &device), KX_OK);
    kx_settings_record again{};
    ASSERT_EQ(kx_read_setting(ip_c, id_c, &again, &device), KX_OK);
    EXPECT_EQ(std::memcmp(&again, &settings, sizeof again), 0);
    EXPECT_EQ(kx_logout(ip_c, id_c, &device), KX_OK);

    // Past the search, the device heard only its own family's port.
    for (const kxsim::datagram &d : lan.received()) {
        if (d.destination == ip_c && d.payload != kxsim::to_bytes("X")) {
            EXPECT_EQ(d.destination_port, port_c);
        }
    }
}

}  // namespace
