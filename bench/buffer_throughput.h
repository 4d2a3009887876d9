// What the checksum benchmarks share: a Google Benchmark case running one function over a
// buffer, and the best of several passes in bytes per second. Processor time rather than wall
// time, so other work on a shared machine does not count against either side.
#pragma once
#include <benchmark/benchmark.h>

#include <cstdint>
#include <ctime>
#include <vector>

using buffer_function = uint32_t (*)(const uint8_t *, size_t);

template <buffer_function run, const std::vector<uint8_t> &(*data)()>
void bm_buffer(benchmark::State &state)
{
    const auto &bytes = data();
    for (auto _ : state)
        benchmark::DoNotOptimize(run(bytes.data(), bytes.size()));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(bytes.size()));
}

inline double best_bytes_per_s(buffer_function run, const std::vector<uint8_t> &bytes, int passes)
{
    double best = 0;
    for (int i = 0; i < passes; ++i) {
        std::clock_t start = std::clock();
        benchmark::DoNotOptimize(run(bytes.data(), bytes.size()));
        double seconds = static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;
        if (seconds > 0 && static_cast<double>(bytes.size()) / seconds > best)
            best = static_cast<double>(bytes.size()) / seconds;
    }
    return best;
}
