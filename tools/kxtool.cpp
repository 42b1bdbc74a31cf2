// kxtool: finds and configures device servers on the local network from the
// command line, through the library's exported functions only.
//
//   kxtool search | find ADDRESS | show ADDRESS [--password P]
//   kxtool set ADDRESS [--password P] FIELD=VALUE...
//   kxtool baud|parity|databits ADDRESS VALUE | crc TEXT | help
//
// Every library call is printed with its result and the result's meaning.
// Exit status: 0 when everything succeeded, 1 when a device operation failed
// or a device kept another value than the one written, 2 for a usage error
// or a value refused before it was sent.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "kxconf.h"

namespace {

constexpr int exit_ok = 0;
constexpr int exit_failed = 1;
constexpr int exit_usage = 2;

const char *const help_text =
    "usage: kxtool COMMAND ...\n"
    "\n"
    "  search                              list every device that answers on the LAN\n"
    "  find ADDRESS                        show the record of the device at ADDRESS\n"
    "  show ADDRESS [--password P]         log in, read and print every setting, log out\n"
    "  set ADDRESS [--password P] FIELD=VALUE...\n"
    "                                      change settings, write them, read them back\n"
    "  baud ADDRESS BITS_PER_SECOND        quick serial-line settings (no login)\n"
    "  parity ADDRESS CODE                 CODE is the device's parity code, as shown\n"
    "  databits ADDRESS BITS\n"
    "  crc TEXT                            CRC-16 of the text's bytes, in hex\n"
    "  help                                this text\n"
    "\n"
    "ADDRESS is a dotted IPv4 address (a.b.c.d). Without --password the login uses an\n"
    "empty password. Fields for set: on_text password device_name ip_address local_port\n"
    "dest_ip dest_port subnet_mask gateway li_address li_address_2 dw_text tp_value\n"
    "rm_value dhcp_enabled ww_flag dd_flag nb_flag keep_alive md_value ml_value\n"
    "baud_rate parity data_bits stop_bits flow_control. Texts are printable ASCII\n"
    "without '|' or '/'. Family A speeds: 1200 2400 4800 9600 19200 38400 57600\n"
    "115200; family B speeds: multiples of 100 up to 6553500.\n"
    "\n"
    "Exit status: 0 all succeeded, 1 a device operation failed, 2 usage or refused value.\n";

int usage_error(const std::string &message) {
    std::fflush(stdout);  // keep the order of the call lines already printed
    std::fprintf(stderr, "kxtool: %s\n(kxtool help shows the commands)\n", message.c_str());
    return exit_usage;
}

const char *result_meaning(int32_t code) {
    switch (code) {
        case KX_OK: return "ok";
        case KX_FAMILY_B_ANSWER: return "a family B device answered";
        case KX_E_SOCKET: return "socket or receive failed";
        case KX_E_REPLY: return "reply not acceptable";
        case KX_E_TIMEOUT: return "no matching reply in time";
        case KX_E_ARGUMENT: return "invalid argument or unknown family";
        case KX_E_REFUSED: return "login refused";
        default: return "unknown result";
    }
}

// Prints one library call's result; true when it succeeded.
bool report(const char *call, int32_t code) {
    std::printf("%s: %d (%s)\n", call, static_cast<int>(code), result_meaning(code));
    return code == KX_OK;
}

const char *family_name(uint8_t family) {
    switch (family) {
        case KX_FAMILY_A: return "A";
        case KX_FAMILY_B: return "B";
        default: return "?";
    }
}

// ---- Texts and numbers as a technician types them --------------------------

// Digits only, no sign, no overflow.
bool parse_number(std::string_view text, uint32_t &value) {
    if (text.empty() || text.size() > 10) return false;
    uint64_t v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + static_cast<uint64_t>(c - '0');
    }
    if (v > UINT32_MAX) return false;
    value = static_cast<uint32_t>(v);
    return true;
}

// Four decimal parts 0..255 without leading zeros: the platform's parser
// would read "010" as octal and "10.1" as 10.0.0.1, sending somewhere else.
bool valid_address(std::string_view text) {
    int parts = 0;
    size_t at = 0;
    while (true) {
        size_t end = text.find('.', at);
        if (end == std::string_view::npos) end = text.size();
        const std::string_view part = text.substr(at, end - at);
        uint32_t value = 0;
        if (part.size() > 3 || (part.size() > 1 && part[0] == '0') || !parse_number(part, value) ||
            value > 255)
            return false;
        ++parts;
        if (end == text.size()) break;
        at = end + 1;
    }
    return parts == 4;
}

