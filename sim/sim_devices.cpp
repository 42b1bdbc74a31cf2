#include "sim_devices.h"

#include "device_a.h"

namespace kxsim {

bool add_default_device(lan &net, bool family_b, const std::string &address, std::string id_text,
                        int index) {
    if (id_text.empty())
        id_text = "0.16." + std::to_string(family_b ? 11 : 10) + ".0.0." + std::to_string(index);
    if (family_b) return false;
    net.add<device_a>(address, id_text, "SIM-A" + std::to_string(index));
    return true;
}

}  // namespace kxsim
