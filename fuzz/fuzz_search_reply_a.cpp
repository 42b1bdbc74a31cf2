// Feeds arbitrary datagrams to the family A search reply parser and to the
// check of a well-formed answer: neither may read past the datagram, nor the
// parser write outside the device record.
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
    (void)kx::well_formed_search_reply_a({reply.data(), size});
    return 0;
}
