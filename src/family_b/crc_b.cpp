// CRC-16 of family B packets: polynomial 0x1021, initial value 0, bits not
// reflected, no final XOR, computed a byte at a time from a 256-entry table.
#include <array>

#include "kxconf.h"

namespace {

constexpr uint16_t polynomial = 0x1021;

// Entry i is the CRC of the one-byte message i.
constexpr std::array<uint16_t, 256> make_crc_table() {
    std::array<uint16_t, 256> table{};
    for (unsigned i = 0; i < 256; ++i) {
        uint16_t crc = static_cast<uint16_t>(i << 8);
        for (int bit = 0; bit < 8; ++bit)
            crc = static_cast<uint16_t>((crc & 0x8000) != 0 ? (crc << 1) ^ polynomial : crc << 1);
        table[i] = crc;
    }
    return table;
}

constexpr std::array<uint16_t, 256> crc_table = make_crc_table();
static_assert(crc_table[1] == 0x1021 && crc_table[255] == 0x1EF0);

}  // namespace

KXCONF_API int32_t KXCONF_CALL cal_crc(const uint8_t *data, int32_t length) {
    // Only the low 16 bits of the length count.
    const uint16_t count = static_cast<uint16_t>(static_cast<uint32_t>(length) & 0xFFFFu);
    if (count == 0 || data == nullptr) return 0;
    uint16_t crc = 0;
    for (uint16_t i = 0; i < count; ++i)
        crc =
            static_cast<uint16_t>(crc_table[((crc >> 8) ^ data[i]) & 0xFF] ^ ((crc << 8) & 0xFFFF));
    return crc;
}
