// The families the simulator simulates: a family is one line of the list
// below. One that speaks another's protocol with other constants (its code,
// port and answer to family A's probe) shares that family's kind.
#include "families.h"

#include <cstdio>

#include "device_a.h"
#include "device_b.h"
#include "device_file.h"
#include "trace_line.h"

namespace kxsim {
namespace {

std::shared_ptr<device> make_a(const family_entry &, const std::string &address,
                               const device_id_bytes &id, const std::string &name) {
    return std::make_shared<device_a>(address, identifier_text(id), name);
}

std::shared_ptr<device> make_b(const family_entry &family, const std::string &address,
                               const device_id_bytes &id, const std::string &name) {
    return std::make_shared<device_b>(address, id, name, family.wire);
}

const device_kind kind_a{make_a, configure_a, trace_text_a};
const device_kind kind_b{make_b, configure_b, trace_text_b};

const family_entry family_list[] = {
    {'A', 1, 10, wire_a, kind_a},
    {'B', 2, 11, wire_b, kind_b},
};

}  // namespace

std::span<const family_entry> families() { return family_list; }

const family_entry *family_by_code(int code) {
    for (const family_entry &f : families())
        if (f.wire.code == code) return &f;
    return nullptr;
}

const family_entry *family_by_port(uint16_t port) {
    for (const family_entry &f : families())
        if (f.wire.port == port) return &f;
    return nullptr;
}

bool identifier_bytes(const std::string &text, device_id_bytes &id) {
    unsigned v[6];
    char tail;
    if (std::sscanf(text.c_str(), "%u.%u.%u.%u.%u.%u%c", &v[0], &v[1], &v[2], &v[3], &v[4], &v[5],
                    &tail) != 6)
        return false;
    for (int i = 0; i < 6; ++i) {
        if (v[i] > 255) return false;
        id[i] = static_cast<uint8_t>(v[i]);
    }
    return true;
}

}  // namespace kxsim
