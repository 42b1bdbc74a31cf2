// Finding a device with kx_discover and holding a logged-in conversation
// with it. Every library call is traced on stderr when verbose; every
// failure is described on stderr, naming the device and what did not
// happen.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "kxconf.h"

namespace kxtool {

// Exit codes, documented in kxtool --help.
constexpr int exit_ok = 0;
constexpr int exit_failed = 1;   // a device operation failed or a value was not kept
constexpr int exit_refused = 2;  // usage error or a value refused before anything was sent
constexpr int exit_not_found = 3;

void set_verbose(bool on);
// Prints one library call's result when verbose; returns it.
int32_t traced(const std::string &call, int32_t result);
// "kxtool: " + message on stderr.
void complain(const std::string &message);
// What did not happen, for a failed call: "no answer from 10.1.0.7 to the
// login within 1 s".
std::string failure_text(const std::string &device, const std::string &operation, int32_t result);

// Devices that answer one kx_discover; empty error on success.
struct discovery {
    std::vector<kx_device_record> devices;
    int32_t result = KX_OK;
    std::string error;
};
discovery discover(bool all_interfaces);

// The device whose address or identifier text is wanted, among those found.
// exit_ok, or the exit code with the reason in error.
int pick_device(const discovery &found, const std::string &wanted, kx_device_record &device,
                std::string &error);

// "127.0.0.2 (0.16.10.0.0.1)": how messages name a device.
std::string device_label(const kx_device_record &device);

// A logged-in conversation: logged out on every path once logged in.
class session {
  public:
    explicit session(const kx_device_record &device) : device_(device) {}
    ~session() { close(); }
    session(const session &) = delete;
    session &operator=(const session &) = delete;

    bool login(const std::string &password);
    bool read(kx_settings_record &settings);
    bool write(const kx_settings_record &settings);
    // Later calls reach the device by broadcast, selected by its identifier,
    // since after a new address was written it may answer there only.
    void follow_by_broadcast() { address_.clear(); }
    // Logs out when logged in; false when that failed.
    bool close();

    const kx_device_record &device() const { return device_; }
    std::string label() const { return device_label(device_); }

  private:
    kx_device_record device_;
    std::string address_ = device_label_address();
    bool logged_in_ = false;

    std::string device_label_address() const;
};

}  // namespace kxtool
