#include "frame/family.h"

#include <algorithm>
#include <cstring>

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

using namespace kx;

KXCONF_API int32_t KXCONF_CALL kx_family_info(int32_t index, kx_family_record *record) {
    if (record == nullptr || index < 0 || static_cast<size_t>(index) >= family_list.size())
        return KX_E_ARGUMENT;
    const family_ops &family = *family_list[static_cast<size_t>(index)];
    kx_family_record info{};
    info.family = family.code;
    info.letter = family.letter;
    info.device_port = family.device_port;
    info.record_size = family.record_size;
    // The name is cut to leave its NUL; a family's name is a few words.
    std::memcpy(info.name, family.name.data(), std::min(family.name.size(), sizeof info.name - 1));
    *record = info;
    return KX_OK;
}
