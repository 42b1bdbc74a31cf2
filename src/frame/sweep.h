// Asking addresses one at a time, paced, from one socket: the engine of
// kx_sweep and of the completion of a search that lost answers.
#pragma once

#include <cstdint>

#include "frame/answers.h"
#include "frame/exchange.h"
#include "frame/heard_blocks.h"
#include "kxconf.h"

namespace kx {

// The addresses a sweep asks, in order.
class address_source {
  public:
    virtual ~address_source() = default;
    // The next address to ask; false when there is none left.
    virtual bool next(platform::ipv4_net &address) = 0;
};

// The caller's progress callback and the size of its sweep.
struct sweep_progress {
    kx_sweep_progress report;
    void *context;
    uint32_t total;
};

struct sweep_outcome {
    bool cut = false;      // the deadline came first, or answers never fell quiet
    bool stopped = false;  // the progress callback stopped it
    bool lost = false;     // answers were dropped, or too many wanted asking again
    bool incomplete() const { return cut || stopped || lost; }
};

// Asks every address of source with the first family's single-device
// request, and each device that answers in another family's way ("Q7") once
// more in its own family's protocol, no faster than rate (datagrams per
// second) together; hands every answer to devices, and marks in blocks
// (when given) the senders of device answers, whose probe answers are then
// not followed up. No further address is asked once devices overflowed.
// Ends when everything has been asked and 300 ms pass without an answer,
// or at deadline (platform::now_ms clock).
sweep_outcome sweep(exchange &ex, collected_devices &devices, heard_blocks *blocks,
                    address_source &source, uint32_t rate, int64_t deadline,
                    const sweep_progress *progress);

}  // namespace kx