// '|' ends a family A command's value and '/' separates the fields of a
// family A search reply, so neither may appear in a setting's text.
bool valid_setting_text(std::string_view text) {
    for (char c : text)
        if (c < 0x20 || c > 0x7E || c == '|' || c == '/') return false;
    return true;
}

// A text field up to its NUL or its end; bytes that are not printable ASCII
// are shown escaped, so a device cannot drive the technician's terminal.
std::string shown_text(const char *field, size_t width) {
    std::string out;
    for (size_t i = 0; i < width && field[i] != '\0'; ++i) {
        const auto c = static_cast<unsigned char>(field[i]);
        if (c >= 0x20 && c < 0x7F && c != '\\') {
            out += static_cast<char>(c);
        } else {
            char escaped[5];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
            out += escaped;
        }
    }
    return out;
}

std::string id_text(const uint8_t *id) {
    char text[24];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u.%u.%u", id[0], id[1], id[2], id[3], id[4], id[5]);
    return text;
}

// ---- The generic settings record, field by field ----------------------------

enum class kind { family, text, address, identifier, number, baud };

// Values a family carries; min > max means the family has no such setting.
struct range {
    uint32_t min, max;
};
constexpr range absent{1, 0};

struct field {
    const char *name;
    kind type;
    size_t offset;
    size_t width;
    bool writable;
    // Numbers: the values each family carries. Texts: the longest text.
    range family_a, family_b;
};

#define KX_AT(member) offsetof(kx_settings_record, member), sizeof(kx_settings_record::member)

constexpr range byte_values{0, 255};
constexpr range word_values{0, 65535};
constexpr range flag_values{0, 1};
constexpr range digit_values{0, 9};  // family A keeps these settings as one digit

// Every field of the record, in record order. Family A texts keep room for
// their NUL; family B texts may fill their field.
const field fields[] = {
    {"family", kind::family, KX_AT(family), false, byte_values, byte_values},
    {"on_text", kind::text, KX_AT(on_text), true, {0, 9}, {0, 10}},
    {"password", kind::text, KX_AT(password), true, {0, 9}, {0, 10}},
    {"device_name", kind::text, KX_AT(device_name), true, {0, 9}, {0, 10}},
    {"firmware_version", kind::text, KX_AT(firmware_version), false, {0, 16}, {0, 16}},
    {"device_id", kind::identifier, KX_AT(device_id), false, absent, absent},
    {"ip_address", kind::address, KX_AT(ip_address), true, absent, absent},
    {"local_port", kind::number, KX_AT(local_port), true, word_values, word_values},
    {"dest_ip", kind::address, KX_AT(dest_ip), true, absent, absent},
    {"dest_port", kind::number, KX_AT(dest_port), true, word_values, word_values},
    {"subnet_mask", kind::address, KX_AT(subnet_mask), true, absent, absent},
    {"gateway", kind::address, KX_AT(gateway), true, absent, absent},
    {"li_address", kind::address, KX_AT(li_address), true, absent, absent},
    {"li_address_2", kind::address, KX_AT(li_address_2), true, absent, absent},
    {"dw_text", kind::text, KX_AT(dw_text), true, {0, 29}, {0, 30}},
    {"tp_value", kind::number, KX_AT(tp_value), true, digit_values, byte_values},
    {"rm_value", kind::number, KX_AT(rm_value), true, digit_values, byte_values},
    {"dhcp_enabled", kind::number, KX_AT(dhcp_enabled), true, flag_values, flag_values},
    {"ww_flag", kind::number, KX_AT(ww_flag), true, flag_values, flag_values},
    {"dd_flag", kind::number, KX_AT(dd_flag), true, flag_values, flag_values},
    {"nb_flag", kind::number, KX_AT(nb_flag), true, flag_values, absent},
    {"keep_alive", kind::number, KX_AT(keep_alive), true, byte_values, byte_values},
    {"md_value", kind::number, KX_AT(md_value), true, byte_values, byte_values},
    {"ml_value", kind::number, KX_AT(ml_value), true, word_values, word_values},
    {"baud_rate", kind::baud, KX_AT(baud_rate), true, absent, absent},
    {"parity", kind::number, KX_AT(parity), true, digit_values, byte_values},
    {"data_bits", kind::number, KX_AT(data_bits), true, {7, 8}, {5, 8}},
    {"stop_bits", kind::number, KX_AT(stop_bits), true, absent, {1, 2}},
    {"flow_control", kind::number, KX_AT(flow_control), true, flag_values, byte_values},
};

