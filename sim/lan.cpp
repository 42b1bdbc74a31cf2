#include "lan.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <stdexcept>

#include "families.h"

namespace kxsim {

bytes to_bytes(const std::string &text) { return {text.begin(), text.end()}; }

matcher any_request() {
    return [](const datagram &) { return true; };
}

matcher text_starts_with(std::string prefix) {
    return [prefix](const datagram &d) {
        return d.payload.size() >= prefix.size() &&
               std::equal(prefix.begin(), prefix.end(), d.payload.begin());
    };
}

matcher text_is(std::string text) {
    return [text](const datagram &d) { return d.text() == text; };
}

matcher opcode_is(uint8_t opcode) {
    return [opcode](const datagram &d) { return d.payload.size() > 8 && d.payload[8] == opcode; };
}

void device::inject(matcher when, fault what) {
    std::lock_guard<std::mutex> hold(mutex_);
    rules_.push_back({std::move(when), std::move(what)});
}

void device::clear_faults() {
    std::lock_guard<std::mutex> hold(mutex_);
    rules_.clear();
    silenced_ = false;
}

std::vector<answer> device::respond(const datagram &request) {
    std::lock_guard<std::mutex> hold(mutex_);
    if (silenced_) return {};
    std::vector<answer> answers = handle(request);
    rule *applied = nullptr;
    for (auto &r : rules_) {
        if (r.what.times != 0 && r.when(request)) {
            applied = &r;
            break;
        }
    }
    if (applied == nullptr) return answers;
    fault &f = applied->what;
    if (f.times > 0) --f.times;
    if (f.silent_afterwards) silenced_ = true;

    std::vector<answer> out;
    int at = 0;
    for (const bytes &stray : f.strays) {
        out.push_back({stray, at});
        at += f.stray_gap_ms;
    }
    if (f.silent) return out;
    if (f.replace) answers = {answer{f.replacement}};
    for (auto &a : answers) {
        if (f.truncate_to >= 0 && a.payload.size() > static_cast<size_t>(f.truncate_to))
            a.payload.resize(static_cast<size_t>(f.truncate_to));
        if (a.payload.size() < f.pad_to) a.payload.resize(f.pad_to, 'x');
        if (f.corrupt_last_byte && !a.payload.empty()) a.payload.back() ^= 0x5A;
        for (int copy = 0; copy < f.copies; ++copy)
            out.push_back({a.payload, a.delay_ms + at + f.delay_ms});
    }
    return out;
}

namespace {

using clock_type = std::chrono::steady_clock;

std::string address_text(in_addr a) {
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &a, text, sizeof text);
    return text;
}

in_addr address_of(const std::string &text) {
    in_addr a{};
    if (inet_pton(AF_INET, text.c_str(), &a) != 1)
        throw std::invalid_argument("not an IPv4 address: " + text);
    return a;
}

int bind_udp(in_addr address, uint16_t port, bool pktinfo) {
    int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) throw std::runtime_error("socket failed");
    int on = 1;
    if (pktinfo) ::setsockopt(fd, IPPROTO_IP, IP_PKTINFO, &on, sizeof on);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    sa.sin_addr = address;
    if (::bind(fd, reinterpret_cast<sockaddr *>(&sa), sizeof sa) != 0) {
        ::close(fd);
        throw std::runtime_error("bind failed on port " + std::to_string(port));
    }
    return fd;
}

// Whether destination is the broadcast address of the subnet, prefix_length
// bits long, that holds the device.
bool directed_broadcast_of(const std::string &destination, const std::string &device_address,
                           int prefix_length) {
    in_addr to{}, device{};
    if (inet_pton(AF_INET, destination.c_str(), &to) != 1 ||
        inet_pton(AF_INET, device_address.c_str(), &device) != 1)
        return false;
    const uint32_t host_bits = prefix_length >= 32 ? 0 : 0xFFFFFFFFu >> prefix_length;
    return ntohl(to.s_addr) == (ntohl(device.s_addr) | host_bits) && host_bits > 1;
}

// Marks a datagram the simulator sends to itself to learn that everything
// queued before it has been read. Never recorded.
const bytes sync_marker = to_bytes("kxsim-sync-marker");
const char *const sync_source = "127.0.0.254";

}  // namespace

struct lan::impl {
    struct outgoing {
        clock_type::time_point due;
        int via_fd;  // -1: a socket of its own bound to source:source_port
        std::string source;
        uint16_t source_port;
        std::string destination;
        uint16_t destination_port;
        bytes payload;
    };

    // One socket per family's device port, in the order of the family table.
    struct port_socket {
        uint16_t port;
        int fd;
    };

    clock_type::time_point start = clock_type::now();
    int subnet_prefix_length = 24;
    std::vector<port_socket> sockets;
    int wake[2] = {-1, -1};
    std::thread thread;
    std::atomic<bool> stopping{false};

