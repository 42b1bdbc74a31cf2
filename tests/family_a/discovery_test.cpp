// Family A discovery against simulated devices.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <set>
#include <string>
#include <thread>

#include "device_a.h"
#include "kxconf.h"
#include "lan.h"
#include "support/records.h"
#include "support/trace.h"

namespace {

using namespace std::string_literals;
using kxsim::fault;

// A plausible reply of exactly `length` bytes, for the length rules.
std::string reply_of_length(size_t length, const std::string &id = "9.9.9.9.9.9") {
    std::string r = "A" + id + "/1/a/b/c/N/";
    r.resize(length, '-');
    return r;
}

using kxtest::elapsed_ms;

struct search_all_result {
    int32_t result;
    int32_t count;
    int64_t ms;
};

search_all_result search_all(kx_device_record *records) {
    search_all_result r{0, -7, 0};
    const auto start = std::chrono::steady_clock::now();
    r.result = kxa_search_all(records, &r.count);
    r.ms = elapsed_ms(start);
    return r;
}

std::string id_of(const kx_device_record &r) {
    return std::to_string(r.device_id[0]) + "." + std::to_string(r.device_id[5]);
}

TEST(SearchAllA, NothingAnsweringEndsAfterTheQuietTimeWithCountZero) {
    kxsim::lan lan;
    kx_device_record records[2];
    auto r = search_all(records);
    EXPECT_EQ(r.result, KX_OK);
    EXPECT_EQ(r.count, 0);
    EXPECT_GE(r.ms, 290);
    EXPECT_LT(r.ms, 900);
    // Exactly one probe, broadcast, from the library's port.
    auto trace = lan.received_on(kxsim::family_a_port);
    ASSERT_EQ(trace.size(), 1u);
    EXPECT_EQ(trace[0].text(), "X");
    EXPECT_TRUE(trace[0].broadcast());
    EXPECT_EQ(trace[0].source_port, kxsim::host_port);
}

TEST(SearchAllA, ListsEveryDeviceWithItsFields) {
    kxsim::lan lan;
    auto &p = lan.add<kxsim::device_a>("127.0.0.2", "0.16.2.3.4.5", "ALPHA");
    lan.add<kxsim::device_a>("127.0.0.3", "0.16.2.3.4.6", "BETA");
    p.set_setting("PN", "502");
    p.set_setting("NM", "255.255.0.0");
    // The second device answers a little later, so the order is known.
    lan.add<kxsim::device_a>("127.0.0.4", "0.16.2.3.4.7", "GAMMA")
        .inject(kxsim::any_request(), fault().late(60));
    kx_device_record records[4];
    std::memset(records, 0, sizeof records);
    auto r = search_all(records);
    ASSERT_EQ(r.result, KX_OK);
    ASSERT_EQ(r.count, 3);
    EXPECT_STREQ(records[2].device_name, "GAMMA");
    for (int i = 0; i < 2; ++i) {
        const kx_device_record &d = records[i];
        const bool alpha = std::string(d.device_name) == "ALPHA";
        EXPECT_EQ(d.family, KX_FAMILY_A);
        EXPECT_STREQ(d.ip_address, alpha ? "127.0.0.2" : "127.0.0.3");
        EXPECT_EQ(d.device_id[5], alpha ? 5 : 6);
        EXPECT_EQ(d.local_port, alpha ? 502 : 4001);
        if (alpha) {
            EXPECT_STREQ(d.subnet_mask, "255.255.0.0");
        }
    }
}

TEST(SearchAllA, MergesOnlyConsecutiveRepliesOfOneDevice) {
    kxsim::lan lan;
    // P answers twice in a row: listed once.
    auto &p = lan.add<kxsim::device_a>("127.0.0.2", "1.0.0.0.0.1", "P");
    p.inject(kxsim::any_request(), fault().twice());
    kx_device_record records[4];
    auto r = search_all(records);
    EXPECT_EQ(r.count, 1);

    // P, Q, P: three records, in that order.
    p.clear_faults();
    const std::string p_reply = p.search_reply();
    p.inject(kxsim::any_request(), fault().stray_first(p_reply, 80));
    lan.add<kxsim::device_a>("127.0.0.3", "2.0.0.0.0.2", "Q")
        .inject(kxsim::any_request(), fault().late(40));
    r = search_all(records);
    ASSERT_EQ(r.count, 3);
    EXPECT_EQ(id_of(records[0]), "1.1");
    EXPECT_EQ(id_of(records[1]), "2.2");
    EXPECT_EQ(id_of(records[2]), "1.1");
}

TEST(SearchAllA, TakesRepliesOf24BytesAndMoreOnly) {
    kxsim::lan lan;
    // A 23-byte reply ends the drain; the reply queued behind it is still
    // collected by the next wait, which returns at once.
    lan.add<kxsim::device_a>("127.0.0.2", "1.1.1.1.1.1")
        .inject(kxsim::any_request(), fault().reply_with(reply_of_length(23)));
    lan.add<kxsim::device_a>("127.0.0.3", "3.3.3.3.3.3")
        .inject(kxsim::any_request(),
                fault().late(30).reply_with(reply_of_length(24, "3.3.3.3.3.3")));
    kx_device_record records[3];
    auto r = search_all(records);
    ASSERT_EQ(r.count, 1);
    EXPECT_EQ(records[0].device_id[0], 3);
}

TEST(SearchAllA, AnswersThatNameNoDeviceAreNotListedByAnySearch) {
    kxsim::lan lan;
    lan.add<kxsim::device_a>("127.0.0.2", "0.16.2.3.4.5", "REAL");
    // Datagrams of 24 bytes or more that begin with "A" but are no device's
    // answer: the identifier is not six numbers 0-255, or a field holds a
    // control character.
    const std::string junk[] = {
        "A0.16.2.3.4/502/x/y/z/FIVE/",
        "A0.16.2.3.4.5.6/502/x/y/z/SEVEN/",
        "A0.16.2.3.4.256/502/x/y/z/BIG/",
        "A0.16.2.3.4.x/502/x/y/z/LETTER/",
        "A0.16.2.3.4.6/502/x/y/z/N\x7F/",
        "A0.16.2.3.4.7/5\x02/x/y/z/PORT/",
        "A0.16.2.3.4.8/502/x/y/z/N/\0.10.0.0.\x01/255.0.0.0/"s,
        "A" + std::string(40, '\x01'),
    };
    // Well formed, and listed: a name in a device's own code page, and
    // fields padded with NULs.
    const std::string good[] = {
        "A0.16.2.3.4.10/502/x/y/z/Caf\xE9/",
        "A0.16.2.3.4.11/502/x/y/z/PAD/\0.10.0.0.11/255.0.0.0/1/2/3/4\0\0\0"s,
    };
    const auto send_all = [&] {
        int at = 10;
        for (const std::string &text : junk)
            lan.send("127.0.0.9", kxsim::family_a_port, kxsim::to_bytes(text), at++);
        for (const std::string &text : good)
            lan.send("127.0.0.8", kxsim::family_a_port, kxsim::to_bytes(text), at++);
    };
    const std::set<int> listed{5, 10, 11};
    const auto last_bytes = [](const kx_device_record *records, int32_t count) {
        std::set<int> found;
        for (int32_t i = 0; i < count; ++i) found.insert(records[i].device_id[5]);
        return found;
    };
    kx_device_record records[16];
    int32_t count = -1;
    send_all();
    ASSERT_EQ(kxa_search_all(records, &count), KX_OK);
    EXPECT_EQ(last_bytes(records, count), listed);
    send_all();
    ASSERT_EQ(kx_search_all(records, &count), KX_OK);
    EXPECT_EQ(last_bytes(records, count), listed);
    send_all();
    ASSERT_EQ(kx_discover(records, 16, &count, 0), KX_OK);
    EXPECT_EQ(last_bytes(records, count), listed);
}

TEST(SearchAllA, FamilyBAnswersAndOversizedDatagramsAreNeverCounted) {
    kxsim::lan lan;
    lan.add<kxsim::device_a>("127.0.0.2", "1.1.1.1.1.1")
        .inject(kxsim::any_request(), fault().reply_with("Q7" + std::string(40, 'b')));
    lan.add<kxsim::device_a>("127.0.0.3", "3.3.3.3.3.3")
        .inject(kxsim::any_request(), fault().late(30).padded_to(300));
    lan.add<kxsim::device_a>("127.0.0.4", "4.4.4.4.4.4")
        .inject(kxsim::any_request(), fault().late(60).padded_to(256));
    kx_device_record records[4];
    auto r = search_all(records);
    ASSERT_EQ(r.count, 1);
    EXPECT_EQ(records[0].device_id[0], 4);
}

TEST(SearchAllA, ADeviceThatNeverFallsQuietCannotHoldTheCallerForEver) {
    kxsim::lan lan;
    const std::string chatter = reply_of_length(30);
    // Every 100 ms, so that a busy machine delaying one datagram still leaves no 300 ms gap.
    for (int i = 0; i < 120; ++i)
        lan.send("127.0.0.9", kxsim::family_a_port, kxsim::to_bytes(chatter), 100 + i * 100);
    kx_device_record records[2];
    auto r = search_all(records);
    EXPECT_EQ(r.result, KX_OK);
    EXPECT_GE(r.ms, 9900);
    EXPECT_LT(r.ms, 11000);
    EXPECT_EQ(r.count, 1);  // one device, its replies merged
}

TEST(SearchAllA, BusyLocalPortFailsWithoutSending) {
    kxsim::lan lan;
    lan.add<kxsim::device_a>("127.0.0.2", "1.1.1.1.1.1");
    int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(kxsim::host_port);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr *>(&sa), sizeof sa), 0);
    kx_device_record records[2];
    int32_t count = -7;
    EXPECT_EQ(kxa_search_all(records, &count), KX_E_SOCKET);
    EXPECT_EQ(count, 0);
    kx_device_record one;
    EXPECT_EQ(kxa_search_one("127.0.0.2", &one), KX_E_SOCKET);
    ::close(fd);
    EXPECT_TRUE(lan.received().empty());
}

