// The process-wide options set by kx_set_option. Everything is off until a
// host sets it, so the operations behave as they always have.
#pragma once

namespace kx {

// KX_OPTION_EVERY_ADAPTER: limited broadcasts leave by the device's adapter,
// or by every adapter.
bool every_adapter_option();

}  // namespace kx
