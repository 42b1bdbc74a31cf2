#include "guard.h"

#include <algorithm>
#include <cctype>
#include <stdexcept>
#include <string_view>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
// windows.h first: bcrypt.h needs its types.
#include <bcrypt.h>
#else
#include <sys/random.h>
#endif

namespace kxtool::console {
namespace {

void fill_random(unsigned char *data, size_t size) {
#ifdef _WIN32
    if (BCryptGenRandom(nullptr, data, static_cast<ULONG>(size), BCRYPT_USE_SYSTEM_PREFERRED_RNG) !=
        0)
        throw std::runtime_error("the system's random generator failed");
#else
    for (size_t done = 0; done < size;) {
        const ssize_t got = ::getrandom(data + done, size - done, 0);
        if (got < 0) throw std::runtime_error("the system's random generator failed");
        done += static_cast<size_t>(got);
    }
#endif
}

// The allowed values: NAME:PORT for both names, and NAME alone when the
// port is HTTP's own (browsers leave it out then).
bool one_of_local(std::string_view text, std::string_view prefix, int port) {
    const std::string port_text = std::to_string(port);
    for (std::string_view name : {"127.0.0.1", "localhost"}) {
        std::string exact(prefix);
        exact += name;
        if (port == 80 && text == exact) return true;
        exact += ':';
        exact += port_text;
        if (text == exact) return true;
    }
    return false;
}

}  // namespace

std::string random_hex(size_t bytes) {
    std::string raw(bytes, '\0');
    fill_random(reinterpret_cast<unsigned char *>(raw.data()), raw.size());
    static constexpr char digits[] = "0123456789abcdef";
    std::string hex;
    for (const char c : raw) {
        hex += digits[(static_cast<unsigned char>(c) >> 4) & 0xF];
        hex += digits[static_cast<unsigned char>(c) & 0xF];
    }
    return hex;
}

bool same_secret(const std::string &a, const std::string &b) {
    if (a.size() != b.size()) return false;
    unsigned char differ = 0;
    for (size_t i = 0; i < a.size(); ++i) differ |= static_cast<unsigned char>(a[i] ^ b[i]);
    return differ == 0;
}

guard::guard(int port)
    : port_(port),
      token_(random_hex(32)),
      session_(random_hex(32)),
      cookie_name_("kxconsole_" + std::to_string(port)) {}

std::string guard::first_url() const {
    return "http://127.0.0.1:" + std::to_string(port_) + "/?token=" + token_;
}

// Compared whole with the allowed values: a prefix ("127.0.0.1:8750.evil"),
// another port, another name or scheme, "null" or a missing one all fail.
bool guard::host_allowed(const std::string &host) const { return one_of_local(host, "", port_); }

bool guard::origin_allowed(const std::string &origin) const {
    return one_of_local(origin, "http://", port_);
}

guard::redeemed guard::redeem(const std::string &token, std::string &session) {
    std::lock_guard lock(mutex_);
    if (!same_secret(token, token_)) return redeemed::wrong;
    if (token_used_) return redeemed::used;
    token_used_ = true;
    session = session_;
    return redeemed::accepted;
}

bool guard::token_used() const {
    std::lock_guard lock(mutex_);
    return token_used_;
}

bool guard::has_session(const std::string &cookie_header) const {
    // "name=value; name2=value2"
    size_t at = 0;
    while (at < cookie_header.size()) {
        size_t end = cookie_header.find(';', at);
        if (end == std::string::npos) end = cookie_header.size();
        std::string_view pair(cookie_header.data() + at, end - at);
        while (!pair.empty() && pair.front() == ' ') pair.remove_prefix(1);
        const size_t eq = pair.find('=');
        if (eq != std::string_view::npos && pair.substr(0, eq) == cookie_name_ &&
            same_secret(std::string(pair.substr(eq + 1)), session_))
            return true;
        at = end + 1;
    }
    return false;
}

bool json_content_type(const std::string &content_type) {
    std::string type = content_type.substr(0, content_type.find(';'));
    while (!type.empty() && type.back() == ' ') type.pop_back();
    std::transform(type.begin(), type.end(), type.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return type == "application/json";
}

}  // namespace kxtool::console
