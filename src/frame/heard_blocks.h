// Where a search that lost answers asks one address at a time: the /24
// blocks that device answers came from and the host's own small subnets,
// with the addresses already heard from in each.
#pragma once

#include <cstdint>

#include "platform/platform.h"

namespace kx {

class heard_blocks {
  public:
    static constexpr int capacity = 64;
    // A subnet of the host is asked when it has at most this many addresses.
    static constexpr uint32_t most_subnet_addresses = 1024;

    // A device answered from address: marks it, adding its block (.1 to .254;
    // .0 and .255 are a /24's network and broadcast addresses) when new.
    void heard(platform::ipv4_net address);
    bool was_heard(platform::ipv4_net address) const;
    // Adds the adapter's subnet, without its network and broadcast
    // addresses, when it has at most most_subnet_addresses (a /22).
    void add_subnet(const platform::adapter &adapter);
    // Every block asked for fits in the list.
    bool complete() const { return complete_; }

    // The addresses not heard from, block after block, in order; false when
    // there is none left. Addresses heard from meanwhile are passed over.
    bool next_unheard(platform::ipv4_net &address);
    // next_unheard starts again from the first block.
    void restart() {
        at_block_ = 0;
        at_offset_ = -1;
    }

  private:
    struct block {
        uint32_t base = 0;  // the block's first address, as a number
        uint8_t first = 1, last = 254;
        uint8_t heard[32] = {};
    };
    // The block of base, added (with first..last) when new; null when full.
    block *block_of(uint32_t base, uint8_t first, uint8_t last);

    block blocks_[capacity];
    int count_ = 0;
    bool complete_ = true;
    int at_block_ = 0;  // where next_unheard goes on
    int at_offset_ = -1;
};

}  // namespace kx
