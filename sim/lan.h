// A simulated LAN of device servers inside one private network namespace.
//
// One socket per device port (one for each family of the simulator's family
// table, families.h) is bound to 0.0.0.0 with IP_PKTINFO, so the simulator
// sees whether a request was broadcast or which 127.0.0.x address it was
// sent to, and each device answers from its own address. Every datagram received is recorded, and
// devices misbehave on request (see fault).
//
// This code is the library's examiner: it shares no protocol code with it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace kxsim {

using bytes = std::vector<uint8_t>;

constexpr uint16_t host_port = 65281;

bytes to_bytes(const std::string &text);

// One datagram as the simulator received it.
struct datagram {
    int64_t time_ms = 0;  // since the LAN started
    std::string source;   // dotted text
    uint16_t source_port = 0;
    std::string destination;  // 255.255.255.255 for a broadcast
    uint16_t destination_port = 0;
    bytes payload;

    std::string text() const { return {payload.begin(), payload.end()}; }
    bool broadcast() const { return destination == "255.255.255.255"; }
};

using matcher = std::function<bool(const datagram &)>;
matcher any_request();
// Payload begins with the given text (family A commands).
matcher text_starts_with(std::string prefix);
// Payload is exactly the given text.
matcher text_is(std::string text);
// Byte 8 of the payload (family B opcode).
matcher opcode_is(uint8_t opcode);

// Misbehaviour applied to a device's answer to a matching request.
struct fault {
    bool silent = false;             // answer nothing
    int delay_ms = 0;                // answer late
    int copies = 1;                  // 2: answer twice
    bool replace = false;            // send replacement instead of the answer
    bytes replacement;               //   (also sent when the device had no answer)
    int truncate_to = -1;            // cut the answer to this many bytes
    size_t pad_to = 0;               // pad the answer with 'x' up to this length
    bool corrupt_last_byte = false;  // e.g. breaks a family B CRC
    std::vector<bytes> strays;       // sent to the host before the answer,
    int stray_gap_ms = 0;            //   this far apart (the answer follows the last)
    bool silent_afterwards = false;  // the device answers nothing after this
    int times = -1;                  // matching requests it applies to; -1: all

    // Chainable setters: fault().late(50).once()
    fault &no_answer() {
        silent = true;
        return *this;
    }
    fault &late(int ms) {
        delay_ms = ms;
        return *this;
    }
    fault &twice() {
        copies = 2;
        return *this;
    }
    fault &reply_with(bytes b) {
        replace = true;
        replacement = std::move(b);
        return *this;
    }
    fault &reply_with(const std::string &text) {
        return reply_with(bytes(text.begin(), text.end()));
    }
    fault &cut_to(int n) {
        truncate_to = n;
        return *this;
    }
    fault &padded_to(size_t n) {
        pad_to = n;
        return *this;
    }
    fault &bad_last_byte() {
        corrupt_last_byte = true;
        return *this;
    }
    fault &stray_first(bytes b, int gap_ms = 0) {
        strays.push_back(std::move(b));
        stray_gap_ms = gap_ms;
        return *this;
    }
    fault &stray_first(const std::string &text, int gap_ms = 0) {
        return stray_first(bytes(text.begin(), text.end()), gap_ms);
    }
    fault &then_silent() {
        silent_afterwards = true;
        return *this;
    }
    fault &once() {
        times = 1;
        return *this;
    }
    fault &for_requests(int n) {
        times = n;
        return *this;
    }
};

// A device's answers to one request, each sent from the device's address
// and the port the request came to, to the request's source.
struct answer {
    bytes payload;
    int delay_ms = 0;
};

class device {
  public:
    explicit device(std::string address) : address_(std::move(address)) {}
    virtual ~device() = default;
    device(const device &) = delete;
    device &operator=(const device &) = delete;

    const std::string &address() const { return address_; }

    // Adds a fault rule; the first rule that matches a request applies.
    void inject(matcher when, fault what);
    void clear_faults();

    // Called on the simulator thread, under the device's lock, for every
    // datagram sent to this device's address or broadcast, on any device
    // port.
    virtual std::vector<answer> handle(const datagram &request) = 0;

    // Runs the faults around handle(). Returns what is to be sent.
    std::vector<answer> respond(const datagram &request);

    // Guards the device state between the simulator thread and the test.
    std::mutex &lock() const { return mutex_; }

  private:
    struct rule {
        matcher when;
        fault what;
    };
    std::string address_;
    std::vector<rule> rules_;
    bool silenced_ = false;
    mutable std::mutex mutex_;
};

class lan {
  public:
    // Binds every family's device port and starts the simulator thread, in
    // the network namespace of the calling thread. Refuses (throws) outside
    // a private network namespace. A datagram to the broadcast address of a
    // device's subnet, subnet_prefix_length bits long, reaches the device.
    explicit lan(int subnet_prefix_length = 24);
    ~lan();
    lan(const lan &) = delete;
    lan &operator=(const lan &) = delete;

    template <typename Device, typename... Args>
    Device &add(Args &&...args) {
        auto made = std::make_shared<Device>(std::forward<Args>(args)...);
        Device &ref = *made;
        add_device(std::move(made));
        return ref;
    }
    void add_device(std::shared_ptr<device> d);

    // Every datagram received so far, in order of arrival. Waits until the
    // simulator has read everything already queued on its sockets.
    std::vector<datagram> received();
    // The same, on one device port only.
    std::vector<datagram> received_on(uint16_t port);
    void clear_received();

    // Sends a datagram from source:source_port (any 127.0.0.x) to the host
    // after delay_ms: strays and foreign datagrams.
    void send(const std::string &source, uint16_t source_port, bytes payload, int delay_ms = 0,
              const std::string &destination = "127.0.0.1", uint16_t destination_port = host_port);

    // Milliseconds since the LAN started, on the clock of datagram::time_ms.
    int64_t now_ms() const;

  private:
    struct impl;
    std::unique_ptr<impl> impl_;
};

// True inside a namespace whose only interface is loopback.
bool in_private_namespace();

}  // namespace kxsim
