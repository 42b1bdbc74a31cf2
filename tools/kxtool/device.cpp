#include "device.h"

#include <fmt/core.h>

#include <cstdio>
#include <cstring>

#include "fields.h"
#include "result_text.h"

namespace kxtool {
namespace {

bool verbose = false;

// More than any LAN of these devices holds; kx_discover never writes past it.
constexpr int32_t discovery_capacity = 1024;

}  // namespace

void set_verbose(bool on) { verbose = on; }

int32_t traced(const std::string &call, int32_t result) {
    if (verbose)
        std::fprintf(stderr, "%s: %d (%s)\n", call.c_str(), static_cast<int>(result),
                     kxtools::result_meaning(result));
    return result;
}

void complain(const std::string &message) {
    std::fflush(stdout);  // keep data already printed ahead of the message
    std::fprintf(stderr, "kxtool: %s\n", message.c_str());
}

std::string failure_text(const std::string &device, const std::string &operation, int32_t result) {
    switch (result) {
        case KX_E_TIMEOUT:
            return "no answer from " + device + " to the " + operation + " within 1 s";
        case KX_E_REPLY:
            return device + " answered the " + operation +
                   " with a reply that is not acceptable; the " + operation + " was not completed";
        case KX_E_SOCKET:
            return "the " + operation + " of " + device +
                   " did not take place: local UDP port 65281 could not be used (is another "
                   "program configuring devices?)";
        case KX_E_REFUSED:
            return device + " refused the login: wrong password";
        case KX_E_ARGUMENT:
            return "the library refused the " + operation + " of " + device +
                   " as invalid; nothing was sent";
        default:
            return "the " + operation + " of " + device + " failed with result " +
                   std::to_string(result);
    }
}

discovery discover(bool all_interfaces) {
    discovery found;
    found.devices.resize(discovery_capacity);
    int32_t count = 0;
    found.result =
        traced("kx_discover", kx_discover(found.devices.data(), discovery_capacity, &count,
                                          all_interfaces ? KX_SEARCH_ALL_INTERFACES : 0u));
    if (found.result != KX_OK && found.result != KX_E_CAPACITY) count = 0;
    found.devices.resize(static_cast<size_t>(count < 0 ? 0 : count));
    if (found.result == KX_E_CAPACITY)
        found.error =
            fmt::format("more than {0} devices answered the search; only the first {0} are known",
                        discovery_capacity);
    else if (found.result == KX_E_SOCKET)
        found.error =
            "the search did not take place: local UDP port 65281 could not be used (is "
            "another program configuring devices?)";
    else if (found.result != KX_OK)
        found.error = fmt::format("the search failed with result {}", found.result);
    return found;
}

int pick_device(const discovery &found, const std::string &wanted, kx_device_record &device,
                std::string &error) {
    if (found.result != KX_OK && found.result != KX_E_CAPACITY) {
        error = found.error;
        return exit_failed;
    }
    const bool by_address = valid_address(wanted);
    int matches = 0;
    for (const kx_device_record &d : found.devices) {
        const bool same = by_address ? shown_text(d.ip_address, sizeof d.ip_address) == wanted
                                     : id_text(d.device_id) == wanted;
        if (same && (d.family == KX_FAMILY_A || d.family == KX_FAMILY_B)) {
            if (matches++ == 0) device = d;
        }
    }
    if (matches == 1) return exit_ok;
    if (matches > 1) {
        error = std::to_string(matches) + " devices answered as " + wanted +
                "; name one by its identifier (kxtool search lists them)";
        return exit_failed;
    }
    error = "no device answered the search as " + wanted;
    if (!found.error.empty()) error += " (" + found.error + ")";
    return exit_not_found;
}

std::string device_label(const kx_device_record &device) {
    return shown_text(device.ip_address, sizeof device.ip_address) + " (" +
           id_text(device.device_id) + ")";
}

std::string session::device_label_address() const {
    return shown_text(device_.ip_address, sizeof device_.ip_address);
}

bool session::login(const std::string &password) {
    kx_settings_record login{};
    login.family = device_.family;
    std::memcpy(login.password, password.data(),
                password.size() < sizeof login.password ? password.size() : sizeof login.password);
    const int32_t result =
        traced("kx_login " + label(), kx_login(address_.c_str(), device_.device_id, &login));
    if (result != KX_OK) {
        complain(failure_text(label(), "login", result));
        return false;
    }
    logged_in_ = true;
    return true;
}

bool session::read(kx_settings_record &settings) {
    std::memset(&settings, 0, sizeof settings);
    const int32_t result =
        traced("kx_read_setting " + label(),
               kx_read_setting(address_.c_str(), device_.device_id, &settings, &device_));
    if (result == KX_OK) return true;
    complain(failure_text(label(), "settings read", result));
    return false;
}

bool session::write(const kx_settings_record &settings) {
    const int32_t result =
        traced("kx_write_setting " + label(),
               kx_write_setting(address_.c_str(), device_.device_id, &settings, &device_));
    if (result == KX_OK) return true;
    complain(failure_text(label(), "settings write", result));
    return false;
}

bool session::close() {
    if (!logged_in_) return true;
    logged_in_ = false;
    const int32_t result =
        traced("kx_logout " + label(), kx_logout(address_.c_str(), device_.device_id, &device_));
    if (result == KX_OK) return true;
    complain(failure_text(label(), "logout", result));
    return false;
}

}  // namespace kxtool
