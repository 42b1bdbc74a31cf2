// The families the simulator simulates: a family is one line of the list
// below. One that speaks another's protocol with other constants (its code,
// port and answer to family A's probe) shares that family's kind.
#include "families.h"

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

}  // namespace kxsim
