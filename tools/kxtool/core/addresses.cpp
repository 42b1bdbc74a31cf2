#include "addresses.h"

#include <algorithm>

#include "fields.h"

namespace kxtool {
namespace {

constexpr uint32_t limited_broadcast = 0xFFFFFFFFu;

bool multicast(uint32_t a) { return (a >> 28) == 0xE; }
// 240.0.0.0/4 (future use) and 0.0.0.0/8 (this network).
bool reserved(uint32_t a) { return (a >> 28) == 0xF || (a >> 24) == 0; }

// A mask is some ones, then only zeros.
bool contiguous(uint32_t mask) { return (~mask & (~mask + 1)) == 0; }

std::string subnets_text(const std::vector<adapter> &host) {
    std::string text;
    for (const adapter &a : host) {
        if (!a.up) continue;
        int bits = 0;
        for (uint32_t m = a.mask; m & 0x80000000u; m <<= 1) ++bits;
        text += (text.empty() ? "" : ", ") + address_text(a.address & a.mask) + "/" +
                std::to_string(bits);
    }
    return text.empty() ? "none" : text;
}

// The comma-joined items of texts, each without the spaces around it; empty
// ones between commas are left out, but a text with none at all stays, to
// be refused.
std::vector<std::string> items_of(const std::vector<std::string> &texts) {
    std::vector<std::string> items;
    for (const std::string &text : texts) {
        const size_t before = items.size();
        for (size_t begin = 0; begin <= text.size();) {
            const size_t end = std::min(text.find(',', begin), text.size());
            const size_t first = text.find_first_not_of(' ', begin);
            if (first < end)
                items.push_back(
                    text.substr(first, text.find_last_not_of(' ', end - 1) - first + 1));
            begin = end + 1;
        }
        if (items.size() == before) items.emplace_back();
    }
    return items;
}

std::string address_of(const char *field, size_t width) {
    return kxtools::field_text(field, width);
}

}  // namespace

std::string lost_address(const std::string &field, const std::string &value,
                         const std::vector<adapter> &host) {
    uint32_t a = 0;
    if (!address_value(value, a)) return {};  // the field's own check says so
    const bool own = field == "ip_address";
    if (field == "subnet_mask") {
        if (a == 0 || !contiguous(a))
            return value + " is no subnet mask (some 255s, then the rest 0, such as 255.255.255.0)";
        return {};
    }
    if (!own && field != "gateway" && field != "li_address" && field != "li_address_2") return {};
    if (a == limited_broadcast) return value + " is the broadcast address: no device can have it";
    if (multicast(a)) return value + " is a multicast address: no device can have it";
    if (a == 0 && !own) return {};  // none, unused
    if (a == 0) return value + " is no device's address";
    if (reserved(a)) return value + " is a reserved address: no device can have it";
    if (own)
        for (const adapter &h : host)
            if (h.address == a) return value + " is this host's own address";
    return {};
}

std::string lost_in_subnet(const kx_settings_record &before, const kx_settings_record &after,
                           const std::vector<adapter> &host) {
    const std::string ip = address_of(after.ip_address, sizeof after.ip_address);
    const std::string mask_text = address_of(after.subnet_mask, sizeof after.subnet_mask);
    if (ip == address_of(before.ip_address, sizeof before.ip_address) &&
        mask_text == address_of(before.subnet_mask, sizeof before.subnet_mask))
        return {};
    uint32_t a = 0, mask = 0;
    if (!address_value(ip, a) || !address_value(mask_text, mask) || !contiguous(mask)) return {};
    // /31 and /32 have no network or broadcast address of their own.
    if (mask != 0 && ~mask > 1 && (a & ~mask) == 0)
        return "ip_address=" + ip + " with subnet_mask=" + mask_text +
               " is its subnet's network address: no device can have it";
    if (mask != 0 && ~mask > 1 && (a & ~mask) == ~mask)
        return "ip_address=" + ip + " with subnet_mask=" + mask_text +
               " is its subnet's broadcast address: no device can have it";
    const std::string old_ip = address_of(before.ip_address, sizeof before.ip_address);
    if (ip == old_ip) return {};
    const auto on_host = [&](uint32_t address) {
        for (const adapter &h : host)
            if (h.up && h.holds(address)) return true;
        return false;
    };
    if (on_host(a)) return {};
    // A device beyond a router stays reachable at another address of its
    // own subnet there.
    uint32_t old = 0;
    if (address_value(old_ip, old) && !on_host(old) && (old & mask) == (a & mask)) return {};
    return "ip_address=" + ip + " is on none of this host's subnets (" + subnets_text(host) +
           ") nor on the device's own subnet beyond a router: kxtool could not reach the device "
           "there";
}

std::string parse_range(const std::string &text, kx_address_range &range) {
    const std::string why = "--range " + text +
                            ": an address, CIDR (10.2.0.0/24) or FIRST-LAST range "
                            "(10.2.0.5-10.2.0.40 or 10.2.0.5-40) is needed";
    uint32_t first = 0, last = 0;
    if (const size_t slash = text.find('/'); slash != std::string::npos) {
        const std::string bits_text = text.substr(slash + 1);
        if (bits_text.empty() || bits_text.size() > 2 ||
            bits_text.find_first_not_of("0123456789") != std::string::npos ||
            !address_value(text.substr(0, slash), first))
            return why;
        const int bits = std::stoi(bits_text);
        if (bits > 32) return why;
        const uint32_t mask = bits == 0 ? 0 : 0xFFFFFFFFu << (32 - bits);
        first &= mask;
        last = first | ~mask;
        // The network and broadcast addresses are no device's.
        if (bits <= 30) ++first, --last;
    } else if (const size_t dash = text.find('-'); dash != std::string::npos) {
        const std::string tail = text.substr(dash + 1);
        if (!address_value(text.substr(0, dash), first)) return why;
        if (tail.find('.') != std::string::npos) {
            if (!address_value(tail, last)) return why;
        } else {
            if (tail.empty() || tail.size() > 3 ||
                tail.find_first_not_of("0123456789") != std::string::npos || std::stoi(tail) > 255)
                return why;
            last = (first & ~0xFFu) | static_cast<uint32_t>(std::stoi(tail));
        }
        if (last < first) return "--range " + text + ": the last address comes before the first";
    } else if (address_value(text, first)) {
        last = first;
    } else {
        return why;
    }
    range = {first, last};
    return {};
}

std::string make_search_plan(const std::vector<std::string> &ranges,
                             const std::vector<std::string> &targets, std::optional<int64_t> rate,
                             bool one_adapter, search_plan &plan) {
    for (const std::string &text : items_of(ranges)) {
        kx_address_range range{};
        if (std::string why = parse_range(text, range); !why.empty()) return why;
        plan.ranges.push_back(range);
    }
    for (const std::string &text : items_of(targets)) {
        uint32_t address = 0;
        if (!address_value(text, address) || address == 0)
            return "--target " + text + ": an address such as 10.2.0.255 is needed";
        plan.targets.push_back(address);
    }
    if (rate && (*rate < 1 || *rate > KX_SWEEP_MOST_RATE))
        return "--rate " + std::to_string(*rate) + ": from 1 to " +
               std::to_string(KX_SWEEP_MOST_RATE) + " requests a second";
    if (rate && plan.ranges.empty()) return "--rate paces a --range search: add --range";
    plan.rate = rate ? static_cast<uint32_t>(*rate) : 0;
    if (plan.routed() && one_adapter)
        return "--interface keeps to one adapter's subnet, --range and --target look beyond it: "
               "give one";
    return {};
}

}  // namespace kxtool
