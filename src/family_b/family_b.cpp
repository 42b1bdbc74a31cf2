#include "family_b/family_b.h"

namespace kx {

static_assert(sizeof(kxb_settings_record) <= family_record_room);

// Family B devices answer family A's probe with "Q7" and their name.
constinit const family_ops family_b_ops = family_ops_b(KX_FAMILY_B, family_b_port, "Q7");

}  // namespace kx
