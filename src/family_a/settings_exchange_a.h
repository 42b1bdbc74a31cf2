// Family A read and write of the settings (kxa_read_setting,
// kxa_write_setting).
#pragma once

#include <cstddef>
#include <cstdint>

namespace kx {

// A complete identifier text ("0.0.0.0.0.0") has at least 11 characters.
constexpr size_t min_id_text = 11;

// The read and the write need an address or a complete identifier text to
// select the device by. KX_OK or KX_E_ARGUMENT.
int32_t check_settings_arguments_a(const char *ip_text, const char *id_text);

}  // namespace kx
