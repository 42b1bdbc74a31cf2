// kxtool serve: the HTTP server, its access rules (guard.h) applied to every
// request before anything else, its page and its API (api.h).
#include <fmt/core.h>

#include <chrono>
#include <cstdio>
#include <thread>

#include "api.h"
#include "assets.h"
#include "browser.h"
#include "console.h"
#include "guard.h"

#ifdef _WIN32
#include <winsock2.h>
#else
#include <sys/socket.h>
#endif

namespace kxtool::console {
namespace {

using Handled = httplib::Server::HandlerResponse;

constexpr size_t largest_body = 256 * 1024;  // a settings file for 1,000 devices, and room

void say(const std::string &text) {
    std::fflush(stdout);
    std::fprintf(stderr, "kxtool: %s\n", text.c_str());
}

bool is_api(const httplib::Request &req) { return req.path.rfind("/api/", 0) == 0; }

Handled refuse(const httplib::Request &req, httplib::Response &res, int status,
               const std::string &why) {
    res.status = status;
    if (is_api(req))
        res.set_content(nlohmann::json{{"error", why}}.dump(), "application/json");
    else
        res.set_content("kxtool console: " + why + "\n", "text/plain; charset=utf-8");
    return Handled::Handled;
}

// Each header at most once: with two, which one a check read would be a
// matter of luck.
bool one_header(const httplib::Request &req, const char *name) {
    return req.get_header_value_count(name) == 1;
}

// The access rules, in order, for every request: Host, method, the URL's
// token, the session cookie, the API's own header, then Origin and a JSON
// body for what acts. Refused requests reach no handler and no device.
Handled check(guard &g, const httplib::Request &req, httplib::Response &res) {
    if (!one_header(req, "Host") || !g.host_allowed(req.get_header_value("Host")))
        return refuse(req, res, 403,
                      "the Host header must be 127.0.0.1:" + std::to_string(g.port()) +
                          " or localhost:" + std::to_string(g.port()));
    if (req.method != "GET" && req.method != "POST") {
        // Never a CORS or private-network preflight answer.
        res.set_header("Allow", "GET, POST");
        return refuse(req, res, 405, req.method + " is not served");
    }
    if (req.has_header("Origin") &&
        (!one_header(req, "Origin") || !g.origin_allowed(req.get_header_value("Origin"))))
        return refuse(req, res, 403, "requests from other sites are refused");
    std::string cookies;
    for (size_t i = 0; i < req.get_header_value_count("Cookie"); ++i)
        cookies += req.get_header_value("Cookie", i) + ";";
    const bool session = g.has_session(cookies);
    if (req.path == "/" && req.has_param("token")) {
        std::string value;
        const guard::redeemed r = req.method == "GET" && req.get_param_value_count("token") == 1
                                      ? g.redeem(req.get_param_value("token"), value)
                                      : guard::redeemed::wrong;
        if (r == guard::redeemed::accepted) {
            res.set_header("Set-Cookie",
                           g.cookie_name() + "=" + value + "; HttpOnly; SameSite=Strict; Path=/");
        }
        if (r == guard::redeemed::accepted || session) {
            // Away from the URL with the token.
            res.set_redirect("/", 303);
            return Handled::Handled;
        }
        return refuse(req, res, 403,
                      r == guard::redeemed::used
                          ? "this link has been used already: it opens the console once. Use the "
                            "browser that opened it, or start kxtool serve again"
                          : "this link is not the one kxtool serve printed");
    }
    if (!session)
        return refuse(req, res, 403,
                      "open the link that kxtool serve printed (it opens the console once, in one "
                      "browser)");
    if (is_api(req) &&
        (!one_header(req, "X-KX-Request") || req.get_header_value("X-KX-Request") != "1"))
        return refuse(req, res, 403, "API requests need the header X-KX-Request: 1");
    if (req.method == "POST") {
        if (!req.has_header("Origin"))
            return refuse(req, res, 403, "requests that act need an Origin header");
        if (!one_header(req, "Content-Type") ||
            !json_content_type(req.get_header_value("Content-Type")))
            return refuse(req, res, 415, "the body must be JSON (Content-Type: application/json)");
    }
    return Handled::Unhandled;
}

void set_socket_options(httplib::Server &server) {
    server.set_socket_options([](auto sock) {
        int yes = 1;
#ifdef _WIN32
        // No other program may bind the port beside this one.
        ::setsockopt(sock, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char *>(&yes),
                     sizeof yes);
#else
        // A restart may take the port at once; no second listener may share it
        // (no SO_REUSEPORT).
        ::setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
#endif
    });
}

}  // namespace

int serve(const context &base, const serve_options &options, const std::atomic<bool> &interrupted) {
    httplib::Server server;
    set_socket_options(server);
    // Each open page holds a connection for its event stream and one per
    // request under way; idle connections go after a few seconds.
    server.new_task_queue = [] { return new httplib::ThreadPool(24); };
    server.set_keep_alive_timeout(3);
    server.set_payload_max_length(largest_body);
    int port = options.port;
    if (port == 0)
        port = server.bind_to_any_port("127.0.0.1");
    else if (!server.bind_to_port("127.0.0.1", port))
        port = -1;
    if (port <= 0) {
        say(options.port == 0
                ? "no free port on 127.0.0.1 to serve the console on"
                : fmt::format("port {} on 127.0.0.1 is taken (kxtool serve --port 0 picks a free "
                              "one); nothing was sent",
                              options.port));
        return exit_failed;
    }

    guard g(port);
    console_state st;
    st.base = base;
    st.verbose = options.verbose;
    st.journal_path = options.journal_path;
    st.memory.next = base.watch;  // the journal's recorder, where there is one
    std::string opener;
    server.set_pre_routing_handler(
        [&](const httplib::Request &req, httplib::Response &res) { return check(g, req, res); });
    server.set_default_headers({
        {"Content-Security-Policy", "default-src 'self'; frame-ancestors 'none'"},
        {"X-Content-Type-Options", "nosniff"},
        {"Referrer-Policy", "no-referrer"},
        {"Cache-Control", "no-store"},
    });
    for (size_t i = 0; i < asset_count; ++i)
        server.Get(assets[i].path,
                   [&a = assets[i]](const httplib::Request &, httplib::Response &res) {
                       res.set_content(reinterpret_cast<const char *>(a.data), a.size, a.type);
                   });
    add_api(server, st);
    server.set_error_handler([](const httplib::Request &req, httplib::Response &res) {
        if (!res.body.empty()) return;
        if (res.status == 404)
            refuse(req, res, 404, "nothing is served at " + req.path);
        else if (res.status == 413)
            refuse(req, res, 413, "the body is larger than 256 KiB; nothing was sent");
    });
    if (options.verbose)
        // The path alone: a query may hold the token.
        server.set_logger([](const httplib::Request &req, const httplib::Response &res) {
            std::string line = req.method + " " + req.path + " " + std::to_string(res.status);
            if (res.status >= 400 && res.body.size() < 300) line += " " + res.body;
            while (!line.empty() && line.back() == '\n') line.pop_back();
            std::fprintf(stderr, "%s\n", line.c_str());
        });

    std::thread listener([&] { server.listen_after_bind(); });
    while (!server.is_running() && !interrupted)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    std::fprintf(stdout, "%s\n", g.first_url().c_str());
    std::fflush(stdout);
    say(fmt::format(
        "the console is served at http://127.0.0.1:{}/ for this user's browser; the link above "
        "opens it once. Ctrl-C stops it",
        port));
    if (options.open_browser) {
        std::string error;
        if (!open_browser(g.first_url(), opener, error))
            say("warning: " + error + "; open the link above in a browser");
    }
    while (!interrupted && server.is_running()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        if (!opener.empty() && g.token_used()) {
            remove_file(opener);  // it has done its work
            opener.clear();
        }
    }

    // The job under way stops between steps (a write completes); its page
    // gets its result; every event stream ends.
    st.slot.close();
    st.hub.close();
    server.stop();
    listener.join();
    remove_file(opener);
    say("stopped");
    return interrupted ? exit_interrupted : exit_failed;
}

}  // namespace kxtool::console