    std::mutex mutex;  // guards everything below
    std::condition_variable synced;
    std::vector<std::shared_ptr<device>> devices;
    std::vector<datagram> trace;
    std::vector<outgoing> queue;
    uint64_t sync_requested = 0;
    uint64_t sync_seen = 0;

    int64_t elapsed_ms() const {
        return std::chrono::duration_cast<std::chrono::milliseconds>(clock_type::now() - start)
            .count();
    }

    void poke() {
        char c = 1;
        (void)!::write(wake[1], &c, 1);
    }

    void send_now(const outgoing &o) {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(o.destination_port);
        to.sin_addr = address_of(o.destination);
        if (o.via_fd < 0) {
            int fd;
            try {
                fd = bind_udp(address_of(o.source), o.source_port, false);
            } catch (const std::exception &) {
                return;  // a source the test asked for cannot be bound: nothing leaves
            }
            ::sendto(fd, o.payload.data(), o.payload.size(), 0, reinterpret_cast<sockaddr *>(&to),
                     sizeof to);
            ::close(fd);
            return;
        }
        // Answer from the device's own address through the shared socket.
        iovec iov{const_cast<uint8_t *>(o.payload.data()), o.payload.size()};
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))] = {};
        msghdr msg{};
        msg.msg_name = &to;
        msg.msg_namelen = sizeof to;
        msg.msg_iov = &iov;
        msg.msg_iovlen = 1;
        msg.msg_control = control;
        msg.msg_controllen = sizeof control;
        cmsghdr *cm = CMSG_FIRSTHDR(&msg);
        cm->cmsg_level = IPPROTO_IP;
        cm->cmsg_type = IP_PKTINFO;
        cm->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
        in_pktinfo info{};
        info.ipi_spec_dst = address_of(o.source);
        std::memcpy(CMSG_DATA(cm), &info, sizeof info);
        ::sendmsg(o.via_fd, &msg, 0);
    }

    void read_one(int fd, uint16_t port) {
        uint8_t buffer[2048];
        sockaddr_in from{};
        alignas(cmsghdr) char control[256];
        iovec iov{buffer, sizeof buffer};
        msghdr msg{};
        msg.msg_name = &from;
        msg.msg_namelen = sizeof from;
        msg.msg_iov = &iov;
        msg.msg_iovlen = 1;
        msg.msg_control = control;
        msg.msg_controllen = sizeof control;
        ssize_t n = ::recvmsg(fd, &msg, MSG_DONTWAIT);
        if (n < 0) return;
        datagram d;
        d.time_ms = elapsed_ms();
        d.source = address_text(from.sin_addr);
        d.source_port = ntohs(from.sin_port);
        d.destination_port = port;
        d.payload.assign(buffer, buffer + n);
        for (cmsghdr *cm = CMSG_FIRSTHDR(&msg); cm != nullptr; cm = CMSG_NXTHDR(&msg, cm)) {
            if (cm->cmsg_level == IPPROTO_IP && cm->cmsg_type == IP_PKTINFO) {
                in_pktinfo info{};
                std::memcpy(&info, CMSG_DATA(cm), sizeof info);
                d.destination = address_text(info.ipi_addr);
            }
        }
        if (d.source == sync_source && d.payload == sync_marker) {
            std::lock_guard<std::mutex> hold(mutex);
            ++sync_seen;
            synced.notify_all();
            return;
        }
        std::vector<std::shared_ptr<device>> targets;
        {
            std::lock_guard<std::mutex> hold(mutex);
            trace.push_back(d);
            for (auto &dev : devices)
                if (d.broadcast() || dev->address() == d.destination ||
                    directed_broadcast_of(d.destination, dev->address(), subnet_prefix_length))
                    targets.push_back(dev);
        }
        for (auto &dev : targets) {
            for (answer &a : dev->respond(d)) {
                std::lock_guard<std::mutex> hold(mutex);
                queue.push_back({clock_type::now() + std::chrono::milliseconds(a.delay_ms), fd,
                                 dev->address(), port, d.source, d.source_port,
                                 std::move(a.payload)});
            }
        }
    }

    // Sends what is due; returns the poll timeout until the next item.
    int flush_due() {
        std::vector<outgoing> due;
        int timeout = 1000;
        {
            std::lock_guard<std::mutex> hold(mutex);
            const auto now = clock_type::now();
            // Keep the order of equal due times: answers leave as queued.
            std::stable_sort(queue.begin(), queue.end(),
                             [](const outgoing &a, const outgoing &b) { return a.due < b.due; });
            auto split = std::find_if(queue.begin(), queue.end(),
                                      [&](const outgoing &o) { return o.due > now; });
            due.assign(std::make_move_iterator(queue.begin()), std::make_move_iterator(split));
            queue.erase(queue.begin(), split);
            if (!queue.empty()) {
                auto wait =
                    std::chrono::duration_cast<std::chrono::milliseconds>(queue.front().due - now)
                        .count();
                timeout = static_cast<int>(std::clamp<int64_t>(wait + 1, 0, 1000));
            }
        }
        for (const auto &o : due) send_now(o);
        return timeout;
    }

    void run() {
        std::vector<pollfd> fds;
        for (const port_socket &s : sockets) fds.push_back({s.fd, POLLIN, 0});
        fds.push_back({wake[0], POLLIN, 0});
        while (!stopping) {
            const int timeout = flush_due();
            if (::poll(fds.data(), fds.size(), timeout) <= 0) continue;
            if (fds.back().revents & POLLIN) {
                char drain[64];
                (void)!::read(wake[0], drain, sizeof drain);
            }
            // Read in arrival order per port; every queue is drained.
            for (size_t i = 0; i < sockets.size(); ++i)
                if (fds[i].revents & POLLIN) read_one(sockets[i].fd, sockets[i].port);
        }
    }

    // The socket bound to a device port; -1 for none.
    int socket_of(uint16_t port) const {
        for (const port_socket &s : sockets)
            if (s.port == port) return s.fd;
        return -1;
    }

    // Sends a marker to every device port and waits until the thread read
    // them all: every datagram queued before them has been recorded by then.
    void sync() {
        uint64_t target;
        {
            std::lock_guard<std::mutex> hold(mutex);
            sync_requested += sockets.size();
            target = sync_requested;
        }
        // Through the LAN's own sockets, so that the markers stay in its
        // namespace whichever namespace the calling thread is in.
        for (const port_socket &s : sockets)
            send_now(
                {clock_type::now(), s.fd, sync_source, s.port, "127.0.0.1", s.port, sync_marker});
        std::unique_lock<std::mutex> hold(mutex);
        synced.wait_for(hold, std::chrono::seconds(5), [&] { return sync_seen >= target; });
    }
};

