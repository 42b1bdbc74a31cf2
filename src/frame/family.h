// One constant table per family: everything the generic code needs to run the
// family without naming it. The generic layer looks a family up by the code
// in the first byte of a record, and walks the family list
// (frame/family_list.cpp, the one file under frame/ that names a family) to
// search.
//
// Every operation is handed its own table entry, so one protocol's code
// serves each family that speaks it with other constants (code, port).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "frame/exchange.h"
#include "frame/record_map.h"
#include "kxconf.h"

namespace kx {

// A search request: one datagram, at most a short family packet.
struct request_datagram {
    uint8_t bytes[64];
    size_t length;
};

// Room for any family's own settings record, which the generic read and
// write hold for the length of the call (each family checks that its record
// fits).
constexpr size_t family_record_room = 256;

// A single-device search's result, and whether its socket could not be
// prepared (nothing was sent): family A's own result does not tell that from
// silence, and the generic search reports it as such.
struct search_one_outcome {
    int32_t result;
    bool socket_failed = false;
};

struct family_ops {
    uint8_t code;  // KX_FAMILY_*, the first byte of every record of the family
    // What kx_family_info tells a host: the letter tools name the family
    // by, and in a few words what its devices speak.
    char letter;
    std::string_view name;
    uint16_t device_port;    // where its devices listen
    uint16_t record_size;    // its own settings record, in bytes
    int search_one_wait_ms;  // how long the single-device search waits for its answer

    request_datagram (*search_request)();
    // A search answer, the exchange's last datagram, into the record's
    // discovery fields: true for a device of this family. Anything else
    // gives false and writes nothing.
    bool (*parse_answer)(const family_ops &family, const exchange &ex, kx_device_record &record);
    // Where the family can tell a search answer's family and identifier
    // without decoding the rest, that look (true for a sound answer of the
    // family, family and device_id written); null where it cannot.
    bool (*identify_answer)(const family_ops &family, std::span<const uint8_t> answer,
                            kx_device_record &device);
    // How the family's devices answer the single-device probe of the list's
    // first family, if they do: with a datagram that begins with these bytes
    // (family B: "Q7"). kx_search_one then asks again in this family's
    // protocol; a family whose devices do not answer the probe (empty) is
    // asked in its own when the probe gets no answer.
    std::string_view probe_answer;
    // One device by address: KX_OK with the record filled; from the list's
    // first family also the code of the family whose device answered.
    search_one_outcome (*search_one)(const family_ops &family, const char *ip_text,
                                     kx_device_record *record);

    int32_t (*login)(const family_ops &family, const char *ip_text, const uint8_t *device_id,
                     const kx_settings_record *login);
    int32_t (*logout)(const family_ops &family, const char *ip_text, const uint8_t *device_id);
    // Read and write of the family's own settings record (family_record_room
    // bytes, zeroed before a read), which settings_map maps to and from the
    // generic record.
    const record_map *settings_map;
    int32_t (*read_record)(const family_ops &family, const char *ip_text, const uint8_t *device_id,
                           uint8_t *record, const kx_device_record *device);
    int32_t (*write_record)(const family_ops &family, const char *ip_text, const uint8_t *device_id,
                            const uint8_t *record, const kx_device_record *device);
    // Quick settings of the serial line.
    int32_t (*set_baud)(const family_ops &family, const char *ip_text, uint32_t baud_rate);
    int32_t (*set_parity)(const family_ops &family, const char *ip_text, uint32_t parity);
    int32_t (*set_data_bits)(const family_ops &family, const char *ip_text, uint32_t data_bits);
};

// Every family in search order (frame/family_list.cpp).
extern const std::span<const family_ops *const> family_list;

// The family whose code a record starts with; null for an unknown code or a
// null record.
const family_ops *find_family(const void *record);
const family_ops *family_by_code(int32_t code);

}  // namespace kx
