// Figures for the library's costs: CRC and codec throughput, the round-trip
// time of the longest regular exchanges against in-process simulated
// devices, and heap allocations made by the calling thread during a call
// (the library makes none; the counter shows it).
//
// Runs inside a private network namespace: scripts/bench.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "device_a.h"
#include "device_b.h"
#include "kxconf.h"
#include "lan.h"

// Heap allocations on this thread, counted by interposing malloc. The
// simulator's own thread allocates freely and is not counted.
extern "C" void *__libc_malloc(size_t);
extern "C" void *__libc_calloc(size_t, size_t);
extern "C" void *__libc_realloc(void *, size_t);
namespace {
thread_local long allocations = 0;
}
extern "C" void *malloc(size_t n) {
    ++allocations;
    return __libc_malloc(n);
}
extern "C" void *calloc(size_t n, size_t size) {
    ++allocations;
    return __libc_calloc(n, size);
}
extern "C" void *realloc(void *p, size_t n) {
    ++allocations;
    return __libc_realloc(p, n);
}

namespace {

void BM_cal_crc_settings_packet(benchmark::State &state) {
    uint8_t packet[156];
    for (size_t i = 0; i < sizeof packet; ++i) packet[i] = static_cast<uint8_t>(i * 7);
    for (auto _ : state) benchmark::DoNotOptimize(cal_crc(packet, sizeof packet));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 156);
}
BENCHMARK(BM_cal_crc_settings_packet);

// One exported call per iteration against a simulated device; reports the
// allocations the calling thread made per call.
template <typename Call>
void run_calls(benchmark::State &state, Call &&call) {
    long counted = 0;
    long calls = 0;
    for (auto _ : state) {
        const long at = allocations;
        const int32_t result = call();
        counted += allocations - at;
        ++calls;
        if (result != KX_OK) {
            state.SkipWithError("call failed");
            break;
        }
    }
    if (calls > 0)
        state.counters["heap_allocs_per_call"] =
            static_cast<double>(counted) / static_cast<double>(calls);
}

void BM_family_a_read_settings(benchmark::State &state) {
    kxsim::lan lan;
    lan.add<kxsim::device_a>("127.0.0.2", "0.16.2.3.4.5");
    kxa_settings_record record;
    run_calls(state,
              [&] { return kxa_read_setting("127.0.0.2", "0.16.2.3.4.5", &record, nullptr); });
}
BENCHMARK(BM_family_a_read_settings)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(20);

void BM_family_a_write_settings(benchmark::State &state) {
    kxsim::lan lan;
    lan.add<kxsim::device_a>("127.0.0.2", "0.16.2.3.4.5");
    kxa_settings_record record;
    if (kxa_read_setting("127.0.0.2", "0.16.2.3.4.5", &record, nullptr) != KX_OK) {
        state.SkipWithError("read failed");
        return;
    }
    run_calls(state, [&] { return kxa_write_setting("127.0.0.2", "", &record, nullptr); });
}
BENCHMARK(BM_family_a_write_settings)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(20);

void BM_family_b_read_settings(benchmark::State &state) {
    kxsim::lan lan;
    const kxsim::device_id_bytes id{1, 2, 3, 4, 5, 6};
    lan.add<kxsim::device_b>("127.0.0.3", id);
    kxb_settings_record record;
    run_calls(state, [&] { return kxb_read_setting("127.0.0.3", id.data(), &record, nullptr); });
}
BENCHMARK(BM_family_b_read_settings)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(50);

void BM_family_a_search_all(benchmark::State &state) {
    kxsim::lan lan;
    for (int i = 2; i < 2 + 8; ++i)
        lan.add<kxsim::device_a>("127.0.0." + std::to_string(i), "0.16.0.0.0." + std::to_string(i));
    kx_device_record records[16];
    run_calls(state, [&] {
        int32_t count = 0;
        const int32_t r = kxa_search_all(records, &count);
        return r == KX_OK && count == 8 ? KX_OK : KX_E_REPLY;
    });
}
BENCHMARK(BM_family_a_search_all)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

}  // namespace

int main(int argc, char **argv) {
    if (!kxsim::in_private_namespace()) {
        std::fprintf(stderr,
                     "refusing to run outside a private network namespace (scripts/bench)\n");
        return 2;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