TEST(SearchOneA, FillsAClearedRecordFromTheFirstAnswer) {
    kxsim::lan lan;
    lan.add<kxsim::device_a>("127.0.0.2", "0.16.2.3.4.5", "ALPHA");
    kx_device_record record;
    std::memset(&record, 0xEE, sizeof record);
    ASSERT_EQ(kxa_search_one("127.0.0.2", &record), KX_OK);
    EXPECT_EQ(record.family, KX_FAMILY_A);
    EXPECT_STREQ(record.device_name, "ALPHA");
    EXPECT_STREQ(record.ip_address, "127.0.0.2");
    EXPECT_EQ(record.firmware_version[0], 0);  // cleared, never written
    EXPECT_EQ(record.answered_from[0], 0);
    EXPECT_EQ(record.reserved_148[109], 0);
    auto trace = lan.received_on(kxsim::family_a_port);
    ASSERT_EQ(trace.size(), 1u);
    EXPECT_EQ(trace[0].text(), "X");
    EXPECT_EQ(trace[0].destination, "127.0.0.2");
}

TEST(SearchOneA, JudgesTheAnswer) {
    kxsim::lan lan;
    auto &dev = lan.add<kxsim::device_a>("127.0.0.2", "1.2.3", "SHORT");
    kx_device_record record;

    // A well-formed answer of any length is parsed.
    dev.inject(kxsim::any_request(), fault().once().reply_with("A1.2.3.4.5.6/7"));
    ASSERT_EQ(kxa_search_one("127.0.0.2", &record), KX_OK);
    EXPECT_EQ(record.device_id[5], 6);
    EXPECT_EQ(record.local_port, 7);

    // One that is not (three numbers; a control character in the name) is
    // an unrecognised answer: -3, only family and address set.
    for (const std::string &malformed : {"A1.2.3/1/a/b/c/N/"s, "A1.2.3.4.5.6/1/a/b/c/N\x01/"s}) {
        dev.inject(kxsim::any_request(), fault().once().reply_with(malformed));
        EXPECT_EQ(kxa_search_one("127.0.0.2", &record), KX_E_TIMEOUT) << malformed;
        EXPECT_EQ(record.family, KX_FAMILY_UNKNOWN);
        EXPECT_STREQ(record.ip_address, "127.0.0.2");
        EXPECT_EQ(record.device_id[0], 0);
        EXPECT_EQ(record.local_port, 0);
    }

    // A family B device's answer: 16, with only family and address set.
    dev.inject(kxsim::any_request(), fault().once().reply_with("Q7xyz"));
    ASSERT_EQ(kxa_search_one("127.0.0.2", &record), KX_FAMILY_B_ANSWER);
    EXPECT_EQ(record.family, KX_FAMILY_B);
    EXPECT_STREQ(record.ip_address, "127.0.0.2");
    EXPECT_EQ(record.device_name[0], 0);

    // Neither family: -3, family 255.
    dev.inject(kxsim::any_request(), fault().once().reply_with("hello"));
    EXPECT_EQ(kxa_search_one("127.0.0.2", &record), KX_E_TIMEOUT);
    EXPECT_EQ(record.family, KX_FAMILY_UNKNOWN);
}

