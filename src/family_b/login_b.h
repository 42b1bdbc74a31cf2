// Family B login and logout.
#pragma once

#include <cstdint>

#include "frame/family.h"
#include "kxconf.h"

namespace kx {

// The family table's operations (frame/family.h), behind kxb_login and
// kxb_logout.
int32_t login_b(const family_ops &family, const char *ip_text, const uint8_t *device_id,
                const kx_settings_record *login);
int32_t logout_b(const family_ops &family, const char *ip_text, const uint8_t *device_id);

// Sends the logout request; 1, or -1 when the socket cannot be prepared.
int32_t send_logout_b(const family_ops &family, const char *ip_text, const uint8_t (&device_id)[6]);
// What login and read do when they give up on a device: their own exchange
// is already closed, so the logout can bind the local port and leave.
void give_up_b(const family_ops &family, const char *ip_text, const uint8_t (&device_id)[6]);

}  // namespace kx
