// The streaming resampler against a direct evaluation of the same fixed-point
// formulas over random images, sizes, filters, depths and layouts.
//
// The reference below evaluates every destination sample on its own: the
// weights of its column and of its row from the filter definitions, every
// source row of its window filtered horizontally, the weighted sum rounded.
// It has no ring, no pre-loading, no copies, no shared weight runs and no
// unrolled sums, so it checks that the streaming machinery reproduces the
// plain arithmetic exactly.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "scale.h"
#include "scale_test_support.h"

namespace {

using scale_test::Layout;
using scale_test::Output;

constexpr int64_t kOne = 16384;

double RefKernel(const std::string &filter, double x)
{
    const double a = std::fabs(x);
    if (filter == "triangle") {
        return a < 1 ? 1 - a : 0;
    }
    if (filter == "mitchell") {
        if (a < 1) {
            return (7 * a * a * a - 12 * a * a + 16.0 / 3) / 6;
        }
        if (a < 2) {
            return (-7.0 / 3 * a * a * a + 12 * a * a - 20 * a + 32.0 / 3) / 6;
        }
        return 0;
    }
    // box, LWbox, point and ptbox
    return (x + 1e-7 > -0.5 && x - 1e-7 <= 0.5) ? 1 : 0;
}

float RefSupport(const std::string &filter)
{
    if (filter == "triangle") return 1.5f;
    if (filter == "mitchell") return 2.0f;
    if (filter == "LWbox") return 0.25f;
    if (filter == "point") return 0.0f;
    return 0.5f;  // box, ptbox
}

// Taps of one destination pixel: source index -> weight.
struct Taps {
    int64_t first = 0;
    std::vector<int64_t> w;
    bool beyond = false;  // centre beyond the source: no resampler
};

Taps OneTap(int64_t at)
{
    Taps t;
    t.first = at;
    t.w = {kOne};
    return t;
}

Taps RefTaps(const std::string &filter, bool threePoints, int64_t n, float s, int64_t i)
{
    Taps t;
    const double sd = s;
    const double c = (double(i) + 0.5) / sd;
    if (c > double(n)) {
        t.beyond = true;
        return t;
    }
    const int64_t centre = std::min<int64_t>(int64_t(c), n - 1);
    const double r = double(RefSupport(filter)) / sd;
    const double low = std::max(c - r, 0.0);
    const double high = c + r >= double(n) ? double(n - 1) : c + r;
    const int64_t first = int64_t(low);
    const int64_t last = int64_t(high + 1);
    if (first >= last) {
        return OneTap(centre);
    }
    if (threePoints) {
        const double third = 1 / (3 * sd);
        int64_t p[3];
        const double at[3] = {c - third, c, c + third};
        for (int m = 0; m < 3; ++m) {
            p[m] = std::min(std::max(int64_t(std::max(at[m], 0.0)), first), last - 1);
        }
        t.first = std::min({p[0], p[1], p[2]});
        t.w.assign(size_t(std::max({p[0], p[1], p[2]}) - t.first + 1), 0);
        for (int m = 0; m < 3; ++m) {
            t.w[size_t(p[m] - t.first)] += kOne / 3;
        }
        t.w[size_t(p[1] - t.first)] += kOne - 3 * (kOne / 3);
        return t;
    }
    double f = 0;
    for (int64_t j = first; j < last; ++j) {
        f += RefKernel(filter, sd * (double(j) + 0.5 - c));
    }
    const double g = f == 0 ? double(kOne) : kOne / f;
    std::vector<int64_t> w;
    double magnitude = 0;
    for (int64_t j = first; j < last; ++j) {
        const double v = g * RefKernel(filter, sd * (double(j) + 0.5 - c));
        magnitude += std::fabs(v);
        w.push_back(int64_t(std::trunc(v)));
    }
    if (magnitude > 2.0 * kOne) {
        return OneTap(centre);
    }
    int64_t a = 0;
    int64_t b = int64_t(w.size());
    while (a < b && w[size_t(a)] == 0) ++a;
    while (b > a && w[size_t(b - 1)] == 0) --b;
    if (a == b) {
        return OneTap(centre);
    }
    t.first = first + a;
    t.w.assign(w.begin() + a, w.begin() + b);
    int64_t sum = 0;
    for (int64_t v : t.w) sum += v;
    const int64_t rest = kOne - sum;
    if (rest != 0) {
        const int64_t count = int64_t(t.w.size());
        const int64_t k = std::min(std::max(int64_t(c), t.first), t.first + count - 1);
        if (count % 2) {
            t.w[size_t(k - t.first)] += rest;
        } else {
            const int64_t half = rest / 2;
            if (k > t.first) t.w[size_t(k - 1 - t.first)] += half;  // else lost
            t.w[size_t(k - t.first)] += rest - half;
        }
    }
    return t;
}

struct Case {
    Layout layout;
    int dstWidth = 0;  // the size the resampler must arrive at
    int dstHeight = 0;
    bool expectRefused = false;
};

std::string Describe(const Case &c)
{
    const Layout &l = c.layout;
    std::ostringstream o;
    o << l.filter << " " << l.srcWidth << "x" << l.srcHeight << " -> " << c.dstWidth << "x" << c.dstHeight
      << " (given " << l.dstWidth << "x" << l.dstHeight << ", scales " << l.xScale << "," << l.yScale << ") bits "
      << l.bitsPerSample << " comps " << l.components << " bpp " << l.InBpp() << "/" << l.OutBpp() << " rowbits "
      << l.InRowBits() << "/" << l.OutRowBits(c.dstWidth) << (l.callerBlock ? " caller block" : "");
    return o.str();
}

int Sample(const Layout &l, const std::vector<uint8_t> &src, int64_t row, int k, int64_t x)
{
    const uint8_t *p = src.data() + size_t(row) * l.InRowBytes();
    const int64_t bit = x * l.InBpp() + int64_t(k) * l.Offset();
    if (l.bitsPerSample == 8) {
        return p[bit / 8];
    }
    return (p[bit / 8] >> (7 - bit % 8)) & 1;
}

// The destination image by direct evaluation, rows packed like the
// resampler's, unused bits 0.
std::vector<std::vector<uint8_t>> Reference(const Case &c, const std::vector<uint8_t> &src)
{
    const Layout &l = c.layout;
    const float sx = l.xScale > 0 ? float(l.xScale) : float(c.dstWidth) / float(l.srcWidth);
    const float sy = l.yScale > 0 ? float(l.yScale) : float(c.dstHeight) / float(l.srcHeight);
    std::string filter = l.filter;
    bool threePoints = false;
    if (filter == "ptbox") {
        if (sx > 0.2f || sy > 0.2f) {
            filter = "box";
        } else {
            threePoints = true;
        }
    }
    std::vector<Taps> cols;
    std::vector<Taps> rows;
    for (int x = 0; x < c.dstWidth; ++x) cols.push_back(RefTaps(filter, threePoints, l.srcWidth, sx, x));
    for (int y = 0; y < c.dstHeight; ++y) rows.push_back(RefTaps(filter, threePoints, l.srcHeight, sy, y));

    const int b = l.bitsPerSample;
    // Horizontally filtered value of source row j, component k, column x.
    auto filtered = [&](int64_t j, int k, int x) {
        const Taps &t = cols[size_t(x)];
        int64_t sum = 0;
        if (filter == "box" && t.w.size() == 10) {
            int64_t samples = 0;
            for (int64_t i = 0; i < 10; ++i) samples += Sample(l, src, j, k, t.first + i);
            sum = t.w[0] * samples;
        } else {
            for (size_t i = 0; i < t.w.size(); ++i) sum += t.w[i] * Sample(l, src, j, k, t.first + int64_t(i));
        }
        return std::max<int64_t>(sum, 0) >> b;
    };
    const size_t stride = size_t(l.OutRowBits(c.dstWidth) + 7) / 8;
    std::vector<std::vector<uint8_t>> out;
    for (int y = 0; y < c.dstHeight; ++y) {
        std::vector<uint8_t> row(stride, 0);
        const Taps &v = rows[size_t(y)];
        for (int k = 0; k < l.components; ++k) {
            for (int x = 0; x < c.dstWidth; ++x) {
                int64_t acc = 0;
                for (size_t i = 0; i < v.w.size(); ++i) acc += v.w[i] * filtered(v.first + int64_t(i), k, x);
                int64_t value = acc <= 0 ? 0 : ((acc >> (14 - b)) + 8192) >> 14;
                value = std::min<int64_t>(value, (1 << b) - 1);
                const int64_t bit = int64_t(x) * l.OutBpp() + int64_t(k) * l.Offset();
                if (b == 8) {
                    row[size_t(bit / 8)] = uint8_t(value);
                } else if (value) {
                    row[size_t(bit / 8)] |= uint8_t(0x80 >> (bit % 8));
                }
            }
        }
        out.push_back(row);
    }
    return out;
}

bool AnyBeyond(const Case &c)
{
    const Layout &l = c.layout;
    const float sx = l.xScale > 0 ? float(l.xScale) : float(c.dstWidth) / float(l.srcWidth);
    const float sy = l.yScale > 0 ? float(l.yScale) : float(c.dstHeight) / float(l.srcHeight);
    return (c.dstWidth > 0 && RefTaps("point", false, l.srcWidth, sx, c.dstWidth - 1).beyond) ||
           (c.dstHeight > 0 && RefTaps("point", false, l.srcHeight, sy, c.dstHeight - 1).beyond);
}

Case RandomCase(std::mt19937 &rng)
{
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    static const char *const kFilters[] = {"box", "triangle", "mitchell", "LWbox", "point", "ptbox"};
    Case c;
    Layout &l = c.layout;
    l.filter = kFilters[pick(0, 5)];
    l.bitsPerSample = pick(0, 3) == 0 ? 1 : 8;
    l.components = l.bitsPerSample == 1 ? 1 : pick(1, 4);

    // Sizes: small reductions and enlargements each way, plus strong
    // reductions (long windows, ten-tap boxes, "ptbox" sampling).
    const int mode = pick(0, 3);
    auto size = [&](int src) {
        switch (mode) {
        case 0: return pick(1, src);                       // reduce
        case 1: return pick(src, 3 * src + 4);             // enlarge
        case 2: return pick(1, std::max(1, src / 5));      // strong reduction
        default: return pick(1, 2 * src + 2);              // anything
        }
    };
    l.srcWidth = mode == 2 ? pick(30, 140) : pick(1, 40);
    l.srcHeight = mode == 2 ? pick(30, 140) : pick(1, 40);
    c.dstWidth = size(l.srcWidth);
    c.dstHeight = size(l.srcHeight);
    l.dstWidth = c.dstWidth;
    l.dstHeight = c.dstHeight;
    if (pick(0, 4) == 0) {
        // Sizes derived from scales, sometimes one scale for both axes.
        l.xScale = std::uniform_real_distribution<double>(0.05, 3.0)(rng);
        l.yScale = pick(0, 1) ? 0.0 : std::uniform_real_distribution<double>(0.05, 3.0)(rng);
        const float sx = float(l.xScale);
        const float sy = l.yScale > 0 ? float(l.yScale) : sx;
        c.dstWidth = int(double(sx) * l.srcWidth + 0.5);
        c.dstHeight = int(double(sy) * l.srcHeight + 0.5);
        if (l.yScale == 0) l.yScale = l.xScale;  // what the resampler will use
        l.dstWidth = 0;
        l.dstHeight = 0;
        c.expectRefused = c.dstWidth < 1 || c.dstHeight < 1;
    }
    // Pixels and rows with room to spare; 8-bit components interleaved.
    const int unit = l.bitsPerSample == 8 ? 8 : 1;
    l.inBitsPerPixel = l.bitsPerSample * l.components + unit * pick(0, 2);
    l.outBitsPerPixel = l.bitsPerSample * l.components + unit * pick(0, 2);
    l.inRowBits = l.srcWidth * l.inBitsPerPixel + pick(0, 12);
    l.outRowBits = std::max(c.dstWidth, 0) * l.outBitsPerPixel + pick(0, 12);
    // A caller's block of dstHeight / srcHeight + 1 rows is enough for
    // every filter but "mitchell" when the scales follow from the sizes.
    l.callerBlock = l.filter != "mitchell" && l.xScale == 0 && pick(0, 1) == 1;
    if (!c.expectRefused) {
        c.expectRefused = AnyBeyond(c);
    }
    return c;
}

TEST(ScaleProperty, StreamingMatchesDirectEvaluation)
{
    std::mt19937 rng(20261211);
    int compared = 0;
    for (int n = 0; n < 500; ++n) {
        Case c = RandomCase(rng);
        const Layout &l = c.layout;
        std::vector<uint8_t> src(l.InRowBytes() * size_t(l.srcHeight));
        // Mostly smooth content with some noise and hard edges, so that the
        // sums land both on and off rounding boundaries.
        const int pattern = std::uniform_int_distribution<int>(0, 2)(rng);
        for (size_t i = 0; i < src.size(); ++i) {
            const uint32_t r = rng();
            src[i] = pattern == 0 ? uint8_t(r) : pattern == 1 ? uint8_t((i * 7) & 0xff) : uint8_t((r & 1) ? 255 : 0);
        }
        SCOPED_TRACE("case " + std::to_string(n) + ": " + Describe(c));
        if (c.expectRefused) {
            scale_state *s = scale_init(l.srcWidth, l.srcHeight, l.dstWidth, l.dstHeight, l.xScale, l.yScale,
                                        l.filter.c_str(), l.bitsPerSample, l.InBpp(), l.InRowBits(), l.bitsPerSample,
                                        l.OutBpp(), l.OutRowBits(std::max(c.dstWidth, 1)), l.components);
            EXPECT_EQ(s, nullptr);
            scale_free(s);
            continue;
        }
        const Output got = scale_test::Resample(l, src, c.dstWidth, c.dstHeight);
        ASSERT_TRUE(got.created);
        const std::vector<std::vector<uint8_t>> want = Reference(c, src);
        ASSERT_EQ(got.rows.size(), want.size());
        for (size_t y = 0; y < want.size(); ++y) {
            ASSERT_EQ(got.rows[y], want[y]) << "destination row " << y;
        }
        ++compared;
    }
    EXPECT_GT(compared, 400) << "most random cases make a resampler";
}

}  // namespace
