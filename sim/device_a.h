// A simulated family A device: tagged text commands on port 65535.
#pragma once

#include <map>
#include <string>

#include "lan.h"

namespace kxsim {

class device_a : public device {
  public:
    // Settings are value texts keyed by the letters after "G"/"S" in the get
    // and set commands ("IP", "PN", "BR", "Li", ...); "FE" is the identifier
    // text, "V" the firmware version, "T" the family flag.
    using settings_map = std::map<std::string, std::string>;

    // A device at address with identifier text id_text and plausible
    // defaults for every other setting.
    device_a(std::string address, std::string id_text, std::string name = "SIM-A");

    std::vector<answer> handle(const datagram &request) override;

    // The reply to the search probe "X": part one, a NUL and a filler byte,
    // then part two. Tests may replace it with fault::replacement.
    std::string search_reply() const;

    // Copies of the state, taken under the device lock.
    settings_map settings() const;
    std::string setting(const std::string &key) const;
    void set_setting(const std::string &key, std::string value);

  private:
    std::string compose_search_reply() const;  // under the lock

    settings_map settings_;
};

}  // namespace kxsim
