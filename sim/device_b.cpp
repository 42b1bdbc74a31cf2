#include "device_b.h"

#include "device_a.h"
#include "kxconf.h"

namespace kxsim {

namespace {

// Byte offsets shared by both packet shapes.
constexpr size_t at_marker = 0;
constexpr size_t at_sequence = 7;
constexpr size_t at_opcode = 8;
constexpr size_t at_family = 9;
constexpr size_t at_device_id = 12;
constexpr size_t at_serial_block = 18;
constexpr size_t at_password = 24;
constexpr size_t payload_begin = 12;
constexpr size_t payload_end = 156;  // one past the last payload byte
constexpr uint8_t marker = 0xFF;

// Settings fields by settings-packet offset.
constexpr size_t at_name = 20;
constexpr size_t at_firmware = 36;
constexpr size_t at_ip = 52;
constexpr size_t at_mask = 56;
constexpr size_t at_gateway = 60;
constexpr size_t at_local_port = 64;  // big-endian
constexpr size_t at_rm = 66;
constexpr size_t at_dhcp = 67;
constexpr size_t at_dest_ip = 68;
constexpr size_t at_dest_port = 72;  // big-endian
constexpr size_t at_tp = 74;
constexpr size_t at_ww = 75;
constexpr size_t at_dd = 76;
constexpr size_t at_li = 80;
constexpr size_t at_li2 = 84;
constexpr size_t at_dw_text = 88;
constexpr size_t at_ml = 124;  // little-endian
constexpr size_t at_md = 126;
constexpr size_t at_keep_alive = 127;
constexpr size_t at_baud = 128;  // little-endian
constexpr size_t at_data_bits = 132;
constexpr size_t at_parity = 133;
constexpr size_t at_stop_bits = 134;
constexpr size_t at_flow = 135;
constexpr size_t at_on_text = 136;
constexpr size_t at_password_field = 146;

// Opcodes the device knows.
constexpr uint8_t op_search = 1;
constexpr uint8_t op_write = 5;
constexpr uint8_t op_confirm = 7;
constexpr uint8_t op_serial = 9;
constexpr uint8_t op_read_unicast = 11;
constexpr uint8_t op_read_broadcast = 13;
constexpr uint8_t op_login_broadcast = 15;
constexpr uint8_t op_login_unicast = 17;
constexpr uint8_t op_login_refused = 18;
constexpr uint8_t op_logout_broadcast = 19;
constexpr uint8_t op_logout_unicast = 21;

void put_u16_le(bytes &p, size_t at, uint16_t value) {
    p[at] = static_cast<uint8_t>(value & 0xFF);
    p[at + 1] = static_cast<uint8_t>(value >> 8);
}
void put_u16_be(bytes &p, size_t at, uint16_t value) {
    p[at] = static_cast<uint8_t>(value >> 8);
    p[at + 1] = static_cast<uint8_t>(value & 0xFF);
}
uint16_t get_u16_le(const bytes &p, size_t at) {
    return static_cast<uint16_t>(p[at] | (p[at + 1] << 8));
}
uint16_t get_u16_be(const bytes &p, size_t at) {
    return static_cast<uint16_t>((p[at] << 8) | p[at + 1]);
}
template <size_t N>
void put_field(bytes &p, size_t at, const std::array<uint8_t, N> &field) {
    for (size_t i = 0; i < N; ++i) p[at + i] = field[i];
}
template <size_t N>
void get_field(const bytes &p, size_t at, std::array<uint8_t, N> &field) {
    for (size_t i = 0; i < N; ++i) field[i] = p[at + i];
}
void scramble(bytes &p, size_t begin, size_t end) {
    for (size_t i = begin; i < end; ++i) p[i] ^= packet_b::scramble_key;
}

uint16_t crc_of(const bytes &p, size_t length) {
    return static_cast<uint16_t>(cal_crc(p.data(), static_cast<int32_t>(length)));
}

}  // namespace

ipv4_bytes ipv4(const std::string &dotted) {
    ipv4_bytes address{};
    size_t part = 0;
    int value = -1;  // -1: no digit yet in this part
    for (char c : dotted + ".") {
        if (c >= '0' && c <= '9') {
            value = (value < 0 ? 0 : value * 10) + (c - '0');
            if (value > 255) return {};
        } else if (c == '.' && value >= 0 && part < 4) {
            address[part++] = static_cast<uint8_t>(value);
            value = -1;
        } else {
            return {};
        }
    }
    return part == 4 ? address : ipv4_bytes{};
}

namespace packet_b {

void seal(bytes &packet) {
    if (packet.size() < 2) return;
    size_t length = packet.size() - 2;
    put_u16_le(packet, length, crc_of(packet, length));
}

bool sealed(const bytes &packet) {
    if (packet.size() < 2) return false;
    size_t length = packet.size() - 2;
    return get_u16_le(packet, length) == crc_of(packet, length);
}

bytes short_answer(uint8_t opcode, uint8_t sequence, const device_id_bytes &id) {
    bytes p(short_size, 0);
    p[at_sequence] = sequence;
    p[at_opcode] = opcode;
    put_field(p, at_device_id, id);
    scramble(p, at_device_id, at_device_id + 6);
    seal(p);
    return p;
}

bytes settings_packet(const settings_b &s, uint8_t opcode, uint8_t sequence, uint8_t family) {
    bytes p(settings_size, 0);
    p[at_sequence] = sequence;
    p[at_opcode] = opcode;
    p[at_family] = family;
    put_field(p, at_device_id, s.id);
    put_field(p, at_name, s.name);
    put_field(p, at_firmware, s.firmware);
    put_field(p, at_ip, s.ip);
    put_field(p, at_mask, s.mask);
    put_field(p, at_gateway, s.gateway);
    put_u16_be(p, at_local_port, s.local_port);
    p[at_rm] = s.rm;
    p[at_dhcp] = s.dhcp;
    put_field(p, at_dest_ip, s.dest_ip);
    put_u16_be(p, at_dest_port, s.dest_port);
    p[at_tp] = s.tp;
    p[at_ww] = s.ww;
    p[at_dd] = s.dd;
    put_field(p, at_li, s.li);
    put_field(p, at_li2, s.li2);
    put_field(p, at_dw_text, s.dw_text);
    put_u16_le(p, at_ml, s.ml);
    p[at_md] = s.md;
    p[at_keep_alive] = s.keep_alive;
    put_u16_le(p, at_baud, s.baud_hundreds);
    p[at_data_bits] = s.data_bits;
    p[at_parity] = s.parity;
    p[at_stop_bits] = s.stop_bits;
    p[at_flow] = s.flow;
    put_field(p, at_on_text, s.on_text);
    put_field(p, at_password_field, s.password);
    scramble(p, payload_begin, payload_end);
    seal(p);
    return p;
}

std::optional<settings_b> decode_settings(const bytes &packet) {
    if (packet.size() < payload_end) return std::nullopt;
    bytes p = packet;
    scramble(p, payload_begin, payload_end);
    settings_b s;
    get_field(p, at_device_id, s.id);
    get_field(p, at_name, s.name);
    get_field(p, at_firmware, s.firmware);
    get_field(p, at_ip, s.ip);
    get_field(p, at_mask, s.mask);
    get_field(p, at_gateway, s.gateway);
    s.local_port = get_u16_be(p, at_local_port);
    s.rm = p[at_rm];
    s.dhcp = p[at_dhcp];
    get_field(p, at_dest_ip, s.dest_ip);
    s.dest_port = get_u16_be(p, at_dest_port);
    s.tp = p[at_tp];
    s.ww = p[at_ww];
    s.dd = p[at_dd];
    get_field(p, at_li, s.li);
    get_field(p, at_li2, s.li2);
    get_field(p, at_dw_text, s.dw_text);
    s.ml = get_u16_le(p, at_ml);
    s.md = p[at_md];
    s.keep_alive = p[at_keep_alive];
    s.baud_hundreds = get_u16_le(p, at_baud);
    s.data_bits = p[at_data_bits];
    s.parity = p[at_parity];
    s.stop_bits = p[at_stop_bits];
    s.flow = p[at_flow];
    get_field(p, at_on_text, s.on_text);
    get_field(p, at_password_field, s.password);
    return s;
}

}  // namespace packet_b

device_b::device_b(std::string address, device_id_bytes id, std::string name,
                   const family_wire &wire)
    : device(std::move(address)), wire_(wire), reply_family_(wire.code) {
    settings_b &s = settings_;
    s.id = id;
    s.name = text_field<10>(name);
    s.firmware = text_field<16>("B-2.03");
    s.ip = ipv4(this->address());
    s.mask = {255, 0, 0, 0};
    s.gateway = {127, 0, 0, 1};
    s.local_port = 4001;
    s.rm = 1;
    s.dhcp = 0;
    s.dest_ip = {127, 0, 0, 1};
    s.dest_port = 5000;
    s.tp = 2;
    s.ww = 0;
    s.dd = 0;
    s.dw_text = text_field<30>("sim");
    s.ml = 1024;
    s.md = 3;
    s.keep_alive = 60;
    s.baud_hundreds = 96;
    s.data_bits = 8;
    s.parity = 0;
    s.stop_bits = 1;
    s.flow = 0;
    s.on_text = text_field<10>("on");
}

std::vector<answer> device_b::handle(const datagram &request) {
    if (request.destination_port == family_a_port) {
        // The family A search probe is answered with the family's own bytes
        // ("Q7" for family B) and the name.
        if (request.text() != "X" || wire_.probe_answer.empty()) return {};
        std::string reply(wire_.probe_answer);
        for (uint8_t c : settings_.name) {
            if (c == 0) break;
            reply += static_cast<char>(c);
        }
        return {answer{to_bytes(reply)}};
    }
    if (request.destination_port != wire_.port) return {};
    return handle_b(request.payload, request.broadcast());
}

std::vector<answer> device_b::handle_b(const bytes &p, bool broadcast) {
    bool well_formed = (p.size() == packet_b::short_size || p.size() == packet_b::settings_size) &&
                       packet_b::sealed(p);
    uint8_t opcode = well_formed ? p[at_opcode] : 0;
    bool settings_shape = p.size() == packet_b::settings_size;
    bool needs_marker = opcode == op_search || opcode == op_confirm || opcode == op_serial ||
                        opcode == op_read_unicast || opcode == op_read_broadcast;
    if (!well_formed || settings_shape != (opcode == op_write) ||
        (needs_marker && p[at_marker] != marker)) {
        ++rejected_;
        return {};
    }
    uint8_t sequence = answer_sequence(p);

    switch (opcode) {
        case op_search:
            return {answer{packet_b::settings_packet(settings_, answer_opcode(opcode, op_search),
                                                     sequence, reply_family_)}};

        case op_login_broadcast:
        case op_login_unicast: {
            if (!names_me(p)) return {};
            bool match = true;
            for (size_t i = 0; i < settings_.password.size(); ++i)
                if (p[at_password + i] != settings_.password[i]) match = false;
            if (match) logged_in_ = true;
            uint8_t verdict = match ? op_login_unicast : op_login_refused;
            return {answer{
                packet_b::short_answer(answer_opcode(opcode, verdict), sequence, settings_.id)}};
        }

        case op_logout_broadcast:
        case op_logout_unicast:
            if (names_me(p)) logged_in_ = false;
            return {};

        case op_read_unicast:
        case op_read_broadcast:
            if (!names_me(p)) return {};
            return {answer{packet_b::settings_packet(
                settings_, answer_opcode(opcode, op_read_unicast), sequence, reply_family_)}};

        case op_write: {
            if (p[at_family] != wire_.code) {
                ++rejected_;
                return {};
            }
            // The record names the device it is meant for.
            std::optional<settings_b> record = packet_b::decode_settings(p);
            if (!record || record->id != settings_.id) return {};
            pending_ = record;
            return {answer{
                packet_b::short_answer(answer_opcode(opcode, op_write), sequence, settings_.id)}};
        }

        case op_confirm:
            if (!names_me(p)) return {};
            ++confirmations_;
            if (pending_) {
                settings_ = *pending_;
                pending_.reset();
                ++writes_applied_;
            }
            return {answer{
                packet_b::short_answer(answer_opcode(opcode, op_confirm), sequence, settings_.id)}};

        case op_serial: {
            // The serial-line request names no device: only its address does.
            if (broadcast) return {};
            for (size_t i = 0; i < last_serial_block_.size(); ++i)
                last_serial_block_[i] = p[at_serial_block + i];
            ++serial_blocks_;
            uint16_t baud = get_u16_le(p, at_serial_block);
            uint8_t data_bits = p[at_serial_block + 2];
            uint8_t parity = p[at_serial_block + 4];
            if (baud != 0xFFFF) settings_.baud_hundreds = baud;
            if (data_bits != 0xFF) settings_.data_bits = data_bits;
            if (parity != 0xFF) settings_.parity = parity;
            return {answer{
                packet_b::short_answer(answer_opcode(opcode, op_serial), sequence, settings_.id)}};
        }

        default:
            ++rejected_;
            return {};
    }
}

uint8_t device_b::answer_opcode(uint8_t request_opcode, uint8_t normal) const {
    auto found = reply_opcodes_.find(request_opcode);
    return found != reply_opcodes_.end() ? found->second : normal;
}

uint8_t device_b::answer_sequence(const bytes &request) const {
    uint8_t sequence = request[at_sequence];
    return foreign_sequence_ ? static_cast<uint8_t>(sequence ^ 0xFF) : sequence;
}

bool device_b::names_me(const bytes &request) const {
    for (size_t i = 0; i < settings_.id.size(); ++i)
        if ((request[at_device_id + i] ^ packet_b::scramble_key) != settings_.id[i]) return false;
    return true;
}

settings_b device_b::settings() const {
    std::lock_guard<std::mutex> hold(lock());
    return settings_;
}

void device_b::set_settings(const settings_b &s) {
    std::lock_guard<std::mutex> hold(lock());
    settings_ = s;
}

void device_b::set_password(const std::string &password) {
    std::lock_guard<std::mutex> hold(lock());
    settings_.password = text_field<10>(password);
}

bool device_b::logged_in() const {
    std::lock_guard<std::mutex> hold(lock());
    return logged_in_;
}

int device_b::confirmations() const {
    std::lock_guard<std::mutex> hold(lock());
    return confirmations_;
}

int device_b::writes_applied() const {
    std::lock_guard<std::mutex> hold(lock());
    return writes_applied_;
}

std::optional<settings_b> device_b::pending_write() const {
    std::lock_guard<std::mutex> hold(lock());
    return pending_;
}

std::array<uint8_t, 6> device_b::last_serial_block() const {
    std::lock_guard<std::mutex> hold(lock());
    return last_serial_block_;
}

int device_b::serial_blocks() const {
    std::lock_guard<std::mutex> hold(lock());
    return serial_blocks_;
}

int device_b::rejected() const {
    std::lock_guard<std::mutex> hold(lock());
    return rejected_;
}

void device_b::reply_family(uint8_t family) {
    std::lock_guard<std::mutex> hold(lock());
    reply_family_ = family;
}

void device_b::reply_opcode(uint8_t request_opcode, uint8_t reply_opcode) {
    std::lock_guard<std::mutex> hold(lock());
    reply_opcodes_[request_opcode] = reply_opcode;
}

void device_b::foreign_sequence(bool on) {
    std::lock_guard<std::mutex> hold(lock());
    foreign_sequence_ = on;
}

}  // namespace kxsim
