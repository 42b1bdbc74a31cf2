// kx_discover against simulated devices of both families.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "device_a.h"
#include "device_b.h"
#include "kxconf.h"
#include "lan.h"
#include "subnets.h"
#include "support/records.h"

// While set, every receive queue asked for in this process gets the
// smallest size the system allows: a burst of answers overflows it.
bool smallest_receive_queue = false;

// Stands in for the C library's setsockopt in this program (the library is
// linked into it statically).
extern "C" int setsockopt(int fd, int level, int name, const void *value, socklen_t length) {
    const int smallest = 1;
    if (smallest_receive_queue && level == SOL_SOCKET && name == SO_RCVBUF) value = &smallest;
    return static_cast<int>(::syscall(SYS_setsockopt, fd, level, name, value, length));
}

namespace {

using kxsim::fault;

const kxsim::device_id_bytes id_b{0, 16, 11, 0, 0, 1};

std::string text_of(const char *field, size_t width) {
    return std::string(field, strnlen(field, width));
}

// "name@address" of each record, for comparing sets of devices.
std::set<std::string> devices_of(const kx_device_record *records, int32_t count) {
    std::set<std::string> found;
    for (int32_t i = 0; i < count; ++i)
        found.insert(text_of(records[i].device_name, 10) + "@" +
                     text_of(records[i].ip_address, 16));
    return found;
}

// A family A answer naming identifier 0.16.2.3.4.<n>.
kxsim::bytes answer_a(int n) {
    return kxsim::to_bytes("A0.16.2.3.4." + std::to_string(n) + "/502/x/y/z/FLOOD/");
}

// A family B answer naming identifier 0.16.11.0.0.<n>.
kxsim::bytes answer_b(int n) {
    kxsim::settings_b s;
    s.id = {0, 16, 11, 0, 0, static_cast<uint8_t>(n)};
    s.ip = {127, 0, 0, 9};
    return kxsim::packet_b::settings_packet(s, 1, 0);
}

TEST(Discover, RefusesBadArgumentsWithoutSending) {
    kxsim::lan lan;
    kx_device_record records[2];
    int32_t count = 77;
    EXPECT_EQ(kx_discover(nullptr, 2, &count, 0), KX_E_ARGUMENT);
    EXPECT_EQ(kx_discover(records, 2, nullptr, 0), KX_E_ARGUMENT);
    EXPECT_EQ(kx_discover(records, -1, &count, 0), KX_E_ARGUMENT);
    EXPECT_EQ(kx_discover(records, 2, &count, 2u), KX_E_ARGUMENT);  // unknown option
    EXPECT_EQ(count, 77);
    EXPECT_TRUE(lan.received().empty());
}

TEST(Discover, BothFamiliesOnceEachInOneWindow) {
    kxsim::lan lan;
    // A device of each family, both with one identifier: two devices. Each
    // answers twice; a family B device also answers the family A probe with
    // "Q7", which is no device record.
    lan.add<kxsim::device_a>("127.0.0.2", "0.16.11.0.0.1", "ALPHA")
        .inject(kxsim::any_request(), fault().twice());
    lan.add<kxsim::device_b>("127.0.0.3", id_b, "BETA")
        .inject(kxsim::opcode_is(1), fault().twice());
    // Then their answers again, interleaved: A, B, A, B.
    for (int i = 0; i < 2; ++i) {
        lan.send("127.0.0.2", kxsim::family_a_port,
                 kxsim::to_bytes("A0.16.11.0.0.1/4001/x/x/x/ALPHA/"), 40 + 20 * i);
        lan.send("127.0.0.3", kxsim::family_b_port, answer_b(1), 50 + 20 * i);
    }

    kx_device_record records[4];
    std::memset(records, 0xEE, sizeof records);
    int32_t count = -1;
    ASSERT_EQ(kx_discover(records, 4, &count, 0), KX_OK);
    ASSERT_EQ(count, 2);
    // The first answer of either family may come first.
    const kx_device_record &a = records[0].family == KX_FAMILY_A ? records[0] : records[1];
    const kx_device_record &b = records[0].family == KX_FAMILY_A ? records[1] : records[0];
    EXPECT_EQ(a.family, KX_FAMILY_A);
    EXPECT_EQ(std::memcmp(a.device_id, "\x00\x10\x0B\x00\x00\x01", 6), 0);
    EXPECT_EQ(text_of(a.device_name, 10), "ALPHA");
    EXPECT_EQ(b.family, KX_FAMILY_B);
    EXPECT_EQ(std::memcmp(b.device_id, "\x00\x10\x0B\x00\x00\x01", 6), 0);
    EXPECT_EQ(text_of(b.ip_address, 16), "127.0.0.3");
    EXPECT_EQ(records[2].family, 0xEE);

    // One socket sent the request of each family's search, broadcast.
    const auto sent = lan.received();
    ASSERT_EQ(sent.size(), kxtest::family_count());
    for (const auto &d : sent) {
        EXPECT_TRUE(d.broadcast());
        EXPECT_EQ(d.source_port, kxsim::host_port);
    }
    const auto probe_a = lan.received_on(kxsim::family_a_port);
    ASSERT_EQ(probe_a.size(), 1u);
    EXPECT_EQ(probe_a[0].payload, kxsim::to_bytes("X"));
    const auto request_b = lan.received_on(kxsim::family_b_port);
    ASSERT_EQ(request_b.size(), 1u);
    kxsim::bytes expected_b(36, 0);
    expected_b[0] = 0xFF;
    expected_b[8] = 0x01;
    expected_b[34] = 0x91;  // CRC low byte first
    expected_b[35] = 0xFA;
    EXPECT_EQ(request_b[0].payload, expected_b);
}

TEST(Discover, FloodAtCapacityFillsTheArrayAndNothingBeyond) {
    constexpr int32_t capacity = 5;
    kxsim::lan lan;
    // 40 distinct devices of both families, their answers alternating.
    for (int i = 0; i < 20; ++i) {
        lan.send("127.0.0.2", kxsim::family_a_port, answer_a(i), 20 + i);
        lan.send("127.0.0.3", kxsim::family_b_port, answer_b(i), 20 + i);
    }
    kx_device_record records[capacity + 1];
    std::memset(records, 0xEE, sizeof records);
    int32_t count = -1;
    EXPECT_EQ(kx_discover(records, capacity, &count, 0), KX_E_CAPACITY);
    EXPECT_EQ(count, capacity);
    for (int32_t i = 0; i < capacity; ++i) {
        EXPECT_TRUE(records[i].family == KX_FAMILY_A || records[i].family == KX_FAMILY_B);
        for (int32_t j = 0; j < i; ++j)
            EXPECT_FALSE(records[i].family == records[j].family &&
                         std::memcmp(records[i].device_id, records[j].device_id, 6) == 0);
    }
    const auto *canary = reinterpret_cast<const uint8_t *>(&records[capacity]);
    for (size_t i = 0; i < sizeof(kx_device_record); ++i) ASSERT_EQ(canary[i], 0xEE) << i;

    // Every answer was read: the next search finds nothing stale.
    EXPECT_EQ(kx_discover(records, capacity, &count, 0), KX_OK);
    EXPECT_EQ(count, 0);

    // Capacity 0: nothing written at all.
    std::memset(records, 0xEE, sizeof records);
    lan.send("127.0.0.2", kxsim::family_a_port, answer_a(1), 20);
    EXPECT_EQ(kx_discover(records, 0, &count, 0), KX_E_CAPACITY);
    EXPECT_EQ(count, 0);
    for (size_t i = 0; i < sizeof records; ++i)
        ASSERT_EQ(reinterpret_cast<const uint8_t *>(records)[i], 0xEE) << i;
}

TEST(Discover, AnswersDroppedFromAFullQueueAreAskedForAgainAndReported) {
    kxsim::lan lan;
    constexpr int devices = 150;
    for (int i = 0; i < devices; ++i)
        lan.add<kxsim::device_a>("127.0.1." + std::to_string(i + 1),
                                 "0.16.2.3.5." + std::to_string(i), "D" + std::to_string(i));
    smallest_receive_queue = true;
    kx_device_record records[devices];
    int32_t count = -1;
    const int32_t result = kx_discover(records, devices, &count, 0);
    smallest_receive_queue = false;
    // The system dropped answers, so the requests went out again, a bounded
    // number of times; each device found is listed once. Whether the last
    // round lost answers too depends on the scheduler: then the result says
    // that more may have answered, and otherwise the list must be whole.
    const size_t rounds = lan.received_on(kxsim::family_a_port).size();
    EXPECT_GE(rounds, 2u);
    EXPECT_LE(rounds, 5u);
    ASSERT_GT(count, 0);
    ASSERT_LE(count, devices);
    EXPECT_EQ(devices_of(records, count).size(), static_cast<size_t>(count));
    if (result == KX_OK)
        EXPECT_EQ(count, devices) << "a short list reported as complete";
    else
        EXPECT_EQ(result, KX_INCOMPLETE);
}

}  // namespace

