// Finding devices and holding a logged-in conversation with one. A device
// named by its address is asked directly (a single-device search); the full
// search (kx_discover) runs at most once per job, when a device is named by
// its identifier, does not answer at its address, or all are wanted. Every
// library call is traced through the context; failures are returned as
// texts that name the device and what did not happen.
#pragma once

#include <cstdint>
#include <optional>
#include <set>
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

// The devices a search listed (ctx.search_rounds kx_discover, merged), with
// those outside --interface's adapter left out. full_search reports its
// progress and tells the context's observer.
struct search_result {
    std::vector<kx_device_record> devices;
    int32_t result = KX_OK;
    // Why the list is missing or may be incomplete; empty when neither.
    std::string problem;

    bool listed() const {
        return result == KX_OK || result == KX_INCOMPLETE || result == KX_E_CAPACITY;
    }
    bool incomplete() const { return result == KX_INCOMPLETE || result == KX_E_CAPACITY; }
    // The other devices listed with this one's configured address.
    std::vector<const kx_device_record *> sharing(const kx_device_record &device) const;
};
search_result full_search(const context &ctx);
// "two devices have the address 127.0.1.5: A 0.16.10.0.1.5 and A 0.16.10.0.1.6"
// (both answer there, or one will once it restarts)
std::string shared_address_text(const kx_device_record &device,
                                const std::vector<const kx_device_record *> &others);
// shared_address_text for each address that a search lists more than one
// device with, once each.
std::vector<std::string> shared_addresses(const search_result &found);

// Same family and identifier: the same device.
bool same_device(const kx_device_record &a, const kx_device_record &b);
// A single-device search (kx_search_one). An answer that names another
// configured address than the one asked (a device re-addressed, or another
// device's late answer to an earlier request) counts only when the same
// device, or one configured with this address, answers a second request.
int32_t search_at(const context &ctx, const std::string &address, kx_device_record &answer);

// Who answers a single-device search at an address: the identity check,
// one request (a second where the first got nothing, which also takes a
// family A answer later than that search's 100 ms wait).
enum class identity { this_device, another_device, nobody };
identity identify_at(const context &ctx, const std::string &address, const kx_device_record &device,
                     kx_device_record &answer);

// Empty when a device of the family takes the password; otherwise why not.
std::string password_refusal(const family_traits &family, const std::string &password);

// A device found, and how to reach it.
struct target {
    kx_device_record record{};  // as a search or its own answer listed it (configured address)
    // Where requests go: the address it answered at, or its configured one;
    // empty: by broadcast, selected by its identifier.
    std::string address;
    // It answered at address as itself (an identity check, or a
    // single-device search at the address named).
    bool answered = false;
    // Other devices a search listed with the same configured address.
    std::vector<kx_device_record> sharing;
};
// "10.1.0.7 (0.16.10.0.0.7)", or "0.16.10.0.0.7 (broadcast)": how messages
// and tables name a device.
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
    // The other devices the search lists with t's address (making the
    // search where the job has made none), into t.sharing: a request that
    // does not name the device reaches them too.
    int look_for_others(target &t, std::string &error);
    // The full search ran and may have missed devices.
    bool incomplete() const { return found_ && found_->incomplete(); }

  private:
    const search_result &search();
    bool wanted_family(uint8_t code) const;
    // How to reach a device the search listed: at its configured address
    // when that is its own, by broadcast selected by its identifier where
    // it is not (no such address, another device of its family listed
    // there, another device answering there, nothing answering there).
    target reach(const kx_device_record &listed, bool check);
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
    // Addresses of two devices already warned of.
    std::set<std::string> warned_;
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
    // Reads the settings and checks that they are this device's (family and
    // identifier): another device's answers are refused, naming both.
    bool read(kx_settings_record &settings);
    bool write(const kx_settings_record &settings);
    // After a write that gave the device a new address, which it takes only
    // when it restarts: it stays at the address it answers at, with the new
    // one tried when that falls silent.
    void readdressed(const std::string &new_address);
    // Logs out when logged in; false when that failed.
    bool close();

    const std::string &error() const { return error_; }
    // The library's result for that first failure (KX_OK when none).
    int32_t result() const { return result_; }
    bool logged_in() const { return logged_in_; }
    std::string label() const;
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
    int32_t result_ = KX_OK;
};

}  // namespace kxtool
