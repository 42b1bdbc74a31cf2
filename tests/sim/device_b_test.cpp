// The simulated family B device, examined with hand-built datagrams from a
// plain UDP socket: the simulator must hold the wire format on its own.
#include "device_b.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <optional>
#include <string>

#include "device_a.h"
#include "kxconf.h"
#include "lan.h"
#include "support/settings_b.h"

namespace {

using kxsim::bytes;
using kxsim::device_b;
using kxsim::fault;

const kxsim::device_id_bytes first_id{0, 16, 11, 0, 0, 1};
const kxsim::device_id_bytes second_id{0, 16, 11, 0, 0, 2};

// CRC-16/XMODEM bit by bit, independent of the table-driven cal_crc.
uint16_t crc_bitwise(const uint8_t *data, size_t length) {
    uint16_t crc = 0;
    for (size_t i = 0; i < length; ++i) {
        crc = static_cast<uint16_t>(crc ^ (data[i] << 8));
        for (int bit = 0; bit < 8; ++bit)
            crc = static_cast<uint16_t>((crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1);
    }
    return crc;
}

void put_crc(bytes &p) {
    uint16_t crc = crc_bitwise(p.data(), p.size() - 2);
    p[p.size() - 2] = static_cast<uint8_t>(crc & 0xFF);
    p[p.size() - 1] = static_cast<uint8_t>(crc >> 8);
}

bool crc_good(const bytes &p) {
    if (p.size() < 2) return false;
    uint16_t crc = crc_bitwise(p.data(), p.size() - 2);
    return p[p.size() - 2] == (crc & 0xFF) && p[p.size() - 1] == (crc >> 8);
}

// A 36-byte request as the library builds it.
bytes request(uint8_t opcode, bool with_marker, uint8_t sequence = 0,
              const kxsim::device_id_bytes *id = nullptr, const std::string &password = "") {
    bytes p(36, 0);
    if (with_marker) p[0] = 0xFF;
    p[7] = sequence;
    p[8] = opcode;
    if (id)
        for (size_t i = 0; i < 6; ++i) p[12 + i] = (*id)[i] ^ 0xC5;
    for (size_t i = 0; i < password.size() && i < 10; ++i)
        p[24 + i] = static_cast<uint8_t>(password[i]);
    put_crc(p);
    return p;
}

bytes serial_request(std::array<uint8_t, 6> block) {
    bytes p(36, 0);
    p[0] = 0xFF;
    p[8] = 9;
    for (size_t i = 0; i < 6; ++i) p[18 + i] = block[i];
    put_crc(p);
    return p;
}

// The payload of a settings packet, unscrambled, indexed by packet offset.
bytes unscrambled(const bytes &p) {
    bytes plain = p;
    for (size_t i = 12; i < 156 && i < plain.size(); ++i) plain[i] ^= 0xC5;
    return plain;
}

// The host end: a plain socket on 127.0.0.1:65281.
class host {
  public:
    host() {
        fd_ = ::socket(AF_INET, SOCK_DGRAM, 0);
        int on = 1;
        ::setsockopt(fd_, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_port = htons(kxsim::host_port);
        sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bound_ = ::bind(fd_, reinterpret_cast<sockaddr *>(&sa), sizeof sa) == 0;
    }
    ~host() { ::close(fd_); }
    bool bound() const { return bound_; }

    void send(const std::string &to, const bytes &payload, uint16_t port = kxsim::family_b_port) {
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_port = htons(port);
        ::inet_pton(AF_INET, to.c_str(), &sa.sin_addr);
        ::sendto(fd_, payload.data(), payload.size(), 0, reinterpret_cast<sockaddr *>(&sa),
                 sizeof sa);
    }

    // The next datagram within timeout_ms; its sender's address in from.
    std::optional<bytes> receive(int timeout_ms = 500, std::string *from = nullptr) {
        pollfd pfd{fd_, POLLIN, 0};
        if (::poll(&pfd, 1, timeout_ms) != 1) return std::nullopt;
        bytes buffer(512);
        sockaddr_in sa{};
        socklen_t length = sizeof sa;
        ssize_t n = ::recvfrom(fd_, buffer.data(), buffer.size(), 0,
                               reinterpret_cast<sockaddr *>(&sa), &length);
        if (n < 0) return std::nullopt;
        buffer.resize(static_cast<size_t>(n));
        if (from) {
            char text[INET_ADDRSTRLEN] = {};
            ::inet_ntop(AF_INET, &sa.sin_addr, text, sizeof text);
            *from = text;
        }
        return buffer;
    }

    // Sends and expects no answer: the request reached the simulator and
    // nothing came back.
    bool silent_to(kxsim::lan &net, const std::string &to, const bytes &payload) {
        size_t before = net.received().size();
        send(to, payload);
        if (receive(200)) return false;
        return net.received().size() == before + 1;
    }

  private:
    int fd_ = -1;
    bool bound_ = false;
};

struct DeviceB : ::testing::Test {
    kxsim::lan net;
    device_b &first = net.add<device_b>("127.0.0.2", first_id);
    device_b &second = net.add<device_b>("127.0.0.3", second_id, "OTHER");
    host pc;
    void SetUp() override { ASSERT_TRUE(pc.bound()); }
};

TEST(CrcB, TableAndBitwiseFormsAgreeOnKnownAnswers) {
    const std::string digits = "123456789";
    const auto *d = reinterpret_cast<const uint8_t *>(digits.data());
    EXPECT_EQ(crc_bitwise(d, 9), 0x31C3);
    EXPECT_EQ(cal_crc(d, 9), 0x31C3);
    const uint8_t zero = 0;
    EXPECT_EQ(cal_crc(&zero, 1), 0);
    bytes mixed(158);
    for (size_t i = 0; i < mixed.size(); ++i) mixed[i] = static_cast<uint8_t>(i * 37 + 11);
    EXPECT_EQ(cal_crc(mixed.data(), 158), crc_bitwise(mixed.data(), 158));
    // The device's own sealing stores the CRC low byte first.
    bytes sealed(36, 0xA5);
    kxsim::packet_b::seal(sealed);
    EXPECT_TRUE(crc_good(sealed));
    EXPECT_TRUE(kxsim::packet_b::sealed(sealed));
}

TEST_F(DeviceB, SearchIsAnsweredByEveryDeviceWithItsSettingsPacket) {
    pc.send("255.255.255.255", request(1, true));
    int answers = 0;
    std::string from;
    while (auto reply = pc.receive(300, &from)) {
        ++answers;
        ASSERT_EQ(reply->size(), 158u);
        EXPECT_TRUE(crc_good(*reply));
        EXPECT_EQ((*reply)[9], 16);
        bytes plain = unscrambled(*reply);
        const auto &id = from == "127.0.0.2" ? first_id : second_id;
        for (size_t i = 0; i < 6; ++i) EXPECT_EQ(plain[12 + i], id[i]);
        const std::string name = from == "127.0.0.2" ? "SIM-B" : "OTHER";
        EXPECT_EQ(std::string(plain.begin() + 20, plain.begin() + 25), name);
        EXPECT_EQ(plain[55], from == "127.0.0.2" ? 2 : 3);  // ip 127.0.0.x at 52..55
        EXPECT_EQ(plain[52], 127);
        EXPECT_EQ(plain[64], 4001 >> 8);  // local port big-endian
        EXPECT_EQ(plain[65], 4001 & 0xFF);
        EXPECT_EQ(plain[128], 96);  // 9600 baud in hundreds, little-endian
        EXPECT_EQ(plain[129], 0);
    }
    EXPECT_EQ(answers, 2);
}

TEST_F(DeviceB, MalformedRequestsAreDroppedAndCounted) {
    bytes bad_crc = request(1, true);
    bad_crc[35] ^= 1;
    EXPECT_TRUE(pc.silent_to(net, "127.0.0.2", bad_crc));
    EXPECT_TRUE(pc.silent_to(net, "127.0.0.2", request(1, false)));  // no marker
    bytes long_search = request(1, true);
    long_search.insert(long_search.begin() + 34, 0);
    put_crc(long_search);
    EXPECT_TRUE(pc.silent_to(net, "127.0.0.2", long_search));
    EXPECT_TRUE(pc.silent_to(net, "127.0.0.2", request(11, false, 0x57, &first_id)));
    EXPECT_EQ(first.rejected(), 4);
    EXPECT_EQ(second.rejected(), 0);
}

TEST_F(DeviceB, LoginChecksIdentifierAndPasswordAndLogoutEndsIt) {
    first.set_password("secret");
    // Another device's identifier: nobody answers.
    const kxsim::device_id_bytes stranger{9, 9, 9, 9, 9, 9};
    EXPECT_TRUE(pc.silent_to(net, "255.255.255.255", request(15, false, 0x57, &stranger)));

    pc.send("127.0.0.2", request(17, false, 0x57, &first_id, "wrong"));
    auto refused = pc.receive();
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->size(), 36u);
    EXPECT_TRUE(crc_good(*refused));
    EXPECT_EQ((*refused)[7], 0x57);
    EXPECT_NE((*refused)[8], 17);
    EXPECT_FALSE(first.logged_in());

    // Broadcast login: only the named device answers.
    pc.send("255.255.255.255", request(15, false, 0x57, &first_id, "secret"));
    std::string from;
    auto accepted = pc.receive(500, &from);
    ASSERT_TRUE(accepted);
    EXPECT_EQ(from, "127.0.0.2");
    EXPECT_TRUE(crc_good(*accepted));
    EXPECT_EQ((*accepted)[7], 0x57);
    EXPECT_EQ((*accepted)[8], 17);
    EXPECT_FALSE(pc.receive(200));
    EXPECT_TRUE(first.logged_in());
    EXPECT_FALSE(second.logged_in());

    EXPECT_TRUE(pc.silent_to(net, "127.0.0.2", request(21, false, 0, &second_id)));
    EXPECT_TRUE(first.logged_in());
    EXPECT_TRUE(pc.silent_to(net, "255.255.255.255", request(19, false, 0, &first_id)));
    EXPECT_FALSE(first.logged_in());
}

TEST_F(DeviceB, ReadAnswersOpcode11WithEveryFieldAtItsOffset) {
    const kxsim::settings_b s = kxtest::distinct_settings_b(first_id);
    first.set_settings(s);

    for (uint8_t opcode : {11, 13}) {
        const std::string to = opcode == 11 ? "127.0.0.2" : "255.255.255.255";
        pc.send(to, request(opcode, true, 0x57, &first_id));
        auto reply = pc.receive();
        ASSERT_TRUE(reply);
        EXPECT_FALSE(pc.receive(200));  // the other device stays silent
        ASSERT_EQ(reply->size(), 158u);
        EXPECT_TRUE(crc_good(*reply));
        EXPECT_EQ((*reply)[7], 0x57);
        EXPECT_EQ((*reply)[8], 11);
        EXPECT_EQ((*reply)[9], 16);
        bytes p = unscrambled(*reply);
        EXPECT_EQ(bytes(p.begin() + 56, p.begin() + 64), (bytes{255, 255, 254, 0, 127, 0, 0, 1}));
        EXPECT_EQ(bytes(p.begin() + 64, p.begin() + 76),
                  (bytes{0x12, 0x34, 0x21, 1, 10, 20, 30, 40, 0xBE, 0xEF, 0x22, 0x23}));
        EXPECT_EQ(p[76], 0x24);
        EXPECT_EQ(bytes(p.begin() + 80, p.begin() + 88), (bytes{172, 16, 5, 6, 172, 16, 7, 8}));
        EXPECT_EQ(std::string(p.begin() + 88, p.begin() + 118), "a dw text of thirty characters");
        EXPECT_EQ(bytes(p.begin() + 124, p.begin() + 136),
                  (bytes{0x0B, 0x0A, 0x25, 0x26, 0x80, 0x04, 0, 0, 7, 2, 2, 1}));
        EXPECT_EQ(std::string(p.begin() + 136, p.begin() + 146), "on-text-10");
        EXPECT_EQ(std::string(p.begin() + 146, p.begin() + 156), "pass-word!");
        EXPECT_EQ(std::string(p.begin() + 36, p.begin() + 42), "B-9.99");
        EXPECT_EQ(kxsim::packet_b::decode_settings(*reply), s);
    }
}

TEST_F(DeviceB, WriteWaitsForTheConfirmationBeforeItApplies) {
    kxsim::settings_b wanted = first.settings();
    wanted.baud_hundreds = 384;
    wanted.dest_port = 6001;
    wanted.password = kxsim::text_field<10>("new");
    bytes write = kxsim::packet_b::settings_packet(wanted, 5, 0);
    write[0] = 0;  // the write carries no marker
    put_crc(write);

    pc.send("127.0.0.2", write);
    auto answer = pc.receive();
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->size(), 36u);
    EXPECT_TRUE(crc_good(*answer));
    EXPECT_EQ(first.settings().baud_hundreds, 96);
    ASSERT_TRUE(first.pending_write());
    EXPECT_EQ(*first.pending_write(), wanted);

    // A confirmation for another device applies nothing here.
    EXPECT_TRUE(pc.silent_to(net, "127.0.0.2", request(7, true, 0, &second_id)));
    EXPECT_EQ(first.writes_applied(), 0);

    pc.send("127.0.0.2", request(7, true, 0, &first_id));
    auto confirmed = pc.receive();
    ASSERT_TRUE(confirmed);
    EXPECT_TRUE(crc_good(*confirmed));
    EXPECT_EQ(first.settings(), wanted);
    EXPECT_EQ(first.confirmations(), 1);
    EXPECT_EQ(first.writes_applied(), 1);
    EXPECT_FALSE(first.pending_write());
}

TEST_F(DeviceB, WriteOfAnotherFamilyOrDeviceIsNotTaken) {
    kxsim::settings_b record = first.settings();
    EXPECT_TRUE(pc.silent_to(net, "127.0.0.2", kxsim::packet_b::settings_packet(record, 5, 0, 1)));
    EXPECT_EQ(first.rejected(), 1);
    record.id = second_id;
    EXPECT_TRUE(pc.silent_to(net, "127.0.0.2", kxsim::packet_b::settings_packet(record, 5, 0)));
    EXPECT_FALSE(first.pending_write());
    EXPECT_FALSE(second.pending_write());  // unicast to the first device only
}

TEST_F(DeviceB, SerialBlockAppliesOnlyTheFieldsThatAreNotAllOnes) {
    pc.send("127.0.0.2", serial_request({0x80, 0x04, 0xFF, 0xFF, 0xFF, 0xFF}));
    auto answer = pc.receive();
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->size(), 36u);
    EXPECT_TRUE(crc_good(*answer));
    EXPECT_EQ(first.last_serial_block(),
              (std::array<uint8_t, 6>{0x80, 0x04, 0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(first.settings().baud_hundreds, 1152);
    EXPECT_EQ(first.settings().data_bits, 8);
    EXPECT_EQ(first.settings().parity, 0);

    pc.send("127.0.0.2", serial_request({0xFF, 0xFF, 7, 0xFF, 2, 0xFF}));
    ASSERT_TRUE(pc.receive());
    EXPECT_EQ(first.settings().baud_hundreds, 1152);
    EXPECT_EQ(first.settings().data_bits, 7);
    EXPECT_EQ(first.settings().parity, 2);
    EXPECT_EQ(first.serial_blocks(), 2);
    EXPECT_EQ(second.serial_blocks(), 0);
}

TEST_F(DeviceB, FamilyAProbeGetsTheFamilyBMark) {
    pc.send("127.0.0.3", kxsim::to_bytes("X"), kxsim::family_a_port);
    auto answer = pc.receive();
    ASSERT_TRUE(answer);
    EXPECT_EQ(std::string(answer->begin(), answer->end()), "Q7OTHER");
}

TEST_F(DeviceB, ProtocolFaultsChangeOnlyWhatTheyName) {
    first.reply_family(3);
    first.reply_opcode(11, 12);
    first.foreign_sequence(true);
    pc.send("127.0.0.2", request(11, true, 0x57, &first_id));
    auto reply = pc.receive();
    ASSERT_TRUE(reply);
    EXPECT_TRUE(crc_good(*reply));
    EXPECT_EQ((*reply)[9], 3);
    EXPECT_EQ((*reply)[8], 12);
    EXPECT_NE((*reply)[7], 0x57);

    // Generic faults: a bad CRC, and an answer one byte short.
    fault bad_crc;
    bad_crc.corrupt_last_byte = true;
    bad_crc.times = 1;
    fault one_short;
    one_short.truncate_to = 35;
    one_short.times = 1;
    first.inject(kxsim::opcode_is(9), bad_crc);
    first.inject(kxsim::opcode_is(9), one_short);
    pc.send("127.0.0.2", serial_request({0x60, 0, 0xFF, 0xFF, 0xFF, 0xFF}));
    auto corrupted = pc.receive();
    ASSERT_TRUE(corrupted);
    EXPECT_EQ(corrupted->size(), 36u);
    EXPECT_FALSE(crc_good(*corrupted));
    pc.send("127.0.0.2", serial_request({0x60, 0, 0xFF, 0xFF, 0xFF, 0xFF}));
    auto truncated = pc.receive();
    ASSERT_TRUE(truncated);
    EXPECT_EQ(truncated->size(), 35u);
}

}  // namespace
