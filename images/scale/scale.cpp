// Row-streaming resampler: horizontal pass per needed source row, vertical
// accumulation into the destination row under construction, and a ring of
// filtered rows for the rows that neighbouring destination rows share.
#include "scale.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "scale_contrib.h"

using ossel_scale::Contribution;
using ossel_scale::FilterInfo;
using ossel_scale::FilterKind;
using ossel_scale::kWeightOne;
using ossel_scale::WeightPool;

namespace {

// Upper bound on everything one resampler allocates. Sizes come from image
// dictionaries; this keeps a hostile size from asking for absurd memory.
constexpr uint64_t kMaxWorkBytes = uint64_t{1} << 30;

}  // namespace

struct scale_state {
    int srcWidth = 0;
    int srcHeight = 0;
    int dstWidth = 0;
    int dstHeight = 0;
    float xScale = 0;
    float yScale = 0;
    int bitsPerSample = 0;  // input and output alike
    int inBitsPerPixel = 0;
    int outBitsPerPixel = 0;
    size_t inRowBytes = 0;
    size_t outStride = 0;  // bytes from one destination row to the next
    int components = 0;
    FilterInfo filter{};
    bool boxSums = false;  // "box" (also "ptbox" acting as "box"): unrolled sums

    WeightPool pool;
    std::vector<Contribution> horizontal;  // one per destination column
    std::vector<Contribution> vertical;    // one per destination row

    // Ring of horizontally filtered source rows: slot i of component k is at
    // ring[(i * components + k) * dstWidth].
    int ringCapacity = 0;
    int ringHead = 0;   // slot the next row goes to
    int ringCount = 0;  // slots in use
    std::vector<int32_t> ring;
    std::vector<int32_t> ringRow;  // source row number of each slot

    // Sums for the destination row under construction, components * dstWidth.
    // Signed: the negative lobes of "mitchell" may take a sum below zero,
    // which then rounds to 0 instead of wrapping around to white. For the
    // other filters every value stays far below 2^31.
    std::vector<int32_t> acc;
    std::vector<uint8_t> unpacked;  // 1-bit source row, one sample per byte

    int maxRowsPerCall = 1;     // size of the resampler's own block, in rows
    int callerBlockRows = 1;    // rows a caller's block is documented to hold
    std::vector<uint8_t> block; // the resampler's own output block, made on demand

    int nextSrcRow = 0;  // the row number the next call must pass
    int curDstRow = 0;   // destination row under construction
};

