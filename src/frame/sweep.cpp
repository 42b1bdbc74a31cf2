// kx_sweep, and the paced asking of one address at a time that it shares
// with the completion of kx_discover.
#include "frame/sweep.h"

#include <algorithm>

#include "frame/pacer.h"

namespace kx {
namespace {

constexpr int progress_interval_ms = 100;
// The datagrams read before the pacer is asked again, so that a flood of
// answers cannot hold the requests back.
constexpr int batches_per_turn = 8;

// Devices that answered the probe in another family's way, to be asked in
// their own: a short queue, which the requests empty first.
class follow_ups {
  public:
    struct entry {
        platform::ipv4_net address;
        const family_ops *family;
    };
    // False when the queue is full.
    bool push(entry e) {
        if (count_ == capacity) return false;
        entries_[(head_ + count_++) % capacity] = e;
        return true;
    }
    bool pop(entry &e) {
        if (count_ == 0) return false;
        e = entries_[head_];
        head_ = (head_ + 1) % capacity;
        --count_;
        return true;
    }
    bool empty() const { return count_ == 0; }

  private:
    static constexpr int capacity = 64;
    entry entries_[capacity] = {};
    int head_ = 0, count_ = 0;
};

void send_search_request(exchange &ex, const family_ops &family, platform::ipv4_net address) {
    const request_datagram request = family.search_request();
    send_datagram_to(ex, address, family.device_port, request.bytes, request.length);
}

class sweep_run {
  public:
    sweep_run(exchange &ex, collected_devices &devices, heard_blocks *blocks,
              address_source &source, uint32_t rate, const sweep_progress *progress)
        : ex_(ex),
          devices_(devices),
          blocks_(blocks),
          source_(source),
          progress_(progress),
          pace_(rate, platform::now_ms()) {}

    sweep_outcome run(int64_t deadline) {
        const int64_t drops_before = platform::dropped_datagrams(ex_.sock);
        int64_t quiet_since = platform::now_ms(), asked_all_at = -1;
        int64_t last_report = quiet_since - progress_interval_ms;  // reports at once
        for (;;) {
            const int64_t now = platform::now_ms();
            if (now >= deadline) {
                outcome_.cut = true;
                break;
            }
            if (send_allowed() > 0) quiet_since = now;
            report(now, last_report);
            const bool asking = !follow_ups_.empty() || !finished_asking();
            if (!asking) {
                if (asked_all_at < 0) asked_all_at = now;
                if (now - quiet_since >= search_quiet_ms) break;
                // Answers that never fall quiet cannot hold the caller.
                if (now - asked_all_at >= collection_bound_ms) {
                    outcome_.cut = true;
                    break;
                }
            }
            int64_t wait = asking ? pace_.wait_ms() : search_quiet_ms - (now - quiet_since);
            wait = std::min(wait, deadline - now);
            if (wait > 0 && !wait_datagram(ex_, static_cast<int>(wait))) continue;
            if (read_answers() > 0) quiet_since = platform::now_ms();
        }
        const int64_t drops_after = platform::dropped_datagrams(ex_.sock);
        if (drops_before >= 0 && drops_after > drops_before) outcome_.lost = true;
        return outcome_;
    }

  private:
    bool finished_asking() const {
        return source_done_ || outcome_.stopped || devices_.overflowed();
    }

    // The follow-ups first, then the next addresses, as many as the pacer
    // allows; how many went.
    uint32_t send_allowed() {
        uint32_t sent = 0;
        const family_ops &first = *family_list.front();
        while (pace_.allowed(platform::now_ms()) > 0) {
            follow_ups::entry e;
            if (follow_ups_.pop(e)) {
                // At most one per address asked: a peer's stray probe answers
                // cannot make a sweep longer than twice its addresses.
                if (followed_up_ < asked_) {
                    send_search_request(ex_, *e.family, e.address);
                    ++followed_up_;
                    pace_.sent(1);
                    ++sent;
                }
                continue;
            }
            if (finished_asking()) break;
            platform::ipv4_net address;
            if (!source_.next(address)) {
                source_done_ = true;
                break;
            }
            send_search_request(ex_, first, address);
            ++asked_;
            pace_.sent(1);
            ++sent;
        }
        return sent;
    }