#undef KX_AT

const field *find_field(std::string_view name) {
    for (const field &f : fields)
        if (name == f.name) return &f;
    return nullptr;
}

// Record numbers are little-endian, the host order of every supported target.
uint32_t number_in(const kx_settings_record &record, const field &f) {
    const auto *bytes = reinterpret_cast<const uint8_t *>(&record) + f.offset;
    uint32_t value = 0;
    for (size_t i = f.width; i-- > 0;) value = value << 8 | bytes[i];
    return value;
}

void set_number(kx_settings_record &record, const field &f, uint32_t value) {
    auto *bytes = reinterpret_cast<uint8_t *>(&record) + f.offset;
    for (size_t i = 0; i < f.width; ++i, value >>= 8) bytes[i] = static_cast<uint8_t>(value);
}

std::string value_text(const kx_settings_record &record, const field &f) {
    const auto *bytes = reinterpret_cast<const uint8_t *>(&record) + f.offset;
    switch (f.type) {
        case kind::text:
        case kind::address: return shown_text(reinterpret_cast<const char *>(bytes), f.width);
        case kind::identifier: return id_text(bytes);
        case kind::family:
        case kind::number:
        case kind::baud: break;
    }
    return std::to_string(number_in(record, f));
}

bool present(range r) { return r.min <= r.max; }
bool in_range(uint32_t value, range r) { return r.min <= value && value <= r.max; }

// The values of a and b together, as one span for messages.
range either(range a, range b) {
    if (!present(a)) return b;
    if (!present(b)) return a;
    return {a.min < b.min ? a.min : b.min, a.max > b.max ? a.max : b.max};
}

bool baud_fits(uint32_t value, uint8_t family) {
    // Family A keeps one of eight speed codes; family B keeps hundreds in 16 bits.
    static const uint32_t speeds_a[] = {1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};
    bool fits_a = false;
    for (uint32_t speed : speeds_a) fits_a = fits_a || value == speed;
    const bool fits_b = value >= 100 && value % 100 == 0 && value / 100 <= 65535;
    if (family == KX_FAMILY_A) return fits_a;
    if (family == KX_FAMILY_B) return fits_b;
    return fits_a || fits_b;
}

// Checks a value for the device's family, or for either family when family
// is 0 (before the device is known). Empty when the value fits; otherwise
// why it does not.
std::string refusal(const field &f, const std::string &value, uint8_t family) {
    const range a = family == KX_FAMILY_B ? absent : f.family_a;
    const range b = family == KX_FAMILY_A ? absent : f.family_b;
    const std::string who = family == KX_FAMILY_A   ? "a family A device"
                            : family == KX_FAMILY_B ? "a family B device"
                                                    : "the field";
    if (!f.writable) return "read-only field";
    switch (f.type) {
        case kind::text: {
            if (!valid_setting_text(value)) return "text must be printable ASCII without '|' or '/'";
            const uint32_t longest = either(a, b).max;
            if (value.size() > longest)
                return "text too long: " + who + " takes at most " + std::to_string(longest) +
                       " characters";
            return {};
        }
        case kind::address:
            if (!valid_address(value)) return "not a dotted IPv4 address (a.b.c.d, each 0 to 255)";
            return {};
        case kind::baud: {
            uint32_t n = 0;
            if (!parse_number(value, n) || !baud_fits(n, family))
                return "speed not carried by " + who + " (kxtool help lists the speeds)";
            return {};
        }
        case kind::number: {
            const range r = either(a, b);
            if (!present(r)) return who + " has no such setting";
            uint32_t n = 0;
            if (!parse_number(value, n) || !(in_range(n, a) || in_range(n, b)))
                return "out of range: " + who + " takes " + std::to_string(r.min) + " to " +
                       std::to_string(r.max);
            return {};
        }
        case kind::family:
        case kind::identifier: break;
    }
    return "read-only field";
}

