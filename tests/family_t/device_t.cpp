#include "device_t.h"

#include <cstdio>
#include <map>
#include <optional>

#include "../common/escaped.h"

namespace kxsim {
namespace {

using lines = std::vector<std::pair<std::string, std::string>>;

struct message {
    uint8_t sequence = 0;
    lines fields;

    const std::string *find(const std::string &key) const {
        for (const auto &[k, v] : fields)
            if (k == key) return &v;
        return nullptr;
    }
    std::string get(const std::string &key) const {
        const std::string *v = find(key);
        return v != nullptr ? *v : std::string();
    }
};

std::optional<message> parse(const bytes &p) {
    if (p.size() < 4 || p[0] != 'K' || p[1] != 'V') return std::nullopt;
    message m{p[2], {}};
    std::string line;
    for (size_t i = 4; i < p.size(); ++i) {
        if (p[i] != '\n') {
            line += static_cast<char>(p[i]);
            continue;
        }
        const size_t eq = line.find('=');
        if (eq == std::string::npos || eq == 0) return std::nullopt;
        m.fields.emplace_back(line.substr(0, eq), line.substr(eq + 1));
        line.clear();
    }
    if (!line.empty() || m.fields.size() != p[3]) return std::nullopt;
    return m;
}

bytes compose(uint8_t sequence, const lines &fields) {
    std::string text =
        std::string("KV") + static_cast<char>(sequence) + static_cast<char>(fields.size());
    for (const auto &[k, v] : fields) text += k + "=" + v + "\n";
    return bytes(text.begin(), text.end());
}

// A decimal number of at most max; nothing for anything else.
std::optional<uint32_t> number(const std::string &text, uint64_t max) {
    if (text.empty() || text.size() > 10 || text.find_first_not_of("0123456789") != text.npos)
        return std::nullopt;
    const uint64_t value = std::stoull(text);
    if (value > max) return std::nullopt;
    return static_cast<uint32_t>(value);
}

// Four numbers 0 to 255 joined by dots, nothing else.
bool address_text(const std::string &text) {
    unsigned v[4];
    char tail;
    if (std::sscanf(text.c_str(), "%u.%u.%u.%u%c", &v[0], &v[1], &v[2], &v[3], &tail) != 4)
        return false;
    return text.find_first_not_of("0123456789.") == text.npos && v[0] <= 255 && v[1] <= 255 &&
           v[2] <= 255 && v[3] <= 255;
}

// The settings a SET or a device file names, into s; empty, or what is
// wrong. get gives a setting's text by its key, or null.
template <typename Get>
std::string apply(settings_t &s, Get &&get) {
    struct text_key {
        const char *key;
        std::string *field;
        size_t most;
    };
    for (const text_key &t :
         {text_key{"NAME", &s.name, 10}, {"PASS", &s.password, 10}, {"FW", &s.firmware, 16}})
        if (const std::string *v = get(t.key)) {
            if (v->size() > t.most) return std::string(t.key) + " is too long";
            *t.field = *v;
        }
    const std::pair<const char *, std::string *> addresses[] = {
        {"IP", &s.ip}, {"MASK", &s.mask}, {"GW", &s.gateway}};
    for (const auto &[key, field] : addresses)
        if (const std::string *v = get(key)) {
            if (!address_text(*v)) return std::string(key) + " is not an address";
            *field = *v;
        }
    struct number_key {
        const char *key;
        uint32_t *field;
        uint64_t most;
    };
    for (const number_key &n : {number_key{"PORT", &s.port, 65535},
                                {"BAUD", &s.baud, UINT32_MAX},
                                {"PARITY", &s.parity, 255},
                                {"BITS", &s.bits, 255},
                                {"STOP", &s.stop, 255}})
        if (const std::string *v = get(n.key)) {
            const auto value = number(*v, n.most);
            if (!value)
                return std::string(n.key) + " is not a number up to " + std::to_string(n.most);
            *n.field = *value;
        }
    return {};
}

std::shared_ptr<device> make_t(const family_entry &, const std::string &address,
                               const device_id_bytes &id, const std::string &name) {
    return std::make_shared<device_t>(address, id, name);
}

}  // namespace

const device_kind kind_t{make_t, configure_t, trace_text_t};

device_t::device_t(std::string address, device_id_bytes id, std::string name)
    : device(std::move(address)) {
    settings_.id = id;
    settings_.name = std::move(name);
    settings_.ip = this->address();
}

std::vector<answer> device_t::handle(const datagram &request) {
    if (request.destination_port != wire_t.port) return {};
    const std::optional<message> m = parse(request.payload);
    if (!m) {
        ++rejected_;
        return {};
    }
    const std::string op = m->get("OP");
    const std::string id = identifier_text(settings_.id);
    auto reply = [&](lines fields) {
        fields.insert(fields.begin() + 1, {"ID", id});
        return std::vector<answer>{answer{compose(m->sequence, fields)}};
    };
    if (op == "WHO")
        return reply({{"OP", "IAM"},
                      {"NAME", settings_.name},
                      {"FW", settings_.firmware},
                      {"IP", settings_.ip},
                      {"MASK", settings_.mask},
                      {"GW", settings_.gateway},
                      {"PORT", std::to_string(settings_.port)}});
    if (op == "SERIAL") {
        if (request.broadcast()) return {};
        settings_t changed = settings_;
        const std::string why = apply(changed, [&](const char *key) -> const std::string * {
            return std::string(key) == "BAUD" || std::string(key) == "PARITY" ||
                           std::string(key) == "BITS"
                       ? m->find(key)
                       : nullptr;
        });
        if (!why.empty()) return reply({{"OP", "ERR"}, {"WHY", why}});
        settings_ = changed;
        return reply({{"OP", "OK"}});
    }
    if (m->get("ID") != id) return {};
    if (op == "LOGIN") {
        if (m->get("PASS") != settings_.password) return reply({{"OP", "DENIED"}});
        session_ = next_session_++;
        return reply({{"OP", "OK"}, {"SESSION", std::to_string(session_)}});
    }
    if (session_ == 0 || m->get("SESSION") != std::to_string(session_))
        return reply({{"OP", "ERR"}, {"WHY", "no such session"}});
    if (op == "GET")
        return reply({{"OP", "OK"},
                      {"NAME", settings_.name},
                      {"FW", settings_.firmware},
                      {"PASS", settings_.password},
                      {"IP", settings_.ip},
                      {"MASK", settings_.mask},
                      {"GW", settings_.gateway},
                      {"PORT", std::to_string(settings_.port)},
                      {"BAUD", std::to_string(settings_.baud)},
                      {"PARITY", std::to_string(settings_.parity)},
                      {"BITS", std::to_string(settings_.bits)},
                      {"STOP", std::to_string(settings_.stop)}});
    if (op == "SET") {
        settings_t changed = settings_;
        const std::string why = apply(changed, [&](const char *key) -> const std::string * {
            return std::string(key) == "FW" ? nullptr : m->find(key);  // the firmware is a fact
        });
        if (!why.empty()) return reply({{"OP", "ERR"}, {"WHY", why}});
        settings_ = changed;
        return reply({{"OP", "OK"}});
    }
    if (op == "BYE") {
        session_ = 0;
        return reply({{"OP", "OK"}});
    }
    return reply({{"OP", "ERR"}, {"WHY", "unknown operation"}});
}

settings_t device_t::settings() const {
    std::lock_guard<std::mutex> hold(lock());
    return settings_;
}

void device_t::set_settings(const settings_t &s) {
    std::lock_guard<std::mutex> hold(lock());
    settings_ = s;
}

uint32_t device_t::session() const {
    std::lock_guard<std::mutex> hold(lock());
    return session_;
}

int device_t::rejected() const {
    std::lock_guard<std::mutex> hold(lock());
    return rejected_;
}

std::string configure_t(device &target, const nlohmann::json &entry) {
    // A device file names settings as kxtool save writes them.
    static const std::map<std::string, const char *> keys = {
        {"device_name", "NAME"}, {"password", "PASS"},    {"firmware_version", "FW"},
        {"ip_address", "IP"},    {"subnet_mask", "MASK"}, {"gateway", "GW"},
        {"local_port", "PORT"},  {"baud_rate", "BAUD"},   {"parity", "PARITY"},
        {"data_bits", "BITS"},   {"stop_bits", "STOP"}};
    std::map<std::string, std::string> given;
    for (const auto &[name, value] : entry.items()) {
        if (name == "address" || name == "family" || name == "device_id") continue;
        const auto key = keys.find(name);
        if (key == keys.end()) return "unknown setting " + name + " for family T";
        given[key->second] = value.is_string() ? value.get<std::string>() : value.dump();
    }
    auto &d = static_cast<device_t &>(target);
    settings_t s = d.settings();
    const std::string why = apply(s, [&](const char *key) -> const std::string * {
        const auto found = given.find(key);
        return found != given.end() ? &found->second : nullptr;
    });
    if (why.empty()) d.set_settings(s);
    return why;
}

std::string trace_text_t(const bytes &payload) {
    const std::optional<message> m = parse(payload);
    if (!m) return "malformed " + kxtext::escaped(payload.data(), payload.size());
    std::string line = "seq=" + std::to_string(m->sequence);
    for (const auto &[k, v] : m->fields) {
        const std::string text = k + "=" + v;
        line += " " + kxtext::escaped(reinterpret_cast<const uint8_t *>(text.data()), text.size());
    }
    return line;
}

}  // namespace kxsim
