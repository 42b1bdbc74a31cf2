// The families the library speaks: the one file under frame/ that names
// them. A family is its folder and its line below (with the include of the
// folder's header, which declares the entry). The list's order is the search
// order: kx_search_all asks the families in turn, and kx_search_one asks the
// first, whose probe the devices of the other families answer too.
#include "family_a/family_a.h"
#include "family_b/family_b.h"
#include "frame/family.h"

namespace kx {
namespace {

constexpr const family_ops *families[] = {
    &family_a_ops,
    &family_b_ops,
};

}  // namespace

constinit const std::span<const family_ops *const> family_list{families};

}  // namespace kx