void apply(kx_settings_record &record, const field &f, const std::string &value) {
    auto *bytes = reinterpret_cast<uint8_t *>(&record) + f.offset;
    if (f.type == kind::text || f.type == kind::address) {
        // The checks keep the text within the field; the rest is cleared.
        std::memset(bytes, 0, f.width);
        std::memcpy(bytes, value.data(), value.size());
        return;
    }
    uint32_t n = 0;
    parse_number(value, n);
    set_number(record, f, n);
}

// ---- Commands ------------------------------------------------------------------

void print_device_line(const kx_device_record &d) {
    std::printf("%-6s %-15s %-23s %-10s %5u %s\n", family_name(d.family),
                shown_text(d.ip_address, sizeof d.ip_address).c_str(), id_text(d.device_id).c_str(),
                shown_text(d.device_name, sizeof d.device_name).c_str(),
                static_cast<unsigned>(d.local_port),
                shown_text(d.firmware_version, sizeof d.firmware_version).c_str());
}

void print_device_record(const kx_device_record &d) {
    auto line = [](const char *name, const std::string &value) {
        std::printf("%s = %s\n", name, value.c_str());
    };
    line("family", std::to_string(d.family));
    line("firmware_version", shown_text(d.firmware_version, sizeof d.firmware_version));
    line("device_name", shown_text(d.device_name, sizeof d.device_name));
    line("device_id", id_text(d.device_id));
    line("ip_address", shown_text(d.ip_address, sizeof d.ip_address));
    line("local_port", std::to_string(d.local_port));
    line("dest_ip", shown_text(d.dest_ip, sizeof d.dest_ip));
    line("subnet_mask", shown_text(d.subnet_mask, sizeof d.subnet_mask));
    line("gateway", shown_text(d.gateway, sizeof d.gateway));
    line("li_address", shown_text(d.li_address, sizeof d.li_address));
    line("li_address_2", shown_text(d.li_address_2, sizeof d.li_address_2));
}

int search_command() {
    // The search fills one record per answering device with no bound the
    // caller can pass, so the array is far larger than any real LAN needs.
    constexpr int32_t capacity = 4096;
    std::vector<kx_device_record> records(capacity);
    // kx_search_all reports success even when its socket could not be
    // prepared, leaving the count untouched: a count still negative
    // afterwards means no search took place.
    int32_t count = -1;
    const int32_t result = kx_search_all(records.data(), &count);
    if (!report("kx_search_all", result)) return exit_failed;
    if (count < 0) {
        report("kx_search_all (no search took place)", KX_E_SOCKET);
        return exit_failed;
    }
    if (count > capacity) {
        std::fflush(stdout);
        std::fprintf(stderr, "kxtool: %d answers overran the device table\n", count);
        return exit_failed;
    }
    std::printf("%d device(s)\n", count);
    if (count > 0)
        std::printf("%-6s %-15s %-23s %-10s %5s %s\n", "family", "address", "identifier", "name",
                    "port", "firmware");
    for (int32_t i = 0; i < count; ++i) print_device_line(records[i]);
    return exit_ok;
}

bool find_device(const std::string &address, kx_device_record &device) {
    std::memset(&device, 0, sizeof device);
    if (!report("kx_search_one", kx_search_one(address.c_str(), &device))) return false;
    if (device.family == KX_FAMILY_A || device.family == KX_FAMILY_B) return true;
    std::fflush(stdout);
    std::fprintf(stderr, "kxtool: the device answered with unknown family code %u\n",
                 static_cast<unsigned>(device.family));
    return false;
}

int find_command(const std::string &address) {
    kx_device_record device;
    if (!find_device(address, device)) return exit_failed;
    print_device_record(device);
    return exit_ok;
}

struct assignment {
    const field *target;
    std::string value;
};

struct session_arguments {
    std::string address;
    std::string password;
    std::vector<assignment> changes;
};

