#include "frame/answers.h"

#include <cstring>
#include <span>

#include "frame/convert.h"

namespace kx {

const family_ops &family_in_turn(size_t turn) {
    return *family_list[(turn + 1) % family_list.size()];
}

namespace {

// Parses one answer into record: true for a device of any family.
bool parse_answer(const exchange &ex, kx_device_record &record) {
    for (size_t turn = 0; turn < family_list.size(); ++turn) {
        const family_ops &family = family_in_turn(turn);
        if (family.parse_answer(family, ex, record)) return true;
    }
    return false;
}

// Where a family can tell an answer's identity without decoding it, whether
// it names a device listed already: most answers in a round after the first
// are from such devices.
bool identified_and_listed(std::span<const uint8_t> answer, const listed_devices &index,
                           int32_t listed, kx_device_record &device) {
    for (const family_ops *family : family_list)
        if (family->identify_answer != nullptr && family->identify_answer(*family, answer, device))
            return index.contains(device, listed);
    return false;
}

// The family whose devices answer the first family's probe with the bytes
// this answer begins with; null for none.
const family_ops *probe_answered_by(std::span<const uint8_t> answer) {
    for (const family_ops *family : family_list) {
        const std::string_view mark = family->probe_answer;
        if (!mark.empty() && answer.size() >= mark.size() &&
            std::memcmp(answer.data(), mark.data(), mark.size()) == 0)
            return family;
    }
    return nullptr;
}

}  // namespace

answer_verdict collected_devices::take(const exchange &ex) {
    kx_device_record device{};
    if (identified_and_listed(received_bytes(ex), index_, listed_, device))
        return {answer_verdict::device};
    if (!parse_answer(ex, device)) {
        if (const family_ops *family = probe_answered_by(received_bytes(ex)))
            return {answer_verdict::probe_answer, family};
        return {};
    }
    if (index_.contains(device, listed_)) return {answer_verdict::device};
    // Past the capacity the answers are still read, so that none is left
    // queued for the next operation on this port.
    if (listed_ == capacity_) {
        overflowed_ = true;
        return {answer_verdict::device};
    }
    uint8_t sender[4];
    std::memcpy(sender, &ex.sender, sizeof sender);
    ip_to_text(sender, device.answered_from);
    std::memcpy(&records_[listed_], &device, sizeof device);
    index_.add(listed_);
    ++listed_;
    return {answer_verdict::device};
}

int64_t collected_devices::answers_per_round() const {
    const family_ops *first = family_list.front();
    int64_t answers = 0;
    for (int32_t i = 0; i < listed_; ++i) {
        const family_ops *family = family_by_code(records_[i].family);
        answers += family != nullptr && family != first && !family->probe_answer.empty() ? 2 : 1;
    }
    return answers;
}

}  // namespace kx