bool in_private_namespace() {
    ifaddrs *list = nullptr;
    if (getifaddrs(&list) != 0) return false;
    bool only_loopback = true;
    for (ifaddrs *i = list; i != nullptr; i = i->ifa_next)
        if (std::strcmp(i->ifa_name, "lo") != 0) only_loopback = false;
    freeifaddrs(list);
    return only_loopback;
}

lan::lan(int subnet_prefix_length) : impl_(std::make_unique<impl>()) {
    impl_->subnet_prefix_length = subnet_prefix_length;
    if (!in_private_namespace())
        throw std::runtime_error("the simulated LAN runs only in a private network namespace");
    in_addr any{};
    any.s_addr = htonl(INADDR_ANY);
    for (const family_entry &family : families())
        impl_->sockets.push_back({family.wire.port, bind_udp(any, family.wire.port, true)});
    if (::pipe(impl_->wake) != 0) throw std::runtime_error("pipe failed");
    impl_->thread = std::thread([this] { impl_->run(); });
}

lan::~lan() {
    impl_->stopping = true;
    impl_->poke();
    impl_->thread.join();
    for (const auto &s : impl_->sockets) ::close(s.fd);
    for (int fd : impl_->wake) ::close(fd);
}

void lan::add_device(std::shared_ptr<device> d) {
    address_of(d->address());  // validates
    std::lock_guard<std::mutex> hold(impl_->mutex);
    impl_->devices.push_back(std::move(d));
}

std::vector<datagram> lan::received() {
    impl_->sync();
    std::lock_guard<std::mutex> hold(impl_->mutex);
    return impl_->trace;
}

std::vector<datagram> lan::received_on(uint16_t port) {
    std::vector<datagram> all = received();
    std::vector<datagram> out;
    for (auto &d : all)
        if (d.destination_port == port) out.push_back(std::move(d));
    return out;
}

void lan::clear_received() {
    impl_->sync();
    std::lock_guard<std::mutex> hold(impl_->mutex);
    impl_->trace.clear();
}

void lan::send(const std::string &source, uint16_t source_port, bytes payload, int delay_ms,
               const std::string &destination, uint16_t destination_port) {
    {
        std::lock_guard<std::mutex> hold(impl_->mutex);
        // From a device port, go through the bound socket (the port is taken).
        const int via = impl_->socket_of(source_port);
        impl_->queue.push_back({clock_type::now() + std::chrono::milliseconds(delay_ms), via,
                                source, source_port, destination, destination_port,
                                std::move(payload)});
    }
    impl_->poke();
}

int64_t lan::now_ms() const { return impl_->elapsed_ms(); }

}  // namespace kxsim
