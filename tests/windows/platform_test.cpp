// The Winsock back end of the socket layer, and the entry routine's
// decisions, on Windows (under Wine in a private network namespace: it
// sends datagrams to 127.0.0.1 and to 255.255.255.255).
//
// Plain checks, no framework: each case prints PASS or FAIL, the program
// ends with a count and exits non-zero on any failure.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include "platform/platform.h"

#include <winsock2.h>
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "frame/exchange.h"
#include "kxconf.h"
#include "platform/entry.h"

namespace {

namespace platform = kx::platform;

int cases_passed = 0;
int cases_failed = 0;
bool case_ok = true;

void check(bool ok, const char *what, int line) {
    if (ok) return;
    std::printf("  failed: %s (line %d)\n", what, line);
    case_ok = false;
}
#define CHECK(condition) check((condition), #condition, __LINE__)

template <typename Body>
void run_case(const char *name, Body body) {
    case_ok = true;
    body();
    std::printf("%s %s\n", case_ok ? "PASS" : "FAIL", name);
    ++(case_ok ? cases_passed : cases_failed);
    std::fflush(stdout);
}

constexpr uint16_t library_port = 65281;
constexpr uint16_t peer_port = 40001;
constexpr uint16_t silent_port = 40999;  // nothing listens here
const platform::ipv4_net loopback = htonl(INADDR_LOOPBACK);

// Elapsed time for the checks themselves, from the performance counter.
int64_t precise_ms() {
    LARGE_INTEGER now, frequency;
    ::QueryPerformanceCounter(&now);
    ::QueryPerformanceFrequency(&frequency);
    return static_cast<int64_t>(now.QuadPart * 1000 / frequency.QuadPart);
}

// A socket as an exchange opens it: bound, ready to be waited on.
bool open_bound(platform::udp_socket &sock, uint16_t port, bool waits = true) {
    return platform::open_udp(sock) && platform::bind_any(sock, port) &&
           (!waits || platform::prepare_waiting(sock));
}

void send_bytes(platform::udp_socket &from, uint16_t to_port, size_t length, uint8_t fill) {
    uint8_t bytes[512];
    std::memset(bytes, fill, sizeof bytes);
    platform::send_to(from, loopback, to_port, bytes, length);
}

// The entry routine's decisions, with counting stand-ins for the socket
// layer's start-up and clean-up.
int starts = 0;
int stops = 0;
bool start_succeeds = true;
bool counting_start() {
    ++starts;
    return start_succeeds;
}
void counting_stop() { ++stops; }

void entry_cases() {
    using kx::load_notice;
    run_case("entry: attach starts sockets, detach stops them, threads touch nothing", [] {
        starts = stops = 0;
        start_succeeds = true;
        bool started = false;
        CHECK(kx::on_load_notice(load_notice::process_attach, started, counting_start,
                                 counting_stop));
        CHECK(started && starts == 1 && stops == 0);
        CHECK(
            kx::on_load_notice(load_notice::thread_attach, started, counting_start, counting_stop));
        CHECK(
            kx::on_load_notice(load_notice::thread_detach, started, counting_start, counting_stop));
        CHECK(starts == 1 && stops == 0);
        CHECK(kx::on_load_notice(load_notice::process_detach, started, counting_start,
                                 counting_stop));
        CHECK(stops == 1 && !started);
        // A second detach has nothing left to undo.
        CHECK(kx::on_load_notice(load_notice::process_detach, started, counting_start,
                                 counting_stop));
        CHECK(stops == 1);
    });
    run_case("entry: detach at process termination leaves Windows Sockets alone", [] {
        starts = stops = 0;
        start_succeeds = true;
        bool started = false;
        CHECK(kx::on_load_notice(load_notice::process_attach, started, counting_start,
                                 counting_stop));
        CHECK(
            kx::on_load_notice(load_notice::process_exit, started, counting_start, counting_stop));
        CHECK(starts == 1 && stops == 0 && !started);
    });
    run_case("entry: a failed start fails the load and the detach after it cleans nothing", [] {
        starts = stops = 0;
        start_succeeds = false;
        bool started = false;
        CHECK(!kx::on_load_notice(load_notice::process_attach, started, counting_start,
                                  counting_stop));
        CHECK(starts == 1 && !started);
        // The loader follows a failed attach with a detach.
        CHECK(kx::on_load_notice(load_notice::process_detach, started, counting_start,
                                 counting_stop));
        CHECK(stops == 0);
    });
}

int apc_runs = 0;
void CALLBACK count_apc(ULONG_PTR) { ++apc_runs; }

// Queues count_apc to a thread after a pause, from a thread of its own, as a
// host's completion routines or timers do.
struct apc_later {
    HANDLE target = nullptr;
    int after_ms = 0;
    HANDLE thread = nullptr;

