// Worked examples and failure handling of the resampler.
#include "scale.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "scale_contrib.h"
#include "scale_test_support.h"

using scale_test::Layout;
using scale_test::Output;
using scale_test::Resample;

extern "C" int scale_c_api_smoke(void);

namespace {

const char *const kAllFilters[] = {"box", "triangle", "mitchell", "LWbox", "point", "ptbox"};

struct Weights {
    int64_t first;
    std::vector<int32_t> w;
};

Weights WeightsOf(const char *filter, int64_t n, float s, int64_t i)
{
    ossel_scale::FilterInfo info{};
    EXPECT_TRUE(ossel_scale::LookupFilter(filter, &info));
    Weights r{0, {}};
    EXPECT_TRUE(ossel_scale::ComputeWeights(info, false, n, s, i, &r.first, &r.w));
    return r;
}

// One-row 8-bit gray image reduced horizontally.
std::vector<uint8_t> Reduce1D(const char *filter, const std::vector<uint8_t> &row, int dstWidth)
{
    Layout l;
    l.srcWidth = static_cast<int>(row.size());
    l.srcHeight = 1;
    l.dstWidth = dstWidth;
    l.dstHeight = 1;
    l.filter = filter;
    Output o = Resample(l, row, dstWidth, 1);
    EXPECT_TRUE(o.created);
    return o.rows.empty() ? std::vector<uint8_t>{} : o.rows[0];
}

TEST(ScaleExamples, PointEightToThreeColumnsPicksColumnsOneFourSix)
{
    const std::vector<uint8_t> row = {10, 20, 30, 40, 50, 60, 70, 80};
    EXPECT_EQ(Reduce1D("point", row, 3), (std::vector<uint8_t>{20, 50, 70}));
}

TEST(ScaleExamples, BoxFourToOneIsTheRoundedMean)
{
    struct Case {
        std::vector<uint8_t> row;
        uint8_t mean;
    } cases[] = {
        {{10, 20, 30, 41}, 25},  // 25.25
        {{1, 2, 2, 2}, 2},       // 1.75
        {{0, 0, 1, 1}, 1},       // 0.5 rounds up
        {{0, 0, 0, 1}, 0},       // 0.25
        {{255, 255, 255, 255}, 255},
        {{200, 100, 50, 0}, 88},  // 87.5
    };
    for (const Case &c : cases) {
        EXPECT_EQ(Reduce1D("box", c.row, 1), std::vector<uint8_t>{c.mean})
            << int(c.row[0]) << "," << int(c.row[1]) << "," << int(c.row[2]) << "," << int(c.row[3]);
    }
}

TEST(ScaleExamples, BoxThreeToOnePutsTheRemainderOnTheCentreTap)
{
    const Weights w = WeightsOf("box", 3, 1.0f / 3.0f, 0);
    EXPECT_EQ(w.first, 0);
    EXPECT_EQ(w.w, (std::vector<int32_t>{5461, 5462, 5461}));
    EXPECT_EQ(Reduce1D("box", {30, 60, 90}, 1), std::vector<uint8_t>{60});
}

TEST(ScaleExamples, TriangleByTwoCutsZeroEndTaps)
{
    struct Case {
        int64_t i;
        int64_t first;
        std::vector<int32_t> w;
    } cases[] = {
        {0, 0, {7021, 7023, 2340}},        // edge: three taps, renormalised, rest of 2 on the centre
        {1, 1, {2048, 6144, 6144, 2048}},  // inside: four taps
        {2, 3, {2048, 6144, 6144, 2048}},
        {3, 5, {2340, 7021, 7023}},  // edge: rest of 2 on the centre tap, the window's last
    };
    for (const Case &c : cases) {
        const Weights w = WeightsOf("triangle", 8, 0.5f, c.i);
        EXPECT_EQ(w.first, c.first) << "pixel " << c.i;
        EXPECT_EQ(w.w, c.w) << "pixel " << c.i;
    }
    // A ramp stays a ramp away from the edges.
    const std::vector<uint8_t> ramp = {0, 16, 32, 48, 64, 80, 96, 112};
    const std::vector<uint8_t> out = Reduce1D("triangle", ramp, 4);
    ASSERT_EQ(out.size(), 4u);
    EXPECT_EQ(out[1], 40);  // (2048*16 + 6144*32 + 6144*48 + 2048*64) / 16384
    EXPECT_EQ(out[2], 72);
}

TEST(ScaleExamples, EnlargingTwoRowsToFourRepeatsEachRow)
{
    const std::vector<uint8_t> src = {10, 20, 30, 200, 210, 220};  // 3 x 2
    for (bool callerBlock : {false, true}) {
        Layout l;
        l.srcWidth = 3;
        l.srcHeight = 2;
        l.dstWidth = 3;
        l.dstHeight = 4;
        l.callerBlock = callerBlock;
        const Output o = Resample(l, src, 3, 4);
        ASSERT_TRUE(o.created);
        ASSERT_EQ(o.rows.size(), 4u);
        const std::vector<uint8_t> top = {10, 20, 30};
        const std::vector<uint8_t> bottom = {200, 210, 220};
        EXPECT_EQ(o.rows[0], top);
        EXPECT_EQ(o.rows[1], top);
        EXPECT_EQ(o.rows[2], bottom);
        EXPECT_EQ(o.rows[3], bottom);
        EXPECT_EQ(o.rowsPerCall, (std::vector<int>{2, 2})) << "caller block " << callerBlock;
    }
}

TEST(ScaleExamples, OneBitPointTakesSourceBits)
{
    const int sw = 37, sh = 29, dw = 11, dh = 7;
    const int rowBytes = (sw + 7) / 8;
    std::mt19937 rng(7);
    std::vector<uint8_t> src(static_cast<size_t>(rowBytes * sh));
    for (uint8_t &b : src) {
        b = static_cast<uint8_t>(rng());
    }
    Layout l;
    l.srcWidth = sw;
    l.srcHeight = sh;
    l.dstWidth = dw;
    l.dstHeight = dh;
    l.filter = "point";
    l.bitsPerSample = 1;
    const Output o = Resample(l, src, dw, dh);
    ASSERT_TRUE(o.created);
    ASSERT_EQ(o.rows.size(), static_cast<size_t>(dh));
    const float sx = static_cast<float>(dw) / static_cast<float>(sw);
    const float sy = static_cast<float>(dh) / static_cast<float>(sh);
    auto bit = [](const uint8_t *row, int x) { return (row[x / 8] >> (7 - x % 8)) & 1; };
    for (int y = 0; y < dh; ++y) {
        const int sy0 = static_cast<int>((y + 0.5) / static_cast<double>(sy));
        for (int x = 0; x < dw; ++x) {
            const int sx0 = static_cast<int>((x + 0.5) / static_cast<double>(sx));
            EXPECT_EQ(bit(o.rows[static_cast<size_t>(y)].data(), x), bit(&src[static_cast<size_t>(sy0 * rowBytes)], sx0))
                << "pixel " << x << "," << y;
        }
        EXPECT_EQ(o.rows[static_cast<size_t>(y)][1] & 0x1f, 0) << "padding bits stay clear";
    }
}

TEST(ScaleExamples, OnePixelWideSourceGivesThatPixelEverywhere)
{
    const std::vector<std::vector<uint8_t>> pixels = {{0, 255, 17}, {128, 200, 3}, {1, 254, 99}};  // RGB
    for (const char *filter : kAllFilters) {
        for (const std::vector<uint8_t> &pixel : pixels) {
            for (int dw : {1, 5, 16}) {
                Layout l;
                l.srcWidth = 1;
                l.srcHeight = 1;
                l.dstWidth = dw;
                l.dstHeight = 1;
                l.filter = filter;
                l.components = 3;
                const Output o = Resample(l, pixel, dw, 1);
                ASSERT_TRUE(o.created) << filter;
                ASSERT_EQ(o.rows.size(), 1u);
                for (int x = 0; x < dw; ++x) {
                    for (int k = 0; k < 3; ++k) {
                        EXPECT_EQ(o.rows[0][static_cast<size_t>(x * 3 + k)], pixel[static_cast<size_t>(k)])
                            << filter << " width " << dw << " pixel " << x << " component " << k;
                    }
                }
            }
        }
    }
}

// Vertical enlargement with windows of two rows: the second row's share of
// the first source row must carry its weight (a constant image stays
// constant, no dark rows).
TEST(ScaleEnlarge, NonIntegerEnlargementKeepsAFlatImageFlat)
{
    struct Case {
        int srcHeight, dstHeight;
    } cases[] = {{2, 3}, {4, 7}, {3, 10}, {5, 13}};
    for (const char *filter : kAllFilters) {
        for (const Case &c : cases) {
            const std::vector<uint8_t> src(static_cast<size_t>(2 * c.srcHeight), 180);
            Layout l;
            l.srcWidth = 2;
            l.srcHeight = c.srcHeight;
            l.dstWidth = 3;
            l.dstHeight = c.dstHeight;
            l.filter = filter;
            for (bool callerBlock : {false, true}) {
                // "mitchell" can end more rows on the last source row than
                // a caller's block holds; it needs the resampler's block.
                l.callerBlock = callerBlock && std::string(filter) != "mitchell";
                const Output o = Resample(l, src, 3, c.dstHeight);
                ASSERT_TRUE(o.created) << filter;
                for (size_t y = 0; y < o.rows.size(); ++y) {
                    EXPECT_EQ(o.rows[y], std::vector<uint8_t>(3, 180))
                        << filter << " " << c.srcHeight << "->" << c.dstHeight << " row " << y;
                }
            }
        }
    }
}

// "mitchell" has negative lobes: ringing below black must clamp to 0, not
// wrap around to white.
TEST(ScaleFilters, MitchellRingingClampsAtBlack)
{
    std::vector<uint8_t> row(12, 0);
    for (int x = 0; x < 4; ++x) {
        row[static_cast<size_t>(x)] = 255;
    }
    for (int dw : {5, 36}) {
        Layout l;
        l.srcWidth = 12;
        l.srcHeight = 1;
        l.dstWidth = dw;
        l.dstHeight = 1;
        l.filter = "mitchell";
        const Output o = Resample(l, row, dw, 1);
        ASSERT_TRUE(o.created);
        const std::vector<uint8_t> &out = o.rows.at(0);
        EXPECT_EQ(out.front(), 255);
        EXPECT_EQ(out.back(), 0) << "width " << dw;
        for (int x = dw / 2; x < dw; ++x) {
            EXPECT_LT(out[static_cast<size_t>(x)], 40) << "width " << dw << " column " << x;
        }
    }
}

// "mitchell" reducing 14 rows to 2: source row 11 has weight 0 inside the
// first destination row's window (the kernel crosses zero there) but not in
// the second's. It must still be filtered and kept for the second row.
TEST(ScaleFilters, RowWithZeroWeightIsKeptForTheNextRow)
{
    std::vector<uint8_t> src(2 * 14, 0);
    src[2 * 11] = 255;
    src[2 * 11 + 1] = 255;
    Layout l;
    l.srcWidth = 2;
    l.srcHeight = 14;
    l.dstWidth = 2;
    l.dstHeight = 2;
    l.filter = "mitchell";
    const Output o = Resample(l, src, 2, 2);
    ASSERT_TRUE(o.created);
    ASSERT_EQ(o.rows.size(), 2u);
    EXPECT_EQ(o.rows[0], std::vector<uint8_t>(2, 0));
    EXPECT_GT(o.rows[1][0], 20) << "row 11 is close to the second row's centre";
    EXPECT_EQ(o.rows[1][0], o.rows[1][1]);
}

// A destination size derived from a scale can put the last centre exactly
// on the far edge of the source.
TEST(ScaleGeometry, DerivedSizeWithCentreOnTheEdgeTakesTheLastPixel)
{
    Layout l;
    l.srcWidth = 3;
    l.srcHeight = 3;
    l.xScale = 0.5;
    l.yScale = 0.5;
    l.filter = "point";
    const std::vector<uint8_t> src = {1, 2, 3, 4, 5, 6, 7, 8, 9};
    const Output o = Resample(l, src, 2, 2);
    ASSERT_TRUE(o.created);
    ASSERT_EQ(o.rows.size(), 2u);
    EXPECT_EQ(o.rows[0], (std::vector<uint8_t>{5, 6}));
    EXPECT_EQ(o.rows[1], (std::vector<uint8_t>{8, 9}));
}

TEST(ScaleGeometry, MissingSizesAndScalesAreDerived)
{
    std::vector<uint8_t> src(100 * 40, 77);
    struct Case {
        int dw, dh;
        double xs, ys;
        int expectW, expectH;
    } cases[] = {
        {0, 0, 0.25, 0.0, 25, 10},  // one scale serves both axes
        {0, 0, 0.0, 0.5, 50, 20},
        {0, 13, 0.3, 0.0, 30, 13},  // an axis with a size keeps it
        {7, 0, 0.0, 0.1, 7, 4},
        {60, 30, 0.0, 0.0, 60, 30},
    };
    for (const Case &c : cases) {
        Layout l;
        l.srcWidth = 100;
        l.srcHeight = 40;
        l.dstWidth = c.dw;
        l.dstHeight = c.dh;
        l.xScale = c.xs;
        l.yScale = c.ys;
        const Output o = Resample(l, src, c.expectW, c.expectH);
        ASSERT_TRUE(o.created) << c.expectW << "x" << c.expectH;
        ASSERT_EQ(o.rows.size(), static_cast<size_t>(c.expectH));
        EXPECT_EQ(o.rows[0], std::vector<uint8_t>(static_cast<size_t>(c.expectW), 77));
    }
}

TEST(ScaleInit, RefusesBadArguments)
{
    struct Case {
        const char *what;
        int sw, sh, dw, dh;
        double xs, ys;
        const char *filter;
        int inBps, inBpp, inRowBits, outBps, outBpp, outRowBits, comps;
    } cases[] = {
        {"unknown filter", 4, 4, 2, 2, 0, 0, "lanczos", 8, 8, 32, 8, 8, 16, 1},
        {"filter names are case-sensitive", 4, 4, 2, 2, 0, 0, "Box", 8, 8, 32, 8, 8, 16, 1},
        {"null filter", 4, 4, 2, 2, 0, 0, nullptr, 8, 8, 32, 8, 8, 16, 1},
        {"zero source width", 0, 4, 2, 2, 0, 0, "box", 8, 8, 32, 8, 8, 16, 1},
        {"negative source height", 4, -4, 2, 2, 0, 0, "box", 8, 8, 32, 8, 8, 16, 1},
        {"negative destination", 4, 4, -2, 2, 0, 0, "box", 8, 8, 32, 8, 8, 16, 1},
        {"no size and no scale", 4, 4, 0, 0, 0, 0, "box", 8, 8, 32, 8, 8, 16, 1},
        {"negative scale", 4, 4, 0, 0, -0.5, 0, "box", 8, 8, 32, 8, 8, 16, 1},
        {"scale rounds to nothing", 4, 4, 0, 0, 0.1, 0.1, "box", 8, 8, 32, 8, 8, 16, 1},
        {"centre beyond the source", 4, 4, 4, 4, 0.5, 0.5, "box", 8, 8, 32, 8, 8, 32, 1},
        {"depth 4", 4, 4, 2, 2, 0, 0, "box", 4, 4, 16, 4, 4, 8, 1},
        {"mixed depths", 4, 4, 2, 2, 0, 0, "box", 8, 8, 32, 1, 1, 8, 1},
        {"1-bit with two components", 4, 4, 2, 2, 0, 0, "point", 1, 2, 8, 1, 2, 8, 2},
        {"1-bit with three components", 4, 4, 2, 2, 0, 0, "point", 1, 8, 32, 1, 8, 16, 3},
        {"no components", 4, 4, 2, 2, 0, 0, "box", 8, 8, 32, 8, 8, 16, 0},
        {"source row too short", 4, 4, 2, 2, 0, 0, "box", 8, 24, 88, 8, 24, 48, 3},
        {"destination row too short", 4, 4, 2, 2, 0, 0, "box", 8, 24, 96, 8, 24, 40, 3},
        {"pixel smaller than a sample", 4, 4, 2, 2, 0, 0, "box", 8, 4, 32, 8, 8, 16, 1},
        {"8-bit pixel off byte boundary", 4, 4, 2, 2, 0, 0, "box", 8, 12, 48, 8, 8, 16, 1},
        {"source row bits overflow", INT_MAX / 4, 4, 2, 2, 0, 0, "box", 8, 8, INT_MAX, 8, 8, 16, 1},
        {"derived width overflows", 1000, 4, 0, 2, 1e7, 0, "box", 8, 8, 8000, 8, 8, INT_MAX, 1},
        {"infinite scale", 4, 4, 0, 2, 1e300, 0, "box", 8, 8, 32, 8, 8, INT_MAX, 1},
        {"working memory too large", 4, 4, 200000000, 2, 0, 0, "box", 8, 8, 32, 8, 8, 1600000000, 1},
        {"ring too large", 600000, 4000, 600000, 4, 0, 0, "triangle", 8, 8, 4800000, 8, 8, 4800000, 1},
    };
    for (const Case &c : cases) {
        scale_state *s = scale_init(c.sw, c.sh, c.dw, c.dh, c.xs, c.ys, c.filter, c.inBps, c.inBpp, c.inRowBits,
                                    c.outBps, c.outBpp, c.outRowBits, c.comps);
        EXPECT_EQ(s, nullptr) << c.what;
        scale_free(s);
    }
    scale_free(nullptr);
}

class ScaleCalls : public ::testing::Test {
protected:
    void SetUp() override
    {
        // 6 x 4 RGB reduced to 3 x 2 with box.
        s_ = scale_init(6, 4, 3, 2, 0, 0, "box", 8, 24, 6 * 24, 8, 24, 3 * 24, 3);
        ASSERT_NE(s_, nullptr);
        for (size_t i = 0; i < row_.size(); ++i) {
            row_[i] = static_cast<unsigned char>(i * 10);
        }
    }
    void TearDown() override { scale_free(s_); }

