// The searches every family shares: the broadcast search that the older
// searches (kx_search_all, kxa_search_all, kxb_search_all) run for one
// family, and the exchange of the single-device search.
#pragma once

#include <cstdint>
#include <optional>

#include "frame/exchange.h"
#include "frame/family.h"
#include "kxconf.h"

namespace kx {

// The family's search request, broadcast to its port, and its devices'
// answers until 300 ms pass without one, from records[0] on. Consecutive
// answers of one device share a slot; with the every-adapter option, which
// has each adapter's copy of the request answered, every answer of a device
// listed already does. The slot after the last device may be written too.
// KX_OK with the count, KX_E_ARGUMENT for a null pointer, or KX_E_SOCKET
// with a count of 0 when the socket cannot be prepared.
int32_t search_all_of(const family_ops &family, kx_device_record *records, int32_t *count);

// The family's search request to the address on its port, and the first
// datagram back from that address within the family's wait, in ex (closed
// on return); no value when the socket cannot be prepared (nothing sent).
std::optional<step> search_one_of(const family_ops &family, const char *ip_text, exchange &ex);

}  // namespace kx
