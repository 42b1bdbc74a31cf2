// Finding devices and holding a logged-in conversation with one. A device
// named by its address is asked directly (a single-device search); the full
// search (kx_discover) runs at most once per command, when a device is named
// by its identifier, does not answer at its address, or all are wanted.
// Every library call is traced through the context; failures are returned
// as texts that name the device and what did not happen.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "context.h"
#include "fields.h"
#include "kxconf.h"

namespace kxtool {

// What did not happen, for a failed call: "no answer from 10.1.0.7
// (0.16.10.0.0.7) to the login within 1 s".
std::string failure_text(const std::string &device, const std::string &operation, int32_t result);

// The adapters a job works through: every one (the default, with the
// library's every-adapter option), or the one with this address, kept in
// ctx. Empty on success, otherwise why not.
std::string use_interface(context &ctx, const std::string &address);
// Whether an address lies on the adapter chosen with --interface (always
// true without one).
bool in_scope(const context &ctx, const std::string &address);

// One kx_discover, with the devices outside --interface's adapter left out.
struct search_result {
    std::vector<kx_device_record> devices;
    int32_t result = KX_OK;
    // Why the list is missing or may be incomplete; empty when neither.
    std::string problem;

    bool listed() const {
        return result == KX_OK || result == KX_INCOMPLETE || result == KX_E_CAPACITY;
    }
    bool incomplete() const { return result == KX_INCOMPLETE || result == KX_E_CAPACITY; }
};
search_result full_search(const context &ctx);

// Same family and identifier: the same device.
bool same_device(const kx_device_record &a, const kx_device_record &b);
// A single-device search (kx_search_one). The library takes the first
// datagram from any sender as the answer, so an answer that names another
// configured address than the one asked (a device re-addressed, or another
// device's late answer to an earlier request) counts only when the same
// device, or one configured with this address, answers a second request.
int32_t search_at(const context &ctx, const std::string &address, kx_device_record &answer);
// Whether this device (family and identifier) answers at the address, never
// judged by the first datagram alone nor by kx_search_one's 100 ms wait for
// family A: without an answer in that time, family B is asked with its own
// search and family A with a settings read (no login; it selects the device
// by identifier), each waiting 1 s, and asked once more when a stray
// datagram spoiled the reply. answer: what the device reported (its
// configured address; family A's firmware when it was read).
bool answers_at(const context &ctx, const std::string &address, const kx_device_record &device,
                kx_device_record &answer);
// Empty when a device of the family takes the password; otherwise why not.
std::string password_refusal(const family_traits &family, const std::string &password);

// A device found, and how to reach it.
struct target {
    kx_device_record record{};  // as a search listed it (configured address)
    // Where requests go: the address it answered at, or its configured one;
    // empty: by broadcast, selected by its identifier (family B only; a
    // family A device without an address is not reached at all).
    std::string address;
    // It answered at address as itself (answers_at, or a single-device
    // search at the address named).
    bool answered = false;
};
// "10.1.0.7 (0.16.10.0.0.7)": how messages and tables name a device.
std::string label(const target &t);
std::string configured_address(const kx_device_record &record);

class finder {
  public:
    // only: the family a device must be of (--family), or null for any.
    finder(const context &ctx, const family_traits *only) : ctx_(ctx), only_(only) {}

    // DEVICE, an address or identifier; exit_ok, or the exit code and error.
    int find(const std::string &wanted, target &out, std::string &error);
    // Every device of the search (of the family asked for).
    int every(std::vector<target> &out, std::string &error);
    // The full search ran and may have missed devices.
    bool incomplete() const { return found_ && found_->incomplete(); }

  private:
    const search_result &search();
    bool wanted_family(uint8_t code) const;
    // Warns when the search this command made lists the identifier that
    // answered at an address with another configured address (a cheap hint
    // of two devices with one identifier, which the search lists once).
    void warn_if_shared(const kx_device_record &answer) const;

    const context &ctx_;
    const family_traits *only_;
    std::optional<search_result> found_;
    // The answers of devices named by address, checked by warn_if_shared
    // once a search has run.
    std::vector<kx_device_record> answered_;
};

// A conversation with one device; logged out on every path once logged in.
class session {
  public:
    session(const context &ctx, const target &t);
    ~session() { close(); }
    session(const session &) = delete;
    session &operator=(const session &) = delete;

    // Before a write: abandons, where the family's write ends by broadcast,
    // any write another program left half-sent on a device, which that end
    // would otherwise complete. Ends every device's conversation of the
    // family, so it comes before the login.
    void abandon_half_writes();
    bool login(const std::string &password);
    bool read(kx_settings_record &settings);
    bool write(const kx_settings_record &settings);
    // After a write that gave the device a new address, which it takes only
    // when it restarts: a family that can be is reached by its identifier;
    // a family A device stays at the address it answers at, with the new
    // one tried when that falls silent.
    void readdressed(const std::string &new_address);
    // Logs out when logged in; false when that failed.
    bool close();

    const std::string &error() const { return error_; }
    std::string label() const { return kxtool::label(target_); }
    const target &device() const { return target_; }

  private:
    bool failed(const std::string &operation, int32_t result);

    const context &ctx_;
    target target_;
    const family_traits *family_;
    std::string address_;
    std::string fallback_;
    bool logged_in_ = false;
    std::string error_;
};

}  // namespace kxtool
