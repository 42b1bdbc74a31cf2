#include "device_a.h"

namespace kxsim {

device_a::device_a(std::string address, std::string id_text, std::string name)
    : device(std::move(address)) {
    settings_ = {
        {"FE", std::move(id_text)}, {"IP", this->address()}, {"PN", "4001"},
        {"RM", "0"},               {"DI", "127.0.0.1"},     {"DP", "5000"},
        {"GI", "127.0.0.1"},       {"NM", "255.0.0.0"},     {"BR", "3"},
        {"PR", "0"},               {"BB", "1"},             {"ML", "1024"},
        {"MD", "2"},               {"TP", "1"},             {"DN", std::move(name)},
        {"DH", "0"},               {"FC", "0"},             {"KL", "60"},
        {"V", "A-1.07"},           {"DD", "0"},             {"LI", "0.0.0.0"},
        {"Li", "0.0.0.0"},         {"WW", "0"},             {"DW", "sim"},
        {"ON", "on"},              {"PW", ""},              {"T", "1"},
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
    if (request.text() == "X") return {answer{to_bytes(compose_search_reply())}};
    return {};
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

}  // namespace kxsim
