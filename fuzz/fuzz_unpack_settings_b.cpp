// Feeds arbitrary datagrams to the family B settings decoder: it must never
// read past the datagram nor write outside the record or its named fields,
// and what it decodes must survive packing and decoding again unchanged.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "family_b/packet_b.h"
#include "family_b/replies_b.h"
#include "frame/exchange.h"

namespace {

constexpr uint8_t untouched = 0xA5;

bool same(const kxb_settings_record &a, const kxb_settings_record &b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size > kx::max_datagram) return 0;  // the receive area's limit
    // Exactly as large as the datagram, so the sanitizers see any overrun.
    std::vector<uint8_t> datagram(data, data + size);
    (void)kx::crc_matches_b(datagram);

    kxb_settings_record record;
    std::memset(&record, untouched, sizeof record);
    if (!kx::unpack_settings_b(datagram, record)) {
        kxb_settings_record fresh;
        std::memset(&fresh, untouched, sizeof fresh);
        if (!same(record, fresh)) std::abort();  // refused, yet written
        return 0;
    }
    if (record.family != KX_FAMILY_B || record.reserved_1[0] != untouched ||
        record.reserved_122[1] != untouched)
        std::abort();

    kx_device_record device;
    std::memset(&device, untouched, sizeof device);
    kx::fill_device_record_b(record, device);
    if (device.reserved_49 != untouched ||
        static_cast<uint8_t>(device.answered_from[0]) != untouched ||
        device.reserved_148[109] != untouched)
        std::abort();

    kx::settings_packet packet{};
    if (kx::pack_settings_b(record, packet) != kx::settings_image_size) std::abort();
    packet[kx::packet_at::family] = KX_FAMILY_B;
    kxb_settings_record again;
    std::memcpy(&again, &record, sizeof again);
    std::memset(again.device_name, 0, sizeof again.device_name);
    again.baud_hundreds = static_cast<uint16_t>(~record.baud_hundreds);
    if (!kx::unpack_settings_b(packet, again) || !same(again, record)) std::abort();
    return 0;
}
