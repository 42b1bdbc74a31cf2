#include "trace_line.h"

#include <cstdio>

#include "../common/dotted.h"
#include "../common/escaped.h"
#include "device_b.h"
#include "families.h"

namespace kxsim {
namespace {

std::string printable(const bytes &payload) {
    return kxtext::escaped(payload.data(), payload.size());
}

template <size_t N>
std::string text_of(const std::array<uint8_t, N> &field) {
    bytes b;
    for (uint8_t c : field) {
        if (c == 0) break;
        b.push_back(c);
    }
    return printable(b);
}

using kxtext::dotted;

const char *opcode_name(uint8_t opcode) {
    switch (opcode) {
        case 1:
            return "search";
        case 5:
            return "write";
        case 7:
            return "write-confirmation";
        case 9:
            return "serial";
        case 11:
            return "read";
        case 13:
            return "read-broadcast";
        case 15:
            return "login-broadcast";
        case 17:
            return "login";
        case 19:
            return "logout-broadcast";
        case 21:
            return "logout";
        default:
            return "unknown";
    }
}

}  // namespace

std::string trace_text_a(const bytes &payload) { return printable(payload); }

// The fields of a family B request: sequence byte, identifier (scrambled
// at 12..17), and what the opcode carries after it.
std::string trace_text_b(const bytes &p) {
    if (p.size() < 36) return "short packet " + printable(p);
    const uint8_t opcode = p[8];
    std::string line = std::string(opcode_name(opcode)) + "(" + std::to_string(opcode) +
                       ") seq=" + std::to_string(p[7]);
    if (opcode != 1 && opcode != 9) {  // the search and serial block name no device
        uint8_t id[6];
        for (int i = 0; i < 6; ++i) id[i] = p[12 + i] ^ packet_b::scramble_key;
        line += " id=" + dotted(id, 6);
    }
    if (!packet_b::sealed(p)) line += " bad-crc";
    if (opcode == 15 || opcode == 17) {
        bytes password(p.begin() + 24, p.begin() + 34);
        while (!password.empty() && password.back() == 0) password.pop_back();
        line += " password=\"" + printable(password) + "\"";
    } else if (opcode == 9) {
        // All ones: the request leaves that parameter as it is.
        line += " baud-hundreds=" + std::to_string(p[18] | p[19] << 8) +
                " data-bits=" + std::to_string(p[20]) + " parity=" + std::to_string(p[22]);
    } else if (opcode == 5) {
        if (auto s = packet_b::decode_settings(p)) {
            line += " family=" + std::to_string(p[9]) + " name=\"" + text_of(s->name) + "\"" +
                    " ip=" + dotted(s->ip.data(), 4) + " mask=" + dotted(s->mask.data(), 4) +
                    " gateway=" + dotted(s->gateway.data(), 4) +
                    " port=" + std::to_string(s->local_port) +
                    " dest=" + dotted(s->dest_ip.data(), 4) + ":" + std::to_string(s->dest_port) +
                    " baud-hundreds=" + std::to_string(s->baud_hundreds) +
                    " data-bits=" + std::to_string(s->data_bits) +
                    " parity=" + std::to_string(s->parity) +
                    " stop-bits=" + std::to_string(s->stop_bits) +
                    " flow=" + std::to_string(s->flow) + " password=\"" + text_of(s->password) +
                    "\"";
        }
    }
    if (p.size() != 36 && p.size() != 158) line += " length=" + std::to_string(p.size());
    return line;
}

std::string trace_line(const datagram &d) {
    char head[96];
    std::snprintf(head, sizeof head, "%6lld ms  %s:%u -> %s:%u  ",
                  static_cast<long long>(d.time_ms), d.source.c_str(), d.source_port,
                  d.destination.c_str(), d.destination_port);
    const family_entry *family = family_by_port(d.destination_port);
    if (family == nullptr) return head + ("? " + printable(d.payload));
    return head + (family->letter + (" " + family->kind.trace(d.payload)));
}

}  // namespace kxsim
