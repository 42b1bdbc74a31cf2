#include "device_a.h"

#include <string_view>

namespace kxsim {
namespace {

// The device's commands: a setting's letters, the tag of its get command and
// the tag of its set command ("" when it cannot be set). The get command is
// "G" + letters, or the letter alone for the one-letter commands "V" and "T";
// the set command is "S" + letters + value.
struct command_row {
    std::string_view letters;
    std::string_view get_tag;
    std::string_view set_tag;
};

constexpr command_row command_table[] = {
    {"FE", "21", ""},   {"IP", "22", "21"}, {"PN", "23", "22"}, {"RM", "24", "23"},
    {"DI", "25", "24"}, {"DP", "26", "25"}, {"GI", "27", "26"}, {"NM", "28", "27"},
    {"BR", "29", "28"}, {"PR", "2A", "29"}, {"BB", "2B", "2A"}, {"ML", "2C", "2B"},
    {"MD", "2D", "2C"}, {"TP", "2E", "2D"}, {"DN", "2F", "1F"}, {"DH", "30", "2E"},
    {"FC", "31", "2F"}, {"KL", "32", "30"}, {"V", "33", ""},    {"DD", "34", "34"},
    {"LI", "35", "35"}, {"Li", "36", "36"}, {"WW", "37", "37"}, {"DW", "38", "38"},
    {"ON", "39", "39"}, {"PW", "3A", "3A"}, {"T", "3B", ""},    {"NB", "3C", "3B"},
};

constexpr std::string_view login_tag = "19";
// The selection command carries 20 when it opens a login or a read, 1E when
// it opens a write.
constexpr std::string_view selection_tags[] = {"20", "1E"};

std::string get_command(const command_row &row) {
    return row.letters.size() == 1 ? std::string(row.letters) : "G" + std::string(row.letters);
}

const command_row *find_get(std::string_view body, std::string_view tag) {
    for (const auto &row : command_table)
        if (body == get_command(row) && tag == row.get_tag) return &row;
    return nullptr;
}

const command_row *find_set(std::string_view body, std::string_view tag) {
    if (body.size() < 3 || body[0] != 'S') return nullptr;
    for (const auto &row : command_table)
        if (!row.set_tag.empty() && body.substr(1, 2) == row.letters && tag == row.set_tag)
            return &row;
    return nullptr;
}

bool is_tag_digit(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); }

// Splits "letters + argument + | + tag" into body and tag; false when the
// text does not end in a tag.
bool split_tagged(const std::string &text, std::string &body, std::string &tag) {
    if (text.size() < 4) return false;
    size_t bar = text.size() - 3;
    if (text[bar] != '|' || !is_tag_digit(text[bar + 1]) || !is_tag_digit(text[bar + 2]))
        return false;
    body = text.substr(0, bar);
    tag = text.substr(bar + 1);
    return true;
}

answer reply(const std::string &text) { return answer{to_bytes(text)}; }

}  // namespace

device_a::device_a(std::string address, std::string id_text, std::string name)
    : device(std::move(address)) {
    settings_ = {
        {"FE", std::move(id_text)},
        {"IP", this->address()},
        {"PN", "4001"},
        {"RM", "0"},
        {"DI", "127.0.0.1"},
        {"DP", "5000"},
        {"GI", "127.0.0.1"},
        {"NM", "255.0.0.0"},
        {"BR", "3"},
        {"PR", "0"},
        {"BB", "1"},
        {"ML", "1024"},
        {"MD", "2"},
        {"TP", "1"},
        {"DN", std::move(name)},
        {"DH", "0"},
        {"FC", "0"},
        {"KL", "60"},
        {"V", "A-1.07"},
        {"DD", "0"},
        {"LI", "0.0.0.0"},
        {"Li", "0.0.0.0"},
        {"WW", "0"},
        {"DW", "sim"},
        {"ON", "on"},
        {"PW", ""},
        {"T", "1"},
        {"NB", "0"},
    };
}

std::string device_a::search_reply() const {
    std::lock_guard<std::mutex> hold(lock());
    return compose_search_reply();
}

std::string device_a::compose_search_reply() const {
    const auto &s = settings_;
    std::string reply = "A" + s.at("FE") + "/" + s.at("PN") + "/x/x/x/" + s.at("DN") + "/";
    reply += '\0';
    reply += '.';
    reply += s.at("IP") + "/" + s.at("NM") + "/" + s.at("GI") + "/" + s.at("LI") + "/" +
             s.at("Li") + "/" + s.at("DI");
    return reply;
}

