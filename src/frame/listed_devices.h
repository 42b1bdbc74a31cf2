// The devices a search has listed so far in the caller's array (same family
// and identifier: same device), looked up through a hash table of their
// positions, so that a thousand answers cost a thousand look-ups rather than
// half a million comparisons. Devices past hashed_limit are compared one by
// one, so an array of any length is served.
#pragma once

#include <cstdint>
#include <cstring>

#include "kxconf.h"

namespace kx {

inline bool same_device(const kx_device_record &a, const kx_device_record &b) {
    return a.family == b.family && std::memcmp(a.device_id, b.device_id, sizeof a.device_id) == 0;
}

class listed_devices {
  public:
    explicit listed_devices(const kx_device_record *records) : records_(records) {}

    // Whether device is one of records[0 .. listed-1].
    bool contains(const kx_device_record &device, int32_t listed) const {
        for (uint32_t s = slot_of(device); positions_[s] != 0; s = (s + 1) % slots)
            if (same_device(records_[positions_[s] - 1], device)) return true;
        for (int32_t i = hashed_limit; i < listed; ++i)
            if (same_device(records_[i], device)) return true;
        return false;
    }

    // The device just stored at records[position].
    void add(int32_t position) {
        if (position >= hashed_limit) return;
        uint32_t s = slot_of(records_[position]);
        while (positions_[s] != 0) s = (s + 1) % slots;
        positions_[s] = static_cast<uint16_t>(position + 1);
    }

  private:
    static constexpr uint32_t slots = 4096;
    static constexpr int32_t hashed_limit = slots * 3 / 4;  // the table never fills

    // FNV-1a over the identifier. Devices of two families with one
    // identifier share a chain, and same_device alone tells them apart.
    static uint32_t slot_of(const kx_device_record &device) {
        uint32_t hash = 2166136261u;
        for (uint8_t b : device.device_id) hash = (hash ^ b) * 16777619u;
        return hash % slots;
    }

    const kx_device_record *records_;
    uint16_t positions_[slots] = {};  // position + 1; 0 is an empty slot
};

}  // namespace kx
