// Family A discovery: the one-byte probe "X" and its text reply
// "A<id>/<port>/f3/f4/f5/<name>/..." NUL x "<ip>/<mask>/<gateway>/<li>/<li2>/<dest>".
#include "family_a/discovery_a.h"

#include <cstring>
#include <optional>
#include <string_view>

#include "family_a/family_a.h"
#include "frame/convert.h"
#include "frame/exchange.h"
#include "frame/search.h"

namespace kx {

namespace {

// A cursor over the received bytes; fields end at '/' or at the end.
struct field_reader {
    const uint8_t *bytes;
    size_t length;
    size_t at;

    // The next field, and moves past its closing '/'.
    std::string_view next() {
        const size_t start = at < length ? at : length;
        size_t end = start;
        while (end < length && bytes[end] != '/') ++end;
        at = end + 1;
        return {reinterpret_cast<const char *>(bytes) + start, end - start};
    }
};

// Copies at most width - 1 characters and a NUL.
template <size_t N>
void store_text(char (&field)[N], std::string_view text) {
    const size_t n = text.size() < N - 1 ? text.size() : N - 1;
    std::memcpy(field, text.data(), n);
    field[n] = '\0';
}

uint16_t parse_port(std::string_view text) {
    uint16_t value = 0;
    // Every character counts, digit or not, as the devices' own firmware does.
    for (char c : text)
        value = static_cast<uint16_t>(value * 10 + (static_cast<signed char>(c) - 48));
    return value;
}

void write_sender(const exchange &ex, kx_device_record &record) {
    uint8_t address[4];
    std::memcpy(address, &ex.sender, 4);
    ip_to_text(address, record.ip_address);
}

// The family whose devices answer the probe as the reply begins; null for
// none.
const family_ops *family_answering(const uint8_t *text, size_t length) {
    const std::string_view reply{reinterpret_cast<const char *>(text), length};
    for (const family_ops *family : family_list)
        if (!family->probe_answer.empty() && reply.starts_with(family->probe_answer)) return family;
    return nullptr;
}

bool control_character(char c) {
    const auto byte = static_cast<uint8_t>(c);
    return byte < 0x20 || byte == 0x7F;
}

// A field's text, as a reader of the record sees it: up to a NUL in it.
std::string_view text_of(std::string_view field) { return field.substr(0, field.find('\0')); }

bool printable(std::string_view field) {
    for (char c : text_of(field))
        if (control_character(c)) return false;
    return true;
}

// Six decimal numbers 0-255 joined by '.', and nothing else.
bool valid_identifier(std::string_view text) {
    size_t at = 0;
    for (int number = 1;; ++number) {
        unsigned value = 0;
        size_t digits = 0;
        for (; at < text.size() && text[at] >= '0' && text[at] <= '9' && digits <= 3; ++at) {
            value = value * 10 + static_cast<unsigned>(text[at] - '0');
            ++digits;
        }
        if (digits == 0 || digits > 3 || value > 255) return false;
        if (number == 6) return at == text.size();
        if (at == text.size() || text[at] != '.') return false;
        ++at;
    }
}

}  // namespace

bool well_formed_search_reply_a(std::span<const uint8_t> reply) {
    if (reply.empty() || reply[0] != 'A') return false;
    field_reader part_one{reply.data(), reply.size(), 1};
    if (!valid_identifier(text_of(part_one.next()))) return false;
    if (!printable(part_one.next())) return false;  // port
    for (int skipped = 0; skipped < 3; ++skipped) part_one.next();
    if (!printable(part_one.next())) return false;  // name
    const void *nul = std::memchr(reply.data(), '\0', reply.size());
    if (nul == nullptr) return true;
    field_reader part_two{
        reply.data(), reply.size(),
        static_cast<size_t>(static_cast<const uint8_t *>(nul) - reply.data()) + 2};
    for (int field = 0; field < 6; ++field)
        if (!printable(part_two.next())) return false;
    return true;
}

int parse_search_reply_a(const uint8_t *text, size_t length, kx_device_record &record) {
    if (const family_ops *other = family_answering(text, length); other != nullptr) {
        record.family = other->code;
        return other->code;
    }
    if (length < 1 || text[0] != 'A') {
        record.family = KX_FAMILY_UNKNOWN;
        return 0;
    }
    record.family = KX_FAMILY_A;
    field_reader part_one{text, length, 1};
    id_from_text(part_one.next(), record.device_id);
    record.local_port = parse_port(part_one.next());
    for (int skipped = 0; skipped < 3; ++skipped) part_one.next();
    store_text(record.device_name, part_one.next());

    const void *nul = std::memchr(text, '\0', length);
    if (nul == nullptr) return 1;
    field_reader part_two{text, length,
                          static_cast<size_t>(static_cast<const uint8_t *>(nul) - text) + 2};
    store_text(record.ip_address, part_two.next());
    store_text(record.subnet_mask, part_two.next());
    store_text(record.gateway, part_two.next());
    store_text(record.li_address, part_two.next());
    store_text(record.li_address_2, part_two.next());
    store_text(record.dest_ip, part_two.next());
    return 1;
}

search_reply_a judge_search_reply_a(std::span<const uint8_t> reply, kx_device_record &record) {
    switch (parse_search_reply_a(reply.data(), reply.size(), record)) {
        case 1:
            return search_reply_a::device;
        case 0:
            return search_reply_a::other;
        default:
            return search_reply_a::other_family;
    }
}

request_datagram search_request_datagram_a() {
    request_datagram request{{}, sizeof search_request_a};
    std::memcpy(request.bytes, search_request_a, sizeof search_request_a);
    return request;
}

bool parse_answer_a(const family_ops &, const exchange &ex, kx_device_record &record) {
    if (!listed_search_reply_a(received_bytes(ex))) return false;
    write_sender(ex, record);
    return judge_search_reply_a(received_bytes(ex), record) == search_reply_a::device;
}

search_one_outcome search_one_a(const family_ops &family, const char *ip_text,
                                kx_device_record *record) {
    if (record == nullptr) return {KX_E_ARGUMENT};
    std::memset(record, 0, sizeof *record);
    exchange ex;
    const std::optional<step> outcome = search_one_of(family, ip_text, ex);
    if (!outcome) return {KX_E_SOCKET, true};
    if (*outcome != step::received) return {KX_E_SOCKET};
    write_sender(ex, *record);
    switch (judge_search_reply_a(received_bytes(ex), *record)) {
        case search_reply_a::device:
            if (well_formed_search_reply_a(received_bytes(ex))) return {KX_OK};
            // Judged as any unrecognised answer: only family and address.
            std::memset(record, 0, sizeof *record);
            write_sender(ex, *record);
            record->family = KX_FAMILY_UNKNOWN;
            break;
        case search_reply_a::other_family:
            return {record->family};  // KX_FAMILY_B_ANSWER for family B
        case search_reply_a::other:
            break;
    }
    return {KX_E_TIMEOUT};
}

}  // namespace kx

using namespace kx;

KXCONF_API int32_t KXCONF_CALL kxa_search_all(kx_device_record *records, int32_t *count) {
    return search_all_of(family_a_ops, records, count);
}

KXCONF_API int32_t KXCONF_CALL kxa_search_one(const char *ip_text, kx_device_record *record) {
    return search_one_a(family_a_ops, ip_text, record).result;
}
