#include "frame/convert.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>

#include "kxconf.h"

namespace {

std::string id_text(std::array<uint8_t, 6> bytes) {
    uint8_t id[6];
    std::memcpy(id, bytes.data(), 6);
    char text[32];
    std::memset(text, '#', sizeof text);
    kx::id_to_text(id, text, sizeof text);
    return text;
}

std::array<uint8_t, 6> id_bytes(const char *text, uint8_t fill = 0xAA) {
    uint8_t id[6];
    std::memset(id, fill, 6);
    kx::id_from_text(text, id);
    std::array<uint8_t, 6> out;
    std::memcpy(out.data(), id, 6);
    return out;
}

TEST(IdentifierText, ShortestAndLongestForms) {
    EXPECT_EQ(id_text({0, 0, 0, 0, 0, 0}), "0.0.0.0.0.0");
    EXPECT_EQ(id_text({0, 0, 0, 0, 0, 0}).size(), 11u);
    EXPECT_EQ(id_text({255, 255, 255, 255, 255, 255}), "255.255.255.255.255.255");
    EXPECT_EQ(id_text({255, 255, 255, 255, 255, 255}).size(), 23u);
    EXPECT_EQ(id_text({0, 16, 2, 3, 4, 255}), "0.16.2.3.4.255");
}

TEST(IdentifierText, NeverWritesBeyondCapacity) {
    const uint8_t id[6] = {255, 255, 255, 255, 255, 255};
    char text[12];
    std::memset(text, '#', sizeof text);
    char guard = '#';
    kx::id_to_text(id, text, 8);
    EXPECT_STREQ(text, "255.255");
    EXPECT_EQ(text[8], '#');
    EXPECT_EQ(guard, '#');
}

TEST(IdentifierText, ParsesUpToSixComponentsAndKeepsTheRest) {
    EXPECT_EQ(id_bytes("0.17.34.51.68.85"), (std::array<uint8_t, 6>{0, 17, 34, 51, 68, 85}));
    // Fewer components: the remaining bytes keep what the buffer held.
    EXPECT_EQ(id_bytes("1.2.3"), (std::array<uint8_t, 6>{1, 2, 3, 0xAA, 0xAA, 0xAA}));
    // A seventh component is never read.
    EXPECT_EQ(id_bytes("1.2.3.4.5.6.7"), (std::array<uint8_t, 6>{1, 2, 3, 4, 5, 6}));
    // Components are taken modulo 256; a non-digit ends the parse.
    EXPECT_EQ(id_bytes("300.x"), (std::array<uint8_t, 6>{44, 0, 0xAA, 0xAA, 0xAA, 0xAA}));
    EXPECT_EQ(id_bytes(""), (std::array<uint8_t, 6>{0, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA}));
    EXPECT_EQ(id_bytes("1..2"), (std::array<uint8_t, 6>{1, 0, 2, 0xAA, 0xAA, 0xAA}));
}

TEST(IdentifierText, ParseStopsAtTheEndOfABoundedField) {
    uint8_t id[6] = {9, 9, 9, 9, 9, 9};
    const char field[5] = {'1', '.', '2', '.', '3'};  // no NUL: the view bounds it
    kx::id_from_text(std::string_view(field, 3), id);
    EXPECT_EQ(id[0], 1);
    EXPECT_EQ(id[1], 2);
    EXPECT_EQ(id[2], 9);
}

TEST(AddressText, RoundTripsAndRejectsInvalidTextAsAllOnes) {
    uint8_t address[4];
    kx::ip_from_text("192.168.0.1", address);
    EXPECT_EQ(address[0], 192);
    EXPECT_EQ(address[3], 1);
    char text[16];
    kx::ip_to_text(address, text);
    EXPECT_STREQ(text, "192.168.0.1");

    for (const char *invalid : {"300.1.1.1", "not an address", "", "1.2.3.4.5"}) {
        kx::ip_from_text(invalid, address);
        EXPECT_EQ((std::array<uint8_t, 4>{address[0], address[1], address[2], address[3]}),
                  (std::array<uint8_t, 4>{255, 255, 255, 255}))
            << invalid;
    }
    kx::ip_from_text(nullptr, address);
    EXPECT_EQ(address[0], 255);

    const uint8_t widest[4] = {255, 255, 255, 255};
    kx::ip_to_text(widest, text);
    EXPECT_STREQ(text, "255.255.255.255");
}

TEST(FieldText, StopsAtTheFirstNulOrTheFieldEnd) {
    const char with_nul[10] = {'a', 'b', 0, 'c'};
    EXPECT_EQ(kx::field_text(with_nul, 10), "ab");
    const char full[4] = {'w', 'x', 'y', 'z'};
    EXPECT_EQ(kx::field_text(full, 4), "wxyz");
}

}  // namespace
