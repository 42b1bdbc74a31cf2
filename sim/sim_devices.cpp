#include "sim_devices.h"

#include <cstdio>

#include "device_a.h"
#include "device_b.h"

namespace kxsim {

bool add_default_device(lan &net, family kind, const std::string &address, std::string id_text,
                        int index) {
    if (id_text.empty())
        id_text =
            "0.16." + std::to_string(kind == family::b ? 11 : 10) + ".0.0." + std::to_string(index);
    if (kind == family::a) {
        net.add<device_a>(address, id_text, "SIM-A" + std::to_string(index));
        return true;
    }
    if (kind != family::b) return false;
    unsigned v[6];
    char tail;
    if (std::sscanf(id_text.c_str(), "%u.%u.%u.%u.%u.%u%c", &v[0], &v[1], &v[2], &v[3], &v[4],
                    &v[5], &tail) != 6)
        return false;
    device_id_bytes id{};
    for (int i = 0; i < 6; ++i) {
        if (v[i] > 255) return false;
        id[i] = static_cast<uint8_t>(v[i]);
    }
    net.add<device_b>(address, id, "SIM-B" + std::to_string(index));
    return true;
}

}  // namespace kxsim
