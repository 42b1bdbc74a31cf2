// Family A login and logout against a simulated device.
#include <gtest/gtest.h>

#include "family_a/net_helpers.h"

namespace {

using namespace std::string_literals;
using kxsim::fault;
using kxtest::device_id;
using kxtest::device_ip;
using kxtest::login_record;
using kxtest::sent;
using strings = std::vector<std::string>;

TEST(LoginA, ToAnAddressSendsOnlyTheLoginCommand) {
    kxsim::lan lan;
    auto &d = lan.add<kxsim::device_a>(device_ip, device_id);
    d.set_password("secret");
    const auto login = login_record("secret");
    EXPECT_EQ(kxa_login(device_ip, device_id, &login), KX_OK);
    EXPECT_EQ(sent(lan), strings{"Lsecret|19"});
    EXPECT_TRUE(kxtest::all_sent_to(lan, device_ip));
    EXPECT_TRUE(d.logged_in());
}

TEST(LoginA, BroadcastSelectsTheDeviceFirst) {
    kxsim::lan lan;
    auto &d = lan.add<kxsim::device_a>(device_ip, device_id);
    lan.add<kxsim::device_a>("127.0.0.3", "0.16.2.3.4.6");
    d.set_password("pw");
    const auto login = login_record("pw");
    EXPECT_EQ(kxa_login("", device_id, &login), KX_OK);
    EXPECT_EQ(sent(lan), (strings{"W0.16.2.3.4.5|20", "Lpw|19"}));
    EXPECT_TRUE(kxtest::all_sent_to(lan, "255.255.255.255"));
    EXPECT_TRUE(d.logged_in());
}

TEST(LoginA, RefusedSelectionGivesReplyErrorAndNoLoginCommand) {
    kxsim::lan lan;
    lan.add<kxsim::device_a>(device_ip, device_id).refuse("W");
    const auto login = login_record("");
    EXPECT_EQ(kxa_login("12345", device_id, &login), KX_E_REPLY);  // under 7: broadcast
    EXPECT_EQ(sent(lan), (strings{"W0.16.2.3.4.5|20", "O"}));
}

TEST(LoginA, RefusedLoginGivesRefusedAndEndsWithO) {
    kxsim::lan lan;
    auto &d = lan.add<kxsim::device_a>(device_ip, device_id);
    d.set_password("right");
    // A late answer to a selection command carries another tag: dropped.
    d.inject(kxsim::text_starts_with("L"), fault().stray_first("A|20"));
    const auto login = login_record("wrong");
    EXPECT_EQ(kxa_login(device_ip, device_id, &login), KX_E_REFUSED);
    EXPECT_EQ(sent(lan), (strings{"Lwrong|19", "O"}));
    EXPECT_FALSE(d.logged_in());
}

TEST(LoginA, NoAnswerTimesOutAfterOneSecondWithO) {
    kxsim::lan lan;
    const auto login = login_record("pw");
    kxtest::stopwatch clock;
    EXPECT_EQ(kxa_login("", device_id, &login), KX_E_TIMEOUT);
    EXPECT_GE(clock.ms(), 990);
    EXPECT_LT(clock.ms(), 1800);
    // The login command never follows an unanswered selection.
    EXPECT_EQ(sent(lan), (strings{"W0.16.2.3.4.5|20", "O"}));
}

TEST(LoginA, WrongFamilyOrNoRecordSendsNothing) {
    kxsim::lan lan;
    lan.add<kxsim::device_a>(device_ip, device_id);
    const auto login = login_record("", KX_FAMILY_B);
    EXPECT_EQ(kxa_login(device_ip, device_id, &login), KX_E_ARGUMENT);
    EXPECT_EQ(kxa_login("", device_id, &login), KX_E_ARGUMENT);
    EXPECT_EQ(kxa_login(device_ip, device_id, nullptr), KX_E_ARGUMENT);
    // An identifier text that no datagram can carry is refused before a
    // broadcast login; a login to an address does not send it at all.
    const std::string huge(300, '1');
    const auto ok = login_record("");
    EXPECT_EQ(kxa_login("", huge.c_str(), &ok), KX_E_ARGUMENT);
    EXPECT_TRUE(sent(lan).empty());
    EXPECT_EQ(kxa_login(device_ip, huge.c_str(), &ok), KX_OK);
    EXPECT_EQ(sent(lan), strings{"L|19"});
}

TEST(LoginA, PasswordTextIsTheFieldUpToItsNulAtMostTen) {
    kxsim::lan lan;
    auto &d = lan.add<kxsim::device_a>(device_ip, device_id);
    d.set_password("0123456789");
    auto login = login_record("0123456789");   // fills the field: no NUL
    std::memcpy(login.device_name, "XYZ", 4);  // the field that follows
    EXPECT_EQ(kxa_login(device_ip, device_id, &login), KX_OK);

    d.set_password("");
    const auto empty = login_record("");
    EXPECT_EQ(kxa_login(device_ip, device_id, &empty), KX_OK);
    EXPECT_EQ(sent(lan), (strings{"L0123456789|19", "L|19"}));
}

TEST(LoginA, ReplyMatchesByTagAnywhereInItsTextUpToTheFirstNul) {
    kxsim::lan lan;
    auto &d = lan.add<kxsim::device_a>(device_ip, device_id);
    const auto login = login_record("");
    // The tag in the middle of the text matches.
    d.inject(kxsim::text_starts_with("L"), fault().reply_with("Aok|19 more").once());
    EXPECT_EQ(kxa_login(device_ip, device_id, &login), KX_OK);
    // A tag behind a NUL does not: that refusal is dropped, the next datagram
    // decides.
    d.inject(kxsim::text_starts_with("L"),
             fault().stray_first("N\0|19"s).reply_with("A|19").once());
    EXPECT_EQ(kxa_login(device_ip, device_id, &login), KX_OK);
    // The sender is not looked at: another device's answer counts.
    lan.add<kxsim::device_a>("127.0.0.3", "0.16.2.3.4.6")
        .inject(kxsim::text_starts_with("L"), fault().reply_with("N|19"));
    d.inject(kxsim::text_starts_with("L"), fault().late(200).once());
    EXPECT_EQ(kxa_login("", "0.16.2.3.4.5", &login), KX_E_REFUSED);
}

TEST(LoginA, StraysNineHundredMillisecondsApartKeepTheStepAlive) {
    kxsim::lan lan;
    auto &d = lan.add<kxsim::device_a>(device_ip, device_id);
    d.inject(kxsim::text_starts_with("L"),
             fault().stray_first("x|20").stray_first("x|21").stray_first("x|22", 900));
    const auto login = login_record("");
    kxtest::stopwatch clock;
    EXPECT_EQ(kxa_login(device_ip, device_id, &login), KX_OK);
    EXPECT_GE(clock.ms(), 2600);
    EXPECT_EQ(sent(lan), strings{"L|19"});
}

TEST(LogoutA, SendsOToTheAddressOrBroadcast) {
    kxsim::lan lan;
    auto &d = lan.add<kxsim::device_a>(device_ip, device_id);
    const auto login = login_record("");
    ASSERT_EQ(kxa_login(device_ip, device_id, &login), KX_OK);
    ASSERT_TRUE(d.logged_in());
    lan.clear_received();
    const uint8_t ignored[6] = {9, 9, 9, 9, 9, 9};
    EXPECT_EQ(kxa_logout(device_ip, ignored), KX_OK);
    auto trace = lan.received_on(kxsim::family_a_port);
    ASSERT_EQ(trace.size(), 1u);
    EXPECT_EQ(trace[0].text(), "O");
    EXPECT_EQ(trace[0].destination, device_ip);
    EXPECT_FALSE(d.logged_in());

    lan.clear_received();
    EXPECT_EQ(kxa_logout("", nullptr), KX_OK);
    trace = lan.received_on(kxsim::family_a_port);
    ASSERT_EQ(trace.size(), 1u);
    EXPECT_EQ(trace[0].text(), "O");
    EXPECT_TRUE(trace[0].broadcast());
}

}  // namespace