// ADDRESS [--password P] [FIELD=VALUE...]; every check that needs no device.
bool parse_session(int argc, char **argv, bool with_changes, session_arguments &out,
                   std::string &error) {
    if (argc < 3) {
        error = "missing ADDRESS";
        return false;
    }
    out.address = argv[2];
    if (!valid_address(out.address)) {
        error = "not a dotted IPv4 address: " + out.address;
        return false;
    }
    for (int i = 3; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--password") {
            if (i + 1 >= argc) {
                error = "--password needs a value";
                return false;
            }
            out.password = argv[++i];
            const field &pw = *find_field("password");
            if (out.password.size() > pw.width || !valid_setting_text(out.password)) {
                error = "password: at most 10 printable characters without '|' or '/'";
                return false;
            }
            continue;
        }
        const size_t eq = arg.find('=');
        if (!with_changes || eq == std::string::npos) {
            error = "unexpected argument: " + arg;
            return false;
        }
        const field *f = find_field(std::string_view(arg).substr(0, eq));
        if (f == nullptr) {
            error = "unknown field: " + arg.substr(0, eq);
            return false;
        }
        for (const assignment &earlier : out.changes)
            if (earlier.target == f) {
                error = std::string(f->name) + " given twice";
                return false;
            }
        const std::string value = arg.substr(eq + 1);
        if (const std::string why = refusal(*f, value, 0); !why.empty()) {
            error = std::string(f->name) + "=" + value + ": " + why;
            return false;
        }
        out.changes.push_back({f, value});
    }
    if (with_changes && out.changes.empty()) {
        error = "nothing to set: give FIELD=VALUE";
        return false;
    }
    return true;
}

// The checks that need the device's family; the search alone has been sent.
bool fits_family(const session_arguments &args, uint8_t family, std::string &error) {
    if (family == KX_FAMILY_A && args.password.size() > 9) {
        error = "password: a family A device takes at most 9 characters";
        return false;
    }
    for (const assignment &c : args.changes)
        if (const std::string why = refusal(*c.target, c.value, family); !why.empty()) {
            error = std::string(c.target->name) + "=" + c.value + ": " + why;
            return false;
        }
    return true;
}

// A logged-in conversation: found, logged in, and logged out on every path
// once the login was accepted.
class session {
  public:
    session(const session_arguments &args) : args_(args), address_(args.address) {}

    // Find, check the family, log in. Sets exit_code on failure.
    bool open() {
        if (!find_device(args_.address, device_)) return fail(exit_failed);
        std::string error;
        if (!fits_family(args_, device_.family, error)) return fail(usage_error(error));
        kx_settings_record login{};
        login.family = device_.family;
        std::memcpy(login.password, args_.password.data(), args_.password.size());
        if (!report("kx_login", kx_login(address_.c_str(), device_.device_id, &login)))
            return fail(exit_failed);
        logged_in_ = true;
        return true;
    }

    bool read(kx_settings_record &settings) {
        std::memset(&settings, 0, sizeof settings);
        return report("kx_read_setting",
                      kx_read_setting(address_.c_str(), device_.device_id, &settings, &device_)) ||
               fail(exit_failed);
    }

    bool write(const kx_settings_record &settings) {
        return report("kx_write_setting",
                      kx_write_setting(address_.c_str(), device_.device_id, &settings, &device_)) ||
               fail(exit_failed);
    }

    // Later calls reach the device by broadcast, selected by its identifier,
    // since it may already answer at its new address only.
    void follow_by_broadcast() { address_.clear(); }

    // Logs out when logged in; the exit status of the whole command.
    int close() {
        if (logged_in_ && !report("kx_logout", kx_logout(address_.c_str(), device_.device_id,
                                                         &device_)))
            exit_code_ = exit_failed;
        logged_in_ = false;
        return exit_code_;
    }

    bool fail(int code) {
        if (exit_code_ == exit_ok) exit_code_ = code;
        return false;
    }

  private:
    const session_arguments &args_;
    std::string address_;
    kx_device_record device_{};
    bool logged_in_ = false;
    int exit_code_ = exit_ok;
};

int show_command(int argc, char **argv) {
    session_arguments args;
    std::string error;
    if (!parse_session(argc, argv, false, args, error)) return usage_error(error);
    session s(args);
    kx_settings_record settings;
    if (s.open() && s.read(settings))
        for (const field &f : fields)
            std::printf("%s = %s\n", f.name, value_text(settings, f).c_str());
    return s.close();
}