    void report(int64_t now, int64_t &last_report) {
        if (progress_ == nullptr || progress_->report == nullptr || final_report_made_) return;
        const bool last = source_done_ || devices_.overflowed();
        if (!last && now - last_report < progress_interval_ms) return;
        last_report = now;
        final_report_made_ = last;
        // Addresses passed over (0.0.0.0, 255.255.255.255) count as asked.
        const uint32_t asked =
            last ? progress_->total
                 : static_cast<uint32_t>(std::min<uint64_t>(asked_, progress_->total));
        if (progress_->report(progress_->context, asked, progress_->total, devices_.listed()) != 0)
            outcome_.stopped = true;
        if (outcome_.stopped) final_report_made_ = true;
    }

    // Reads what is queued, a few batches at most; how many datagrams.
    int read_answers() {
        int read = 0;
        for (int turn = 0; turn < batches_per_turn && platform::receive_batch(ex_.sock, batch_) > 0;
             ++turn)
            for (int i = 0; i < batch_.count; ++i, ++read)
                if (take_from_batch(ex_, batch_, i)) take(ex_.sender);
        return read;
    }

    void take(platform::ipv4_net sender) {
        const answer_verdict verdict = devices_.take(ex_);
        if (verdict.kind == answer_verdict::device) {
            if (blocks_ != nullptr) blocks_->heard(sender);
        } else if (verdict.kind == answer_verdict::probe_answer) {
            if (blocks_ != nullptr && blocks_->was_heard(sender)) return;
            if (!follow_ups_.push({sender, verdict.family})) outcome_.lost = true;
        }
    }

    exchange &ex_;
    collected_devices &devices_;
    heard_blocks *blocks_;
    address_source &source_;
    const sweep_progress *progress_;
    pacer pace_;
    follow_ups follow_ups_;
    platform::datagram_batch batch_;
    sweep_outcome outcome_;
    uint64_t asked_ = 0, followed_up_ = 0;
    bool source_done_ = false, final_report_made_ = false;
};

// Every address of the caller's ranges, in order, but 0.0.0.0 and
// 255.255.255.255.
class range_source final : public address_source {
  public:
    range_source(const kx_address_range *ranges, int32_t count) : ranges_(ranges), count_(count) {}

    bool next(platform::ipv4_net &address) override {
        while (range_ < count_) {
            const kx_address_range &r = ranges_[range_];
            const uint64_t number = uint64_t{r.first} + offset_;
            if (number > r.last) {
                ++range_;
                offset_ = 0;
                continue;
            }
            ++offset_;
            if (number == 0 || number == 0xFFFFFFFFu) continue;
            address = platform::address_of(static_cast<uint32_t>(number));
            return true;
        }
        return false;
    }

  private:
    const kx_address_range *ranges_;
    int32_t count_;
    int32_t range_ = 0;
    uint64_t offset_ = 0;
};

}  // namespace

sweep_outcome sweep(exchange &ex, collected_devices &devices, heard_blocks *blocks,
                    address_source &source, uint32_t rate, int64_t deadline,
                    const sweep_progress *progress) {
    return sweep_run(ex, devices, blocks, source, rate, progress).run(deadline);
}

}  // namespace kx

using namespace kx;

KXCONF_API int32_t KXCONF_CALL kx_sweep(kx_device_record *records, int32_t capacity, int32_t *count,
                                        const kx_address_range *ranges, int32_t range_count,
                                        uint32_t rate, kx_sweep_progress progress, void *context) {
    if (records == nullptr || count == nullptr || capacity < 0 || ranges == nullptr ||
        range_count < 1 || rate > KX_SWEEP_MOST_RATE)
        return KX_E_ARGUMENT;
    uint64_t total = 0;
    for (int32_t i = 0; i < range_count; ++i) {
        if (ranges[i].first > ranges[i].last) return KX_E_ARGUMENT;
        total += uint64_t{ranges[i].last} - ranges[i].first + 1;
        if (total > 0xFFFFFFFFu) return KX_E_ARGUMENT;
    }
    *count = 0;
    exchange ex;
    if (open_exchange(ex, nullptr, 0, target::sweep) != KX_OK) return KX_E_SOCKET;
    collected_devices devices(records, capacity);
    range_source source(ranges, range_count);
    const sweep_progress report{progress, context, static_cast<uint32_t>(total)};
    const sweep_outcome outcome = sweep(
        ex, devices, nullptr, source, rate == 0 ? KX_SWEEP_DEFAULT_RATE : rate, INT64_MAX, &report);
    close_exchange(ex);
    *count = devices.listed();
    if (devices.overflowed()) return KX_E_CAPACITY;
    return outcome.incomplete() ? KX_INCOMPLETE : KX_OK;
}
