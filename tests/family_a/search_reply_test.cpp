// The family A search reply parser on its own: bounded fields, part one and
// part two, and the family markers.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "family_a/discovery_a.h"

namespace {

using namespace std::string_literals;

struct parsed {
    int result;
    kx_device_record record;
};

parsed parse(const std::string &reply, uint8_t fill = 0xEE) {
    parsed p{};
    std::memset(&p.record, fill, sizeof p.record);
    std::string buffer = reply;
    buffer.push_back('\0');  // the receive area always holds a NUL after the bytes
    p.result = kx::parse_search_reply_a(reinterpret_cast<const uint8_t *>(buffer.data()),
                                        reply.size(), p.record);
    return p;
}

std::string name_of(const kx_device_record &r) {
    return std::string(r.device_name, strnlen(r.device_name, sizeof r.device_name));
}

TEST(SearchReplyA, PartOneFieldsAndPartTwoAddresses) {
    auto p = parse(
        "A0.16.2.3.4.255/502/f3/f4/f5/PORT-7/tail\0.10.0.0.7/255.255.255.0/10.0.0.1/"
        "1.2.3.4/5.6.7.8/10.0.0.9"s);
    ASSERT_EQ(p.result, 1);
    EXPECT_EQ(p.record.family, KX_FAMILY_A);
    const uint8_t id[6] = {0, 16, 2, 3, 4, 255};
    EXPECT_EQ(std::memcmp(p.record.device_id, id, 6), 0);
    EXPECT_EQ(p.record.local_port, 502);
    EXPECT_EQ(name_of(p.record), "PORT-7");
    EXPECT_STREQ(p.record.ip_address, "10.0.0.7");
    EXPECT_STREQ(p.record.subnet_mask, "255.255.255.0");
    EXPECT_STREQ(p.record.gateway, "10.0.0.1");
    EXPECT_STREQ(p.record.li_address, "1.2.3.4");
    EXPECT_STREQ(p.record.li_address_2, "5.6.7.8");
    EXPECT_STREQ(p.record.dest_ip, "10.0.0.9");
    // Family A replies carry no version: those bytes are left as they were.
    EXPECT_EQ(static_cast<uint8_t>(p.record.firmware_version[0]), 0xEE);
}

TEST(SearchReplyA, NameIsCutToNineCharacters) {
    EXPECT_EQ(name_of(parse("A1.2.3.4.5.6/1/a/b/c/TWELVE-CHARS/").record), "TWELVE-CH");
    EXPECT_EQ(name_of(parse("A1.2.3.4.5.6/1/a/b/c/NINE-CHAR/").record), "NINE-CHAR");
    EXPECT_EQ(name_of(parse("A1.2.3.4.5.6/1/a/b/c//").record), "");
    // A name running to the end of the datagram.
    EXPECT_EQ(name_of(parse("A1.2.3.4.5.6/1/a/b/c/END").record), "END");
    // A reply that ends in part one: later fields are empty.
    EXPECT_EQ(name_of(parse("A1.2.3.4.5.6/1").record), "");
}

TEST(SearchReplyA, PortAccumulatesEveryCharacterModulo65536) {
    EXPECT_EQ(parse("A1.2.3.4.5.6/502/").record.local_port, 502);
    EXPECT_EQ(parse("A1.2.3.4.5.6//").record.local_port, 0);
    EXPECT_EQ(parse("A1.2.3.4.5.6/70000/").record.local_port, 70000 % 65536);
    // A non-digit adds its code minus 48, as the devices themselves do.
    EXPECT_EQ(parse("A1.2.3.4.5.6/1:/").record.local_port, 1 * 10 + ('9' + 1 - 48));
}

TEST(SearchReplyA, IdentifierWithFewerComponentsChangesOnlyThose) {
    auto p = parse("A1.2.3/1/a/b/c/N/", 0x77);
    EXPECT_EQ(p.record.device_id[2], 3);
    EXPECT_EQ(p.record.device_id[3], 0x77);
}

TEST(SearchReplyA, PartTwoRules) {
    // No NUL: part two is absent, the addresses keep what they held.
    auto none = parse("A1.2.3.4.5.6/1/a/b/c/N/");
    EXPECT_EQ(static_cast<uint8_t>(none.record.ip_address[0]), 0xEE);
    // The only NUL is the last byte: all six fields empty.
    auto last = parse("A1.2.3.4.5.6/1/a/b/c/N/\0"s);
    EXPECT_STREQ(last.record.ip_address, "");
    EXPECT_STREQ(last.record.dest_ip, "");
    // Part two starts two bytes after the first NUL.
    auto two = parse("A1.2.3.4.5.6/1/a/b/c/N/\0Z9.9.9.9/"s);
    EXPECT_STREQ(two.record.ip_address, "9.9.9.9");
    EXPECT_STREQ(two.record.subnet_mask, "");
    // Part one ignores NULs: the name field runs through one.
    auto nul_in_name = parse("A1.2.3.4.5.6/1/a/b/c/N\0M/"s);
    EXPECT_EQ(nul_in_name.record.device_name[2], 'M');
}

TEST(SearchReplyA, OverlongPartTwoFieldsStayInsideTheirFields) {
    const std::string long_field(40, '7');
    auto p = parse("A1.2.3.4.5.6/1/a/b/c/N/\0."s + long_field + "/" + long_field);
    EXPECT_EQ(std::string(p.record.ip_address), std::string(15, '7'));
    EXPECT_EQ(std::string(p.record.subnet_mask), std::string(15, '7'));
    // The next field was written separately, not by an overflow of the first.
    EXPECT_STREQ(p.record.gateway, "");
}

TEST(SearchReplyA, FamilyMarkers) {
    auto b = parse("Q7whatever");
    EXPECT_EQ(b.result, KX_FAMILY_B);
    EXPECT_EQ(b.record.family, KX_FAMILY_B);
    EXPECT_EQ(static_cast<uint8_t>(b.record.device_name[0]), 0xEE);  // nothing further read

    auto other = parse("Z1.2.3.4.5.6/1/a/b/c/N/");
    EXPECT_EQ(other.result, 0);
    EXPECT_EQ(other.record.family, KX_FAMILY_UNKNOWN);
    EXPECT_EQ(parse("Q").result, 0);
    EXPECT_EQ(parse("").result, 0);
}

TEST(SearchReplyA, Verdicts) {
    kx_device_record r{};
    const std::string device = "A0.16.2.3.4.5/502/f3/f4/f5/NAME";
    const std::string answer_b = "Q7";
    const auto span_of = [](const std::string &s) {
        return std::span<const uint8_t>(reinterpret_cast<const uint8_t *>(s.data()), s.size());
    };
    EXPECT_EQ(kx::judge_search_reply_a(span_of(device), r), kx::search_reply_a::device);
    EXPECT_EQ(kx::judge_search_reply_a(span_of(answer_b), r), kx::search_reply_a::other_family);
    EXPECT_EQ(r.family, KX_FAMILY_B);
    EXPECT_EQ(kx::judge_search_reply_a(span_of("B..."), r), kx::search_reply_a::other);
    EXPECT_EQ(kx::judge_search_reply_a({}, r), kx::search_reply_a::other);
    // The broadcast search lists family A answers of 24 bytes or more only.
    EXPECT_TRUE(kx::listed_search_reply_a(span_of(device)));
    EXPECT_FALSE(kx::listed_search_reply_a(span_of("A0.16.2.3.4.5/502/f3/f4")));
    EXPECT_FALSE(kx::listed_search_reply_a(span_of("Q7" + std::string(30, 'x'))));
}

}  // namespace
