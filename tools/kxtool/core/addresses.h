// Addresses that would lose a device: written into its own address, mask or
// gateway, they leave it unreachable (or reachable by nobody). Each check
// returns why, or an empty text; --force writes them all the same. And the
// address ranges a search sweeps.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "adapters.h"
#include "context.h"
#include "kxconf.h"

namespace kxtool {

// A value refused on its own in the field: a device address of 0.0.0.0,
// 255.255.255.255, a multicast or reserved address or the host's own; a
// mask that is not contiguous or 0.0.0.0; a gateway that is broadcast,
// multicast or reserved (0.0.0.0: none); an extra address (li_address,
// li_address_2) that is broadcast, multicast or reserved (0.0.0.0: unused).
std::string lost_address(const std::string &field, const std::string &value,
                         const std::vector<adapter> &host);

// The settings about to be written, where their address or mask changes:
// the address may not be its own subnet's network or broadcast address, and
// it must lie on one of the host's subnets.
std::string lost_in_subnet(const kx_settings_record &before, const kx_settings_record &after,
                           const std::vector<adapter> &host);

// An address range to sweep: a CIDR (10.2.0.0/24: its hosts, without the
// network and broadcast addresses but for a /31 or /32), FIRST-LAST
// (10.2.0.5-10.2.0.40, or 10.2.0.5-40 with the last part alone) or one
// address. Empty on success, otherwise why not.
std::string parse_range(const std::string &text, kx_address_range &range);

// Where a search looks beyond a router, as --range, --target and --rate give
// it: ranges as parse_range takes them and targets (a remote subnet's
// broadcast address), each text possibly several joined by commas; a rate
// (unset: the library's default) paces ranges only. one_adapter: the job
// keeps to one adapter's subnet (--interface), which a plan looks beyond.
// Empty on success, otherwise why not.
std::string make_search_plan(const std::vector<std::string> &ranges,
                             const std::vector<std::string> &targets, std::optional<int64_t> rate,
                             bool one_adapter, search_plan &plan);

}  // namespace kxtool
