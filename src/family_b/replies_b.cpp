// Family B reply verdicts: each judges one received datagram from its bytes
// alone, so the exchanges only act on the verdict and every verdict maps to
// its result code in one place.
#include "family_b/replies_b.h"

#include "family_b/packet_b.h"

namespace kx {

login_reply judge_login_reply_b(std::span<const uint8_t> reply) {
    if (!crc_matches_b(reply)) return login_reply::bad_crc;
    return reply.size() > packet_at::opcode && reply[packet_at::opcode] == opcode_b::login_accepted
               ? login_reply::accepted
               : login_reply::refused;
}

search_reply judge_search_reply_b(std::span<const uint8_t> reply, kxb_settings_record &record,
                                  uint8_t code) {
    if (reply.size() < settings_packet_size || !crc_matches_b(reply)) return search_reply::damaged;
    // A reply of another family leaves the record as it was.
    return unpack_settings_b(reply, record, code) ? search_reply::device
                                                  : search_reply::other_family;
}

read_reply judge_read_reply_b(std::span<const uint8_t> reply, kxb_settings_record &record,
                              uint8_t code) {
    if (reply.size() <= packet_at::opcode || reply[packet_at::opcode] != opcode_b::read_reply)
        return read_reply::wrong_opcode;
    switch (judge_search_reply_b(reply, record, code)) {
        case search_reply::device:
            return read_reply::settings;
        case search_reply::damaged:
            return read_reply::damaged;
        case search_reply::other_family:
            break;
    }
    return read_reply::other_family;
}

short_reply judge_write_reply_b(std::span<const uint8_t> reply) {
    // The answer's contents beyond its CRC are not examined.
    return crc_matches_b(reply) ? short_reply::answered : short_reply::damaged;
}

short_reply judge_serial_reply_b(std::span<const uint8_t> reply) {
    return reply.size() >= short_packet_size && crc_matches_b(reply) ? short_reply::answered
                                                                     : short_reply::damaged;
}

int32_t result_of(login_reply verdict) {
    switch (verdict) {
        case login_reply::accepted:
            return KX_OK;
        case login_reply::refused:
            return KX_E_REFUSED;
        case login_reply::bad_crc:
            break;
    }
    return KX_E_REPLY;
}

int32_t result_of(search_reply verdict) {
    return verdict == search_reply::device ? KX_OK : KX_E_REPLY;
}

int32_t result_of(read_reply verdict) {
    return verdict == read_reply::settings ? KX_OK : KX_E_REPLY;
}

int32_t result_of(short_reply verdict) {
    return verdict == short_reply::answered ? KX_OK : KX_E_REPLY;
}

}  // namespace kx
