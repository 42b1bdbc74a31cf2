// kx_set_option. The one piece of process-wide state the library keeps: a
// host sets it once, any thread may read it during an operation.
#include "frame/options.h"

#include <atomic>

#include "kxconf.h"

namespace kx {
namespace {

std::atomic<bool> every_adapter{false};

}  // namespace

bool every_adapter_option() { return every_adapter.load(std::memory_order_relaxed); }

}  // namespace kx

KXCONF_API int32_t KXCONF_CALL kx_set_option(int32_t option, int32_t value) {
    if (option != KX_OPTION_EVERY_ADAPTER || (value != 0 && value != 1)) return KX_E_ARGUMENT;
    kx::every_adapter.store(value == 1, std::memory_order_relaxed);
    return KX_OK;
}