std::vector<answer> device_a::handle(const datagram &request) {
    if (request.destination_port != family_a_port) return {};
    const std::string text = request.text();
    if (text == "X") return {reply(compose_search_reply())};
    if (text == "E" || text == "O") {
        handle_closing_byte(text[0]);
        return {};
    }
    if (text.size() == 4 &&
        (text.starts_with("PBR") || text.starts_with("PPR") || text.starts_with("PBB")))
        return handle_quick_setting(request);
    return handle_tagged(request);
}

bool device_a::addressed(const datagram &request) const { return request.destination == address(); }

bool device_a::refused(const std::string &text) const {
    for (const auto &letters : refusals_)
        if (text.starts_with(letters)) return true;
    return false;
}

std::vector<answer> device_a::handle_tagged(const datagram &request) {
    const std::string text = request.text();
    std::string body, tag;
    if (!split_tagged(text, body, tag) || body.empty()) return {};
    const std::string refusal = "N|" + tag;
    const std::string acceptance = "A|" + tag;

    if (body[0] == 'W') {
        const std::string id_text = body.substr(1);
        bool names_this = id_text == settings_.at("FE") || (id_text.empty() && addressed(request));
        selected_ = false;
        if (!names_this) return {};  // another device's conversation
        if (refused(text) || (tag != selection_tags[0] && tag != selection_tags[1]))
            return {reply(refusal)};
        selected_ = true;
        return {reply(acceptance)};
    }
    if (!addressed(request) && !selected_) return {};
    if (refused(text)) return {reply(refusal)};

    if (body[0] == 'L') {
        if (tag != login_tag || body.substr(1) != settings_.at("PW")) return {reply(refusal)};
        logged_in_ = true;
        return {reply(acceptance)};
    }
    const command_row *get = find_get(body, tag);
    const command_row *set = get ? nullptr : find_set(body, tag);
    if ((!get && !set) || (login_required_ && !logged_in_)) return {reply(refusal)};
    if (get) return {reply("A" + settings_.at(std::string(get->letters)) + "|" + tag)};
    pending_[std::string(set->letters)] = body.substr(3);
    return {reply(acceptance)};
}

std::vector<answer> device_a::handle_quick_setting(const datagram &request) {
    const std::string text = request.text();
    if (!addressed(request) && !selected_) return {};
    const char digit = text[3];
    if (refused(text) || digit < '0' || digit > '9') return {reply("N")};
    settings_[text.substr(1, 2)] = std::string(1, digit);
    return {reply("A")};
}

// "E" applies the pending changes, "O" drops them and logs out; either ends
// the selection.
void device_a::handle_closing_byte(char closing) {
    if (closing == 'E' && !pending_.empty()) {
        for (auto &[key, value] : pending_) settings_[key] = value;
        ++applied_writes_;
    }
    if (closing == 'O') logged_in_ = false;
    pending_.clear();
    selected_ = false;
}

device_a::settings_map device_a::settings() const {
    std::lock_guard<std::mutex> hold(lock());
    return settings_;
}

std::string device_a::setting(const std::string &key) const {
    std::lock_guard<std::mutex> hold(lock());
    auto found = settings_.find(key);
    return found != settings_.end() ? found->second : std::string();
}

void device_a::set_setting(const std::string &key, std::string value) {
    std::lock_guard<std::mutex> hold(lock());
    settings_[key] = std::move(value);
}

void device_a::set_password(std::string text) { set_setting("PW", std::move(text)); }

bool device_a::logged_in() const {
    std::lock_guard<std::mutex> hold(lock());
    return logged_in_;
}

void device_a::refuse(std::string letters) {
    std::lock_guard<std::mutex> hold(lock());
    refusals_.push_back(std::move(letters));
}

void device_a::require_login(bool on) {
    std::lock_guard<std::mutex> hold(lock());
    login_required_ = on;
}

device_a::settings_map device_a::pending_changes() const {
    std::lock_guard<std::mutex> hold(lock());
    return pending_;
}

int device_a::applied_writes() const {
    std::lock_guard<std::mutex> hold(lock());
    return applied_writes_;
}

}  // namespace kxsim