namespace {

int32_t LastRow(const Contribution &c)
{
    return c.first + c.count - 1;
}

int32_t WeightAt(const scale_state &s, const Contribution &c, int32_t j)
{
    const int64_t i = static_cast<int64_t>(j) - c.first;
    if (i < 0 || i >= c.count) {
        return 0;
    }
    return s.pool.Data()[c.weights + static_cast<uint32_t>(i)];
}

bool SameWindow(const Contribution &a, const Contribution &b)
{
    // Identical runs share one pool entry, so equal offsets mean equal weights.
    return a.first == b.first && a.count == b.count && a.weights == b.weights;
}

// Weighted sum of the samples under one window: sample j of the window is
// p[j * stride].
inline int32_t WindowSum(const uint8_t *p, size_t stride, const int32_t *w, int32_t n)
{
    int32_t sum = 0;
    for (int32_t j = 0; j < n; ++j) {
        sum += w[j] * p[static_cast<size_t>(j) * stride];
    }
    return sum;
}

// Box windows are short and mostly of equal weights: sums unrolled by
// window length. A ten-tap window takes its first weight for all ten
// samples.
inline int32_t BoxSum(const uint8_t *p, size_t stride, const int32_t *w, int32_t n)
{
    const size_t s1 = stride;
    const size_t s2 = 2 * stride;
    const size_t s3 = 3 * stride;
    switch (n) {
    case 1:
        return w[0] * p[0];
    case 2:
        return w[0] * p[0] + w[1] * p[s1];
    case 3:
        return w[0] * p[0] + w[1] * p[s1] + w[2] * p[s2];
    case 4:
        return w[0] * p[0] + w[1] * p[s1] + w[2] * p[s2] + w[3] * p[s3];
    case 5:
        return w[0] * p[0] + w[1] * p[s1] + w[2] * p[s2] + w[3] * p[s3] + w[4] * p[4 * stride];
    case 6:
        return w[0] * p[0] + w[1] * p[s1] + w[2] * p[s2] + w[3] * p[s3] + w[4] * p[4 * stride] +
               w[5] * p[5 * stride];
    case 7:
        return w[0] * p[0] + w[1] * p[s1] + w[2] * p[s2] + w[3] * p[s3] + w[4] * p[4 * stride] +
               w[5] * p[5 * stride] + w[6] * p[6 * stride];
    case 8:
        return w[0] * p[0] + w[1] * p[s1] + w[2] * p[s2] + w[3] * p[s3] + w[4] * p[4 * stride] +
               w[5] * p[5 * stride] + w[6] * p[6 * stride] + w[7] * p[7 * stride];
    case 9:
        return w[0] * p[0] + w[1] * p[s1] + w[2] * p[s2] + w[3] * p[s3] + w[4] * p[4 * stride] +
               w[5] * p[5 * stride] + w[6] * p[6 * stride] + w[7] * p[7 * stride] + w[8] * p[8 * stride];
    case 10: {
        int32_t total = 0;
        for (size_t j = 0; j < 10; ++j) {
            total += p[j * stride];
        }
        return w[0] * total;
    }
    default:
        return WindowSum(p, stride, w, n);
    }
}

// Filters one component's samples (p = first sample, stride in bytes) into
// out, one value per destination column: (sum of weight * sample) >> shift.
template <bool kBoxSums>
void FilterSamples(const scale_state &s, const uint8_t *p, size_t stride, int shift, int32_t *out)
{
    const int32_t *pool = s.pool.Data();
    const Contribution *hc = s.horizontal.data();
    const int n = s.dstWidth;
    for (int x = 0; x < n; ++x) {
        const Contribution &c = hc[x];
        const uint8_t *q = p + static_cast<size_t>(c.first) * stride;
        const int32_t *w = pool + c.weights;
        const int32_t sum = kBoxSums ? BoxSum(q, stride, w, c.count) : WindowSum(q, stride, w, c.count);
        // Negative sums only arise from the negative lobes of "mitchell".
        out[x] = sum > 0 ? sum >> shift : 0;
    }
}

// Interleaved 8-bit pixels of exactly kComps bytes: all components of a
// destination column in one walk over its window. Same sums as
// FilterSamples, component by component.
template <int kComps, bool kBoxSums>
void FilterPixels(const scale_state &s, const uint8_t *row, int32_t *out)
{
    const int32_t *pool = s.pool.Data();
    const Contribution *hc = s.horizontal.data();
    const size_t width = static_cast<size_t>(s.dstWidth);
    for (size_t x = 0; x < width; ++x) {
        const Contribution &c = hc[x];
        const uint8_t *p = row + static_cast<size_t>(c.first) * kComps;
        const int32_t *w = pool + c.weights;
        int32_t sum[kComps] = {};
        if (kBoxSums && c.count == 10) {
            for (int j = 0; j < 10; ++j) {
                for (int k = 0; k < kComps; ++k) {
                    sum[k] += p[j * kComps + k];
                }
            }
            for (int k = 0; k < kComps; ++k) {
                sum[k] *= w[0];
            }
        } else {
            for (int32_t j = 0; j < c.count; ++j) {
                const int32_t wj = w[j];
                for (int k = 0; k < kComps; ++k) {
                    sum[k] += wj * p[j * kComps + k];
                }
            }
        }
        for (int k = 0; k < kComps; ++k) {
            out[static_cast<size_t>(k) * width + x] = sum[k] > 0 ? sum[k] >> 8 : 0;
        }
    }
}

template <int kComps>
bool FilterInterleaved(const scale_state &s, const uint8_t *row, int32_t *out)
{
    if (s.components != kComps) {
        return false;
    }
    if (s.boxSums) {
        FilterPixels<kComps, true>(s, row, out);
    } else {
        FilterPixels<kComps, false>(s, row, out);
    }
    return true;
}

void FilterRow(scale_state &s, const uint8_t *row, int bitOffset, int slot)
{
    const size_t width = static_cast<size_t>(s.dstWidth);
    if (s.bitsPerSample == 8 && s.components > 1 && bitOffset == 8 && s.inBitsPerPixel == 8 * s.components) {
        int32_t *out = &s.ring[static_cast<size_t>(slot) * s.components * width];
        if (FilterInterleaved<3>(s, row, out) || FilterInterleaved<4>(s, row, out) ||
            FilterInterleaved<2>(s, row, out)) {
            return;
        }
    }
    if (s.bitsPerSample == 8) {
        const size_t stride = static_cast<size_t>(s.inBitsPerPixel / 8);
        for (int k = 0; k < s.components; ++k) {
            const uint8_t *p = row + static_cast<size_t>(bitOffset / 8) * static_cast<size_t>(k);
            int32_t *out = &s.ring[(static_cast<size_t>(slot) * s.components + k) * width];
            if (s.boxSums) {
                FilterSamples<true>(s, p, stride, 8, out);
            } else {
                FilterSamples<false>(s, p, stride, 8, out);
            }
        }
        return;
    }
    // 1-bit, one component: unpack to one 0/1 byte per sample, most
    // significant bit first.
    uint8_t *u = s.unpacked.data();
    const int w = s.srcWidth;
    if (s.inBitsPerPixel == 1) {
        const int whole = w / 8;
        for (int i = 0; i < whole; ++i) {
            const uint8_t b = row[i];
            for (int bit = 0; bit < 8; ++bit) {
                u[i * 8 + bit] = static_cast<uint8_t>((b >> (7 - bit)) & 1);
            }
        }
        for (int x = whole * 8; x < w; ++x) {
            u[x] = static_cast<uint8_t>((row[x >> 3] >> (7 - (x & 7))) & 1);
        }
    } else {
        for (int x = 0; x < w; ++x) {
            const size_t pos = static_cast<size_t>(x) * static_cast<size_t>(s.inBitsPerPixel);
            u[x] = static_cast<uint8_t>((row[pos >> 3] >> (7 - (pos & 7))) & 1);
        }
    }
    int32_t *out = &s.ring[static_cast<size_t>(slot) * width];
    if (s.boxSums) {
        FilterSamples<true>(s, u, 1, 1, out);
    } else {
        FilterSamples<false>(s, u, 1, 1, out);
    }
}

// acc += weight * filtered row of the given ring slot, every component.
void AddWeighted(scale_state &s, int slot, int32_t weight)
{
    const size_t n = static_cast<size_t>(s.dstWidth) * static_cast<size_t>(s.components);
    const int32_t *h = &s.ring[static_cast<size_t>(slot) * n];
    int32_t *a = s.acc.data();
    for (size_t i = 0; i < n; ++i) {
        a[i] += weight * h[i];
    }
}

int RingPush(scale_state &s, int32_t row)
{
    const int slot = s.ringHead;
    s.ringRow[static_cast<size_t>(slot)] = row;
    s.ringHead = (s.ringHead + 1) % s.ringCapacity;
    if (s.ringCount < s.ringCapacity) {
        ++s.ringCount;
    }
    return slot;
}

// Starts destination row d's sums with the stored rows it shares with the
// row just finished.
void Preload(scale_state &s, int d)
{
    const Contribution &c = s.vertical[static_cast<size_t>(d)];
    for (int i = 0; i < s.ringCount; ++i) {
        const int32_t w = WeightAt(s, c, s.ringRow[static_cast<size_t>(i)]);
        if (w != 0) {
            AddWeighted(s, i, w);
        }
    }
}

void ClearAcc(scale_state &s)
{
    std::fill(s.acc.begin(), s.acc.end(), 0);
}

// Rounds the sums to samples and writes them into one destination row.
void WriteRow(const scale_state &s, uint8_t *dst, int outBitOffset)
{
    const int shift = 14 - s.bitsPerSample;
    const int32_t maxValue = (1 << s.bitsPerSample) - 1;
    const size_t width = static_cast<size_t>(s.dstWidth);
    auto value = [&](int32_t a) {
        if (a <= 0) {
            return 0;
        }
        return std::min(((a >> shift) + 8192) >> 14, maxValue);
    };
    if (s.bitsPerSample == 8) {
        const size_t stride = static_cast<size_t>(s.outBitsPerPixel / 8);
        for (int k = 0; k < s.components; ++k) {
            const int32_t *a = &s.acc[static_cast<size_t>(k) * width];
            uint8_t *q = dst + static_cast<size_t>(outBitOffset / 8) * static_cast<size_t>(k);
            for (size_t x = 0; x < width; ++x) {
                q[x * stride] = static_cast<uint8_t>(value(a[x]));
            }
        }
        return;
    }
    const int32_t *a = s.acc.data();
    if (s.outBitsPerPixel == 1) {
        const size_t whole = width / 8;
        for (size_t i = 0; i < whole; ++i) {
            unsigned b = 0;
            for (size_t bit = 0; bit < 8; ++bit) {
                b = (b << 1) | static_cast<unsigned>(value(a[i * 8 + bit]));
            }
            dst[i] = static_cast<uint8_t>(b);
        }
        for (size_t x = whole * 8; x < width; ++x) {
            const unsigned mask = 0x80u >> (x & 7);
            dst[x >> 3] = static_cast<uint8_t>(value(a[x]) ? (dst[x >> 3] | mask) : (dst[x >> 3] & ~mask));
        }
        return;
    }
    for (size_t x = 0; x < width; ++x) {
        const size_t pos = x * static_cast<size_t>(s.outBitsPerPixel);
        const unsigned mask = 0x80u >> (pos & 7);
        dst[pos >> 3] = static_cast<uint8_t>(value(a[x]) ? (dst[pos >> 3] | mask) : (dst[pos >> 3] & ~mask));
    }
}

bool OffsetFits(const scale_state &s, int bitOffset, int bitsPerPixel)
{
    if (s.components == 1) {
        return true;  // component 0 starts the pixel whatever the offset
    }
    if (bitOffset < 0 || (s.bitsPerSample == 8 && bitOffset % 8 != 0)) {
        return false;
    }
    const int64_t end = static_cast<int64_t>(bitOffset) * (s.components - 1) + s.bitsPerSample;
    return end <= bitsPerPixel;
}

// The output block for this call: the caller's, or the resampler's own
// (made on first use). Null when the own block cannot be allocated.
uint8_t *OutputBlock(scale_state &s, unsigned char **outBlock)
{
    if (*outBlock != nullptr) {
        return *outBlock;
    }
    if (s.block.empty()) {
        s.block.assign(static_cast<size_t>(s.maxRowsPerCall) * s.outStride, 0);
    }
    *outBlock = s.block.data();
    return s.block.data();
}

// Rows a call may write into the given block.
int BlockRows(const scale_state &s, unsigned char *const *outBlock)
{
    if (*outBlock == nullptr || (!s.block.empty() && *outBlock == s.block.data())) {
        return s.maxRowsPerCall;
    }
    return s.callerBlockRows;
}

// Number of destination rows that source row y finishes.
int RowsFinishedBy(const scale_state &s, int32_t y)
{
    int d = s.curDstRow;
    if (d >= s.dstHeight || LastRow(s.vertical[static_cast<size_t>(d)]) != y) {
        return 0;
    }
    int n = 1;
    for (++d; d < s.dstHeight && LastRow(s.vertical[static_cast<size_t>(d)]) <= y; ++d) {
        ++n;
    }
    return n;
}

// Whether a destination row after the current one, whose window has already
// begun, needs source row y.
bool NeededLater(const scale_state &s, int32_t y)
{
    for (int d = s.curDstRow + 1; d < s.dstHeight; ++d) {
        const Contribution &c = s.vertical[static_cast<size_t>(d)];
        if (c.first > y) {
            break;
        }
        if (WeightAt(s, c, y) != 0) {
            return true;
        }
    }
    return false;
}

// Source row y finished the current destination row: emits it and every
// further row whose window also ends at y, then starts the next row.
int EmitRows(scale_state &s, int32_t y, uint8_t *block, int outBitOffset)
{
    int produced = 0;
    int d = s.curDstRow;
    WriteRow(s, block, outBitOffset);
    ClearAcc(s);
    ++produced;
    for (;;) {
        const int next = d + 1;
        if (next >= s.dstHeight) {
            d = next;
            break;
        }
        const Contribution &cn = s.vertical[static_cast<size_t>(next)];
        uint8_t *row = block + static_cast<size_t>(produced) * s.outStride;
        if (LastRow(cn) <= y) {
            // Vertical enlargement: further rows end at the same source row.
            // A row with the same window as the one before is a copy of it;
            // any other is complete from the stored rows.
            if (SameWindow(cn, s.vertical[static_cast<size_t>(d)])) {
                std::memcpy(row, row - s.outStride, s.outStride);
            } else {
                Preload(s, next);
                WriteRow(s, row, outBitOffset);
                ClearAcc(s);
            }
            ++produced;
            d = next;
            continue;
        }
        if (cn.first <= y) {
            Preload(s, next);
        }
        d = next;
        break;
    }
    s.curDstRow = d;
    return produced;
}

void Restart(scale_state &s)
{
    s.curDstRow = 0;
    s.nextSrcRow = 0;
    s.ringHead = 0;
    s.ringCount = 0;
    ClearAcc(s);
}

bool CheckedMul(uint64_t a, uint64_t b, uint64_t *out)
{
    return !__builtin_mul_overflow(a, b, out);
}

// Resolves one axis's destination size and scale from what the caller gave.
bool ResolveAxis(int src, int dst, double scale, int *dstOut, float *scaleOut)
{
    if (dst < 0 || !(scale >= 0.0) || !std::isfinite(scale)) {
        return false;
    }
    if (dst == 0) {
        if (scale == 0.0) {
            return false;
        }
        const float sf = static_cast<float>(scale);
        const double size = static_cast<double>(sf) * src + 0.5;
        if (!(sf > 0.0f) || !std::isfinite(sf) || size >= static_cast<double>(INT_MAX) || size < 1.0) {
            return false;
        }
        *dstOut = static_cast<int>(size);
        *scaleOut = sf;
        return true;
    }
    *dstOut = dst;
    *scaleOut = scale != 0.0 ? static_cast<float>(scale)
                             : static_cast<float>(dst) / static_cast<float>(src);
    return *scaleOut > 0.0f && std::isfinite(*scaleOut);
}

scale_state *CreateState(int srcWidth, int srcHeight, int dstWidth, int dstHeight, double xScale, double yScale,
                         const char *filterName, int inBitsPerSample, int inBitsPerPixel, int inRowBits,
                         int outBitsPerSample, int outBitsPerPixel, int outRowBits, int components)
{
    FilterInfo filter{};
    if (!ossel_scale::LookupFilter(filterName, &filter)) {
        return nullptr;
    }
    if (srcWidth < 1 || srcHeight < 1 || components < 1) {
        return nullptr;
    }
    if ((inBitsPerSample != 1 && inBitsPerSample != 8) || outBitsPerSample != inBitsPerSample) {
        return nullptr;
    }
    // A 1-bit pixel has room for one sample only; interleaved 1-bit
    // components have no defined layout.
    if (inBitsPerSample == 1 && components != 1) {
        return nullptr;
    }
    if (inBitsPerPixel < inBitsPerSample || outBitsPerPixel < outBitsPerSample) {
        return nullptr;
    }
    if (inBitsPerSample == 8 && (inBitsPerPixel % 8 != 0 || outBitsPerPixel % 8 != 0)) {
        return nullptr;
    }

    // One axis with neither a size nor a scale takes the other's scale.
    if (dstWidth == 0 && xScale == 0.0) {
        xScale = yScale;
    }
    if (dstHeight == 0 && yScale == 0.0) {
        yScale = xScale;
    }
    int dw = 0;
    int dh = 0;
    float sx = 0;
    float sy = 0;
    if (!ResolveAxis(srcWidth, dstWidth, xScale, &dw, &sx) || !ResolveAxis(srcHeight, dstHeight, yScale, &dh, &sy)) {
        return nullptr;
    }

    if (static_cast<int64_t>(srcWidth) * inBitsPerPixel > inRowBits ||
        static_cast<int64_t>(dw) * outBitsPerPixel > outRowBits) {
        return nullptr;
    }

    auto s = std::make_unique<scale_state>();
    s->srcWidth = srcWidth;
    s->srcHeight = srcHeight;
    s->dstWidth = dw;
    s->dstHeight = dh;
    s->xScale = sx;
    s->yScale = sy;
    s->bitsPerSample = inBitsPerSample;
    s->inBitsPerPixel = inBitsPerPixel;
    s->outBitsPerPixel = outBitsPerPixel;
    s->inRowBytes = (static_cast<size_t>(inRowBits) + 7) / 8;
    s->outStride = (static_cast<size_t>(outRowBits) + 7) / 8;
    s->components = components;
    s->filter = filter;

    // "ptbox" is a plain box unless the reduction is strong on both axes.
    bool ptBoxPoints = false;
    if (filter.kind == FilterKind::PtBox) {
        if (sx > 0.2f || sy > 0.2f) {
            s->filter.kind = FilterKind::Box;
        } else {
            ptBoxPoints = true;
        }
    }
    s->boxSums = s->filter.kind == FilterKind::Box;

    uint64_t budget = kMaxWorkBytes;
    auto take = [&budget](uint64_t bytes) {
        if (bytes > budget) {
            return false;
        }
        budget -= bytes;
        return true;
    };

    const uint64_t contributionBytes = (static_cast<uint64_t>(dw) + static_cast<uint64_t>(dh)) * sizeof(Contribution);
    if (!take(contributionBytes)) {
        return nullptr;
    }
    if (!ossel_scale::BuildContributions(s->filter, ptBoxPoints, srcWidth, dw, sx, budget / sizeof(int32_t), &s->pool,
                                         &s->horizontal) ||
        !ossel_scale::BuildContributions(s->filter, ptBoxPoints, srcHeight, dh, sy, budget / sizeof(int32_t), &s->pool,
                                         &s->vertical)) {
        return nullptr;
    }
    if (!take(static_cast<uint64_t>(s->pool.Size()) * sizeof(int32_t))) {
        return nullptr;
    }

    // Windows move down monotonically; the streaming order relies on it.
    // Ring size: the most source rows two consecutive destination rows share.
    // Own block: the most destination rows that end on one source row.
    int ringCapacity = 1;
    int maxRows = 1;
    int run = 1;
    for (size_t d = 1; d < s->vertical.size(); ++d) {
        const Contribution &a = s->vertical[d - 1];
        const Contribution &b = s->vertical[d];
        if (b.first < a.first || LastRow(b) < LastRow(a)) {
            return nullptr;
        }
        ringCapacity = std::max(ringCapacity, LastRow(a) + 1 - b.first);
        run = LastRow(b) == LastRow(a) ? run + 1 : 1;
        maxRows = std::max(maxRows, run);
    }
    s->ringCapacity = ringCapacity;
    s->maxRowsPerCall = maxRows;
    s->callerBlockRows = dh / srcHeight + 1;

    uint64_t rowValues = 0;
    uint64_t ringValues = 0;
    uint64_t blockBytes = 0;
    if (!CheckedMul(static_cast<uint64_t>(dw), static_cast<uint64_t>(components), &rowValues) ||
        !CheckedMul(rowValues, static_cast<uint64_t>(ringCapacity), &ringValues) ||
        !CheckedMul(static_cast<uint64_t>(maxRows), s->outStride, &blockBytes) ||
        !take(ringValues * sizeof(int32_t)) || !take(rowValues * sizeof(int32_t)) ||
        !take(static_cast<uint64_t>(ringCapacity) * sizeof(int32_t)) || !take(blockBytes) ||
        !take(inBitsPerSample == 1 ? static_cast<uint64_t>(srcWidth) : 0)) {
        return nullptr;
    }
    s->ring.assign(static_cast<size_t>(ringValues), 0);
    s->ringRow.assign(static_cast<size_t>(ringCapacity), -1);
    s->acc.assign(static_cast<size_t>(rowValues), 0);
    if (inBitsPerSample == 1) {
        s->unpacked.assign(static_cast<size_t>(srcWidth), 0);
    }
    return s.release();
}

int DoRow(scale_state *s, const unsigned char *srcRow, int bitOffset, int srcRowNumber, int rowCount,
          unsigned char **outBlock, int outBitOffset, int *firstDstRow, int *dstRowCount)
{
    if (s == nullptr || srcRow == nullptr || outBlock == nullptr || firstDstRow == nullptr ||
        dstRowCount == nullptr) {
        return 0;
    }
    *firstDstRow = s->curDstRow;
    *dstRowCount = 0;
    if (rowCount != 1 || !OffsetFits(*s, bitOffset, s->inBitsPerPixel) ||
        !OffsetFits(*s, outBitOffset, s->outBitsPerPixel)) {
        return 0;
    }
    const int32_t y = srcRowNumber;
    if (y < 0 || y >= s->srcHeight || (y != 0 && y != s->nextSrcRow)) {
        return 0;
    }
    if (y == 0) {
        Restart(*s);
    }
    *firstDstRow = s->curDstRow;

    // Everything that can fail is checked before the state changes.
    const int finished = RowsFinishedBy(*s, y);
    uint8_t *block = nullptr;
    if (finished > 0) {
        if (finished > BlockRows(*s, outBlock)) {
            return 0;
        }
        block = OutputBlock(*s, outBlock);
    }
    s->nextSrcRow = y + 1;
    if (s->curDstRow >= s->dstHeight) {
        return 1;  // every destination row is out; the rest is ignored
    }

    const Contribution &cur = s->vertical[static_cast<size_t>(s->curDstRow)];
    const int32_t v = WeightAt(*s, cur, y);
    // Rows that no destination row needs are not filtered at all. Besides
    // the current row, a later row whose window has begun may need it (a
    // weight can be zero inside one window but not in the next).
    if (v != 0 || NeededLater(*s, y)) {
        const int slot = RingPush(*s, y);
        FilterRow(*s, srcRow, bitOffset, slot);
        if (v != 0) {
            AddWeighted(*s, slot, v);
        }
    }
    if (finished > 0) {
        *dstRowCount = EmitRows(*s, y, block, outBitOffset);
    }
    return 1;
}

int Flush(scale_state *s, unsigned char **outBlock, int outBitOffset, int *firstDstRow, int *dstRowCount)
{
    if (s == nullptr || outBlock == nullptr || firstDstRow == nullptr || dstRowCount == nullptr) {
        return 0;
    }
    *firstDstRow = s->curDstRow;
    *dstRowCount = 0;
    if (!OffsetFits(*s, outBitOffset, s->outBitsPerPixel)) {
        return 0;
    }
    if (s->curDstRow >= s->dstHeight || s->nextSrcRow == 0) {
        return 1;
    }
    // Rows of the pending destination row have arrived only when the last
    // source row given reaches its window.
    if (s->nextSrcRow - 1 < s->vertical[static_cast<size_t>(s->curDstRow)].first) {
        s->curDstRow = s->dstHeight;
        return 1;
    }
    uint8_t *block = OutputBlock(*s, outBlock);
    WriteRow(*s, block, outBitOffset);
    ClearAcc(*s);
    *dstRowCount = 1;
    s->curDstRow = s->dstHeight;
    return 1;
}

}  // namespace

