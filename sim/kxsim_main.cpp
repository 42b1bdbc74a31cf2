// kxsim: serves a simulated LAN of device servers until it is stopped, so a
// host program can be tested without hardware. It answers on whatever
// network it runs on, so it refuses to run outside a private network
// namespace (scripts/netns-run).
//
//   kxsim --family-a 2 --family-b 2            two devices of each family
//   kxsim --family-a 127.0.0.2[=0.16.2.3.4.5]  one device at that address
//   kxsim --devices lab.json                   devices described in JSON
//   kxsim ... --trace --fault 127.0.0.2,late=1500,on=L
//   kxsim --subnet 10.1.0 --family-a 10.1.0.2  a device behind a link of its own
//
// It must start first in a namespace that holds only loopback; devices live
// in 127.0.0.0/8, or in a subnet given with --subnet, whose link kxsim adds.
// Prints "ready" once every socket is bound; stops on SIGINT or SIGTERM.
// Devices keep what is written to them until kxsim stops.
#include <CLI/CLI.hpp>
#include <cctype>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>

#include "device_b.h"
#include "device_file.h"
#include "families.h"
#include "fault_option.h"
#include "lan.h"
#include "subnets.h"
#include "trace_line.h"

namespace {

volatile std::sig_atomic_t stop_requested = 0;
void request_stop(int) { stop_requested = 1; }

// Default devices of a count: family A at 127.0.1.N, family B at 127.0.2.N
// (families.h).
constexpr int most_per_family = 254;

bool is_count(const std::string &text) {
    return !text.empty() && text.size() <= 3 &&
           text.find_first_not_of("0123456789") == std::string::npos;
}

// "--family-a N" or "--family-a ADDRESS[=ID]" as devices, after those
// listed already: an address's default identifier and name number it by its
// position among them.
std::string add_defaults(const std::vector<std::string> &values, const kxsim::family_entry &family,
                         std::vector<std::shared_ptr<kxsim::device>> &devices) {
    const std::string subnet = std::to_string(family.subnet);
    for (const std::string &value : values) {
        if (is_count(value)) {
            const int count = std::stoi(value);
            if (count > most_per_family) return "at most 254 devices of each family";
            for (int i = 1; i <= count; ++i) {
                const std::string n = std::to_string(i);
                const kxsim::device_id_bytes id{
                    0, 16, family.id_group, 0, family.subnet, static_cast<uint8_t>(i)};
                devices.push_back(family.kind.make(family, "127.0." + subnet + "." + n, id,
                                                   std::string("SIM-") + family.letter + n));
            }
            continue;
        }
        const size_t eq = value.find('=');
        nlohmann::json entry = {{"address", value.substr(0, eq)}, {"family", family.wire.code}};
        if (eq != std::string::npos) entry["device_id"] = value.substr(eq + 1);
        std::string error;
        auto d = kxsim::device_from_json(entry, devices.size() + 1, error);
        if (!error.empty() || d == nullptr)
            return "device " + std::to_string(devices.size() + 1) + ": " + error;
        devices.push_back(std::move(d));
    }
    return {};
}

// "--family-a"
std::string option_of(const kxsim::family_entry &family) {
    return std::string("--family-") +
           static_cast<char>(std::tolower(static_cast<unsigned char>(family.letter)));
}

// "10.1.0": three dotted parts, the subnet 10.1.0.0/24.
bool subnet_prefix(const std::string &text) {
    const kxsim::ipv4_bytes address = kxsim::ipv4(text + ".0");
    return address != kxsim::ipv4_bytes{} && address[0] != 127 && address[0] != 0 &&
           address[0] < 224 && text.find_first_not_of("0123456789.") == std::string::npos;
}

// Where a device answers: loopback (an empty prefix), or one of the subnets.
// Empty error when the address can answer inside kxsim's namespace.
std::string placement(const std::string &address, const std::vector<std::string> &subnets,
                      std::string &prefix) {
    const kxsim::ipv4_bytes a = kxsim::ipv4(address);
    prefix.clear();
    if (a[0] == 127) {
        const bool network_or_broadcast =
            (a[1] == 0 && a[2] == 0 && a[3] == 0) || (a[1] == 255 && a[2] == 255 && a[3] == 255);
        if (!network_or_broadcast) return {};
    }
    for (const std::string &candidate : subnets)
        if (address.starts_with(candidate + ".")) {
            prefix = candidate;
            if (a[3] >= 2 && a[3] <= 254) return {};
            return "device at " + address + ": " + candidate +
                   ".0, .1 (the host's side) and .255 " + "are not device addresses";
        }
    return "device at " + address +
           ": only 127.0.0.0/8 answers inside kxsim's namespace; give --subnet PREFIX to serve "
           "PREFIX.0/24 behind a link of its own";
}

}  // namespace

