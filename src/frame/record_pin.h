// Pins a field of a record that crosses the interface to its offset: host
// applications read the fields there, so any drift must stop the build.
#pragma once

#include <cstddef>

#define KX_PIN(type, field, offset) \
    static_assert(offsetof(type, field) == (offset), #type "." #field)