extern "C" scale_state *scale_init(int srcWidth, int srcHeight, int dstWidth, int dstHeight, double xScale,
                                   double yScale, const char *filter, int inBitsPerSample, int inBitsPerPixel,
                                   int inRowBits, int outBitsPerSample, int outBitsPerPixel, int outRowBits,
                                   int components)
{
    try {
        return CreateState(srcWidth, srcHeight, dstWidth, dstHeight, xScale, yScale, filter, inBitsPerSample,
                           inBitsPerPixel, inRowBits, outBitsPerSample, outBitsPerPixel, outRowBits, components);
    } catch (...) {
        return nullptr;
    }
}

extern "C" int scale_do(scale_state *s, const unsigned char *srcRow, int bitOffset, int srcRowNumber, int rowCount,
                        unsigned char **outBlock, int outBitOffset, int *firstDstRow, int *dstRowCount)
{
    try {
        return DoRow(s, srcRow, bitOffset, srcRowNumber, rowCount, outBlock, outBitOffset, firstDstRow,
                     dstRowCount);
    } catch (...) {
        return 0;
    }
}

extern "C" int scale_flush(scale_state *s, unsigned char **outBlock, int outBitOffset, int *firstDstRow,
                           int *dstRowCount)
{
    try {
        return Flush(s, outBlock, outBitOffset, firstDstRow, dstRowCount);
    } catch (...) {
        return 0;
    }
}

extern "C" void scale_free(scale_state *s)
{
    delete s;
}
