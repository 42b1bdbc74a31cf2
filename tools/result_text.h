// What the library's result codes and family codes mean, for every tool's
// messages. Header-only: the tools link nothing but the library.
#pragma once

#include <cstdint>

#include "kxconf.h"

namespace kxtools {

inline const char *result_meaning(int32_t code) {
    switch (code) {
        case KX_OK:
            return "ok";
        case KX_FAMILY_B_ANSWER:
            return "a family B device answered";
        case KX_E_SOCKET:
            return "socket or receive failed";
        case KX_E_REPLY:
            return "reply not acceptable";
        case KX_E_TIMEOUT:
            return "no matching reply in time";
        case KX_E_ARGUMENT:
            return "invalid argument or unknown family";
        case KX_E_REFUSED:
            return "login refused";
        case KX_E_CAPACITY:
            return "more devices answered than the array holds";
        default:
            return "unknown result";
    }
}

inline const char *family_letter(uint8_t family) {
    switch (family) {
        case KX_FAMILY_A:
            return "A";
        case KX_FAMILY_B:
            return "B";
        default:
            return "?";
    }
}

}  // namespace kxtools
