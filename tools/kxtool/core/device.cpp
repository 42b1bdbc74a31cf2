#include "device.h"

#include <fmt/core.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <set>
#include <utility>

#include "adapters.h"

namespace kxtool {
namespace {

// More than any LAN of these devices holds; kx_discover never writes past it.
constexpr int32_t discovery_capacity = 1024;

search_result list_devices(const context &ctx);

std::string socket_failure(const std::string &what) {
    std::string detail;
    switch (library_port_state(detail)) {
        case port_state::in_use:
            return what +
                   " did not take place: local UDP port 65281 is in use (is another "
                   "program configuring devices?)";
        case port_state::unusable:
            return what + " did not take place: no UDP socket on local port 65281 (" + detail + ")";
        case port_state::free:
            break;
    }
    return {};
}

}  // namespace

void trace_call(const context &ctx, const std::string &call, int32_t result, double milliseconds) {
    if (ctx.tracing())
        ctx.trace(fmt::format("{}: {} ({}) in {:.2f} ms", call, result, kx_result_text(result),
                              milliseconds));
}

std::string failure_text(const std::string &device, const std::string &operation, int32_t result) {
    switch (result) {
        case KX_E_TIMEOUT:
            return "no answer from " + device + " to the " + operation + " within 1 s";
        case KX_E_REPLY:
            return device + " answered the " + operation +
                   " with a reply that is malformed or a refusal; the " + operation +
                   " was not completed";
        case KX_E_SOCKET:
            // The library says only that the socket or a receive failed; the
            // port tells which: free, so the socket was fine and the reply
            // could not be taken.
            if (std::string text = socket_failure("the " + operation + " of " + device);
                !text.empty())
                return text;
            return "the reply of " + device + " to the " + operation +
                   " could not be received: it is larger than 256 bytes (oversize) or the "
                   "receive failed";
        case KX_E_REFUSED:
            return device + " refused the login: wrong password";
        case KX_E_ARGUMENT:
            return "the library refused the " + operation + " of " + device +
                   " as invalid; nothing was sent";
        default:
            return fmt::format("the {} of {} failed: {} (result {})", operation, device,
                               kx_result_text(result), result);
    }
}

std::string use_interface(context &ctx, const std::string &address) {
    // Limited broadcasts for a device leave by the adapter that holds its
    // address, or by every adapter, rather than by the default route alone.
    traced(ctx, "kx_set_option every adapter",
           [&] { return kx_set_option(KX_OPTION_EVERY_ADAPTER, 1); });
    if (address.empty()) return {};
    uint32_t wanted = 0;
    if (!address_value(address, wanted)) return "--interface: not an address: " + address;
    std::string error;
    for (const adapter &a : list_adapters(error))
        if (a.address == wanted) {
            ctx.interface = a;
            return {};
        }
    if (!error.empty()) return "--interface: " + error;
    return "--interface: no adapter has the address " + address + " (kxtool doctor lists them)";
}

bool in_scope(const context &ctx, const std::string &address) {
    uint32_t value = 0;
    return !ctx.interface || (address_value(address, value) && ctx.interface->holds(value));
}

std::string configured_address(const kx_device_record &record) {
    return kxtools::field_text(record.ip_address, sizeof record.ip_address);
}

bool same_device(const kx_device_record &a, const kx_device_record &b) {
    return a.family == b.family && std::memcmp(a.device_id, b.device_id, sizeof a.device_id) == 0;
}

search_result full_search(const context &ctx) {
    ctx.report({progress::step::search_started, 0, 0, {}, nullptr, 0});
    search_result found = list_devices(ctx);
    ctx.report({progress::step::search_done, 0, 0, {}, nullptr, found.devices.size()});
    ctx.watcher().search_finished(found.devices, found.listed() && !found.incomplete());
    return found;
}

namespace {

// kx_sweep's progress, handed on to the context; a stop asked for ends the
// sweep with what it found.
int32_t KXCONF_CALL sweep_progress(void *context_pointer, uint32_t asked, uint32_t total,
                                   int32_t found) {
    const context &ctx = *static_cast<const context *>(context_pointer);
    ctx.report({progress::step::sweep_asked,
                asked,
                total,
                {},
                nullptr,
                static_cast<size_t>(std::max(found, 0))});
    return ctx.stopping() ? 1 : 0;
}

std::string range_text(const kx_address_range &r) {
    return r.first == r.last ? address_text(r.first)
                             : address_text(r.first) + "-" + address_text(r.last);
}

// One search: the broadcast search, or the plan's sweep and directed
// broadcasts, each listing into round.
template <typename Each>
void search_once(const context &ctx, std::vector<kx_device_record> &round, Each &&each) {
    int32_t count = 0;
    const search_plan &plan = ctx.plan;
    if (!plan.routed()) {
        const int32_t result = traced(ctx, "kx_discover", [&] {
            return kx_discover(round.data(), discovery_capacity, &count, KX_SEARCH_ALL_INTERFACES);
        });
        each(result, count);
        return;
    }
    if (!plan.ranges.empty()) {
        std::string ranges;
        for (const kx_address_range &r : plan.ranges)
            ranges += (ranges.empty() ? "" : " ") + range_text(r);
        const uint32_t rate = plan.rate != 0 ? plan.rate : KX_SWEEP_DEFAULT_RATE;
        const int32_t result = traced(ctx, fmt::format("kx_sweep {} at {}/s", ranges, rate), [&] {
            return kx_sweep(round.data(), discovery_capacity, &count, plan.ranges.data(),
                            static_cast<int32_t>(plan.ranges.size()), plan.rate, sweep_progress,
                            const_cast<context *>(&ctx));
        });
        each(result, count);
    }
    if (!plan.targets.empty() && !ctx.stopping()) {
        std::string targets;
        for (uint32_t a : plan.targets) targets += (targets.empty() ? "" : " ") + address_text(a);
        const int32_t result = traced(ctx, "kx_discover_directed " + targets, [&] {
            return kx_discover_directed(round.data(), discovery_capacity, &count,
                                        plan.targets.data(),
                                        static_cast<int32_t>(plan.targets.size()));
        });
        each(result, count);
    }
}

search_result list_devices(const context &ctx) {
    search_result found;
    std::vector<kx_device_record> round(discovery_capacity);
    const int rounds = std::max(ctx.search_rounds, 1);
    bool first = true, failed = false;
    for (int r = 0; r < rounds && !failed && (r == 0 || !ctx.stopping()); ++r)
        search_once(ctx, round, [&](int32_t result, int32_t count) {
            if (failed) return;
            // The worst search decides: a failure, then a list that may miss devices.
            const bool listed =
                result == KX_OK || result == KX_INCOMPLETE || result == KX_E_CAPACITY;
            if (first || !listed || (found.listed() && result != KX_OK)) found.result = result;
            first = false;
            failed = !listed;
            for (int32_t i = 0; listed && i < count; ++i)
                if (std::none_of(
                        found.devices.begin(), found.devices.end(),
                        [&](const kx_device_record &d) { return same_device(d, round[i]); }))
                    found.devices.push_back(round[i]);
        });
    if (!found.listed()) found.devices.clear();
    std::erase_if(found.devices,
                  [&](const kx_device_record &d) { return !in_scope(ctx, configured_address(d)); });
    if (found.result == KX_INCOMPLETE && ctx.stopping())
        found.problem = "the search was interrupted: it may have missed devices";
    else if (found.result == KX_INCOMPLETE && ctx.plan.routed())
        found.problem = std::string("the search may have missed devices: ") +
                        kx_result_text(KX_INCOMPLETE) +
                        " (sweep again, with a lower --rate, or the addresses not listed)";
    else if (found.result == KX_INCOMPLETE)
        found.problem = std::string("the search may have missed devices: ") +
                        kx_result_text(KX_INCOMPLETE) +
                        " (kxtool doctor shows the receive queue's cap)";
    else if (found.result == KX_E_CAPACITY)
        found.problem = fmt::format(
            "the search may have missed devices: more than {0} answered; only the first {0} are "
            "known",
            discovery_capacity);
    else if (found.result == KX_E_SOCKET)
        found.problem = socket_failure("the search");
    if (found.problem.empty() && !found.listed())
        found.problem = fmt::format("the search failed: {} (result {})",
                                    kx_result_text(found.result), found.result);
    ctx.trace(fmt::format("{}: {} device(s) listed",
                          ctx.plan.routed() ? "the sweep" : "kx_discover", found.devices.size()));
    return found;
}

}  // namespace

std::vector<const kx_device_record *> search_result::sharing(const kx_device_record &device) const {
    std::vector<const kx_device_record *> others;
    const std::string address = configured_address(device);
    if (!valid_device_address(address)) return others;  // 0.0.0.0 is nobody's address
    for (const kx_device_record &d : devices)
        if (!same_device(d, device) && configured_address(d) == address) others.push_back(&d);
    return others;
}

std::string shared_address_text(const kx_device_record &device,
                                const std::vector<const kx_device_record *> &others) {
    std::string names =
        std::string(family_letter(device.family)) + " " + identifier_text(device.device_id);
    for (size_t i = 0; i < others.size(); ++i)
        names += (i + 1 < others.size() ? ", " : " and ") +
                 std::string(family_letter(others[i]->family)) + " " +
                 identifier_text(others[i]->device_id);
    return fmt::format("{} devices have the address {}: {}",
                       others.size() + 1 == 2 ? "two" : "several", configured_address(device),
                       names);
}

std::vector<std::string> shared_addresses(const search_result &found) {
    std::vector<std::string> texts;
    for (size_t i = 0; i < found.devices.size(); ++i) {
        const auto others = found.sharing(found.devices[i]);
        const bool first = std::none_of(others.begin(), others.end(), [&](const auto *other) {
            return other < &found.devices[i];
        });
        if (!others.empty() && first)
            texts.push_back(shared_address_text(found.devices[i], others));
    }
    return texts;
}

std::string label(const target &t) {
    if (t.address.empty()) return identifier_text(t.record.device_id) + " (broadcast)";
    return shown_text(t.address.c_str(), t.address.size()) + " (" +
           identifier_text(t.record.device_id) + ")";
}

int32_t search_at(const context &ctx, const std::string &address, kx_device_record &answer) {
    auto ask = [&](kx_device_record &record) {
        record = {};
        return traced(ctx, "kx_search_one " + address,
                      [&] { return kx_search_one(address.c_str(), &record); });
    };
    const int32_t first = ask(answer);
    if (first != KX_OK || configured_address(answer) == address) return first;
    kx_device_record again{};
    const int32_t second = ask(again);
    if (second == KX_OK && (configured_address(again) == address || same_device(again, answer))) {
        answer = again;
        return KX_OK;
    }
    answer = {};
    return second == KX_OK ? KX_E_TIMEOUT : second;
}

identity identify_at(const context &ctx, const std::string &address, const kx_device_record &device,
                     kx_device_record &answer) {
    answer = {};
    if (!valid_device_address(address)) return identity::nobody;  // never by broadcast
    int32_t result = search_at(ctx, address, answer);
    // An answer later than the first search's wait arrives during the second.
    if (result == KX_E_TIMEOUT) result = search_at(ctx, address, answer);
    if (result != KX_OK) return identity::nobody;
    return same_device(answer, device) ? identity::this_device : identity::another_device;
}

std::string password_refusal(const family_traits &family, const std::string &password) {
    const range longest = range_of(family, *find_field("password"));
    if (password.size() <= longest.max) return {};
    return fmt::format("password: a family {} device takes at most {} characters", family.letter,
                       longest.max);
}

const search_result &finder::search() {
    if (!found_) {
        found_ = full_search(ctx_);
        if (found_->incomplete()) ctx_.warn(found_->problem);
        for (const kx_device_record &answer : answered_) warn_if_shared(answer);
    }
    return *found_;
}

bool finder::wanted_family(uint8_t code) const {
    return family_by_code(code) != nullptr && (only_ == nullptr || only_->code == code);
}

void finder::warn_if_shared(const kx_device_record &answer) const {
    if (!found_) return;  // only with a search this command made anyway
    for (const kx_device_record &d : found_->devices)
        if (same_device(d, answer) && configured_address(d) != configured_address(answer))
            ctx_.warn(fmt::format(
                "a device configured with {} answers with identifier {}, which the "
                "search lists configured with {}: two family {} devices may share the identifier "
                "(a family A write selects its device by identifier and would change both)",
                configured_address(answer), identifier_text(answer.device_id),
                configured_address(d), family_letter(d.family)));
}

target finder::reach(const kx_device_record &listed, bool check) {
    target t{listed, configured_address(listed), false, {}};
    const auto others = search().sharing(listed);
    for (const kx_device_record *other : others) t.sharing.push_back(*other);
    if (!others.empty() && warned_.insert(t.address).second)
        ctx_.warn(shared_address_text(listed, others) +
                  "; kxtool tells them apart by their identifiers, and sends a quick setting to "
                  "neither");
    const bool same_family_there =
        std::any_of(t.sharing.begin(), t.sharing.end(),
                    [&](const kx_device_record &d) { return d.family == listed.family; });
    const family_traits &family = *family_by_code(listed.family);
    // A request to an address that is no device's would be a broadcast, and
    // requests that do not name the device (family A's gets) reach every
    // device at its address.
    if (!valid_device_address(t.address) ||
        (same_family_there && family.reached_by_identifier && !family.requests_name_device)) {
        t.address.clear();
        return t;
    }
    if (!check || same_family_there) return t;
    kx_device_record answer{};
    switch (identify_at(ctx_, t.address, listed, answer)) {
        case identity::this_device:
            t.answered = true;
            break;
        case identity::another_device:
        case identity::nobody:
            // Its address is another's, or nobody's yet: until it restarts
            // it answers where it was (or it is too slow for the check).
            if (!family.reached_by_identifier) break;
            ctx_.warn(fmt::format(
                "{} does not answer at {}, the address it is configured with{}; kxtool reaches "
                "it by broadcast, selected by its identifier (its address was changed and it "
                "has not restarted?)",
                identifier_text(listed.device_id), t.address,
                answer.family != 0
                    ? fmt::format(" ({} {} answers there)", family_letter(answer.family),
                                  identifier_text(answer.device_id))
                    : std::string()));
            t.address.clear();
            break;
    }
    return t;
}

int finder::find(const std::string &wanted, target &out, std::string &error) {
    if (ctx_.stopping()) {
        error = "interrupted before " + wanted + " was looked for; nothing was sent to it";
        return exit_interrupted;
    }
    const bool by_address = valid_address(wanted);
    // What the address gave instead of the device wanted, and its exit code.
    std::string at_address;
    int at_address_code = exit_not_found;
    if (by_address) {
        if (!valid_device_address(wanted)) {
            error =
                wanted + " is no device's address: a request to it reaches every device or none";
            return exit_refused;
        }
        if (!in_scope(ctx_, wanted)) {
            error = wanted + " is not on the adapter chosen with --interface";
            return exit_refused;
        }
        kx_device_record record{};
        int32_t asked = search_at(ctx_, wanted, record);
        // A family A answer later than the search's 100 ms arrives during a second.
        if (asked == KX_E_TIMEOUT) asked = search_at(ctx_, wanted, record);
        if (asked == KX_OK && wanted_family(record.family)) {
            warn_if_shared(record);
            answered_.push_back(record);
            out = {record, wanted, true, {}};
            if (configured_address(record) != wanted)
                ctx_.warn(fmt::format(
                    "{} is configured with {}, which it takes when it restarts; until then it "
                    "answers at {}",
                    label(out), configured_address(record), wanted));
            return exit_ok;
        }
        if (asked == KX_OK && family_by_code(record.family) == nullptr) {
            at_address = fmt::format("{} answered with family code {}, which kxtool does not know",
                                     wanted, record.family);
        } else if (asked == KX_OK) {
            at_address = fmt::format(
                "{} answered as a family {} device ({}), not family {} (--family)", wanted,
                family_letter(record.family), identifier_text(record.device_id), only_->letter);
        } else if (asked != KX_E_TIMEOUT) {
            at_address = failure_text(wanted, "single-device search", asked);
            at_address_code = exit_failed;
        }
        if (ctx_.interface) {
            // The library's search would ask on every adapter, not only this one.
            error = (at_address.empty() ? "no device answered at " + wanted : at_address) +
                    "; with --interface, a device named by its address is asked there only";
            return at_address_code;
        }
    }
    const search_result &found = search();
    if (!found.listed()) {
        error = found.problem;
        return exit_failed;
    }
    std::vector<const kx_device_record *> matches;
    for (const kx_device_record &d : found.devices) {
        const bool same =
            by_address ? configured_address(d) == wanted : identifier_text(d.device_id) == wanted;
        if (same && wanted_family(d.family)) matches.push_back(&d);
    }
    if (matches.empty()) {
        const std::string kind =
            only_ ? std::string("family ") + only_->letter + " device" : "device";
        error =
            !at_address.empty() ? at_address + "; no " + kind + " answered the search as " + wanted
            : by_address ? "no " + kind + " answered at " + wanted + ", nor the search as " + wanted
                         : "no " + kind + " answered the search as " + wanted;
        if (found.incomplete()) error += " (" + found.problem + ")";
        return at_address_code;
    }
    if (matches.size() > 1) {
        error = by_address
                    ? shared_address_text(*matches.front(), {matches.begin() + 1, matches.end()}) +
                          "; name one by its identifier; nothing was sent to them"
                    : fmt::format(
                          "{} devices of different families have the identifier "
                          "{}; add {}; nothing was sent to them",
                          matches.size(), wanted, kxtools::family_choices("--family "));
        return exit_refused;
    }
    out = reach(*matches.front(), true);
    if (out.address.empty() && !family_by_code(out.record.family)->reached_by_identifier) {
        error = configured_address(out.record) + " (" + identifier_text(out.record.device_id) +
                ") does not answer at the address it is configured with, and a family " +
                family_letter(out.record.family) +
                " device is not reached by broadcast: name the address it answers from";
        return exit_failed;
    }
    return exit_ok;
}

int finder::look_for_others(target &t, std::string &error) {
    if (t.address.empty()) return exit_ok;
    const search_result &found = search();
    if (!found.listed()) {
        error = found.problem;
        return exit_failed;
    }
    t.sharing.clear();
    for (const kx_device_record &d : found.devices)
        if (!same_device(d, t.record) && configured_address(d) == t.address) t.sharing.push_back(d);
    return exit_ok;
}

int finder::every(std::vector<target> &out, std::string &error) {
    const search_result &found = search();
    if (!found.listed()) {
        error = found.problem;
        return exit_failed;
    }
    for (const kx_device_record &d : found.devices)
        if (wanted_family(d.family)) out.push_back(reach(d, false));
    return exit_ok;
}

session::session(const context &ctx, const target &t)
    : ctx_(ctx), target_(t), family_(family_by_code(t.record.family)), address_(t.address) {}

std::string session::label() const {
    target now = target_;
    now.address = address_;
    return kxtool::label(now);
}

bool session::failed(const std::string &operation, int32_t result) {
    // The first failure is the one to report; a logout after it adds nothing.
    if (error_.empty()) {
        error_ = failure_text(label(), operation, result);
        result_ = result;
    }
    return false;
}

void session::abandon_half_writes() {
    if (!family_->write_closes_by_broadcast) return;
    traced(ctx_, "kx_logout by broadcast (abandons any write left half-sent)",
           [&] { return kx_logout("", target_.record.device_id, &target_.record); });
}

bool session::login(const std::string &password) {
    if (const std::string why = password_refusal(*family_, password); !why.empty()) {
        error_ = label() + ": " + why + "; nothing was sent to it";
        return false;
    }
    if (address_.empty() && !family_->reached_by_identifier) {
        error_ = label() + " has no address it can be reached at; nothing was sent to it";
        return false;
    }
    kx_settings_record login{};
    login.family = target_.record.family;
    std::memcpy(login.password, password.data(), std::min(password.size(), sizeof login.password));
    const uint8_t *id = target_.record.device_id;
    int32_t result =
        traced(ctx_, "kx_login " + label(), [&] { return kx_login(address_.c_str(), id, &login); });
    // Listed by the search, but silent at its address: if another device or
    // none answers a search there, its address was changed and it has not
    // restarted yet, or it is slow; it is asked by broadcast, selected by
    // its identifier.
    if (result == KX_E_TIMEOUT && !target_.answered && !address_.empty() &&
        family_->reached_by_identifier) {
        kx_device_record answer{};
        if (identify_at(ctx_, address_, target_.record, answer) != identity::this_device) {
            address_.clear();
            result = traced(ctx_, "kx_login " + label(), [&] { return kx_login("", id, &login); });
        }
    }
    if (result == KX_OK) {
        logged_in_ = true;
        return true;
    }
    return failed("login", result);
}

bool session::read(kx_settings_record &settings) {
    std::memset(&settings, 0, sizeof settings);
    const uint8_t *id = target_.record.device_id;
    auto read_at = [&](const std::string &address) {
        address_ = address;
        return traced(ctx_, "kx_read_setting " + label(), [&] {
            return kx_read_setting(address_.c_str(), id, &settings, &target_.record);
        });
    };
    int32_t result = read_at(address_);
    if (result == KX_E_TIMEOUT && !fallback_.empty()) {
        const std::string fallback = std::exchange(fallback_, {});
        result = read_at(fallback);
    }
    if (result != KX_OK) return failed("settings read", result);
    if (settings.family != target_.record.family ||
        std::memcmp(settings.device_id, id, sizeof settings.device_id) != 0) {
        if (error_.empty())
            error_ = fmt::format(
                "{} answered the settings read as {} {}, not as {} {}: another device answers "
                "there too; its settings were not taken",
                label(), family_letter(settings.family), identifier_text(settings.device_id),
                family_letter(target_.record.family), identifier_text(id));
        return false;
    }
    // As reached: where it answered now (empty: by broadcast).
    target reached = target_;
    reached.address = address_;
    reached.answered = !address_.empty();
    ctx_.watcher().settings_read(reached, settings);
    return true;
}

bool session::write(const kx_settings_record &settings) {
    const int32_t result = traced(ctx_, "kx_write_setting " + label(), [&] {
        return kx_write_setting(address_.c_str(), target_.record.device_id, &settings,
                                &target_.record);
    });
    return result == KX_OK || failed("settings write", result);
}

void session::readdressed(const std::string &new_address) {
    if (!address_.empty()) fallback_ = new_address;
}

bool session::close() {
    if (!logged_in_) return true;
    logged_in_ = false;
    const int32_t result = traced(ctx_, "kx_logout " + label(), [&] {
        return kx_logout(address_.c_str(), target_.record.device_id, &target_.record);
    });
    return result == KX_OK || failed("logout", result);
}

}  // namespace kxtool