namespace {

// Two devices, one of each family, at <prefix>.2 and <prefix>.3.
kxsim::subnet_plan subnet_of_two(const std::string &prefix, uint8_t n) {
    const std::string a = prefix + ".2", b = prefix + ".3";
    return {prefix, {a, b}, [=](kxsim::lan &lan) {
                lan.add<kxsim::device_a>(a, "0.16.2.3.4." + std::to_string(n),
                                         "A" + std::to_string(n));
                lan.add<kxsim::device_b>(b, kxsim::device_id_bytes{0, 16, 11, 0, 0, n},
                                         "B" + std::to_string(n));
            }};
}

// The host of a technician: the default route on its first adapter; the
// second added as iproute2 does by default (no broadcast address given),
// with a device at a factory address that fits no subnet of the host beside
// the two that do.
struct two_adapter_host {
    static kxsim::subnet_plan second_adapter() {
        kxsim::subnet_plan plan = subnet_of_two("10.2.0", 2);
        plan.host_broadcast = false;
        plan.addresses.push_back("192.168.77.7");
        plan.populate = [two = plan.populate](kxsim::lan &lan) {
            two(lan);
            lan.add<kxsim::device_a>("192.168.77.7", "0.16.2.3.4.77", "F77");
        };
        return plan;
    }
    kxsim::subnets bed{{subnet_of_two("10.1.0", 1), second_adapter()}};
    ~two_adapter_host() { kx_set_option(KX_OPTION_EVERY_ADAPTER, 0); }
};

TEST(DiscoverAdapters, EveryAdapterReachesTheSecondOneAndAForeignAddressOnIt) {
    two_adapter_host host;
    const std::set<std::string> everyone{"A1@10.1.0.2", "B1@10.1.0.3", "A2@10.2.0.2", "B2@10.2.0.3",
                                         "F77@192.168.77.7"};
    kx_device_record records[8];
    int32_t count = -1;
    // The limited broadcast alone leaves by the default route's adapter.
    ASSERT_EQ(kx_discover(records, 8, &count, 0), KX_OK);
    EXPECT_EQ(devices_of(records, count), (std::set<std::string>{"A1@10.1.0.2", "B1@10.1.0.3"}));
    // Every adapter: the second one's directed broadcast, computed although
    // the system names none, and the limited broadcast out of each adapter
    // for the foreign address. Devices answering twice are listed once.
    ASSERT_EQ(kx_discover(records, 8, &count, KX_SEARCH_ALL_INTERFACES), KX_OK);
    EXPECT_EQ(devices_of(records, count), everyone);
    EXPECT_EQ(count, 5);
    // The option sends the limited broadcast out of each adapter alone.
    ASSERT_EQ(kx_set_option(KX_OPTION_EVERY_ADAPTER, 1), KX_OK);
    ASSERT_EQ(kx_discover(records, 8, &count, 0), KX_OK);
    EXPECT_EQ(devices_of(records, count), everyone);
}

// Family A device P<length>, identifier 0.16.2.3.4.<length>, at address on
// a link whose host address has that prefix length (31 or 32: no directed
// broadcast).
kxsim::subnet_plan point_to_point(const std::string &prefix, int length,
                                  const std::string &address) {
    const std::string n = std::to_string(length);
    kxsim::subnet_plan plan{prefix, {address}, [=](kxsim::lan &lan) {
                                lan.add<kxsim::device_a>(address, "0.16.2.3.4." + n, "P" + n);
                            }};
    plan.host_broadcast = false;
    plan.host_prefix = length;
    return plan;
}

TEST(DiscoverAdapters, AdaptersOfSlash31AndSlash32AreSearchedAndWrittenThrough) {
    // 10.2.0.1/31 holds the device at 10.2.0.0; no subnet holds 10.3.0.2.
    kxsim::subnets bed{{subnet_of_two("10.1.0", 1), point_to_point("10.2.0", 31, "10.2.0.0"),
                        point_to_point("10.3.0", 32, "10.3.0.2")}};
    kx_device_record records[8];
    int32_t count = -1;
    ASSERT_EQ(kx_discover(records, 8, &count, KX_SEARCH_ALL_INTERFACES), KX_OK);
    EXPECT_EQ(devices_of(records, count), (std::set<std::string>{"A1@10.1.0.2", "B1@10.1.0.3",
                                                                 "P31@10.2.0.0", "P32@10.3.0.2"}));
    // A family A write always broadcasts: with the option, out of the
    // adapter whose subnet holds the device.
    ASSERT_EQ(kx_set_option(KX_OPTION_EVERY_ADAPTER, 1), KX_OK);
    kxa_settings_record settings{};
    EXPECT_EQ(kxa_read_setting("10.2.0.0", "0.16.2.3.4.31", &settings, nullptr), KX_OK);
    EXPECT_EQ(kxa_write_setting("10.2.0.0", "0.16.2.3.4.31", &settings, nullptr), KX_OK);
    ASSERT_EQ(kx_set_option(KX_OPTION_EVERY_ADAPTER, 0), KX_OK);
}

TEST(DiscoverAdapters, MoreAdapterAddressesThanHeldAreReportedInEveryMode) {
    // 130 addresses on one link of this namespace, whose other end is here too.
    ASSERT_EQ(std::system("ip link add kxmany type veth peer name kxmany-end && "
                          "ip link set kxmany up && for i in $(seq 1 130); do "
                          "echo address add 10.200.$((i / 100)).$((i % 100))/32 dev kxmany; "
                          "done | ip -batch -"),
              0);
    kx_device_record records[2];
    int32_t count = -1;
    EXPECT_EQ(kx_discover(records, 2, &count, KX_SEARCH_ALL_INTERFACES), KX_INCOMPLETE);
    ASSERT_EQ(kx_set_option(KX_OPTION_EVERY_ADAPTER, 1), KX_OK);
    EXPECT_EQ(kx_discover(records, 2, &count, 0), KX_INCOMPLETE);
    ASSERT_EQ(kx_set_option(KX_OPTION_EVERY_ADAPTER, 0), KX_OK);
    EXPECT_EQ(kx_discover(records, 2, &count, 0), KX_OK);
    EXPECT_EQ(std::system("ip link del kxmany"), 0);
}

TEST(EveryAdapterOption, SettingsReachADeviceBehindTheSecondAdapter) {
    two_adapter_host host;
    kx_settings_record login{};
    login.family = KX_FAMILY_A;
    kxa_settings_record settings_a{};
    kxb_settings_record settings_b{};
    const uint8_t id_b2[6] = {0, 16, 11, 0, 0, 2};

    // A family A write selects by identifier and always broadcasts: without
    // the option it leaves by the default route's adapter and nobody answers.
    ASSERT_EQ(kxa_read_setting("10.2.0.2", "0.16.2.3.4.2", &settings_a, nullptr), KX_OK);
    EXPECT_EQ(kxa_write_setting("10.2.0.2", "0.16.2.3.4.2", &settings_a, nullptr), KX_E_TIMEOUT);

    ASSERT_EQ(kx_set_option(KX_OPTION_EVERY_ADAPTER, 1), KX_OK);
    EXPECT_EQ(kxa_login("10.2.0.2", "0.16.2.3.4.2", &login), KX_OK);
    ASSERT_EQ(kxa_read_setting("10.2.0.2", "0.16.2.3.4.2", &settings_a, nullptr), KX_OK);
    EXPECT_EQ(text_of(settings_a.device_name, 10), "A2");
    EXPECT_EQ(kxa_write_setting("10.2.0.2", "0.16.2.3.4.2", &settings_a, nullptr), KX_OK);
    // Family B with no address broadcasts too: out of every adapter, and the
    // device the record names answers.
    ASSERT_EQ(kxb_read_setting("", id_b2, &settings_b, nullptr), KX_OK);
    EXPECT_EQ(kxb_write_setting("", id_b2, &settings_b, nullptr), KX_OK);
}

}  // namespace