int main(int argc, char **argv) {
    CLI::App app{
        "kxsim: simulated device servers of every family, inside a private network "
        "namespace only"};
    app.footer(
        "How to start it: first, inside a private network namespace that holds only the "
        "loopback interface (scripts/netns-run makes one), before any other interface exists "
        "there; kxsim refuses to run beside one, since its devices would answer on that network. "
        "Then run the host program in the same namespace, for example\n"
        "  scripts/netns-run sh -c 'kxsim --family-a 2 & sleep 0.5; kxtool search; kill $!'\n"
        "Devices answer at addresses in 127.0.0.0/8; with --subnet PREFIX, kxsim adds a link of "
        "its own to PREFIX.0/24 (the host's side is PREFIX.1) and serves the devices there; the "
        "limited broadcast 255.255.255.255 then leaves by the first subnet's link. --trace shows "
        "the loopback devices' datagrams only.");
    const auto families = kxsim::families();
    std::vector<std::vector<std::string>> per_family(families.size());
    std::vector<std::string> fault_texts, subnet_prefixes;
    std::string devices_file;
    bool trace = false;
    std::string family_options;  // "--family-a, --family-b"
    for (size_t i = 0; i < families.size(); ++i) {
        const std::string first = "127.0." + std::to_string(families[i].subnet) + ".";
        app.add_option(
            option_of(families[i]), per_family[i],
            "N devices at " + first + "1 to " + first + "N, or one at ADDRESS[=IDENTIFIER]");
        family_options += (i > 0 ? ", " : "") + option_of(families[i]);
    }
    app.add_option("--devices", devices_file,
                   "JSON list of devices: address, family, device_id and settings as kxtool "
                   "save writes them")
        ->check(CLI::ExistingFile);
    app.add_flag("--trace", trace, "print each datagram received, decoded, one line each");
    app.add_option("--fault", fault_texts,
                   "ADDRESS,WHAT[,WHAT...][,on=REQUEST][,times=N]; WHAT: silent, late=MS, twice, "
                   "strays=N, truncate=N, oversize=N, bad-crc, silent-after; REQUEST: op=N "
                   "(family B opcode) or the start of a family A command");
    app.add_option(
        "--subnet", subnet_prefixes,
        "PREFIX (three parts, such as 10.1.0): serve the devices in PREFIX.0/24 behind a "
        "link of their own, as a host's further adapter sees them");
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError &e) {
        const int code = app.exit(e);
        return code == 0 ? 0 : 2;
    }

    nlohmann::json list = nlohmann::json::array();
    if (!devices_file.empty()) {
        std::ifstream in(devices_file);
        list = nlohmann::json::parse(in, nullptr, false);
        if (list.is_discarded()) {
            std::fprintf(stderr, "kxsim: %s is not valid JSON\n", devices_file.c_str());
            return 2;
        }
        if (!list.is_array()) {
            std::fprintf(stderr, "kxsim: %s must hold a list of devices\n", devices_file.c_str());
            return 2;
        }
    }
    std::vector<std::shared_ptr<kxsim::device>> devices;
    if (const std::string error = kxsim::devices_from_json(list, devices); !error.empty()) {
        std::fprintf(stderr, "kxsim: %s\n", error.c_str());
        return 2;
    }
    for (size_t i = 0; i < families.size(); ++i)
        if (const std::string error = add_defaults(per_family[i], families[i], devices);
            !error.empty()) {
            std::fprintf(stderr, "kxsim: %s\n", error.c_str());
            return 2;
        }
    if (devices.empty()) {
        std::fprintf(stderr, "kxsim: no devices (%s or --devices)\n", family_options.c_str());
        return 2;
    }
    for (const std::string &text : fault_texts) {
        std::string error;
        kxsim::fault_option option = kxsim::parse_fault_option(text, error);
        std::shared_ptr<kxsim::device> target;
        for (auto &d : devices)
            if (d->address() == option.address) target = d;
        if (error.empty() && target == nullptr) error = "--fault: no device at " + option.address;
        if (!error.empty()) {
            std::fprintf(stderr, "kxsim: %s\n", error.c_str());
            return 2;
        }
        target->inject(option.when, option.what);
    }

    for (const std::string &prefix : subnet_prefixes)
        if (!subnet_prefix(prefix)) {
            std::fprintf(stderr,
                         "kxsim: --subnet %s: three dotted parts 0 to 255 outside 127 and 0, such "
                         "as 10.1.0\n",
                         prefix.c_str());
            return 2;
        }
    std::vector<std::shared_ptr<kxsim::device>> on_loopback;
    std::vector<kxsim::subnet_plan> plans;
    for (const std::string &prefix : subnet_prefixes) plans.push_back({prefix, {}, {}});
    std::vector<std::vector<std::shared_ptr<kxsim::device>>> in_subnet(plans.size());
    for (auto &d : devices) {
        std::string prefix;
        if (const std::string error = placement(d->address(), subnet_prefixes, prefix);
            !error.empty()) {
            std::fprintf(stderr, "kxsim: %s\n", error.c_str());
            return 2;
        }
        if (prefix.empty()) {
            on_loopback.push_back(d);
            continue;
        }
        for (size_t i = 0; i < plans.size(); ++i)
            if (plans[i].prefix == prefix) {
                plans[i].addresses.push_back(d->address());
                in_subnet[i].push_back(d);
            }
    }
    for (size_t i = 0; i < plans.size(); ++i)
        plans[i].populate = [&devices = in_subnet[i]](kxsim::lan &lan) {
            for (auto &d : devices) lan.add_device(d);
        };

    if (!kxsim::in_private_namespace()) {
        std::fprintf(stderr,
                     "kxsim: refusing to run outside a private network namespace that holds only "
                     "loopback (start it first in scripts/netns-run)\n");
        return 2;
    }
    std::signal(SIGINT, request_stop);
    std::signal(SIGTERM, request_stop);
    try {
        kxsim::lan lan;
        for (auto &d : on_loopback) lan.add_device(d);
        // The subnets' links come after the loopback LAN, which wants to be
        // alone in the namespace when it starts.
        kxsim::subnets further(plans);
        std::printf("ready\n");
        std::fflush(stdout);
        size_t shown = 0;
        while (!stop_requested) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            if (!trace) continue;
            auto all = lan.received();
            for (; shown < all.size(); ++shown)
                std::printf("%s\n", kxsim::trace_line(all[shown]).c_str());
            std::fflush(stdout);
        }
    } catch (const std::exception &e) {
        std::fprintf(stderr, "kxsim: %s\n", e.what());
        return 1;
    }
    return 0;
}
