// A simulated family A device: tagged text commands on port 65535.
//
// A tagged command is its letters, an argument, "|" and a two-digit hex tag;
// the device answers "A" (accepted) or "N" (refused), then the value of a
// get, then "|" and the command's tag. The device takes part in a tagged
// command sent to its own address, or broadcast once a selection command
// named it. Set commands are kept as pending changes until the closing byte
// "E" applies them; "O" drops them and ends the conversation.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "families.h"
#include "lan.h"

namespace kxsim {

constexpr uint16_t family_a_port = 65535;
inline constexpr family_wire wire_a{1, family_a_port, {}};

class device_a : public device {
  public:
    // Settings are value texts keyed by the letters after "G"/"S" in the get
    // and set commands ("IP", "PN", "BR", "Li", ...); "FE" is the identifier
    // text, "V" the firmware version, "T" the family flag, "PW" the password.
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

    // The login password: the "PW" setting.
    void set_password(std::string text);
    bool logged_in() const;

    // Every request the device takes part in whose text starts with letters
    // ("L", "W", "GDI", "SPW", "PBR", ...) is refused: "N|" + tag, or "N"
    // for a quick setting, and has no effect.
    void refuse(std::string letters);
    // When on, get and set commands before an accepted login are refused.
    void require_login(bool on);

    // Set commands accepted but not yet applied by "E".
    settings_map pending_changes() const;
    // How many "E" applied pending changes.
    int applied_writes() const;

  private:
    // Everything below runs under the lock.
    std::string compose_search_reply() const;
    std::vector<answer> handle_tagged(const datagram &request);
    std::vector<answer> handle_quick_setting(const datagram &request);
    void handle_closing_byte(char closing);
    bool refused(const std::string &text) const;
    bool addressed(const datagram &request) const;

    settings_map settings_;
    settings_map pending_;
    std::vector<std::string> refusals_;
    bool selected_ = false;
    bool logged_in_ = false;
    bool login_required_ = false;
    int applied_writes_ = 0;
};

}  // namespace kxsim