TEST(SearchOneA, NoAnswerWithinItsWaitIsASocketFailure) {
    kxsim::lan lan;
    auto &dev = lan.add<kxsim::device_a>("127.0.0.2", "1.1.1.1.1.1");
    dev.inject(kxsim::any_request(), fault().once().late(250));
    kx_device_record record;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(kxa_search_one("127.0.0.2", &record), KX_E_SOCKET);
    EXPECT_LT(elapsed_ms(start), 240);
    // Let the late answer pass: it would be taken by whichever search is open.
    std::this_thread::sleep_for(std::chrono::milliseconds(250));
    // Nothing at the address at all; and a text that is not an address.
    EXPECT_EQ(kxa_search_one("127.0.0.7", &record), KX_E_SOCKET);
    EXPECT_EQ(kxa_search_one("not-an-address", &record), KX_E_SOCKET);
    // Never broadcast, even for a short text.
    for (const auto &d : lan.received_on(kxsim::family_a_port))
        EXPECT_FALSE(d.broadcast()) << d.destination;
}

TEST(SearchOneA, A256ByteReplyIsTakenWholeAndALongerOneFails) {
    kxsim::lan lan;
    auto &dev = lan.add<kxsim::device_a>("127.0.0.2", "1.1.1.1.1.1", "WHOLE");
    // Part two's last field runs to the end of the datagram, so its content
    // shows that all 256 bytes arrived.
    std::string reply = "A1.1.1.1.1.1/1/a/b/c/WHOLE/\0.1.1.1.1/2/3/4/5/"s;
    reply += std::string(256 - reply.size() - 3, '-') + "END";
    ASSERT_EQ(reply.size(), 256u);
    dev.inject(kxsim::any_request(), fault().once().reply_with(reply));
    kx_device_record record;
    ASSERT_EQ(kxa_search_one("127.0.0.2", &record), KX_OK);
    EXPECT_STREQ(record.dest_ip, "---------------");  // 15 characters of the last field
    dev.inject(kxsim::any_request(), fault().once().padded_to(257));
    EXPECT_EQ(kxa_search_one("127.0.0.2", &record), KX_E_SOCKET);
}

}  // namespace