    explicit apc_later(int ms) : after_ms(ms) {
        ::DuplicateHandle(::GetCurrentProcess(), ::GetCurrentThread(), ::GetCurrentProcess(),
                          &target, 0, FALSE, DUPLICATE_SAME_ACCESS);
        thread = ::CreateThread(nullptr, 0, run, this, 0, nullptr);
    }
    ~apc_later() {
        ::WaitForSingleObject(thread, INFINITE);
        ::CloseHandle(thread);
        ::CloseHandle(target);
    }
    static DWORD WINAPI run(void *self) {
        auto *later = static_cast<apc_later *>(self);
        ::Sleep(static_cast<DWORD>(later->after_ms));
        ::QueueUserAPC(count_apc, later->target, 0);
        return 0;
    }
};

// A peer on its own thread: takes one datagram on its port, then answers its
// sender with the given bytes after a pause.
struct late_peer {
    uint16_t port;
    const char *answer;
    int delay_ms;
    HANDLE thread = nullptr;
    bool asked = false;

    late_peer(uint16_t p, const char *text, int ms) : port(p), answer(text), delay_ms(ms) {
        // Bound before the library sends.
        ready = platform::open_udp(sock) && platform::bind_any(sock, port) &&
                platform::prepare_waiting(sock);
        thread = ::CreateThread(nullptr, 0, run, this, 0, nullptr);
    }
    ~late_peer() {
        ::WaitForSingleObject(thread, INFINITE);
        ::CloseHandle(thread);
        platform::close(sock);
    }
    static DWORD WINAPI run(void *self) {
        auto *peer = static_cast<late_peer *>(self);
        uint8_t buffer[256];
        platform::ipv4_net sender = 0;
        if (!peer->ready || !platform::wait_readable(peer->sock, 3000) ||
            platform::receive_from(peer->sock, buffer, sizeof buffer, sender) < 0)
            return 0;
        peer->asked = true;
        platform::sleep_ms(peer->delay_ms);
        platform::send_to(peer->sock, sender, library_port,
                          reinterpret_cast<const uint8_t *>(peer->answer),
                          std::strlen(peer->answer));
        return 0;
    }
    platform::udp_socket sock;
    bool ready = false;
};

void socket_cases() {
    run_case("bind: the library port is exclusive while held, free again after close", [] {
        platform::udp_socket first, second, third;
        CHECK(open_bound(first, library_port));
        CHECK(platform::open_udp(second));
        CHECK(!platform::bind_any(second, library_port));
        platform::close(second);
        // A plain socket asking for address reuse cannot share it either.
        SOCKET intruder = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
        BOOL reuse = TRUE;
        ::setsockopt(intruder, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char *>(&reuse),
                     sizeof reuse);
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_port = htons(library_port);
        CHECK(::bind(intruder, reinterpret_cast<sockaddr *>(&sa), sizeof sa) != 0);
        ::closesocket(intruder);
        platform::close(first);
        CHECK(first.handle == -1 && first.event == 0);
        platform::close(first);  // closing twice is harmless
        CHECK(open_bound(third, library_port));
        platform::close(third);
    });

    run_case("receive: 256 bytes whole with the sender, 257 fail with it, empty is 0", [] {
        platform::udp_socket library, peer;
        CHECK(open_bound(library, library_port));
        CHECK(open_bound(peer, peer_port, false));
        uint8_t buffer[257];
        platform::ipv4_net sender = 0;

        send_bytes(peer, library_port, 257, 'x');
        CHECK(platform::wait_readable(library, 1000));
        CHECK(platform::receive_from(library, buffer, 256, sender) == -1);
        CHECK(sender == loopback);
        sender = 0;

        send_bytes(peer, library_port, 256, 'y');
        CHECK(platform::wait_readable(library, 1000));
        std::memset(buffer, 0, sizeof buffer);
        CHECK(platform::receive_from(library, buffer, 256, sender) == 256);
        CHECK(buffer[0] == 'y' && buffer[255] == 'y' && buffer[256] == 0);
        CHECK(sender == loopback);

        send_bytes(peer, library_port, 0, 0);
        CHECK(platform::wait_readable(library, 1000));
        CHECK(platform::receive_from(library, buffer, 256, sender) == 0);
        platform::close(library);
        platform::close(peer);
    });

    run_case("wait: a datagram still queued ends the next wait at once; an empty queue waits", [] {
        platform::udp_socket library, peer;
        CHECK(open_bound(library, library_port));
        CHECK(open_bound(peer, peer_port, false));
        send_bytes(peer, library_port, 3, '1');
        send_bytes(peer, library_port, 3, '2');
        uint8_t buffer[256];
        platform::ipv4_net sender = 0;
        CHECK(platform::wait_readable(library, 1000));
        platform::sleep_ms(50);  // let the second one arrive too
        CHECK(platform::receive_from(library, buffer, sizeof buffer, sender) == 3 &&
              buffer[0] == '1');
        CHECK(platform::wait_readable(library, 0));
        CHECK(platform::receive_from(library, buffer, sizeof buffer, sender) == 3 &&
              buffer[0] == '2');
        CHECK(!platform::wait_readable(library, 50));
        CHECK(platform::receive_from(library, buffer, sizeof buffer, sender) == -1);
        platform::close(library);
        platform::close(peer);
    });

    run_case("wait: times out after the given time; sleep and clock agree", [] {
        platform::udp_socket library;
        CHECK(open_bound(library, library_port));
        int64_t start = precise_ms();
        CHECK(!platform::wait_readable(library, 150));
        const int64_t waited = precise_ms() - start;
        CHECK(waited >= 140 && waited < 1000);
        start = precise_ms();
        platform::sleep_ms(40);
        CHECK(precise_ms() - start >= 35);
        // The library's clock ticks coarsely (and, under Wine, whenever the
        // wineserver updates it), so it is held to the long bounds only.
        const int64_t clock_before = platform::now_ms();
        platform::sleep_ms(300);
        const int64_t advanced = platform::now_ms() - clock_before;
        CHECK(advanced >= 150 && advanced < 2000);
        platform::close(library);
    });

    run_case("wait: alertable, a queued APC runs and the wait goes on for the time left", [] {
        platform::udp_socket library;
        CHECK(open_bound(library, library_port));
        apc_runs = 0;
        CHECK(::QueueUserAPC(count_apc, ::GetCurrentThread(), 0) != 0);
        const int64_t start = precise_ms();
        CHECK(!platform::wait_readable(library, 300));
        CHECK(apc_runs == 1);
        const int64_t waited = precise_ms() - start;
        CHECK(waited >= 250 && waited < 2000);
        platform::close(library);
    });

    run_case("APC during a single-reply exchange: the late reply is still taken", [] {
        late_peer peer(peer_port, "late", 200);
        kx::exchange ex;
        CHECK(kx::open_exchange(ex, "127.0.0.1", peer_port, kx::target::address) == KX_OK);
        apc_runs = 0;
        const uint8_t request[] = {'?'};
        kx::step outcome;
        {
            apc_later apc(50);
            outcome = kx::single_reply(ex, request, sizeof request, 1000);
        }
        CHECK(outcome == kx::step::received);
        CHECK(ex.received == 4 && std::memcmp(ex.receive_area, "late", 4) == 0);
        CHECK(apc_runs == 1);
        kx::close_exchange(ex);
    });

    run_case("APC during a search: the device answering later is still listed", [] {
        // A family A device that answers the broadcast probe 150 ms late;
        // the APC comes while the search waits for it.
        const char *answer = "A0.16.2.3.4.5/502/x/y/z/LATE/";
        kx_device_record records[3];
        int32_t count = -1;
        for (const int apc_ms : {50, 120}) {
            late_peer device(65535, answer, 150);
            apc_runs = 0;
            int32_t result;
            {
                apc_later apc(apc_ms);
                result = apc_ms == 50 ? kxa_search_all(records, &count)
                                      : kx_discover(records, 2, &count, 0);
            }
            CHECK(device.asked && apc_runs == 1);
            CHECK(result == KX_OK && count == 1);
            CHECK(count == 1 && std::strncmp(records[0].device_name, "LATE", 10) == 0);
        }
    });

    run_case("adapters: the loopback-only namespace lists none, completely", [] {
        platform::adapter_list adapters;
        adapters.count = -1;
        platform::list_adapters(adapters);
        CHECK(adapters.count == 0 && adapters.complete);
    });

    run_case("port unreachable: silence, and the next datagram is received", [] {
        platform::udp_socket library, peer;
        CHECK(open_bound(library, library_port));
        CHECK(open_bound(peer, peer_port, false));
        send_bytes(library, silent_port, 1, 'X');
        CHECK(!platform::wait_readable(library, 300));
        send_bytes(peer, library_port, 5, 'a');
        CHECK(platform::wait_readable(library, 1000));
        uint8_t buffer[256];
        platform::ipv4_net sender = 0;
        CHECK(platform::receive_from(library, buffer, sizeof buffer, sender) == 5);
        platform::close(library);
        platform::close(peer);

        // Whether this Winsock reports the ICMP error at all when left alone:
        // tells whether the case above proves anything here.
        SOCKET raw = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_port = htons(library_port);
        ::bind(raw, reinterpret_cast<sockaddr *>(&local), sizeof local);
        WSAEVENT event = ::WSACreateEvent();
        ::WSAEventSelect(raw, event, FD_READ);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(silent_port);
        to.sin_addr.s_addr = loopback;
        ::sendto(raw, "X", 1, 0, reinterpret_cast<sockaddr *>(&to), sizeof to);
        const bool signalled =
            ::WSAWaitForMultipleEvents(1, &event, FALSE, 300, FALSE) == WSA_WAIT_EVENT_0;
        char b[16];
        const int n = ::recvfrom(raw, b, sizeof b, 0, nullptr, nullptr);
        const int error = n < 0 ? ::WSAGetLastError() : 0;
        std::printf(
            "  note: left alone, this Winsock %s read readiness and %s for a "
            "port-unreachable\n",
            signalled ? "signals" : "does not signal",
            error == WSAECONNRESET ? "fails the receive" : "does not fail the receive");
        ::WSACloseEvent(event);
        ::closesocket(raw);
    });

    run_case("broadcast: reaches 255.255.255.255 with permission, not without", [] {
        platform::udp_socket library, listener;
        CHECK(platform::open_udp(library) && platform::bind_any(library, library_port));
        CHECK(open_bound(listener, peer_port));
        const uint8_t probe[] = {'X'};
        platform::send_to(library, 0xFFFFFFFFu, peer_port, probe, 1);
        CHECK(!platform::wait_readable(listener, 200));
        CHECK(platform::allow_broadcast(library));
        platform::send_to(library, 0xFFFFFFFFu, peer_port, probe, 1);
        CHECK(platform::wait_readable(listener, 1000));
        uint8_t buffer[16];
        platform::ipv4_net sender = 0;
        CHECK(platform::receive_from(listener, buffer, sizeof buffer, sender) == 1);
        platform::close(library);
        platform::close(listener);
    });

    run_case("addresses: inet_addr and inet_ntoa forms", [] {
        const platform::ipv4_net parsed = platform::parse_ipv4("127.0.0.2");
        uint8_t bytes[4];
        std::memcpy(bytes, &parsed, 4);
        CHECK(bytes[0] == 127 && bytes[1] == 0 && bytes[2] == 0 && bytes[3] == 2);
        CHECK(platform::parse_ipv4("not an address") == 0xFFFFFFFFu);
        CHECK(platform::parse_ipv4("1.2.3.256") == 0xFFFFFFFFu);
        char text[16];
        platform::format_ipv4(parsed, text);
        CHECK(std::strcmp(text, "127.0.0.2") == 0);
        platform::format_ipv4(0xFFFFFFFFu, text);
        CHECK(std::strcmp(text, "255.255.255.255") == 0);
    });
}

}  // namespace

int main() {
    entry_cases();
    if (!platform::startup()) {
        std::printf("FAIL Windows Sockets 2.2 cannot be started\n");
        return 1;
    }
    socket_cases();
    platform::cleanup();
    std::printf("platform test: %d cases passed, %d failed\n", cases_passed, cases_failed);
    return cases_failed == 0 ? 0 : 1;
}
