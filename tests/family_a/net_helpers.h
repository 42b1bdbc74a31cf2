// Shared pieces of the family A configuration tests against the simulator.
#pragma once

#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "device_a.h"
#include "kxconf.h"
#include "lan.h"
#include "support/records.h"
#include "support/trace.h"

namespace kxtest {

inline constexpr const char *device_ip = "127.0.0.2";
inline constexpr const char *device_id = "0.16.2.3.4.5";

// What the library sent to the family A port, as texts.
inline std::vector<std::string> sent(kxsim::lan &lan) {
    return texts(lan.received_on(kxsim::family_a_port));
}

// True when every datagram on the family A port went to destination.
inline bool all_sent_to(kxsim::lan &lan, const std::string &destination) {
    for (const auto &d : lan.received_on(kxsim::family_a_port))
        if (d.destination != destination) return false;
    return true;
}

inline kx_settings_record login_record(const std::string &password, uint8_t family = KX_FAMILY_A) {
    return login_record(family, password);
}

class stopwatch {
  public:
    int64_t ms() const {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
                   std::chrono::steady_clock::now() - start_)
            .count();
    }

  private:
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

}  // namespace kxtest
