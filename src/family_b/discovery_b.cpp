// Family B discovery: the search request (marker, opcode 1) and its answer,
// a whole settings packet whose identifying fields fill a device record.
#include <cstring>

#include "family_b/family_b.h"

namespace kx {

short_packet search_request_b() {
    short_packet request = short_request_b(opcode_b::search, marker::request);
    seal_packet_b(request);
    return request;
}

}  // namespace kx

using namespace kx;

KXCONF_API int32_t KXCONF_CALL kxb_search_all(kx_device_record *records, int32_t *count) {
    if (records == nullptr || count == nullptr) return KX_E_ARGUMENT;
    exchange ex;
    if (open_exchange(ex, nullptr, family_b_port, target::search_broadcast) != KX_OK)
        return KX_E_SOCKET;
    const short_packet request = search_request_b();
    int32_t found = 0;
    bool have_previous = false;
    uint8_t previous_id[6] = {};
    collect(ex, request.data(), request.size(), search_quiet_ms, [&](exchange &e) {
        // A bad or cut-off packet is skipped.
        kxb_settings_record working{};
        if (judge_search_reply_b(received_bytes(e), working) != search_reply::device) return;
        kx_device_record &slot = records[found];
        fill_device_record_b(working, slot);
        // Consecutive answers of one device share a slot.
        if (!have_previous || std::memcmp(working.device_id, previous_id, 6) != 0) ++found;
        std::memcpy(previous_id, working.device_id, 6);
        have_previous = true;
    });
    close_exchange(ex);
    *count = found;
    return KX_OK;
}

KXCONF_API int32_t KXCONF_CALL kxb_search_one(const char *ip_text, kx_device_record *record) {
    if (record == nullptr) return KX_E_ARGUMENT;
    exchange ex;
    if (open_exchange(ex, ip_text, family_b_port, target::address) != KX_OK) return KX_E_SOCKET;
    const short_packet request = search_request_b();
    const step outcome = single_reply(ex, request.data(), request.size(), reply_wait_ms);
    close_exchange(ex);
    if (outcome == step::no_datagram) return KX_E_TIMEOUT;
    if (outcome == step::receive_failed) return KX_E_SOCKET;
    kxb_settings_record working{};
    const search_reply verdict = judge_search_reply_b(received_bytes(ex), working);
    // An answer of another family is unusable: the record is not filled.
    if (verdict == search_reply::device) fill_device_record_b(working, *record);
    return result_of(verdict);
}
