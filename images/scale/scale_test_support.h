// Test helper: runs a whole image through the resampler and collects the
// destination rows, checking that they arrive in order, once each.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "scale.h"

namespace scale_test {

struct Layout {
    int srcWidth = 0;
    int srcHeight = 0;
    int dstWidth = 0;   // 0: derived from xScale
    int dstHeight = 0;  // 0: derived from yScale
    double xScale = 0;
    double yScale = 0;
    std::string filter = "box";
    int bitsPerSample = 8;
    int components = 1;
    int inBitsPerPixel = 0;   // 0: bitsPerSample * components
    int inRowBits = 0;        // 0: srcWidth * inBitsPerPixel rounded up to bytes
    int outBitsPerPixel = 0;  // 0: bitsPerSample * components
    int outRowBits = 0;       // 0: dstWidth * outBitsPerPixel rounded up to bytes
    int componentOffset = -1; // -1: bitsPerSample (interleaved)
    bool callerBlock = false; // give the resampler our own block of dstHeight / srcHeight + 1 rows

    int InBpp() const { return inBitsPerPixel ? inBitsPerPixel : bitsPerSample * components; }
    int OutBpp() const { return outBitsPerPixel ? outBitsPerPixel : bitsPerSample * components; }
    int InRowBits() const { return inRowBits ? inRowBits : (srcWidth * InBpp() + 7) / 8 * 8; }
    int OutRowBits(int dw) const { return outRowBits ? outRowBits : (dw * OutBpp() + 7) / 8 * 8; }
    size_t InRowBytes() const { return static_cast<size_t>(InRowBits() + 7) / 8; }
    int Offset() const { return componentOffset >= 0 ? componentOffset : bitsPerSample; }
};

struct Output {
    bool created = false;
    int width = 0;   // destination width (needs to be known by the caller when derived)
    int height = 0;
    size_t stride = 0;
    std::vector<std::vector<uint8_t>> rows;
    std::vector<int> rowsPerCall;  // rows produced by each scale_do call
};

// Resamples src (srcHeight rows of InRowBytes) to a destination of the given
// size (which must be the size the resampler derives when the layout leaves
// it 0). Every failure is a test failure except creation, reported in
// Output::created.
inline Output Resample(const Layout &l, const std::vector<uint8_t> &src, int dstWidth, int dstHeight)
{
    Output out;
    out.width = dstWidth;
    out.height = dstHeight;
    const int outRowBits = l.OutRowBits(dstWidth);
    out.stride = static_cast<size_t>(outRowBits + 7) / 8;
    scale_state *s = scale_init(l.srcWidth, l.srcHeight, l.dstWidth, l.dstHeight, l.xScale, l.yScale,
                                l.filter.c_str(), l.bitsPerSample, l.InBpp(), l.InRowBits(), l.bitsPerSample,
                                l.OutBpp(), outRowBits, l.components);
    if (s == nullptr) {
        return out;
    }
    out.created = true;
    std::vector<uint8_t> callerBlock;
    unsigned char *block = nullptr;
    if (l.callerBlock) {
        callerBlock.assign((static_cast<size_t>(dstHeight / l.srcHeight) + 1) * out.stride, 0);
        block = callerBlock.data();
    }
    const int offset = l.components > 1 ? l.Offset() : 0;
    auto take = [&](int first, int count) {
        EXPECT_EQ(first, static_cast<int>(out.rows.size())) << "rows out of order";
        for (int i = 0; i < count; ++i) {
            out.rows.emplace_back(block + static_cast<size_t>(i) * out.stride,
                                  block + static_cast<size_t>(i + 1) * out.stride);
        }
    };
    const size_t rowBytes = l.InRowBytes();
    for (int y = 0; y < l.srcHeight; ++y) {
        int first = -1;
        int count = -1;
        const int ok = scale_do(s, src.data() + static_cast<size_t>(y) * rowBytes, offset, y, 1, &block, offset,
                                &first, &count);
        EXPECT_EQ(ok, 1) << "scale_do failed on row " << y;
        if (ok != 1) {
            break;
        }
        out.rowsPerCall.push_back(count);
        if (count > 0) {
            EXPECT_NE(block, nullptr);
            take(first, count);
        }
    }
    int first = -1;
    int count = -1;
    EXPECT_EQ(scale_flush(s, &block, offset, &first, &count), 1);
    EXPECT_EQ(count, 0) << "complete input leaves nothing to flush";
    scale_free(s);
    EXPECT_EQ(static_cast<int>(out.rows.size()), dstHeight) << "every destination row once";
    return out;
}

}  // namespace scale_test
