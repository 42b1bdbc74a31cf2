// Feeds arbitrary datagrams to the family A search reply parser: it must
// never read past the datagram nor write outside the device record.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "family_a/discovery_a.h"
#include "frame/exchange.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size > kx::max_datagram) return 0;  // the receive area's limit
    // Exactly the received bytes and the NUL stored after them, on the heap,
    // so that the sanitizers see any read beyond.
    std::vector<uint8_t> reply(data, data + size);
    reply.push_back(0);
    kx_device_record record;
    std::memset(&record, 0xA5, sizeof record);
    kx::parse_search_reply_a(reply.data(), size, record);
    return 0;
}
