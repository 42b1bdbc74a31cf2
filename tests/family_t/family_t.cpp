#include "family_t/family_t.h"

#include <atomic>
#include <cstring>
#include <string_view>
#include <utility>

#include "family_t/lines_t.h"
#include "frame/convert.h"
#include "frame/record_pin.h"
#include "frame/search.h"

namespace kx {
namespace {

static_assert(sizeof(kxt_settings_record) == 64);
KX_PIN(kxt_settings_record, device_id, 1);
KX_PIN(kxt_settings_record, device_name, 7);
KX_PIN(kxt_settings_record, firmware_version, 17);
KX_PIN(kxt_settings_record, password, 33);
KX_PIN(kxt_settings_record, ip_address, 43);
KX_PIN(kxt_settings_record, subnet_mask, 47);
KX_PIN(kxt_settings_record, gateway, 51);
KX_PIN(kxt_settings_record, local_port, 55);
KX_PIN(kxt_settings_record, baud_rate, 57);
KX_PIN(kxt_settings_record, parity, 61);
KX_PIN(kxt_settings_record, data_bits, 62);
KX_PIN(kxt_settings_record, stop_bits, 63);
static_assert(sizeof(kxt_settings_record) <= family_record_room);

#define KXT_MAP(field, kind) KX_MAP(kxt_settings_record, field, field, kind)
constexpr field_map fields_t[] = {
    KXT_MAP(family, copy),
    KXT_MAP(device_id, copy),
    KXT_MAP(device_name, copy),
    KXT_MAP(firmware_version, copy),
    KXT_MAP(password, copy),
    KXT_MAP(ip_address, address),
    KXT_MAP(subnet_mask, address),
    KXT_MAP(gateway, address),
    KXT_MAP(local_port, copy),
    KXT_MAP(baud_rate, copy),
    KXT_MAP(parity, copy),
    KXT_MAP(data_bits, copy),
    KXT_MAP(stop_bits, copy),
    // What family T devices do not carry reads as empty, or 0.
    KX_MAP_GENERIC_FIXED(on_text, 0),
    KX_MAP_GENERIC_FIXED(dest_ip, 0),
    KX_MAP_GENERIC_FIXED(dest_port, 0),
    KX_MAP_GENERIC_FIXED(li_address, 0),
    KX_MAP_GENERIC_FIXED(li_address_2, 0),
    KX_MAP_GENERIC_FIXED(dw_text, 0),
    KX_MAP_GENERIC_FIXED(tp_value, 0),
    KX_MAP_GENERIC_FIXED(rm_value, 0),
    KX_MAP_GENERIC_FIXED(dhcp_enabled, 0),
    KX_MAP_GENERIC_FIXED(ww_flag, 0),
    KX_MAP_GENERIC_FIXED(dd_flag, 0),
    KX_MAP_GENERIC_FIXED(nb_flag, 0),
    KX_MAP_GENERIC_FIXED(keep_alive, 0),
    KX_MAP_GENERIC_FIXED(md_value, 0),
    KX_MAP_GENERIC_FIXED(ml_value, 0),
    KX_MAP_GENERIC_FIXED(flow_control, 0),
};
#undef KXT_MAP
constexpr record_map settings_map_t{fields_t, {}};

// The session each device's login opened, by identifier: the library keeps
// no other state between calls, and a family T device takes a read, write
// or logout only with the number its login gave. A few slots, the oldest
// given up for a new device when all are taken.
class sessions_t {
  public:
    void open(const uint8_t *id, uint16_t number) {
        hold h(busy_);
        slot *s = find(id);
        if (s == nullptr) {
            s = &slots_[next_];
            next_ = (next_ + 1) % std::size(slots_);
            std::memcpy(s->id, id, sizeof s->id);
        }
        s->number = number;
    }
    // 0 when the device has no session.
    uint16_t number(const uint8_t *id) {
        hold h(busy_);
        const slot *s = find(id);
        return s != nullptr ? s->number : 0;
    }
    void close(const uint8_t *id) {
        hold h(busy_);
        if (slot *s = find(id)) s->number = 0;
    }

