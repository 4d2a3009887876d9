// SHA-256 of a 64 MiB buffer on each of our paths, beside OpenSSL's SHA-256 and our CRC-32 (what
// a refresh without a publisher key computes), in one run. After the Google Benchmark table,
// a best-of-N timing prints MB/s and the ratios a signed refresh cares about.
#include <benchmark/benchmark.h>
#include <openssl/evp.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "bench/buffer_throughput.h"
#include "core/file_checksum.h"
#include "core/sha256.h"
#include "core/sha256_blocks.h"

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

// Each returns a word of its result, so the work cannot be dropped and results can be compared.
uint32_t first_word(const uint8_t digest[32])
{
    uint32_t word;
    std::memcpy(&word, digest, sizeof word);
    return word;
}

uint32_t ours_on(int path, const uint8_t *p, size_t n)
{
    sha256_state state;
    uint8_t digest[32] = {};
    if (sha256_begin_path(&state, path) && sha256_update(&state, p, n))
        sha256_finish(&state, digest);
    return first_word(digest);
}
uint32_t run_portable(const uint8_t *p, size_t n)
{
    return ours_on(SHA256_PATH_PORTABLE, p, n);
}
uint32_t run_x86_sha(const uint8_t *p, size_t n)
{
    return ours_on(SHA256_PATH_X86_SHA, p, n);
}
uint32_t run_openssl(const uint8_t *p, size_t n)
{
    uint8_t digest[32] = {};
    EVP_Digest(p, n, digest, nullptr, EVP_sha256(), nullptr);
    return first_word(digest);
}
uint32_t run_crc32(const uint8_t *p, size_t n)
{
    return crc32_update(0, p, n);
}

double best_mbps(buffer_function run, int passes)
{
    return best_bytes_per_s(run, buffer(), passes) / 1e6;
}

}  // namespace

BENCHMARK(bm_buffer<run_portable, buffer>)
    ->Name("sha256/ours-portable")
    ->Unit(benchmark::kMillisecond);
BENCHMARK(bm_buffer<run_openssl, buffer>)->Name("sha256/openssl")->Unit(benchmark::kMillisecond);
BENCHMARK(bm_buffer<run_crc32, buffer>)->Name("crc32/ours")->Unit(benchmark::kMillisecond);

int main(int argc, char **argv)
{
    const auto &data = buffer();
    const bool x86_sha = sha256_path_available(SHA256_PATH_X86_SHA) != 0;
    uint32_t reference = run_openssl(data.data(), data.size());
    if (run_portable(data.data(), data.size()) != reference ||
        (x86_sha && run_x86_sha(data.data(), data.size()) != reference)) {
        std::fprintf(stderr, "bench_sha256: our digest differs from OpenSSL's\n");
        return 1;
    }
    if (x86_sha)
        benchmark::RegisterBenchmark("sha256/ours-x86-sha", bm_buffer<run_x86_sha, buffer>)
            ->Unit(benchmark::kMillisecond);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    double portable = best_mbps(run_portable, 5);
    double sha_ni = x86_sha ? best_mbps(run_x86_sha, 5) : 0;
    double openssl = best_mbps(run_openssl, 5);
    double crc = best_mbps(run_crc32, 10);
    double chosen = x86_sha ? sha_ni : portable;
    std::printf("sha256 64 MiB: ours portable %.0f MB/s, ours x86 SHA %s, OpenSSL %.0f MB/s, "
                "crc32 %.0f MB/s\n",
                portable,
                x86_sha ? (std::to_string(static_cast<int>(sha_ni)) + " MB/s").c_str()
                        : "n/a (no SHA instructions)",
                openssl, crc);
    std::printf("sha256 ratio: chosen path (%s)/OpenSSL %.2fx, portable/OpenSSL %.2fx, "
                "crc32/chosen sha256 %.1fx\n",
                x86_sha ? "x86 SHA" : "portable", chosen / openssl, portable / openssl,
                crc / chosen);
    std::fflush(stdout);
    return 0;
}
