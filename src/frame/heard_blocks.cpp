#include "frame/heard_blocks.h"

#include <algorithm>

namespace kx {

heard_blocks::block *heard_blocks::block_of(uint32_t base, uint8_t first, uint8_t last) {
    for (int i = 0; i < count_; ++i)
        if (blocks_[i].base == base) {
            blocks_[i].first = std::min(blocks_[i].first, first);
            blocks_[i].last = std::max(blocks_[i].last, last);
            return &blocks_[i];
        }
    if (count_ == capacity) {
        complete_ = false;
        return nullptr;
    }
    block &added = blocks_[count_++];
    added.base = base;
    added.first = first;
    added.last = last;
    return &added;
}

void heard_blocks::heard(platform::ipv4_net address) {
    const uint32_t number = platform::number_of(address);
    if (block *b = block_of(number & ~0xFFu, 1, 254))
        b->heard[(number & 0xFF) / 8] |= static_cast<uint8_t>(1u << (number & 7));
}

bool heard_blocks::was_heard(platform::ipv4_net address) const {
    const uint32_t number = platform::number_of(address);
    for (int i = 0; i < count_; ++i)
        if (blocks_[i].base == (number & ~0xFFu))
            return (blocks_[i].heard[(number & 0xFF) / 8] >> (number & 7) & 1) != 0;
    return false;
}

void heard_blocks::add_subnet(const platform::adapter &adapter) {
    const uint32_t mask = platform::number_of(adapter.netmask);
    const uint32_t size = ~mask + 1;
    if (mask == 0 || size > most_subnet_addresses || size < 2) return;
    const uint32_t network = platform::number_of(adapter.address) & mask;
    // A /31's two addresses are both its devices'; larger subnets keep their
    // first and last for the network and broadcast.
    const uint32_t first = size == 2 ? network : network + 1;
    const uint32_t last = size == 2 ? network + 1 : network + size - 2;
    for (uint32_t base = first & ~0xFFu; base <= (last & ~0xFFu); base += 0x100) {
        const uint8_t from = static_cast<uint8_t>(std::max(first, base) & 0xFF);
        const uint8_t to = static_cast<uint8_t>(std::min(last, base + 0xFF) & 0xFF);
        block_of(base, from, to);
    }
}

bool heard_blocks::next_unheard(platform::ipv4_net &address) {
    for (; at_block_ < count_; ++at_block_, at_offset_ = -1) {
        const block &b = blocks_[at_block_];
        if (at_offset_ < b.first) at_offset_ = b.first - 1;
        while (++at_offset_ <= b.last)
            if ((b.heard[at_offset_ / 8] >> (at_offset_ % 8) & 1) == 0) {
                address = platform::address_of(b.base | static_cast<uint32_t>(at_offset_));
                return true;
            }
    }
    return false;
}

}  // namespace kx
