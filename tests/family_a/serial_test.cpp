// Family A quick settings of the serial line against a simulated device.
#include <gtest/gtest.h>

#include <utility>

#include "family_a/net_helpers.h"

namespace {

using kxsim::fault;
using kxtest::device_id;
using kxtest::device_ip;
using kxtest::sent;
using strings = std::vector<std::string>;

TEST(QuickSettingA, BaudRateDigits) {
    kxsim::lan lan;
    auto &d = lan.add<kxsim::device_a>(device_ip, device_id);
    const std::pair<uint32_t, const char *> cases[] = {
        {1200, "PBR0"},  {2400, "PBR1"},  {4800, "PBR2"},  {9600, "PBR3"},
        {19200, "PBR4"}, {38400, "PBR5"}, {57600, "PBR6"}, {115200, "PBR7"},
        {300, "PBR3"},   {14400, "PBR3"}, {0, "PBR3"}};
    strings expected;
    for (const auto &[baud, command] : cases) {
        EXPECT_EQ(kxa_setting_baud(device_ip, baud), KX_OK) << baud;
        expected.push_back(command);
    }
    EXPECT_EQ(sent(lan), expected);
    EXPECT_TRUE(kxtest::all_sent_to(lan, device_ip));
    EXPECT_EQ(d.setting("BR"), "3");
}

TEST(QuickSettingA, ParityTradesOneAndTwoAndDataBitsLookAtTheLowByte) {
    kxsim::lan lan;
    auto &d = lan.add<kxsim::device_a>(device_ip, device_id);
    const std::pair<uint32_t, const char *> parity[] = {{0, "PPR0"},   {1, "PPR2"},    {2, "PPR1"},
                                                        {3, "PPR3"},   {4, "PPR4"},    {5, "PPR0"},
                                                        {257, "PPR2"}, {0x202, "PPR1"}};
    const std::pair<uint32_t, const char *> data_bits[] = {
        {7, "PBB0"}, {8, "PBB1"}, {5, "PBB1"}, {263, "PBB0"}};
    strings expected;
    for (const auto &[value, command] : parity) {
        EXPECT_EQ(kxa_setting_parity(device_ip, value), KX_OK) << value;
        expected.push_back(command);
    }
    EXPECT_EQ(d.setting("PR"), "1");
    for (const auto &[value, command] : data_bits) {
        EXPECT_EQ(kxa_setting_databit(device_ip, value), KX_OK) << value;
        expected.push_back(command);
    }
    EXPECT_EQ(d.setting("BB"), "0");
    EXPECT_EQ(sent(lan), expected);
}

TEST(QuickSettingA, TheFirstDatagramBackDecides) {
    kxsim::lan lan;
    auto &d = lan.add<kxsim::device_a>(device_ip, device_id);
    d.refuse("PBR");
    EXPECT_EQ(kxa_setting_baud(device_ip, 9600), KX_E_REPLY);
    // Only the first byte counts.
    d.inject(kxsim::text_starts_with("PPR"), fault().reply_with("Anything").once());
    EXPECT_EQ(kxa_setting_parity(device_ip, 1), KX_OK);
    d.inject(kxsim::text_starts_with("PPR"), fault().reply_with("").once());
    EXPECT_EQ(kxa_setting_parity(device_ip, 1), KX_E_TIMEOUT);
    // No tag to match: a stray that arrives first is the answer.
    d.inject(kxsim::text_starts_with("PBB"), fault().stray_first("N|22").once());
    EXPECT_EQ(kxa_setting_databit(device_ip, 8), KX_E_REPLY);
    EXPECT_EQ(sent(lan), (strings{"PBR3", "PPR2", "PPR2", "PBB1"}));
}

TEST(QuickSettingA, NoAnswerTimesOutAfterOneSecond) {
    kxsim::lan lan;
    lan.add<kxsim::device_a>(device_ip, device_id)
        .inject(kxsim::text_starts_with("PBB"), fault().no_answer());
    kxtest::stopwatch clock;
    EXPECT_EQ(kxa_setting_databit(device_ip, 7), KX_E_TIMEOUT);
    EXPECT_GE(clock.ms(), 990);
    EXPECT_LT(clock.ms(), 1800);
    EXPECT_EQ(sent(lan), strings{"PBB0"});
}

}  // namespace
