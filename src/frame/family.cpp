#include "frame/family.h"

namespace kx {

const family_ops *family_by_code(int32_t code) {
    for (const family_ops *f : family_list)
        if (f->code == code) return f;
    return nullptr;
}

const family_ops *find_family(const void *record) {
    if (record == nullptr) return nullptr;
    return family_by_code(*static_cast<const uint8_t *>(record));
}

}  // namespace kx
