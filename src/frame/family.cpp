#include "frame/family.h"

namespace kx {
namespace {

// Every family the library speaks; the generic search visits them in this order.
constexpr const family_ops *families[] = {&family_a_ops, &family_b_ops};

}  // namespace

const family_ops *family_by_code(int32_t code) {
    for (const family_ops *f : families)
        if (f->code == code) return f;
    return nullptr;
}

const family_ops *find_family(const void *record) {
    if (record == nullptr) return nullptr;
    return family_by_code(*static_cast<const uint8_t *>(record));
}

int family_count() { return static_cast<int>(sizeof families / sizeof families[0]); }

const family_ops &family_at(int index) { return *families[index]; }

}  // namespace kx
