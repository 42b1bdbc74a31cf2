// Family B settings with a distinct value in every field, so that a field
// read from or written to the wrong place shows.
#pragma once

#include <string>

#include "device_b.h"

namespace kxtest {

inline kxsim::settings_b distinct_settings_b(const kxsim::device_id_bytes &id,
                                             const kxsim::ipv4_bytes &ip = {127, 0, 0, 2},
                                             const std::string &name = "READ-ME-10") {
    kxsim::settings_b s;
    s.id = id;
    s.name = kxsim::text_field<10>(name);
    s.firmware = kxsim::text_field<16>("B-9.99-firmware!");
    s.ip = ip;
    s.mask = {255, 255, 254, 0};
    s.gateway = {127, 0, 0, 1};
    s.local_port = 0x1234;
    s.rm = 0x21;
    s.dhcp = 1;
    s.dest_ip = {10, 20, 30, 40};
    s.dest_port = 0xBEEF;
    s.tp = 0x22;
    s.ww = 0x23;
    s.dd = 0x24;
    s.li = {172, 16, 5, 6};
    s.li2 = {172, 16, 7, 8};
    s.dw_text = kxsim::text_field<30>("a dw text of thirty characters");
    s.ml = 0x0A0B;
    s.md = 0x25;
    s.keep_alive = 0x26;
    s.baud_hundreds = 1152;
    s.data_bits = 7;
    s.parity = 2;
    s.stop_bits = 2;
    s.flow = 1;
    s.on_text = kxsim::text_field<10>("on-text-10");
    s.password = kxsim::text_field<10>("pass-word!");
    return s;
}

}  // namespace kxtest