    int Do(int y, int rowCount = 1, int offset = 8, int outOffset = 8)
    {
        return scale_do(s_, row_.data(), offset, y, rowCount, &block_, outOffset, &first_, &count_);
    }

    scale_state *s_ = nullptr;
    std::vector<unsigned char> row_ = std::vector<unsigned char>(18);
    unsigned char *block_ = nullptr;
    int first_ = -1;
    int count_ = -1;
};

TEST_F(ScaleCalls, RefusesBadCalls)
{
    EXPECT_EQ(Do(1), 0) << "the image starts with row 0";
    EXPECT_EQ(Do(0, 2), 0) << "one row per call";
    EXPECT_EQ(Do(0, 1, 16), 0) << "component 2 would leave the pixel";
    EXPECT_EQ(Do(0, 1, 4), 0) << "8-bit component off a byte boundary";
    EXPECT_EQ(Do(0, 1, 8, -8), 0) << "negative output offset";
    EXPECT_EQ(Do(-1), 0);
    EXPECT_EQ(scale_do(s_, nullptr, 8, 0, 1, &block_, 8, &first_, &count_), 0);
    EXPECT_EQ(scale_do(s_, row_.data(), 8, 0, 1, nullptr, 8, &first_, &count_), 0);
    EXPECT_EQ(scale_do(nullptr, row_.data(), 8, 0, 1, &block_, 8, &first_, &count_), 0);
    EXPECT_EQ(scale_flush(nullptr, &block_, 8, &first_, &count_), 0);

    ASSERT_EQ(Do(0), 1);
    EXPECT_EQ(Do(2), 0) << "rows come in order";
    EXPECT_EQ(Do(0), 1) << "row 0 restarts";
    ASSERT_EQ(Do(1), 1);
    EXPECT_EQ(first_, 0);
    EXPECT_EQ(count_, 1);
    ASSERT_EQ(Do(2), 1);
    ASSERT_EQ(Do(3), 1);
    EXPECT_EQ(first_, 1);
    EXPECT_EQ(count_, 1);
    EXPECT_EQ(Do(4), 0) << "no row 4 in a 4-row image";
}

TEST_F(ScaleCalls, OwnBlockIsReusedAndCallerBlockIsUsed)
{
    ASSERT_EQ(Do(0), 1);
    EXPECT_EQ(block_, nullptr) << "nothing produced, nothing allocated";
    ASSERT_EQ(Do(1), 1);
    ASSERT_NE(block_, nullptr);
    unsigned char *own = block_;
    // The first pixel's three components: means of (0, 30), (10, 40), (20, 50).
    EXPECT_EQ(own[0], 15);
    EXPECT_EQ(own[1], 25);
    EXPECT_EQ(own[2], 35);
    ASSERT_EQ(Do(2), 1);
    ASSERT_EQ(Do(3), 1);
    EXPECT_EQ(block_, own) << "the own block is kept";

    std::vector<unsigned char> mine(9 + 1, 0xEE);
    unsigned char *p = mine.data();
    ASSERT_EQ(scale_do(s_, row_.data(), 8, 0, 1, &p, 8, &first_, &count_), 1);
    ASSERT_EQ(scale_do(s_, row_.data(), 8, 1, 1, &p, 8, &first_, &count_), 1);
    EXPECT_EQ(p, mine.data());
    EXPECT_EQ(count_, 1);
    EXPECT_EQ(mine[0], 15);
    EXPECT_EQ(mine[8], 155);  // mean of 140 and 170
    EXPECT_EQ(mine[9], 0xEE) << "nothing written past the row";
}

TEST_F(ScaleCalls, FlushEmitsARowLeftPendingByShortInput)
{
    ASSERT_EQ(Do(0), 1);
    ASSERT_EQ(Do(1), 1);
    ASSERT_EQ(Do(2), 1);
    ASSERT_EQ(scale_flush(s_, &block_, 8, &first_, &count_), 1);
    EXPECT_EQ(first_, 1);
    EXPECT_EQ(count_, 1);
    ASSERT_NE(block_, nullptr);
    // Half of the row's window arrived: half the weight.
    EXPECT_EQ(block_[0], 8);  // 15 * 8192 / 16384 = 7.5, rounded up
    ASSERT_EQ(scale_flush(s_, &block_, 8, &first_, &count_), 1);
    EXPECT_EQ(count_, 0) << "a second flush has nothing left";
}

TEST(ScaleCallerBlock, CallThatWouldOverrunTheCallersBlockFails)
{
    // "mitchell" reducing 10 rows to 5: the last two destination rows both
    // end on the last source row, one more than a caller's block holds.
    scale_state *s = scale_init(4, 10, 4, 5, 0, 0, "mitchell", 8, 8, 32, 8, 8, 32, 1);
    ASSERT_NE(s, nullptr);
    std::vector<unsigned char> row(4, 100);
    std::vector<unsigned char> mine(2 * 4 + 1, 0xEE);  // 5 / 10 + 1 = 1 row; room for the check
    int first = 0;
    int count = 0;
    int rows = 0;
    int y = 0;
    for (; y < 10; ++y) {
        unsigned char *p = mine.data();
        if (scale_do(s, row.data(), 0, y, 1, &p, 0, &first, &count) != 1) {
            break;
        }
        rows += count;
    }
    EXPECT_EQ(y, 9) << "the last row fails";
    EXPECT_EQ(rows, 3);
    EXPECT_EQ(mine[4], 0xEE) << "nothing written past the first row";
    // The resampler's own block is big enough for the same call.
    unsigned char *own = nullptr;
    ASSERT_EQ(scale_do(s, row.data(), 0, 9, 1, &own, 0, &first, &count), 1);
    EXPECT_EQ(first, 3);
    EXPECT_EQ(count, 2);
    EXPECT_EQ(own[0], 100);
    EXPECT_EQ(own[4], 100);
    scale_free(s);
}

TEST(ScaleCApi, UsableFromC)
{
    EXPECT_EQ(scale_c_api_smoke(), 0);
}

}  // namespace
