// A simulated family T device (family_t.h): KEY=VALUE lines on its own port.
//
// A datagram is 'K', 'V', a sequence byte, the number of lines, then the
// lines, each KEY=VALUE and '\n'. The device answers OP=WHO, broadcast or
// sent to it, with OP=IAM and its identity; every other request must name
// it (ID=), and its answer echoes the sequence byte and names it too:
//   LOGIN (PASS)          OK with SESSION=n, a new number each time, or DENIED
//   GET, SET, BYE         only with the SESSION of the last login, else ERR;
//                         GET answers every setting, SET takes those given,
//                         BYE ends the session
//   SERIAL (BAUD, PARITY or BITS), sent to its address: OK, applied at once
// A datagram that is not well formed is dropped and counted in rejected().
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>

#include "families.h"
#include "lan.h"

namespace kxsim {

inline constexpr family_wire wire_t{48, 65290, {}};
extern const device_kind kind_t;

struct settings_t {
    device_id_bytes id{};
    std::string name, firmware = "T-0.9", password, ip, mask = "255.0.0.0", gateway = "127.0.0.1";
    uint32_t port = 4001, baud = 9600, parity = 0, bits = 8, stop = 1;
};

class device_t : public device {
  public:
    device_t(std::string address, device_id_bytes id, std::string name);

    std::vector<answer> handle(const datagram &request) override;

    // Copies of the state, taken under the device lock.
    settings_t settings() const;
    void set_settings(const settings_t &s);
    // The session the last login opened; 0 when none is open.
    uint32_t session() const;
    int rejected() const;

  private:
    settings_t settings_;
    uint32_t session_ = 0;
    uint32_t next_session_ = 7;
    int rejected_ = 0;
};

std::string configure_t(device &d, const nlohmann::json &entry);
std::string trace_text_t(const bytes &payload);

}  // namespace kxsim
