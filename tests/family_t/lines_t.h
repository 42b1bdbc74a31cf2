// Family T's datagrams: a 4-byte header ('K', 'V', a sequence byte that the
// reply echoes, the number of lines), then KEY=VALUE lines, each ended by
// '\n'. Every request's first line is OP=<operation>.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "frame/exchange.h"

namespace kx {

constexpr size_t header_size_t = 4;

// The sequence byte of each operation, so that a late reply to another
// operation is never taken for this one's.
enum class sequence_t : uint8_t { who = 1, login, get, set, bye, serial };

// A request being built; a line that would not fit sets overflow.
struct message_t {
    uint8_t bytes[max_datagram] = {};
    size_t length = 0;
    bool overflow = false;

    message_t(sequence_t sequence, std::string_view operation);
    void add(std::string_view key, std::string_view value);
    void add(std::string_view key, uint32_t value);
};

// A received datagram's lines, once its header is checked: well formed
// (magic, as many lines as it says, each KEY=VALUE) with this sequence byte.
class reply_t {
  public:
    reply_t(std::span<const uint8_t> datagram, sequence_t sequence);
    bool valid() const { return valid_; }
    // The value of the first line with that key; empty when none.
    std::string_view value(std::string_view key) const;
    bool has(std::string_view key) const;
    // A decimal value of at most max; false when absent or anything else.
    bool number(std::string_view key, uint32_t max, uint32_t &out) const;
    bool operation_is(std::string_view operation) const { return value("OP") == operation; }

  private:
    std::string_view lines_;
    bool valid_ = false;
};

}  // namespace kx
