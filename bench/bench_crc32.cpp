// CRC-32 of a 64 MiB buffer: ours, zlib's crc32() and the one-byte-per-step table, in one run.
// After the Google Benchmark table, a short best-of-N timing prints GB/s and our ratio to zlib.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <vector>

#include "core/file_checksum.h"

namespace {

constexpr size_t BUFFER_BYTES = 64u << 20;

const std::vector<uint8_t> &buffer()
{
    static const std::vector<uint8_t> data = [] {
        std::vector<uint8_t> bytes(BUFFER_BYTES);
        uint32_t x = 2463534242u;
        for (auto &b : bytes) {
            x ^= x << 13;
            x ^= x >> 17;
            x ^= x << 5;
            b = static_cast<uint8_t>(x);
        }
        return bytes;
    }();
    return data;
}

uint32_t run_ours(const uint8_t *p, size_t n)
{
    return crc32_update(0, p, n);
}
uint32_t run_zlib(const uint8_t *p, size_t n)
{
    return static_cast<uint32_t>(crc32(0L, p, static_cast<uInt>(n)));
}
uint32_t run_bytewise(const uint8_t *p, size_t n)
{
    return crc32_bytewise(0, p, n);
}

template <uint32_t (*crc)(const uint8_t *, size_t)> void bm_crc(benchmark::State &state)
{
    const auto &data = buffer();
    for (auto _ : state)
        benchmark::DoNotOptimize(crc(data.data(), data.size()));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(data.size()));
}

// Best of several passes, in GB/s (10^9 bytes per second). Processor time rather than wall
// time, so other work on a shared machine does not count against either side.
double best_gbps(uint32_t (*crc)(const uint8_t *, size_t), int passes)
{
    const auto &data = buffer();
    double best = 0;
    for (int i = 0; i < passes; ++i) {
        std::clock_t start = std::clock();
        benchmark::DoNotOptimize(crc(data.data(), data.size()));
        double seconds = static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;
        if (seconds <= 0)
            continue;
        double gbps = static_cast<double>(data.size()) / seconds / 1e9;
        if (gbps > best)
            best = gbps;
    }
    return best;
}

}  // namespace

BENCHMARK(bm_crc<run_ours>)->Name("crc32/ours")->Unit(benchmark::kMillisecond);
BENCHMARK(bm_crc<run_zlib>)->Name("crc32/zlib")->Unit(benchmark::kMillisecond);
BENCHMARK(bm_crc<run_bytewise>)->Name("crc32/bytewise")->Unit(benchmark::kMillisecond);

int main(int argc, char **argv)
{
    const auto &data = buffer();
    if (run_ours(data.data(), data.size()) != run_zlib(data.data(), data.size()) ||
        run_bytewise(data.data(), data.size()) != run_zlib(data.data(), data.size())) {
        std::fprintf(stderr, "bench_crc32: results differ from zlib\n");
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    double ours = best_gbps(run_ours, 20);
    double zlib = best_gbps(run_zlib, 20);
    double bytewise = best_gbps(run_bytewise, 3);
    std::printf("crc32 64 MiB: ours %.2f GB/s, zlib %.2f GB/s, bytewise %.2f GB/s\n", ours, zlib,
                bytewise);
    std::printf("crc32 ratio: ours/zlib %.2fx, ours/bytewise %.1fx\n", ours / zlib,
                ours / bytewise);
    std::fflush(stdout);
    return 0;
}