namespace {

TEST(EveryAdapterOption, OlderSearchesListEachDeviceOnceInAnArrayOfEveryDevicePlusOne) {
    // Two devices on this host itself: each adapter's copy of a broadcast
    // loops back to them, so each answers once per adapter, in turn.
    kxsim::lan lan;
    lan.add<kxsim::device_a>("127.0.0.2", "0.16.2.3.4.8", "L8");
    lan.add<kxsim::device_a>("127.0.0.3", "0.16.2.3.4.9", "L9");
    lan.add<kxsim::device_b>("127.0.0.4", kxsim::device_id_bytes{0, 16, 11, 0, 0, 8}, "M8");
    lan.add<kxsim::device_b>("127.0.0.5", kxsim::device_id_bytes{0, 16, 11, 0, 0, 9}, "M9");
    two_adapter_host host;
    ASSERT_EQ(kx_set_option(KX_OPTION_EVERY_ADAPTER, 1), KX_OK);
    const std::set<std::string> family_a{"A1@10.1.0.2", "A2@10.2.0.2", "F77@192.168.77.7",
                                         "L8@127.0.0.2", "L9@127.0.0.3"};
    const std::set<std::string> family_b{"B1@10.1.0.3", "B2@10.2.0.3", "M8@127.0.0.4",
                                         "M9@127.0.0.5"};
    std::set<std::string> both = family_a;
    both.insert(family_b.begin(), family_b.end());

    // On the heap and sized exactly, so that the sanitizer sees a write past
    // the end.
    const auto search = [](auto function, size_t devices) {
        std::vector<kx_device_record> records(devices + 1);
        int32_t count = -1;
        EXPECT_EQ(function(records.data(), &count), KX_OK);
        EXPECT_EQ(count, static_cast<int32_t>(devices));
        return devices_of(records.data(), count < 0 ? 0 : std::min<int32_t>(count, devices + 1));
    };
    EXPECT_EQ(search(kxa_search_all, family_a.size()), family_a);
    EXPECT_EQ(search(kxb_search_all, family_b.size()), family_b);
    EXPECT_EQ(search(kx_search_all, both.size()), both);
}

}  // namespace
