// Resampler throughput on a page-sized scan: 5,000 x 7,000 pixels from 300 to
// 72 dpi (1,200 x 1,680), 8-bit RGB with "box" and "triangle" and 1-bit with
// "point". The reference for the same machine and run is one plain pass that
// sums the bytes of every source row.
//
// Counters: MP/s is source megapixels per second; heap_KiB is what the
// resampler holds while it runs (weights, ring, accumulators, its output
// block), which depends on the destination width and the ring, not on the
// source height.
#include <benchmark/benchmark.h>

#include <malloc.h>

#include <cstdint>
#include <random>
#include <vector>

#include "scale.h"

namespace {

constexpr int kWidth = 5000;
constexpr int kHeight = 7000;
constexpr int kDstWidth = kWidth * 72 / 300;
constexpr int kDstHeight = kHeight * 72 / 300;
constexpr int kDistinctRows = 64;

// Source rows: a few distinct noisy rows, cycled down the page, so that the
// image need not be held in memory.
struct Source {
    Source(int bitsPerSample, int components)
        : rowBytes((static_cast<size_t>(kWidth) * bitsPerSample * components + 7) / 8)
    {
        std::mt19937 rng(300);
        rows.resize(kDistinctRows);
        for (auto &row : rows) {
            row.resize(rowBytes);
            for (auto &b : row) {
                b = static_cast<uint8_t>(rng());
            }
        }
    }
    const uint8_t *Row(int y) const { return rows[static_cast<size_t>(y % kDistinctRows)].data(); }

    size_t rowBytes;
    std::vector<std::vector<uint8_t>> rows;
};

size_t HeapInUse()
{
    return mallinfo2().uordblks;
}

void Resample(benchmark::State &state, const char *filter, int bitsPerSample, int components)
{
    const Source src(bitsPerSample, components);
    const int bpp = bitsPerSample * components;
    const int inRowBits = static_cast<int>(src.rowBytes * 8);
    const int outRowBits = (kDstWidth * bpp + 7) / 8 * 8;
    const int offset = components > 1 ? 8 : 0;
    size_t heap = 0;
    uint64_t produced = 0;
    for (auto _ : state) {
        const size_t before = HeapInUse();
        scale_state *s = scale_init(kWidth, kHeight, kDstWidth, kDstHeight, 0, 0, filter, bitsPerSample, bpp,
                                    inRowBits, bitsPerSample, bpp, outRowBits, components);
        if (s == nullptr) {
            state.SkipWithError("scale_init failed");
            return;
        }
        unsigned char *block = nullptr;
        uint64_t check = 0;
        for (int y = 0; y < kHeight; ++y) {
            int first = 0;
            int count = 0;
            if (scale_do(s, src.Row(y), offset, y, 1, &block, offset, &first, &count) != 1) {
                state.SkipWithError("scale_do failed");
                scale_free(s);
                return;
            }
            for (int i = 0; i < count; ++i) {
                check += block[static_cast<size_t>(i) * static_cast<size_t>(outRowBits / 8)];
            }
            produced += static_cast<uint64_t>(count);
        }
        int first = 0;
        int count = 0;
        scale_flush(s, &block, offset, &first, &count);
        heap = HeapInUse() - before;
        scale_free(s);
        benchmark::DoNotOptimize(check);
    }
    const double pixels = static_cast<double>(kWidth) * kHeight * static_cast<double>(state.iterations());
    state.counters["MP/s"] = benchmark::Counter(pixels / 1e6, benchmark::Counter::kIsRate);
    state.counters["heap_KiB"] = static_cast<double>(heap) / 1024.0;
    state.counters["rows_out"] = static_cast<double>(produced) / static_cast<double>(state.iterations());
}

// One plain pass over the same rows: the sum of each row's bytes.
void RowByteSum(benchmark::State &state, int bitsPerSample, int components)
{
    const Source src(bitsPerSample, components);
    for (auto _ : state) {
        uint64_t total = 0;
        for (int y = 0; y < kHeight; ++y) {
            const uint8_t *p = src.Row(y);
            uint64_t sum = 0;
            for (size_t i = 0; i < src.rowBytes; ++i) {
                sum += p[i];
            }
            total += sum;
            benchmark::DoNotOptimize(total);
        }
    }
    const double pixels = static_cast<double>(kWidth) * kHeight * static_cast<double>(state.iterations());
    state.counters["MP/s"] = benchmark::Counter(pixels / 1e6, benchmark::Counter::kIsRate);
}

BENCHMARK_CAPTURE(Resample, rgb8_box, "box", 8, 3)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Resample, rgb8_triangle, "triangle", 8, 3)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(RowByteSum, rgb8, 8, 3)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Resample, bw1_point, "point", 1, 1)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(RowByteSum, bw1, 1, 1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
