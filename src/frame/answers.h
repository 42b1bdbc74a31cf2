// The answers a search collects from one socket: each device of any family
// listed once in the caller's array (same family and identifier: same
// device), in order of first answer, never past the array's capacity.
#pragma once

#include <cstddef>
#include <cstdint>

#include "frame/exchange.h"
#include "frame/family.h"
#include "frame/listed_devices.h"
#include "kxconf.h"

namespace kx {

// The families in the order kx_discover sends their requests, which is the
// order their parsers try an answer: the list's first family last, since the
// devices of every family answer its probe, and a device's answer to its own
// family's request should come ahead of that.
const family_ops &family_in_turn(size_t turn);

// What one datagram received by a search was.
struct answer_verdict {
    enum { device, probe_answer, other } kind = other;
    // probe_answer: the family whose device answered the first family's
    // probe in that family's own way ("Q7"), to be asked again in it.
    const family_ops *family = nullptr;
};

class collected_devices {
  public:
    collected_devices(kx_device_record *records, int32_t capacity)
        : records_(records), capacity_(capacity), index_(records) {}

    // Takes the exchange's last datagram: a device answer (listed unless it
    // was, or noted as one too many), another family's answer to the
    // probe, or anything else.
    answer_verdict take(const exchange &ex);

    int32_t listed() const { return listed_; }
    // More devices answered than the array holds.
    bool overflowed() const { return overflowed_; }
    // The answers that the devices listed give to one request of every
    // family: one to their own family's, and one more to the first family's
    // probe where their family answers it.
    int64_t answers_per_round() const;

  private:
    kx_device_record *records_;
    int32_t capacity_;
    listed_devices index_;
    int32_t listed_ = 0;
    bool overflowed_ = false;
};

}  // namespace kx
