// Simulated devices described in JSON, for kxsim --devices.
//
// The file is a list of objects, one per device: "address" (where it
// answers), "family" (a family's code, families.h), "device_id"
// (identifier text), and any of
// the settings a backup by kxtool save holds, under the same names
// ("device_name", "baud_rate", "password", ...). Settings left out keep the
// simulator's defaults.
#pragma once

#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "lan.h"

namespace kxsim {

// One device from its object; index numbers its default identifier
// (0.16.12.0.H.L, H.L = index / 256 and index % 256) and its name. Null, and
// error set, when the object is not a device.
std::shared_ptr<device> device_from_json(const nlohmann::json &entry, size_t index,
                                         std::string &error);

// Every device of a list, appended to out; empty on success, otherwise what
// is wrong (naming the entry and the field).
std::string devices_from_json(const nlohmann::json &list,
                              std::vector<std::shared_ptr<device>> &out);

// The settings of an object on a device of the family A or the family B
// kind (families.h); empty, or what is wrong.
std::string configure_a(device &d, const nlohmann::json &entry);
std::string configure_b(device &d, const nlohmann::json &entry);

}  // namespace kxsim