  private:
    struct slot {
        uint8_t id[6];
        uint16_t number;
    };
    struct hold {
        explicit hold(std::atomic_flag &f) : flag(f) {
            while (flag.test_and_set(std::memory_order_acquire)) {
            }
        }
        ~hold() { flag.clear(std::memory_order_release); }
        std::atomic_flag &flag;
    };
    slot *find(const uint8_t *id) {
        for (slot &s : slots_)
            if (s.number != 0 && std::memcmp(s.id, id, sizeof s.id) == 0) return &s;
        return nullptr;
    }
    slot slots_[8] = {};
    size_t next_ = 0;
    std::atomic_flag busy_;
};
sessions_t sessions;

struct id_text_t {
    char text[id_text_capacity];
    explicit id_text_t(const uint8_t *id) { id_to_text(id, text, sizeof text); }
    operator std::string_view() const { return text; }
};

// A text that a line can carry: no line end inside it.
bool fits_line(std::string_view text) { return text.find('\n') == std::string_view::npos; }

// A text value into a fixed-width field, with room for its NUL where the
// field has it; false (nothing written) for one too long.
template <size_t N>
bool take_text(std::string_view value, char (&field)[N]) {
    if (value.size() > N) return false;
    std::memset(field, 0, N);
    std::memcpy(field, value.data(), value.size());
    return true;
}

// Six decimal numbers 0-255 joined by '.', nothing else.
bool take_id(std::string_view text, uint8_t (&id)[6]) {
    uint8_t parsed[6] = {};
    size_t part = 0, digits = 0;
    unsigned value = 0;
    for (size_t i = 0; i <= text.size(); ++i) {
        const char c = i < text.size() ? text[i] : '.';
        if (c >= '0' && c <= '9' && digits < 3) {
            value = value * 10 + static_cast<unsigned>(c - '0');
            ++digits;
        } else if (c == '.' && digits > 0 && value <= 255 && part < 6) {
            parsed[part++] = static_cast<uint8_t>(value);
            digits = value = 0;
        } else {
            return false;
        }
    }
    if (part != 6) return false;
    std::memcpy(id, parsed, sizeof id);
    return true;
}

bool take_address(std::string_view text, uint8_t (&address)[4]) {
    char copy[16];
    if (!take_text(text, copy) || text.size() >= sizeof copy) return false;
    ip_from_text(copy, address);
    return true;
}

std::string_view address_text(const uint8_t (&address)[4], char (&text)[16]) {
    ip_to_text(address, text);
    return text;
}

// Sends the request to the device at ip_text (by broadcast for an address
// text shorter than 7 characters) and takes the first reply that echoes its
// sequence byte and names the device, into ex (closed on return).
int32_t ask(const family_ops &family, const char *ip_text, const message_t &request,
            sequence_t sequence, const uint8_t *device_id, exchange &ex) {
    if (request.overflow) return KX_E_ARGUMENT;
    if (open_exchange(ex, ip_text, family.device_port, target::broadcast_rule) != KX_OK)
        return KX_E_SOCKET;
    const id_text_t id(device_id);
    const step outcome =
        matching_reply(ex, request.bytes, request.length, reply_wait_ms, [&](const exchange &e) {
            const reply_t reply(received_bytes(e), sequence);
            return reply.valid() && reply.value("ID") == std::string_view(id);
        });
    close_exchange(ex);
    if (outcome == step::received) return KX_OK;
    return outcome == step::no_datagram ? KX_E_TIMEOUT : KX_E_SOCKET;
}

// A request that names the device and carries its session.
message_t session_request(sequence_t sequence, std::string_view operation,
                          const uint8_t *device_id) {
    message_t request(sequence, operation);
    request.add("ID", id_text_t(device_id));
    request.add("SESSION", sessions.number(device_id));
    return request;
}

// A reply of OP=OK: KX_OK; anything else a device sends: KX_E_REPLY.
int32_t accepted(const exchange &ex, sequence_t sequence) {
    return reply_t(received_bytes(ex), sequence).operation_is("OK") ? KX_OK : KX_E_REPLY;
}

request_datagram search_request() {
    const message_t who(sequence_t::who, "WHO");
    request_datagram request{};
    std::memcpy(request.bytes, who.bytes, who.length);
    request.length = who.length;
    return request;
}

// An OP=IAM answer into a device record; false, record untouched, for
// anything else.
bool take_answer(const family_ops &family, std::span<const uint8_t> datagram,
                 kx_device_record &record) {
    const reply_t answer(datagram, sequence_t::who);
    kx_device_record found{};
    found.family = family.code;
    uint32_t port = 0;
    if (!answer.operation_is("IAM") || !take_id(answer.value("ID"), found.device_id) ||
        !take_text(answer.value("NAME"), found.device_name) ||
        !take_text(answer.value("FW"), found.firmware_version) ||
        !answer.number("PORT", 65535, port))
        return false;
    // Addresses as text, with room for the NUL.
    const std::pair<const char *, char(*)[16]> addresses[] = {
        {"IP", &found.ip_address}, {"MASK", &found.subnet_mask}, {"GW", &found.gateway}};
    for (const auto &[key, field] : addresses)
        if (answer.value(key).size() >= sizeof *field || !take_text(answer.value(key), *field))
            return false;
    found.local_port = static_cast<uint16_t>(port);
    record = found;
    return true;
}

bool parse_answer(const family_ops &family, const exchange &ex, kx_device_record &record) {
    return take_answer(family, received_bytes(ex), record);
}

search_one_outcome search_one(const family_ops &family, const char *ip_text,
                              kx_device_record *record) {
    if (record == nullptr) return {KX_E_ARGUMENT};
    exchange ex;
    const std::optional<step> outcome = search_one_of(family, ip_text, ex);
    if (!outcome) return {KX_E_SOCKET, true};
    if (*outcome != step::received) return {KX_E_TIMEOUT};
    return {take_answer(family, received_bytes(ex), *record) ? KX_OK : KX_E_REPLY};
}

int32_t login(const family_ops &family, const char *ip_text, const uint8_t *device_id,
              const kx_settings_record *login) {
    if (device_id == nullptr) return KX_E_ARGUMENT;
    const std::string_view password = field_text(login->password, sizeof login->password);
    if (!fits_line(password)) return KX_E_ARGUMENT;
    message_t request(sequence_t::login, "LOGIN");
    request.add("ID", id_text_t(device_id));
    request.add("PASS", password);
    exchange ex;
    if (const int32_t result = ask(family, ip_text, request, sequence_t::login, device_id, ex);
        result != KX_OK)
        return result;
    const reply_t reply(received_bytes(ex), sequence_t::login);
    if (reply.operation_is("DENIED")) return KX_E_REFUSED;
    uint32_t number = 0;
    if (!reply.operation_is("OK") || !reply.number("SESSION", 65535, number) || number == 0)
        return KX_E_REPLY;
    sessions.open(device_id, static_cast<uint16_t>(number));
    return KX_OK;
}

int32_t logout(const family_ops &family, const char *ip_text, const uint8_t *device_id) {
    if (device_id == nullptr) return KX_E_ARGUMENT;
    const message_t request = session_request(sequence_t::bye, "BYE", device_id);
    sessions.close(device_id);  // whatever the device answers, the session is over
    exchange ex;
    const int32_t result = ask(family, ip_text, request, sequence_t::bye, device_id, ex);
    return result == KX_OK ? accepted(ex, sequence_t::bye) : result;
}

int32_t read_record(const family_ops &family, const char *ip_text, const uint8_t *device_id,
                    uint8_t *record, const kx_device_record *) {
    if (device_id == nullptr) return KX_E_ARGUMENT;
    exchange ex;
    const int32_t result = ask(family, ip_text, session_request(sequence_t::get, "GET", device_id),
                               sequence_t::get, device_id, ex);
    if (result != KX_OK) return result;
    const reply_t reply(received_bytes(ex), sequence_t::get);
    kxt_settings_record s{};
    s.family = family.code;
    uint32_t port = 0, baud = 0, parity = 0, bits = 0, stop = 0;
    const bool complete =
        reply.operation_is("OK") && take_id(reply.value("ID"), s.device_id) &&
        take_text(reply.value("NAME"), s.device_name) &&
        take_text(reply.value("FW"), s.firmware_version) &&
        take_text(reply.value("PASS"), s.password) &&
        take_address(reply.value("IP"), s.ip_address) &&
        take_address(reply.value("MASK"), s.subnet_mask) &&
        take_address(reply.value("GW"), s.gateway) && reply.number("PORT", 65535, port) &&
        reply.number("BAUD", UINT32_MAX, baud) && reply.number("PARITY", 255, parity) &&
        reply.number("BITS", 255, bits) && reply.number("STOP", 255, stop);
    if (!complete) return KX_E_REPLY;
    s.local_port = static_cast<uint16_t>(port);
    s.baud_rate = baud;
    s.parity = static_cast<uint8_t>(parity);
    s.data_bits = static_cast<uint8_t>(bits);
    s.stop_bits = static_cast<uint8_t>(stop);
    std::memcpy(record, &s, sizeof s);
    return KX_OK;
}

int32_t write_record(const family_ops &family, const char *ip_text, const uint8_t *device_id,
                     const uint8_t *record, const kx_device_record *) {
    if (device_id == nullptr) return KX_E_ARGUMENT;
    kxt_settings_record s;
    std::memcpy(&s, record, sizeof s);
    const std::string_view name = field_text(s.device_name, sizeof s.device_name);
    const std::string_view password = field_text(s.password, sizeof s.password);
    if (!fits_line(name) || !fits_line(password)) return KX_E_ARGUMENT;
    message_t request = session_request(sequence_t::set, "SET", device_id);
    char text[16];
    request.add("NAME", name);
    request.add("PASS", password);
    request.add("IP", address_text(s.ip_address, text));
    request.add("MASK", address_text(s.subnet_mask, text));
    request.add("GW", address_text(s.gateway, text));
    request.add("PORT", s.local_port);
    request.add("BAUD", s.baud_rate);
    request.add("PARITY", s.parity);
    request.add("BITS", s.data_bits);
    request.add("STOP", s.stop_bits);
    exchange ex;
    const int32_t result = ask(family, ip_text, request, sequence_t::set, device_id, ex);
    return result == KX_OK ? accepted(ex, sequence_t::set) : result;
}

// The quick settings carry no identifier and no session: the device at the
// address takes them.
int32_t serial(const family_ops &family, const char *ip_text, std::string_view key,
               uint32_t value) {
    message_t request(sequence_t::serial, "SERIAL");
    request.add(key, value);
    exchange ex;
    if (open_exchange(ex, ip_text, family.device_port, target::broadcast_rule) != KX_OK)
        return KX_E_SOCKET;
    const step outcome = matching_reply(
        ex, request.bytes, request.length, reply_wait_ms,
        [](const exchange &e) { return reply_t(received_bytes(e), sequence_t::serial).valid(); });
    close_exchange(ex);
    if (outcome != step::received) return outcome == step::no_datagram ? KX_E_TIMEOUT : KX_E_SOCKET;
    return accepted(ex, sequence_t::serial);
}

int32_t set_baud(const family_ops &family, const char *ip_text, uint32_t baud_rate) {
    return serial(family, ip_text, "BAUD", baud_rate);
}
int32_t set_parity(const family_ops &family, const char *ip_text, uint32_t parity) {
    return serial(family, ip_text, "PARITY", parity);
}
int32_t set_data_bits(const family_ops &family, const char *ip_text, uint32_t data_bits) {
    return serial(family, ip_text, "BITS", data_bits);
}

}  // namespace

constinit const family_ops family_t_ops = {
    .code = family_t_code,
    .letter = 'T',
    .name = "key=value lines",
    .device_port = family_t_port,
    .record_size = sizeof(kxt_settings_record),
    .search_one_wait_ms = reply_wait_ms,
    .search_request = search_request,
    .parse_answer = parse_answer,
    .identify_answer = nullptr,
    .probe_answer = {},
    .search_one = search_one,
    .login = login,
    .logout = logout,
    .settings_map = &settings_map_t,
    .read_record = read_record,
    .write_record = write_record,
    .set_baud = set_baud,
    .set_parity = set_parity,
    .set_data_bits = set_data_bits,
};

}  // namespace kx
