// Searches and operations across a router (kxsim::routed): devices one hop
// away, which no broadcast reaches.
#include "routed.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "device_a.h"
#include "device_b.h"
#include "kxconf.h"
#include "support/records.h"

namespace {

using kxtest::devices_of;
using kxtest::text_of;

// Two family A devices and a family B device in 10.2.0.0/24, behind the
// router.
struct routed_bed {
    explicit routed_bed(bool forward_directed = false)
        : bed({{"10.2.0"}, forward_directed}),
          a1(bed.devices().add<kxsim::device_a>("10.2.0.7", "0.16.2.3.4.7", "R7")),
          a2(bed.devices().add<kxsim::device_a>("10.2.0.200", "0.16.2.3.4.200", "R200")),
          b(bed.devices().add<kxsim::device_b>("10.2.0.9",
                                               kxsim::device_id_bytes{0, 16, 11, 0, 0, 9}, "R9")) {}
    kxsim::routed bed;
    kxsim::device_a &a1, &a2;
    kxsim::device_b &b;
    const std::set<std::string> everyone{"R7@10.2.0.7", "R200@10.2.0.200", "R9@10.2.0.9"};
};

// The hosts of 10.2.0.0/24.
constexpr kx_address_range subnet_10_2_0{0x0A020001u, 0x0A0200FEu};

TEST(Routed, BroadcastsStopAtTheRouterWhereASweepFindsEveryDevice) {
    routed_bed routed;
    kx_device_record records[8];
    int32_t count = -1;
    EXPECT_EQ(kx_discover(records, 8, &count, KX_SEARCH_ALL_INTERFACES), KX_OK);
    EXPECT_EQ(count, 0);
    const uint32_t broadcast = 0x0A0200FFu;
    EXPECT_EQ(kx_discover_directed(records, 8, &count, &broadcast, 1), KX_OK);
    EXPECT_EQ(count, 0);
    EXPECT_TRUE(routed.bed.devices().received().empty());

    ASSERT_EQ(kx_sweep(records, 8, &count, &subnet_10_2_0, 1, 0, nullptr, nullptr), KX_OK);
    EXPECT_EQ(devices_of(records, count), routed.everyone);
    // Every address but the router's own was asked once with the probe; the
    // family B device, which answered it with "Q7", once more with its own
    // family's request.
    std::set<std::string> asked;
    int requests_b = 0;
    for (const kxsim::datagram &d : routed.bed.devices().received()) {
        EXPECT_EQ(d.source, kxsim::routed::host_address);
        if (d.destination_port == kxsim::family_b_port) {
            EXPECT_EQ(d.destination, "10.2.0.9");
            EXPECT_EQ(d.payload.size(), 36u);
            ++requests_b;
            continue;
        }
        EXPECT_EQ(d.text(), "X");
        EXPECT_TRUE(asked.insert(d.destination).second) << d.destination;
    }
    EXPECT_EQ(asked.size(), 253u);
    EXPECT_EQ(asked.count("10.2.0.1"), 0u);
    EXPECT_EQ(requests_b, 1);
}

TEST(Routed, ADirectedBroadcastCrossesARouterThatForwardsIt) {
    routed_bed routed(true);
    kx_device_record records[8];
    int32_t count = -1;
    const uint32_t broadcast = 0x0A0200FFu;
    ASSERT_EQ(kx_discover_directed(records, 8, &count, &broadcast, 1), KX_OK);
    EXPECT_EQ(devices_of(records, count), routed.everyone);
    for (const kxsim::datagram &d : routed.bed.devices().received())
        EXPECT_EQ(d.destination, "10.2.0.255");
}

// Once found by a sweep, a routed device of either family is logged into,
// read, written and logged out of, and takes a quick setting: every request
// reaches it at its own address, the family A write's too, whose commands
// also go to 255.255.255.255 (which stops at the router).
TEST(Routed, EveryOperationReachesADeviceFoundBySweeping) {
    routed_bed routed;
    kx_device_record records[8];
    int32_t count = -1;
    ASSERT_EQ(kx_sweep(records, 8, &count, &subnet_10_2_0, 1, 0, nullptr, nullptr), KX_OK);
    const auto found = [&](const char *address) -> const kx_device_record & {
        for (int32_t i = 0; i < count; ++i)
            if (text_of(records[i].ip_address, 16) == address) return records[i];
        ADD_FAILURE() << address << " not found";
        return records[0];
    };
    routed.bed.devices().clear_received();

    for (const char *address : {"10.2.0.7", "10.2.0.9"}) {
        const kx_device_record &device = found(address);
        kx_settings_record login{}, settings{};
        login.family = device.family;
        ASSERT_EQ(kx_login(address, device.device_id, &login), KX_OK) << address;
        ASSERT_EQ(kx_read_setting(address, device.device_id, &settings, &device), KX_OK);
        std::memcpy(settings.device_name, "FAR", 4);
        settings.baud_rate = 19200;
        EXPECT_EQ(kx_write_setting(address, device.device_id, &settings, &device), KX_OK);
        EXPECT_EQ(kx_logout(address, device.device_id, &device), KX_OK);
    }
    EXPECT_EQ(kx_setting_baud("10.2.0.7", 115200, &found("10.2.0.7")), KX_OK);

    EXPECT_EQ(routed.a1.applied_writes(), 1);
    EXPECT_EQ(routed.a1.setting("DN"), "FAR");
    EXPECT_EQ(routed.a1.setting("BR"), "7");  // the quick setting came last
    EXPECT_EQ(routed.b.writes_applied(), 1);
    EXPECT_EQ(routed.b.settings().baud_hundreds, 192);
    EXPECT_EQ(routed.a2.applied_writes(), 0);
    // In the trace: the family A write selected its device and ended with
    // "E" at its address; nothing arrived broadcast.
    std::vector<std::string> to_a1;
    for (const kxsim::datagram &d : routed.bed.devices().received()) {
        EXPECT_FALSE(d.broadcast());
        if (d.destination == "10.2.0.7") to_a1.push_back(d.text());
    }
    const auto sent = [&](const std::string &text) {
        return std::find(to_a1.begin(), to_a1.end(), text) != to_a1.end();
    };
    EXPECT_TRUE(sent("L|19"));
    EXPECT_TRUE(sent("W0.16.2.3.4.7|1E"));
    EXPECT_TRUE(sent("SDNFAR|1F"));
    EXPECT_TRUE(sent("E"));
    EXPECT_TRUE(sent("PBR7"));
}

// A device given a new address that it takes only when it restarts lists
// the new one and answers from the old: the sweep and the directed
// broadcast name both; the older single-device search leaves the field as
// the caller had it.
TEST(Routed, RecordsNameTheAddressEachDeviceAnsweredFrom) {
    routed_bed routed(true);
    kxsim::settings_b readdressed = routed.b.settings();
    readdressed.ip = kxsim::ipv4("10.2.0.99");
    routed.b.set_settings(readdressed);
    const uint32_t broadcast = 0x0A0200FFu;
    for (bool directed : {false, true}) {
        kx_device_record records[8];
        int32_t count = -1;
        ASSERT_EQ(directed ? kx_discover_directed(records, 8, &count, &broadcast, 1)
                           : kx_sweep(records, 8, &count, &subnet_10_2_0, 1, 0, nullptr, nullptr),
                  KX_OK);
        std::set<std::string> seen;
        for (int32_t i = 0; i < count; ++i)
            seen.insert(text_of(records[i].ip_address, 16) + " from " +
                        text_of(records[i].answered_from, 16));
        EXPECT_EQ(seen,
                  (std::set<std::string>{"10.2.0.7 from 10.2.0.7", "10.2.0.200 from 10.2.0.200",
                                         "10.2.0.99 from 10.2.0.9"}))
            << (directed ? "directed" : "sweep");
    }
    kx_device_record one;
    std::memset(&one, 0xEE, sizeof one);
    ASSERT_EQ(kxb_search_one("10.2.0.9", &one), KX_OK);
    EXPECT_EQ(text_of(one.ip_address, 16), "10.2.0.99");
    EXPECT_EQ(static_cast<uint8_t>(one.answered_from[0]), 0xEE);
}

}  // namespace
