#include "sim_devices.h"

#include "families.h"

namespace kxsim {

bool add_default_device(lan &net, int code, const std::string &address, int index) {
    const family_entry *family = family_by_code(code);
    if (family == nullptr) return false;
    const device_id_bytes id{0, 16, family->id_group, 0, 0, static_cast<uint8_t>(index)};
    net.add_device(family->kind.make(*family, address, id,
                                     std::string("SIM-") + family->letter + std::to_string(index)));
    return true;
}

}  // namespace kxsim
