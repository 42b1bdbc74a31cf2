// The generic entry points against a simulated LAN holding devices of both
// families.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cstring>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "device_a.h"
#include "device_b.h"
#include "kxconf.h"
#include "lan.h"
#include "support/records.h"
#include "support/settings_b.h"
#include "support/trace.h"

namespace {

using kxsim::fault;

constexpr const char *ip_a = "127.0.0.2";
constexpr const char *id_text_a = "0.16.2.3.4.5";
constexpr uint8_t id_a[6] = {0, 16, 2, 3, 4, 5};
constexpr const char *ip_b = "127.0.0.3";
constexpr kxsim::device_id_bytes id_b = {0, 16, 11, 0, 0, 7};

using kxtest::filled;
using kxtest::login_record;

template <typename Record>
bool same(const Record &x, const Record &y) {
    return std::memcmp(&x, &y, sizeof x) == 0;
}

template <size_t N>
void put_text(char (&field)[N], const std::string &text) {
    std::memset(field, 0, N);
    std::memcpy(field, text.data(), text.size() < N ? text.size() : N);
}

kx_device_record device_of(uint8_t family) {
    kx_device_record d = filled<kx_device_record>(0);
    d.family = family;
    return d;
}

// Holds the library's local port, so that its next operation cannot bind.
class busy_local_port {
  public:
    busy_local_port() {
        fd_ = ::socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_port = htons(kxsim::host_port);
        bound_ = ::bind(fd_, reinterpret_cast<sockaddr *>(&sa), sizeof sa) == 0;
    }
    ~busy_local_port() { ::close(fd_); }
    bool bound() const { return bound_; }

