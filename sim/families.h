// The simulator's own family table: one entry per family it simulates. The
// LAN binds each family's port, kxsim offers --family-<letter> for each, a
// device file names a family by its code, and --trace decodes each port's
// datagrams by its family. Everything here is the simulator's own; it never
// uses the library's protocol code.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <nlohmann/json.hpp>
#include <span>
#include <string>
#include <string_view>

#include "../common/dotted.h"
#include "lan.h"

namespace kxsim {

using device_id_bytes = std::array<uint8_t, 6>;

// "0.16.10.0.1.1": the six bytes in decimal, joined by dots.
inline std::string identifier_text(const device_id_bytes &id) {
    return kxtext::dotted(id.data(), id.size());
}
// Six numbers 0 to 255 joined by dots, nothing else; false otherwise.
bool identifier_bytes(const std::string &text, device_id_bytes &id);

// What tells one family's devices apart on the wire.
struct family_wire {
    uint8_t code;   // the first byte of the family's records
    uint16_t port;  // where its devices listen
    // How its devices answer family A's search probe "X": with these bytes
    // and their name (family B: "Q7"); empty where they do not answer it.
    std::string_view probe_answer;
};

struct family_entry;

// What the simulator does with a family's devices. Families that speak one
// protocol with other constants (family_wire) share one.
struct device_kind {
    // A device at address with the identifier and name, every other setting
    // at its default.
    std::shared_ptr<device> (*make)(const family_entry &family, const std::string &address,
                                    const device_id_bytes &id, const std::string &name);
    // The settings of a device file's object, named as kxtool save writes
    // them; empty, or what is wrong.
    std::string (*configure)(device &d, const nlohmann::json &entry);
    // A datagram to the family's port as one line of --trace.
    std::string (*trace)(const bytes &payload);
};

struct family_entry {
    char letter;  // kxsim --family-a; devices named SIM-A1, SIM-A2, ...
    // Devices of a count live at 127.0.<subnet>.N with identifiers
    // 0.16.<id_group>.0.<subnet>.N.
    uint8_t subnet;
    uint8_t id_group;
    family_wire wire;
    const device_kind &kind;
};

// Every family, in the order kxsim lists them (families.cpp).
std::span<const family_entry> families();
// The family of that code or port; null for none.
const family_entry *family_by_code(int code);
const family_entry *family_by_port(uint16_t port);

}  // namespace kxsim
