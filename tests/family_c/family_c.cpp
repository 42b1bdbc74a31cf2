#include "family_c/family_c.h"

#include "family_b/family_b.h"

namespace kx {

constinit const family_ops family_c_ops = family_ops_b(family_c_code, family_c_port, "Q9");

}  // namespace kx