  private:
    int fd_;
    bool bound_ = false;
};

// A family A device whose every setting differs from the defaults.
kxsim::device_a &add_device_a(kxsim::lan &lan) {
    auto &dev = lan.add<kxsim::device_a>(ip_a, id_text_a, "ALPHA-9");
    const std::pair<const char *, const char *> values[] = {
        {"PN", "4101"},     {"RM", "5"},           {"DI", "127.0.0.9"},
        {"DP", "5020"},     {"GI", "127.0.0.254"}, {"NM", "255.255.0.0"},
        {"BR", "6"},        {"PR", "2"},           {"BB", "0"},
        {"ML", "65000"},    {"MD", "200"},         {"TP", "4"},
        {"DH", "1"},        {"FC", "1"},           {"KL", "33"},
        {"V", "A-1.07"},    {"DD", "1"},           {"LI", "10.1.2.3"},
        {"Li", "10.1.2.4"}, {"WW", "1"},           {"DW", "dw-text-that-fills-thirty-byte"},
        {"ON", "onval"},    {"PW", "secret"},      {"NB", "1"},
    };
    for (auto [key, value] : values) dev.set_setting(key, value);
    return dev;
}

kxsim::device_b &add_device_b(kxsim::lan &lan) {
    auto &dev = lan.add<kxsim::device_b>(ip_b, id_b, "BRAVO");
    dev.set_settings(kxtest::distinct_settings_b(id_b, {127, 0, 0, 3}, "BRAVO"));
    return dev;
}

TEST(GenericDispatch, TheLibraryListsFamilyAThenFamilyBAndNothingPast) {
    kx_family_record info = filled<kx_family_record>(0xEE);
    ASSERT_EQ(kx_family_info(0, &info), KX_OK);
    EXPECT_EQ((std::tuple{info.family, info.letter, uint16_t{info.device_port},
                          uint16_t{info.record_size}, std::string(info.name)}),
              (std::tuple{uint8_t{1}, 'A', uint16_t{65535}, uint16_t{244},
                          std::string("tagged text commands")}));
    ASSERT_EQ(kx_family_info(1, &info), KX_OK);
    EXPECT_EQ((std::tuple{info.family, info.letter, uint16_t{info.device_port},
                          uint16_t{info.record_size}, std::string(info.name)}),
              (std::tuple{uint8_t{16}, 'B', uint16_t{65280}, uint16_t{148},
                          std::string("binary packets")}));
    // Past the end, before the start or without a record: nothing written.
    const kx_family_record before = info;
    for (int32_t index : {2, -1, INT32_MAX}) EXPECT_EQ(kx_family_info(index, &info), KX_E_ARGUMENT);
    EXPECT_TRUE(same(info, before));
    EXPECT_EQ(kx_family_info(0, nullptr), KX_E_ARGUMENT);
}
// ---------------------------------------------------------------- dispatch

TEST(GenericDispatch, AnUnknownFamilySendsNothing) {
    kxsim::lan lan;
    add_device_a(lan);
    add_device_b(lan);
    const kx_device_record device = device_of(2);
    const kx_settings_record login = login_record(2, "secret");
    EXPECT_EQ(kx_login(ip_a, id_a, &login), KX_E_TIMEOUT);
    EXPECT_EQ(kx_logout(ip_a, id_a, &device), KX_E_TIMEOUT);

    kx_settings_record settings = filled<kx_settings_record>(0x5A);
    const kx_settings_record before = settings;
    EXPECT_EQ(kx_read_setting(ip_a, id_a, &settings, &device), KX_E_ARGUMENT);
    EXPECT_TRUE(same(settings, before));
    EXPECT_EQ(kx_write_setting(ip_a, id_a, &settings, &device), KX_E_ARGUMENT);
    EXPECT_EQ(kx_setting_baud(ip_a, 9600, &device), KX_E_ARGUMENT);
    EXPECT_EQ(kx_setting_parity(ip_a, 1, &device), KX_E_ARGUMENT);
    EXPECT_EQ(kx_setting_databit(ip_a, 8, &device), KX_E_ARGUMENT);
    // The family code 255 of an unusable search answer is unknown too.
    const kx_device_record unusable = device_of(KX_FAMILY_UNKNOWN);
    EXPECT_EQ(kx_setting_baud(ip_b, 9600, &unusable), KX_E_ARGUMENT);
    EXPECT_EQ(kx_logout(ip_b, id_b.data(), &unusable), KX_E_TIMEOUT);
    EXPECT_TRUE(lan.received().empty());
}

TEST(GenericDispatch, NullPointersAreInvalidArgumentsAndSendNothing) {
    kxsim::lan lan;
    add_device_a(lan);
    add_device_b(lan);
    const kx_device_record device_a = device_of(KX_FAMILY_A), device_b = device_of(KX_FAMILY_B);
    const kx_settings_record login_a = login_record(KX_FAMILY_A, "secret");
    kx_settings_record settings = filled<kx_settings_record>(0);
    kx_device_record records[4];
    int32_t count = -7;
    EXPECT_EQ(kx_search_all(nullptr, &count), KX_E_ARGUMENT);
    EXPECT_EQ(kx_search_all(records, nullptr), KX_E_ARGUMENT);
    EXPECT_EQ(count, -7);
    EXPECT_EQ(kx_search_one(ip_a, nullptr), KX_E_ARGUMENT);
    EXPECT_EQ(kx_login(ip_a, id_a, nullptr), KX_E_ARGUMENT);
    EXPECT_EQ(kx_login(ip_a, nullptr, &login_a), KX_E_ARGUMENT);
    EXPECT_EQ(kx_logout(ip_a, id_a, nullptr), KX_E_ARGUMENT);
    EXPECT_EQ(kx_logout(ip_b, nullptr, &device_b), KX_E_ARGUMENT);
    for (const kx_device_record *device : {&device_a, &device_b}) {
        EXPECT_EQ(kx_read_setting(ip_a, id_a, nullptr, device), KX_E_ARGUMENT);
        EXPECT_EQ(kx_read_setting(ip_a, nullptr, &settings, device), KX_E_ARGUMENT);
        EXPECT_EQ(kx_write_setting(ip_a, id_a, nullptr, device), KX_E_ARGUMENT);
        EXPECT_EQ(kx_write_setting(ip_a, nullptr, &settings, device), KX_E_ARGUMENT);
    }
    EXPECT_EQ(kx_read_setting(ip_a, id_a, &settings, nullptr), KX_E_ARGUMENT);
    EXPECT_EQ(kx_write_setting(ip_a, id_a, &settings, nullptr), KX_E_ARGUMENT);
    EXPECT_EQ(kx_setting_baud(ip_a, 9600, nullptr), KX_E_ARGUMENT);
    EXPECT_EQ(kx_setting_parity(ip_a, 1, nullptr), KX_E_ARGUMENT);
    EXPECT_EQ(kx_setting_databit(ip_a, 8, nullptr), KX_E_ARGUMENT);
    EXPECT_TRUE(lan.received().empty());
}

TEST(GenericDispatch, FamilyAGetsTheIdentifierAsText) {
    kxsim::lan lan;
    add_device_a(lan);
    const kx_settings_record login = login_record(KX_FAMILY_A, "secret");
    // Without an address the login broadcasts and selects by identifier.
    ASSERT_EQ(kx_login("", id_a, &login), KX_OK);
    const auto sent = kxtest::texts(lan.received_on(kxsim::family_a_port));
    ASSERT_FALSE(sent.empty());
    EXPECT_EQ(sent[0], std::string("W") + id_text_a + "|20");
}

TEST(GenericDispatch, QuickSettingsReachTheFamilyOfTheRecord) {
    kxsim::lan lan;
    auto &dev_a = add_device_a(lan);
    auto &dev_b = add_device_b(lan);
    const kx_device_record device_a = device_of(KX_FAMILY_A), device_b = device_of(KX_FAMILY_B);

    // The values go on unchanged; each family encodes them its own way.
    EXPECT_EQ(kx_setting_parity(ip_a, 1, &device_a), KX_OK);
    EXPECT_EQ(kx_setting_databit(ip_a, 7, &device_a), KX_OK);
    EXPECT_EQ(kx_setting_baud(ip_a, 115200, &device_a), KX_OK);
    EXPECT_EQ(kxtest::texts(lan.received_on(kxsim::family_a_port)),
              (std::vector<std::string>{"PPR2", "PBB0", "PBR7"}));
    EXPECT_EQ(dev_a.setting("BR"), "7");

    EXPECT_EQ(kx_setting_parity(ip_b, 1, &device_b), KX_OK);
    EXPECT_EQ(dev_b.last_serial_block(), (std::array<uint8_t, 6>{0xFF, 0xFF, 0xFF, 0xFF, 1, 0xFF}));
    EXPECT_EQ(kx_setting_databit(ip_b, 7, &device_b), KX_OK);
    EXPECT_EQ(dev_b.last_serial_block(), (std::array<uint8_t, 6>{0xFF, 0xFF, 7, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(kx_setting_baud(ip_b, 115200, &device_b), KX_OK);
    EXPECT_EQ(dev_b.last_serial_block(),
              (std::array<uint8_t, 6>{0x80, 0x04, 0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(dev_b.serial_blocks(), 3);
    // Nothing of family A went to the family B device's protocol port.
    EXPECT_EQ(lan.received_on(kxsim::family_b_port).size(), 3u);
}

// ----------------------------------------------------------------- search

TEST(GenericSearchAll, NoDevicesGiveCountZero) {
    kxsim::lan lan;
    kx_device_record records[2];
    int32_t count = -7;
    EXPECT_EQ(kx_search_all(records, &count), KX_OK);
    EXPECT_EQ(count, 0);
}

TEST(GenericSearchAll, ListsFamilyADevicesFirstThenFamilyB) {
    kxsim::lan lan;
    // The family B devices answer first, and still come last.
    lan.add<kxsim::device_b>("127.0.0.4", kxsim::device_id_bytes{0, 16, 11, 0, 0, 1}, "B-ONE");
    lan.add<kxsim::device_b>("127.0.0.5", kxsim::device_id_bytes{0, 16, 11, 0, 0, 2}, "B-TWO")
        .inject(kxsim::any_request(), fault().late(40));
    lan.add<kxsim::device_a>("127.0.0.2", "0.16.10.0.0.1", "A-ONE")
        .inject(kxsim::any_request(), fault().late(20));
    lan.add<kxsim::device_a>("127.0.0.3", "0.16.10.0.0.2", "A-TWO")
        .inject(kxsim::any_request(), fault().late(60));
    kx_device_record records[6];
    std::memset(records, 0xEE, sizeof records);
    int32_t count = -7;
    ASSERT_EQ(kx_search_all(records, &count), KX_OK);
    ASSERT_EQ(count, 4);
    const char *names[] = {"A-ONE", "A-TWO", "B-ONE", "B-TWO"};
    const char *addresses[] = {"127.0.0.2", "127.0.0.3", "127.0.0.4", "127.0.0.5"};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(records[i].family, i < 2 ? KX_FAMILY_A : KX_FAMILY_B) << i;
        EXPECT_EQ(std::string(records[i].device_name, strnlen(records[i].device_name, 10)),
                  names[i]);
        EXPECT_STREQ(records[i].ip_address, addresses[i]);
        EXPECT_EQ(records[i].device_id[5], i % 2 + 1);
    }
    // Room past the last device is left alone.
    EXPECT_EQ(records[4].family, 0xEE);
    // One search per family, broadcast: family A's probe, then family B's.
    const auto trace = lan.received();
    ASSERT_EQ(trace.size(), kxtest::family_count());
    EXPECT_EQ(trace[0].destination_port, kxsim::family_a_port);
    EXPECT_EQ(trace[0].text(), "X");
    EXPECT_EQ(trace[1].destination_port, kxsim::family_b_port);
    EXPECT_TRUE(trace[0].broadcast() && trace[1].broadcast());
}

TEST(GenericSearchAll, ABusyLocalPortIsASocketFailureWithCountZero) {
    kxsim::lan lan;
    add_device_a(lan);
    add_device_b(lan);
    busy_local_port busy;
    ASSERT_TRUE(busy.bound());
    kx_device_record records[4];
    int32_t count = -7;
    EXPECT_EQ(kx_search_all(records, &count), KX_E_SOCKET);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(kxb_search_all(records, &count), KX_E_SOCKET);
    EXPECT_EQ(count, 0);
    EXPECT_TRUE(lan.received().empty());
}

TEST(GenericSearchOne, FindsAFamilyADevice) {
    kxsim::lan lan;
    add_device_a(lan);
    kx_device_record record = filled<kx_device_record>(0xEE);
    ASSERT_EQ(kx_search_one(ip_a, &record), KX_OK);
    EXPECT_EQ(record.family, KX_FAMILY_A);
    EXPECT_STREQ(record.device_name, "ALPHA-9");
    EXPECT_EQ(std::memcmp(record.device_id, id_a, 6), 0);
    EXPECT_EQ(lan.received().size(), 1u);
}

TEST(GenericSearchOne, AsksAFamilyBDeviceAgainInItsOwnProtocol) {
    kxsim::lan lan;
    add_device_b(lan);
    kx_device_record record = filled<kx_device_record>(0xEE);
    ASSERT_EQ(kx_search_one(ip_b, &record), KX_OK);
    EXPECT_EQ(record.family, KX_FAMILY_B);
    EXPECT_EQ(std::memcmp(record.device_id, id_b.data(), 6), 0);
    EXPECT_EQ(std::string(record.device_name, 5), "BRAVO");
    EXPECT_STREQ(record.ip_address, ip_b);
    EXPECT_EQ(uint16_t{record.local_port}, 0x1234);
    EXPECT_EQ(std::string(record.firmware_version, 16), "B-9.99-firmware!");
    EXPECT_EQ(record.reserved_132[0], 0);  // cleared by the family A search
    const auto trace = lan.received();
    ASSERT_EQ(trace.size(), 2u);
    EXPECT_EQ(trace[0].text(), "X");
    EXPECT_EQ(trace[0].destination, ip_b);
    EXPECT_EQ(trace[1].destination_port, kxsim::family_b_port);
    EXPECT_EQ(trace[1].destination, ip_b);
}

TEST(GenericSearchOne, FamilyAFailuresAreTimeoutsAndABusyPortASocketFailure) {
    kxsim::lan lan;
    auto &dev = add_device_a(lan);
    kx_device_record record;
    // Nothing at the address.
    EXPECT_EQ(kx_search_one("127.0.0.9", &record), KX_E_TIMEOUT);
    // A reply of neither family's form.
    dev.inject(kxsim::any_request(), fault().reply_with("Zzzzzzzzzzzzzzzzzzzzzzzzzz").once());
    EXPECT_EQ(kx_search_one(ip_a, &record), KX_E_TIMEOUT);
    // The local port is taken.
    {
        busy_local_port busy;
        ASSERT_TRUE(busy.bound());
        EXPECT_EQ(kx_search_one(ip_a, &record), KX_E_SOCKET);
    }
    // No family B search follows any of these.
    EXPECT_TRUE(lan.received_on(kxsim::family_b_port).empty());
}

TEST(GenericSearchOne, EverySingleDeviceSearchHearsTheAddressAskedOnly) {
    kxsim::lan lan;
    add_device_a(lan).inject(kxsim::any_request(), fault().late(40));
    add_device_b(lan).inject(kxsim::any_request(), fault().late(40));
    // Before the device asked answers: another device's late answers to an
    // earlier search, of both families, and a datagram too long to receive.
    kxsim::settings_b other_b;
    other_b.id = {0, 16, 11, 0, 0, 9};
    const auto strangers = [&] {
        lan.send("127.0.0.9", kxsim::family_a_port,
                 kxsim::to_bytes("A0.16.2.3.4.9/502/x/y/z/STRANGER/"), 5);
        lan.send("127.0.0.9", kxsim::family_b_port, kxsim::packet_b::settings_packet(other_b, 1, 0),
                 10);
        lan.send("127.0.0.9", kxsim::family_a_port, kxsim::bytes(300, 'A'), 15);
    };
    kx_device_record record;
    strangers();
    ASSERT_EQ(kxa_search_one(ip_a, &record), KX_OK);
    EXPECT_STREQ(record.device_name, "ALPHA-9");
    strangers();
    ASSERT_EQ(kxb_search_one(ip_b, &record), KX_OK);
    EXPECT_EQ(std::memcmp(record.device_id, id_b.data(), 6), 0);
    strangers();
    ASSERT_EQ(kx_search_one(ip_b, &record), KX_OK);
    EXPECT_EQ(record.family, KX_FAMILY_B);
    EXPECT_EQ(std::memcmp(record.device_id, id_b.data(), 6), 0);
}

TEST(GenericSearchOne, AFamilyBFailureKeepsItsOwnCode) {
    kxsim::lan lan;
    auto &dev = add_device_b(lan);
    dev.inject(kxsim::opcode_is(1), fault().bad_last_byte());
    kx_device_record record;
    EXPECT_EQ(kx_search_one(ip_b, &record), KX_E_REPLY);
    dev.clear_faults();
    dev.inject(kxsim::opcode_is(1), fault().no_answer());
    EXPECT_EQ(kx_search_one(ip_b, &record), KX_E_TIMEOUT);
}

// ----------------------------------------------------------- read, write

TEST(GenericRead, AFailedReadLeavesTheRecordAlone) {
    kxsim::lan lan;
    auto &dev_a = add_device_a(lan);
    auto &dev_b = add_device_b(lan);
    const kx_device_record device_a = device_of(KX_FAMILY_A), device_b = device_of(KX_FAMILY_B);
    kx_settings_record settings = filled<kx_settings_record>(0x5A);
    const kx_settings_record before = settings;

    dev_a.refuse("GDI");
    EXPECT_EQ(kx_read_setting(ip_a, id_a, &settings, &device_a), KX_E_REPLY);
    EXPECT_TRUE(same(settings, before));

    dev_b.inject(kxsim::opcode_is(11), fault().no_answer());
    EXPECT_EQ(kx_read_setting(ip_b, id_b.data(), &settings, &device_b), KX_E_TIMEOUT);
    EXPECT_TRUE(same(settings, before));
}

TEST(GenericWrite, AFamilyBDeviceRefusesARecordOfAnotherFamily) {
    kxsim::lan lan;
    add_device_b(lan);
    const kx_device_record device_b = device_of(KX_FAMILY_B);
    kx_settings_record settings = filled<kx_settings_record>(0);
    ASSERT_EQ(kx_read_setting(ip_b, id_b.data(), &settings, &device_b), KX_OK);
    lan.clear_received();
    settings.family = KX_FAMILY_A;
    EXPECT_EQ(kx_write_setting(ip_b, id_b.data(), &settings, &device_b), KX_E_ARGUMENT);
    EXPECT_TRUE(lan.received().empty());
}

// One read, one change, one write back, one read again.
TEST(GenericCycle, FamilyACarriesEveryFieldAndChangesOnlyTheChangedOne) {
    kxsim::lan lan;
    auto &dev = add_device_a(lan);
    kx_device_record device;
    ASSERT_EQ(kx_search_one(ip_a, &device), KX_OK);
    const kx_settings_record login = login_record(device.family, "secret");
    ASSERT_EQ(kx_login(device.ip_address, device.device_id, &login), KX_OK);
    EXPECT_TRUE(dev.logged_in());

    lan.clear_received();
    kx_settings_record g = filled<kx_settings_record>(0);
    g.stop_bits = 9;
    ASSERT_EQ(kx_read_setting(device.ip_address, device.device_id, &g, &device), KX_OK);
    EXPECT_EQ(kxtest::texts(lan.received_on(kxsim::family_a_port))[0],
              std::string("W") + id_text_a + "|20");
    EXPECT_EQ(g.family, KX_FAMILY_A);
    EXPECT_STREQ(g.on_text, "onval");
    EXPECT_STREQ(g.password, "secret");
    EXPECT_STREQ(g.device_name, "ALPHA-9");
    EXPECT_STREQ(g.firmware_version, "A-1.07");
    EXPECT_EQ(std::memcmp(g.device_id, id_a, 6), 0);
    EXPECT_STREQ(g.ip_address, ip_a);
    EXPECT_EQ(uint16_t{g.local_port}, 4101);
    EXPECT_STREQ(g.dest_ip, "127.0.0.9");
    EXPECT_EQ(uint16_t{g.dest_port}, 5020);
    EXPECT_STREQ(g.subnet_mask, "255.255.0.0");
    EXPECT_STREQ(g.gateway, "127.0.0.254");
    EXPECT_STREQ(g.li_address, "10.1.2.3");
    EXPECT_STREQ(g.li_address_2, "10.1.2.4");
    EXPECT_EQ(std::string(g.dw_text, 30), "dw-text-that-fills-thirty-byte");
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
    EXPECT_EQ(g.stop_bits, 1);
    EXPECT_EQ(g.flow_control, 1);

    // Change one field and write the record back.
    const auto before = dev.settings();
    g.dest_port = 5099;
    ASSERT_EQ(kx_write_setting(device.ip_address, device.device_id, &g, &device), KX_OK);
    EXPECT_EQ(dev.applied_writes(), 1);
    auto expected = before;
    expected["DP"] = "5099";
    EXPECT_EQ(dev.settings(), expected);

    kx_settings_record again = filled<kx_settings_record>(0);
    ASSERT_EQ(kx_read_setting(device.ip_address, device.device_id, &again, &device), KX_OK);
    EXPECT_TRUE(same(again, g));

    // The quick setting changes the speed alone.
    ASSERT_EQ(kx_setting_baud(device.ip_address, 115200, &device), KX_OK);
    ASSERT_EQ(kx_read_setting(device.ip_address, device.device_id, &again, &device), KX_OK);
    EXPECT_EQ(uint32_t{again.baud_rate}, 115200u);
    again.baud_rate = g.baud_rate;
    EXPECT_TRUE(same(again, g));

    lan.clear_received();
    ASSERT_EQ(kx_logout(device.ip_address, device.device_id, &device), KX_OK);
    EXPECT_EQ(kxtest::texts(lan.received_on(kxsim::family_a_port)),
              (std::vector<std::string>{"O"}));
}

TEST(GenericCycle, FamilyBCarriesEveryFieldAndChangesOnlyTheChangedOne) {
    kxsim::lan lan;
    auto &dev = add_device_b(lan);
    kx_device_record device;
    ASSERT_EQ(kx_search_one(ip_b, &device), KX_OK);
    const kx_settings_record login = login_record(device.family, "pass-word!");
    ASSERT_EQ(kx_login(device.ip_address, device.device_id, &login), KX_OK);
    EXPECT_TRUE(dev.logged_in());

    kx_settings_record g = filled<kx_settings_record>(0);
    g.nb_flag = 1;
    ASSERT_EQ(kx_read_setting(device.ip_address, device.device_id, &g, &device), KX_OK);
    EXPECT_EQ(g.family, KX_FAMILY_B);
    EXPECT_EQ(std::string(g.on_text, 10), "on-text-10");
    EXPECT_EQ(std::string(g.password, 10), "pass-word!");
    EXPECT_STREQ(g.device_name, "BRAVO");
    EXPECT_EQ(std::string(g.firmware_version, 16), "B-9.99-firmware!");
    EXPECT_EQ(std::memcmp(g.device_id, id_b.data(), 6), 0);
    EXPECT_STREQ(g.ip_address, ip_b);
    EXPECT_EQ(uint16_t{g.local_port}, 0x1234);
    EXPECT_STREQ(g.dest_ip, "10.20.30.40");
    EXPECT_EQ(uint16_t{g.dest_port}, 0xBEEF);
    EXPECT_STREQ(g.subnet_mask, "255.255.254.0");
    EXPECT_STREQ(g.gateway, "127.0.0.1");
    EXPECT_STREQ(g.li_address, "172.16.5.6");
    EXPECT_STREQ(g.li_address_2, "172.16.7.8");
    EXPECT_EQ(std::string(g.dw_text, 30), "a dw text of thirty characters");
    EXPECT_EQ(g.tp_value, 0x22);
    EXPECT_EQ(g.rm_value, 0x21);
    EXPECT_EQ(g.dhcp_enabled, 1);
    EXPECT_EQ(g.ww_flag, 0x23);
    EXPECT_EQ(g.dd_flag, 0x24);
    EXPECT_EQ(g.nb_flag, 0);
    EXPECT_EQ(g.keep_alive, 0x26);
    EXPECT_EQ(g.md_value, 0x25);
    EXPECT_EQ(uint16_t{g.ml_value}, 0x0A0B);
    EXPECT_EQ(uint32_t{g.baud_rate}, 115200u);
    EXPECT_EQ(g.parity, 2);
    EXPECT_EQ(g.data_bits, 7);
    EXPECT_EQ(g.stop_bits, 2);
    EXPECT_EQ(g.flow_control, 1);

    // Written back unchanged but for one field; nb_flag is never carried.
    const kxsim::settings_b before = dev.settings();
    g.keep_alive = 77;
    g.nb_flag = 1;
    ASSERT_EQ(kx_write_setting(device.ip_address, device.device_id, &g, &device), KX_OK);
    EXPECT_EQ(dev.writes_applied(), 1);
    kxsim::settings_b expected = before;
    expected.keep_alive = 77;
    EXPECT_TRUE(dev.settings() == expected);

    kx_settings_record again = filled<kx_settings_record>(0);
    ASSERT_EQ(kx_read_setting(device.ip_address, device.device_id, &again, &device), KX_OK);
    g.nb_flag = 0;
    EXPECT_TRUE(same(again, g));

    ASSERT_EQ(kx_setting_baud(device.ip_address, 57600, &device), KX_OK);
    EXPECT_EQ(dev.settings().baud_hundreds, 576);
    ASSERT_EQ(kx_read_setting(device.ip_address, device.device_id, &again, &device), KX_OK);
    EXPECT_EQ(uint32_t{again.baud_rate}, 57600u);
    again.baud_rate = g.baud_rate;
    EXPECT_TRUE(same(again, g));

    lan.clear_received();
    ASSERT_EQ(kx_logout(device.ip_address, device.device_id, &device), KX_OK);
    // received() waits until the simulator has taken the logout in.
    const auto trace = lan.received_on(kxsim::family_b_port);
    ASSERT_EQ(trace.size(), 1u);
    EXPECT_EQ(trace[0].payload[8], 21);
    EXPECT_FALSE(dev.logged_in());
}

}  // namespace
