#include "frame/options.h"

#include <gtest/gtest.h>

#include <string>

#include "frame/exchange.h"
#include "kxconf.h"

namespace {

TEST(SetOption, AcceptsOnlyTheKnownOptionWithZeroOrOne) {
    EXPECT_FALSE(kx::every_adapter_option());
    EXPECT_EQ(kx_set_option(0, 1), KX_E_ARGUMENT);
    EXPECT_EQ(kx_set_option(2, 1), KX_E_ARGUMENT);
    EXPECT_EQ(kx_set_option(KX_OPTION_EVERY_ADAPTER, 2), KX_E_ARGUMENT);
    EXPECT_EQ(kx_set_option(KX_OPTION_EVERY_ADAPTER, -1), KX_E_ARGUMENT);
    EXPECT_FALSE(kx::every_adapter_option());
    EXPECT_EQ(kx_set_option(KX_OPTION_EVERY_ADAPTER, 1), KX_OK);
    EXPECT_TRUE(kx::every_adapter_option());
    EXPECT_EQ(kx_set_option(KX_OPTION_EVERY_ADAPTER, 0), KX_OK);
    EXPECT_FALSE(kx::every_adapter_option());
}

TEST(ResultText, NamesEachCodeAndNeverReturnsNull) {
    EXPECT_STREQ(kx_result_text(1), "success");
    EXPECT_STREQ(kx_result_text(-3), "no matching reply in time");
    EXPECT_STREQ(kx_result_text(-6), "login refused");
    EXPECT_STREQ(kx_result_text(-4), "unknown result code");
    EXPECT_STREQ(kx_result_text(INT32_MIN), "unknown result code");
    // Every code the header defines has a text of its own.
    for (int32_t code : {2, 16, -1, -2, -5, -7})
        EXPECT_NE(std::string(kx_result_text(code)), "unknown result code") << code;
}

}  // namespace

namespace {

kx::platform::ipv4_net address(const char *text) { return kx::platform::parse_ipv4(text); }

TEST(EveryAdapterRoutes, TheDevicesAdapterWhereItsSubnetHoldsIt_OtherwiseEachAdapterOnce) {
    kx::platform::adapter_list adapters;
    // Adapter 2 has two addresses; adapter 3 one.
    adapters.entries[0] = {2, address("10.1.0.1"), address("255.255.255.0")};
    adapters.entries[1] = {2, address("192.168.5.1"), address("255.255.255.0")};
    adapters.entries[2] = {3, address("10.2.0.1"), address("255.255.0.0")};
    adapters.count = 3;
    kx::exchange ex;
    kx::route_limited_broadcasts(ex, adapters, address("10.2.200.7"));
    ASSERT_EQ(ex.routes.count, 1);
    EXPECT_EQ(ex.routes.entries[0].index, 3u);
    kx::route_limited_broadcasts(ex, adapters, address("192.168.5.77"));
    ASSERT_EQ(ex.routes.count, 1);
    EXPECT_EQ(ex.routes.entries[0].address, address("192.168.5.1"));
    // A foreign address, or none: by adapter 2 (its first address) and 3.
    for (const char *device : {"172.16.0.9", "0.0.0.0", "255.255.255.255"}) {
        kx::route_limited_broadcasts(ex, adapters, address(device));
        ASSERT_EQ(ex.routes.count, 2) << device;
        EXPECT_EQ(ex.routes.entries[0].address, address("10.1.0.1"));
        EXPECT_EQ(ex.routes.entries[1].index, 3u);
    }
    // No adapters listed: the system's route.
    adapters.count = 0;
    kx::route_limited_broadcasts(ex, adapters, address("10.2.0.7"));
    EXPECT_EQ(ex.routes.count, 0);
}

}  // namespace
