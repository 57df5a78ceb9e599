#include "jpeg_quality.h"

#include <cstdio>
#include <csetjmp>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <jpeglib.h>

#include <gtest/gtest.h>

#include <Object.h>
#include <Stream.h>

#include "test_jpeg.h"

namespace surveytest {

namespace {
struct JpegError {
    jpeg_error_mgr mgr;
    jmp_buf jump;
};
void OnJpegError(j_common_ptr cinfo) { longjmp(reinterpret_cast<JpegError *>(cinfo->err)->jump, 1); }
} // namespace

std::string MakeJpeg(int width, int height, int components, int quality, bool baseline) {
    jpeg_compress_struct c;
    JpegError err;
    c.err = jpeg_std_error(&err.mgr);
    err.mgr.error_exit = OnJpegError;
    unsigned char *out = nullptr;
    unsigned long outSize = 0;
    std::vector<unsigned char> row(static_cast<size_t>(width) * components);
    if (setjmp(err.jump)) {
        jpeg_destroy_compress(&c);
        std::free(out);
        return {};
    }
    jpeg_create_compress(&c);
    jpeg_mem_dest(&c, &out, &outSize);
    c.image_width = static_cast<JDIMENSION>(width);
    c.image_height = static_cast<JDIMENSION>(height);
    c.input_components = components;
    c.in_color_space = components == 1 ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, quality, baseline ? TRUE : FALSE);
    jpeg_start_compress(&c, TRUE);
    while (c.next_scanline < c.image_height) {
        for (int x = 0; x < width * components; ++x) {
            row[static_cast<size_t>(x)] = static_cast<unsigned char>((x * 7 + c.next_scanline * 5) & 0xff);
        }
        JSAMPROW rows[1] = {row.data()};
        jpeg_write_scanlines(&c, rows, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    std::string result(reinterpret_cast<char *>(out), outSize);
    std::free(out);
    return result;
}

} // namespace surveytest

namespace {

using surveytest::MakeJpeg;

int Estimate(const std::string &bytes) {
    return EstimateJpegQuality(reinterpret_cast<const unsigned char *>(bytes.data()), bytes.size());
}

// A DQT segment holding the given tables; each table is (precision, index,
// 64 values in natural order) and is written in zig-zag order.
struct Table {
    int precision;
    int index;
    std::vector<int> natural;
};

const int kZigZag[64] = {0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,
                         12, 19, 26, 33, 40, 48, 41, 34, 27, 20, 13, 6,  7,  14, 21, 28,
                         35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23, 30, 37, 44, 51,
                         58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};

const std::vector<int> kLuminance = {16, 11, 10, 16, 24,  40,  51,  61,  12, 12, 14, 19, 26,  58,  60,  55,
                                     14, 13, 16, 24, 40,  57,  69,  56,  14, 17, 22, 29, 51,  87,  80,  62,
                                     18, 22, 37, 56, 68,  109, 103, 77,  24, 35, 55, 64, 81,  104, 113, 92,
                                     49, 64, 78, 87, 103, 121, 120, 101, 72, 92, 95, 98, 112, 100, 103, 99};

std::string Dqt(const std::vector<Table> &tables) {
    std::string body;
    for (const Table &t : tables) {
        body += static_cast<char>((t.precision << 4) | t.index);
        for (int k = 0; k < 64; ++k) {
            int v = t.natural[static_cast<size_t>(kZigZag[k])];
            if (t.precision) {
                body += static_cast<char>((v >> 8) & 0xff);
            }
            body += static_cast<char>(v & 0xff);
        }
    }
    size_t len = body.size() + 2;
    return std::string("\xff\xdb", 2) + static_cast<char>((len >> 8) & 0xff) + static_cast<char>(len & 0xff) + body;
}

std::vector<int> Fill(int v) { return std::vector<int>(64, v); }

const std::string kSoi("\xff\xd8", 2);
const std::string kSos("\xff\xda\x00\x08\x01\x01\x00\x00\x3f\x00", 10);
const std::string kEoi("\xff\xd9", 2);

TEST(JpegTableQuality, ArithmeticOnKnownTables) {
    struct Case {
        const char *name;
        std::vector<int> table;
        int expected;
    } cases[] = {
        {"all ones (quality 100)", Fill(1), 99},
        {"all zeros (invalid, no division by zero)", Fill(0), 100},
        {"all twos", Fill(2), 97},
        {"the reference table itself (quality 50)", kLuminance, 50},
        {"all 255", Fill(255), 10},
        {"all 65535 (16-bit maximum)", Fill(65535), 0},
    };
    for (const Case &c : cases) {
        uint16_t t[64];
        for (int k = 0; k < 64; ++k) {
            t[k] = static_cast<uint16_t>(c.table[static_cast<size_t>(k)]);
        }
        EXPECT_EQ(JpegTableQuality(t), c.expected) << c.name;
    }
}

// Expected values follow the estimate's arithmetic applied to libjpeg's
// scaled tables; with colour, the chrominance table (index 1, the highest)
// is the one kept, compared against the luminance reference.
TEST(JpegQuality, LibjpegMadeImages) {
    struct Case {
        int components;
        int quality;
        bool baseline;
        int expected;
    } cases[] = {
        {1, 50, true, 50},  {1, 75, true, 75},  {1, 90, true, 90},  {1, 100, true, 99},
        {1, 25, true, 25},  {1, 5, true, 11},   {1, 5, false, 5},   {3, 75, true, 55},
        {3, 90, true, 80},  {3, 100, true, 99}, {3, 50, true, 32},  {3, 10, false, 6},
    };
    for (const Case &c : cases) {
        std::string jpeg = MakeJpeg(33, 17, c.components, c.quality, c.baseline);
        ASSERT_FALSE(jpeg.empty());
        EXPECT_EQ(Estimate(jpeg), c.expected)
            << "components " << c.components << " quality " << c.quality << " baseline " << c.baseline;
    }
}

TEST(JpegQuality, HandMadeHeaders) {
    const std::string dqtOnes = Dqt({{0, 0, Fill(1)}});
    const std::string dqtLum = Dqt({{0, 0, kLuminance}});
    struct Case {
        const char *name;
        std::string bytes;
        int expected;
    } cases[] = {
        {"empty", "", 0},
        {"SOI only", kSoi, 0},
        {"no SOI", dqtOnes + kSos, 0},
        {"garbage", std::string("GIF89a\x01\x00\x01\x00\xff\xdb", 12), 0},
        {"one 8-bit table", kSoi + dqtOnes + kSos, 99},
        {"one 16-bit table", kSoi + Dqt({{1, 0, Fill(255)}}) + kSos, 10},
        {"no table before the scan", kSoi + kSos + dqtOnes, 0},
        {"a table after the first scan is not read", kSoi + dqtLum + kSos + dqtOnes, 50},
        {"two tables in one segment, highest index kept", kSoi + Dqt({{0, 0, Fill(1)}, {0, 1, kLuminance}}) + kSos,
         50},
        {"two segments", kSoi + dqtLum + Dqt({{0, 1, Fill(1)}}) + kSos, 99},
        {"index above the count is not counted", kSoi + Dqt({{0, 1, Fill(1)}}) + kSos, 0},
        {"index 1 counts once index 0 exists", kSoi + Dqt({{0, 1, Fill(1)}}) + dqtLum + Dqt({{0, 1, Fill(2)}}) + kSos,
         97},
        {"redefining table 0 keeps the highest index",
         kSoi + Dqt({{0, 0, Fill(1)}, {0, 1, Fill(2)}}) + dqtLum + kSos, 97},
        {"precision 2 ends the header", kSoi + dqtLum + Dqt({{2, 0, Fill(1)}}) + kSos, 50},
        {"index 4 ends the header", kSoi + dqtOnes + Dqt({{0, 4, kLuminance}}) + kSos, 99},
        {"fill bytes and APP segment before the table",
         kSoi + std::string("\xff\xff\xff\xe0\x00\x04zz", 8) + dqtOnes + kSos, 99},
        {"segment length 0", kSoi + std::string("\xff\xe1\x00\x00", 4) + dqtOnes + kSos, 0},
        {"segment length beyond the data", kSoi + std::string("\xff\xe1\xff\xff", 4) + dqtOnes + kSos, 0},
        {"table shorter than its segment says",
         kSoi + std::string("\xff\xdb\x00\x43\x00", 5) + std::string(10, '\x01'), 0},
        {"DQT length too short for one table", kSoi + std::string("\xff\xdb\x00\x10\x00", 5) +
                                                   std::string(64, '\x01') + kSos,
         0},
        {"EOI before any table", kSoi + kEoi + dqtOnes, 0},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(Estimate(c.bytes), c.expected) << c.name;
    }
    EXPECT_EQ(EstimateJpegQuality(nullptr, 10), 0);
}

// Every prefix of a real JPEG (a truncated header) is read safely, and the
// estimate appears exactly once the table segment is complete.
TEST(JpegQuality, TruncatedHeaders) {
    const std::string jpeg = MakeJpeg(16, 16, 1, 75);
    const size_t dqt = jpeg.find(std::string("\xff\xdb", 2));
    ASSERT_NE(dqt, std::string::npos);
    const size_t dqtEnd = dqt + 2 + ((static_cast<unsigned char>(jpeg[dqt + 2]) << 8) |
                                     static_cast<unsigned char>(jpeg[dqt + 3]));
    for (size_t n = 0; n <= jpeg.size(); ++n) {
        // A copy of exactly n bytes so that ASan sees any read past the end.
        std::vector<unsigned char> prefix(jpeg.begin(), jpeg.begin() + static_cast<std::ptrdiff_t>(n));
        int q = EstimateJpegQuality(prefix.data(), prefix.size());
        EXPECT_EQ(q, n < dqtEnd ? 0 : 75) << "prefix " << n;
    }
}

// Damaged headers: bytes of a real header flipped at random positions (a
// fixed seed) are read safely and give an estimate in range.
TEST(JpegQuality, MutatedHeaders) {
    const std::string jpeg = MakeJpeg(16, 16, 3, 80);
    const size_t sos = jpeg.find(std::string("\xff\xda", 2));
    ASSERT_NE(sos, std::string::npos);
    uint32_t seed = 12345;
    auto next = [&seed]() {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 8) & 0xffffff;
    };
    for (int round = 0; round < 2000; ++round) {
        std::vector<unsigned char> bytes(jpeg.begin(), jpeg.begin() + static_cast<std::ptrdiff_t>(sos + 10));
        const int flips = 1 + static_cast<int>(next() % 4);
        for (int f = 0; f < flips; ++f) {
            bytes[next() % bytes.size()] = static_cast<unsigned char>(next() & 0xff);
        }
        bytes.resize(next() % (bytes.size() + 1));
        const int q = EstimateJpegQuality(bytes.data(), bytes.size());
        EXPECT_GE(q, 0) << "round " << round;
        EXPECT_LE(q, 100) << "round " << round;
    }
}

// Reads through a reading-core stream as the survey does, with the header
// read limit enforced.
TEST(JpegQuality, FromReadingCoreStream) {
    const std::string jpeg = MakeJpeg(16, 16, 1, 90);
    {
        std::vector<char> buf(jpeg.begin(), jpeg.end());
        MemStream s(buf.data(), 0, static_cast<Goffset>(buf.size()), Object(objNull));
        EXPECT_EQ(EstimateJpegQuality(&s), 90);
        // Reading again resets the stream first.
        EXPECT_EQ(EstimateJpegQuality(&s), 90);
    }
    {
        // APP segments filling more than the read limit before the table.
        std::string big = kSoi;
        std::string app = std::string("\xff\xe2\xff\xff", 4) + std::string(65533, 'x');
        while (big.size() <= kJpegHeaderReadLimit) {
            big += app;
        }
        big += Dqt({{0, 0, Fill(1)}}) + kSos;
        std::vector<char> buf(big.begin(), big.end());
        MemStream s(buf.data(), 0, static_cast<Goffset>(buf.size()), Object(objNull));
        EXPECT_EQ(EstimateJpegQuality(&s), 0);
        // The same bytes in memory are read to the end (no limit there).
        EXPECT_EQ(Estimate(big), 99);
    }
    EXPECT_EQ(EstimateJpegQuality(static_cast<Stream *>(nullptr)), 0);
}

} // namespace
