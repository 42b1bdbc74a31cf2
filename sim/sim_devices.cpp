#include "sim_devices.h"

#include <cstdio>

#include "families.h"

namespace kxsim {

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

bool add_default_device(lan &net, int code, const std::string &address, int index) {
    const family_entry *family = family_by_code(code);
    if (family == nullptr) return false;
    const device_id_bytes id{0, 16, family->id_group, 0, 0, static_cast<uint8_t>(index)};
    net.add_device(family->kind.make(*family, address, id,
                                     std::string("SIM-") + family->letter + std::to_string(index)));
    return true;
}

}  // namespace kxsim
