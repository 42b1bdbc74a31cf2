// Feeds arbitrary datagrams to the family A get-reply decoder: it must never
// read past the datagram nor write outside the settings record.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "family_a/settings_a.h"
#include "frame/exchange.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size > kx::max_datagram) return 0;  // the receive area's limit
    // Exactly as large as a datagram can be, with the NUL the receive area
    // stores after the bytes, so the sanitizers see any overrun.
    uint8_t reply[kx::max_datagram + 1];
    std::memcpy(reply, data, size);
    reply[size] = 0;
    kxa_settings_record record;
    std::memset(&record, 0xA5, sizeof record);
    kx::store_reply_a(reply, size, record);
    return 0;
}