int set_command(int argc, char **argv) {
    session_arguments args;
    std::string error;
    if (!parse_session(argc, argv, true, args, error)) return usage_error(error);
    session s(args);
    kx_settings_record settings;
    if (!s.open() || !s.read(settings)) return s.close();
    kx_settings_record wanted = settings;
    for (const assignment &c : args.changes) apply(wanted, *c.target, c.value);
    if (!s.write(wanted)) return s.close();
    for (const assignment &c : args.changes)
        if (c.target == find_field("ip_address") && c.value != args.address) s.follow_by_broadcast();
    kx_settings_record now;
    if (!s.read(now)) return s.close();
    for (const assignment &c : args.changes) {
        const std::string kept = value_text(now, *c.target);
        const std::string asked = value_text(wanted, *c.target);
        if (kept == asked) {
            std::printf("%s = %s\n", c.target->name, kept.c_str());
        } else {
            std::printf("%s = %s (not changed: %s was written)\n", c.target->name, kept.c_str(),
                        asked.c_str());
            s.fail(exit_failed);
        }
    }
    return s.close();
}

// baud, parity and databits: one quick setting, no login; the family decides
// which values the device carries.
int quick_command(const std::string &command, int argc, char **argv) {
    if (argc != 4) return usage_error(command + " takes ADDRESS VALUE");
    const std::string address = argv[2];
    if (!valid_address(address)) return usage_error("not a dotted IPv4 address: " + address);
    const field &f = *find_field(command == "baud" ? "baud_rate"
                                 : command == "parity" ? "parity"
                                                       : "data_bits");
    const std::string value = argv[3];
    if (const std::string why = refusal(f, value, 0); !why.empty())
        return usage_error(command + " " + value + ": " + why);
    kx_device_record device;
    if (!find_device(address, device)) return exit_failed;
    if (const std::string why = refusal(f, value, device.family); !why.empty())
        return usage_error(command + " " + value + ": " + why);
    uint32_t n = 0;
    parse_number(value, n);
    // The family A quick setter carries parity codes 0 to 4 only.
    if (command == "parity" && device.family == KX_FAMILY_A && n > 4)
        return usage_error("parity " + value + ": out of range: a family A device takes 0 to 4");
    int32_t result = 0;
    if (command == "baud") {
        result = kx_setting_baud(address.c_str(), n, &device);
    } else if (command == "parity") {
        // The family A quick setter numbers odd and even the other way round
        // from the device's own codes; the technician gives the code that
        // show prints, so it is translated here.
        if (device.family == KX_FAMILY_A && (n == 1 || n == 2)) n = 3 - n;
        result = kx_setting_parity(address.c_str(), n, &device);
    } else {
        result = kx_setting_databit(address.c_str(), n, &device);
    }
    const std::string call = "kx_setting_" + std::string(command == "databits" ? "databit" : command);
    return report(call.c_str(), result) ? exit_ok : exit_failed;
}

int crc_command(int argc, char **argv) {
    if (argc != 3) return usage_error("crc takes one TEXT");
    const std::string_view text = argv[2];
    // The CRC covers at most 65535 bytes; a longer text would be cut silently.
    if (text.size() > 65535) return usage_error("crc: text longer than 65535 bytes");
    const int32_t crc = cal_crc(reinterpret_cast<const uint8_t *>(text.data()),
                                static_cast<int32_t>(text.size()));
    std::printf("0x%04X\n", static_cast<unsigned>(crc) & 0xFFFFu);
    return exit_ok;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc < 2) return usage_error("missing COMMAND");
    const std::string command = argv[1];
    if (command == "help" || command == "--help" || command == "-h") {
        std::fputs(help_text, stdout);
        return exit_ok;
    }
    if (command == "search") return argc == 2 ? search_command() : usage_error("search takes no arguments");
    if (command == "find") {
        if (argc != 3) return usage_error("find takes ADDRESS");
        if (!valid_address(argv[2])) return usage_error(std::string("not a dotted IPv4 address: ") + argv[2]);
        return find_command(argv[2]);
    }
    if (command == "show") return show_command(argc, argv);
    if (command == "set") return set_command(argc, argv);
    if (command == "baud" || command == "parity" || command == "databits")
        return quick_command(command, argc, argv);
    if (command == "crc") return crc_command(argc, argv);
    return usage_error("unknown command: " + command);
}
