// CRC-32 of a 64 MiB buffer: ours, zlib's crc32() and the one-byte-per-step table, in one run.
// After the Google Benchmark table, a short best-of-N timing prints GB/s and our ratio to zlib.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <vector>

#include "bench/buffer_throughput.h"
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

double best_gbps(buffer_function run, int passes)
{
    return best_bytes_per_s(run, buffer(), passes) / 1e9;
}

}  // namespace

BENCHMARK(bm_buffer<run_ours, buffer>)->Name("crc32/ours")->Unit(benchmark::kMillisecond);
BENCHMARK(bm_buffer<run_zlib, buffer>)->Name("crc32/zlib")->Unit(benchmark::kMillisecond);
BENCHMARK(bm_buffer<run_bytewise, buffer>)->Name("crc32/bytewise")->Unit(benchmark::kMillisecond);

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
