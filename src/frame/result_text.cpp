// kx_result_text: what each result code means, in the words a host can show
// a user as they stand.
#include "kxconf.h"

KXCONF_API const char *KXCONF_CALL kx_result_text(int32_t result) {
    switch (result) {
        case KX_OK:
            return "success";
        case KX_INCOMPLETE:
            return "answers may be missing: the system dropped some and asking again did not "
                   "recover them";
        case KX_FAMILY_B_ANSWER:
            return "a family B device answered the family A search";
        case KX_E_SOCKET:
            return "socket preparation or receive failed";
        case KX_E_REPLY:
            return "a reply arrived but is not acceptable";
        case KX_E_TIMEOUT:
            return "no matching reply in time";
        case KX_E_ARGUMENT:
            return "invalid argument or unknown family code";
        case KX_E_REFUSED:
            return "login refused";
        case KX_E_CAPACITY:
            return "more devices answered than the array holds";
        default:
            return "unknown result code";
    }
}
