#include "support/trace.h"

namespace kxtest {

std::vector<std::string> texts(const std::vector<kxsim::datagram> &trace) {
    std::vector<std::string> out;
    out.reserve(trace.size());
    for (const auto &d : trace) out.push_back(d.text());
    return out;
}

}  // namespace kxtest
