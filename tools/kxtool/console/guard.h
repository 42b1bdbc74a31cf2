// Who may use the console. A page of any other site the technician has open
// can send requests to 127.0.0.1, another local user can too, and a name
// that re-resolves to 127.0.0.1 makes a foreign page look same-origin, so
// being local proves nothing. The rules:
//  - the Host header is exactly 127.0.0.1:PORT or localhost:PORT;
//  - a random token of 256 bits, printed once in the URL, is swapped at its
//    first use for a random session cookie (HttpOnly, SameSite=Strict); the
//    token then stops working, and every request needs the cookie;
//  - API requests carry the header X-KX-Request: 1, which no form can send
//    and no other origin can without a preflight the console never answers;
//  - requests that act (every POST, the event stream included) carry an
//    Origin of exactly http://127.0.0.1:PORT or http://localhost:PORT, and a
//    JSON body.
#pragma once

#include <mutex>
#include <string>

namespace kxtool::console {

// n random bytes from the system's generator, as hex.
std::string random_hex(size_t bytes);

// Strings compared in a time that does not depend on where they differ.
bool same_secret(const std::string &a, const std::string &b);

class guard {
  public:
    explicit guard(int port);

    int port() const { return port_; }
    // The URL that opens the console, with the one-time token.
    std::string first_url() const;
    // The session cookie's name (one per port: cookies ignore ports).
    const std::string &cookie_name() const { return cookie_name_; }

    bool host_allowed(const std::string &host) const;
    bool origin_allowed(const std::string &origin) const;

    enum class redeemed { accepted, used, wrong };
    // The URL's token: accepted once (session is the cookie's value then).
    redeemed redeem(const std::string &token, std::string &session);
    bool token_used() const;
    // Whether a Cookie header holds this launch's session cookie.
    bool has_session(const std::string &cookie_header) const;

  private:
    int port_;
    std::string token_, session_, cookie_name_;
    mutable std::mutex mutex_;
    bool token_used_ = false;
};

// application/json, with or without parameters (charset).
bool json_content_type(const std::string &content_type);

}  // namespace kxtool::console
