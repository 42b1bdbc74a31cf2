// Family B discovery: the search request (marker, opcode 1) and its answer,
// a whole settings packet whose identifying fields fill a device record.
#include "family_b/discovery_b.h"

#include <cstring>
#include <optional>

#include "family_b/family_b.h"
#include "family_b/replies_b.h"
#include "frame/search.h"

namespace kx {

short_packet search_request_b() {
    short_packet request = short_request_b(opcode_b::search, marker::request);
    seal_packet_b(request);
    return request;
}

request_datagram search_request_datagram_b() {
    const short_packet packet = search_request_b();
    request_datagram request{{}, packet.size()};
    std::memcpy(request.bytes, packet.data(), packet.size());
    return request;
}

bool parse_answer_b(const family_ops &family, const exchange &ex, kx_device_record &record) {
    // A bad or cut-off packet, or one of another family, is no device.
    kxb_settings_record working{};
    if (judge_search_reply_b(received_bytes(ex), working, family.code) != search_reply::device)
        return false;
    fill_device_record_b(working, record);
    return true;
}

bool identify_answer_b(const family_ops &family, std::span<const uint8_t> answer,
                       kx_device_record &device) {
    if (answer.size() < settings_packet_size || answer[packet_at::family] != family.code ||
        !crc_matches_b(answer))
        return false;
    device.family = family.code;
    for (size_t i = 0; i < sizeof device.device_id; ++i)
        device.device_id[i] = answer[packet_at::device_id + i] ^ scramble_key;
    return true;
}

search_one_outcome search_one_b(const family_ops &family, const char *ip_text,
                                kx_device_record *record) {
    if (record == nullptr) return {KX_E_ARGUMENT};
    exchange ex;
    const std::optional<step> outcome = search_one_of(family, ip_text, ex);
    if (!outcome) return {KX_E_SOCKET, true};
    if (*outcome == step::no_datagram) return {KX_E_TIMEOUT};
    if (*outcome == step::receive_failed) return {KX_E_SOCKET};
    kxb_settings_record working{};
    const search_reply verdict = judge_search_reply_b(received_bytes(ex), working, family.code);
    // An answer of another family is unusable: the record is not filled.
    if (verdict == search_reply::device) fill_device_record_b(working, *record);
    return {result_of(verdict)};
}

}  // namespace kx

using namespace kx;

KXCONF_API int32_t KXCONF_CALL kxb_search_all(kx_device_record *records, int32_t *count) {
    return search_all_of(family_b_ops, records, count);
}

KXCONF_API int32_t KXCONF_CALL kxb_search_one(const char *ip_text, kx_device_record *record) {
    return search_one_b(family_b_ops, ip_text, record).result;
}
