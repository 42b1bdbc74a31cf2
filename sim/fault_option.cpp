#include "fault_option.h"

#include <sstream>
#include <vector>

namespace kxsim {
namespace {

// Digits only, at most 9 of them.
bool whole_number(const std::string &text, int &value) {
    if (text.empty() || text.size() > 9) return false;
    value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + (c - '0');
    }
    return true;
}

}  // namespace

fault_option parse_fault_option(const std::string &text, std::string &error) {
    std::vector<std::string> parts;
    std::stringstream in(text);
    for (std::string part; std::getline(in, part, ',');) parts.push_back(part);
    fault_option option{};
    option.when = any_request();
    if (parts.size() < 2) {
        error = "--fault needs ADDRESS,WHAT";
        return option;
    }
    option.address = parts[0];
    bool what_given = false;
    for (size_t i = 1; i < parts.size(); ++i) {
        const std::string &part = parts[i];
        const size_t eq = part.find('=');
        const std::string name = part.substr(0, eq);
        const std::string value = eq == std::string::npos ? std::string() : part.substr(eq + 1);
        int n = 0;
        const bool numbered = whole_number(value, n);
        fault &f = option.what;
        if (name == "on") {
            int opcode = 0;
            if (value.starts_with("op=")) {
                if (!whole_number(value.substr(3), opcode) || opcode > 255) {
                    error = "--fault: on=op=N takes a family B opcode 0 to 255, not \"" +
                            value.substr(3) + "\"";
                    return option;
                }
                option.when = opcode_is(static_cast<uint8_t>(opcode));
            } else if (value.empty()) {
                error = "--fault: on= needs op=N or the start of a family A command";
                return option;
            } else {
                option.when = text_starts_with(value);
            }
            continue;
        }
        if (name == "times") {
            if (!numbered || n < 1) {
                error = "--fault: times=N takes a count of 1 or more";
                return option;
            }
            f.for_requests(n);
            continue;
        }
        what_given = true;
        if (part == "silent")
            f.no_answer();
        else if (part == "twice")
            f.twice();
        else if (part == "bad-crc")
            f.bad_last_byte();
        else if (part == "silent-after")
            f.then_silent();
        else if (name == "late" && numbered)
            f.late(n);
        else if (name == "truncate" && numbered && n <= 65000)
            f.cut_to(n);
        else if (name == "oversize" && numbered && n <= 65000)
            f.padded_to(static_cast<size_t>(n));
        else if (name == "strays" && numbered && n <= 1000)
            for (int s = 0; s < n; ++s) f.stray_first("stray " + std::to_string(s + 1), 5);
        else {
            error = "--fault: unknown fault \"" + part + "\"";
            return option;
        }
    }
    if (!what_given) error = "--fault: no fault named in \"" + text + "\"";
    return option;
}

}  // namespace kxsim
