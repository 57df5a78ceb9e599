#include "jpeg_quality.h"

#include <Object.h>
#include <Stream.h>

namespace {

// ITU-T T.81 Annex K, table K.1 (luminance), natural order.
constexpr int kLuminanceTable[64] = {
    16, 11, 10, 16, 24,  40,  51,  61,  //
    12, 12, 14, 19, 26,  58,  60,  55,  //
    14, 13, 16, 24, 40,  57,  69,  56,  //
    14, 17, 22, 29, 51,  87,  80,  62,  //
    18, 22, 37, 56, 68,  109, 103, 77,  //
    24, 35, 55, 64, 81,  104, 113, 92,  //
    49, 64, 78, 87, 103, 121, 120, 101, //
    72, 92, 95, 98, 112, 100, 103, 99,
};

// Position in natural order of the k-th coefficient in zig-zag order, the
// order in which DQT segments store their entries.
constexpr int kZigZagToNatural[64] = {
    0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,  //
    12, 19, 26, 33, 40, 48, 41, 34, 27, 20, 13, 6,  7,  14, 21, 28, //
    35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23, 30, 37, 44, 51, //
    58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63,
};

// Byte source over memory.
class MemorySource {
public:
    MemorySource(const unsigned char *data, size_t length) : data_(data), length_(length) {}
    int Next() { return pos_ < length_ ? data_[pos_++] : -1; }
    bool Skip(size_t n) {
        if (n > length_ - pos_) {
            pos_ = length_;
            return false;
        }
        pos_ += n;
        return true;
    }

private:
    const unsigned char *data_;
    size_t length_;
    size_t pos_ = 0;
};

// Byte source over a reading-core stream, with a cap on the bytes consumed.
class StreamSource {
public:
    explicit StreamSource(Stream *s) : s_(s) {}
    int Next() {
        if (used_ >= kJpegHeaderReadLimit) {
            return -1;
        }
        int c = s_->getChar();
        if (c == EOF) {
            return -1;
        }
        ++used_;
        return c & 0xff;
    }
    bool Skip(size_t n) {
        if (n > kJpegHeaderReadLimit - used_) {
            used_ = kJpegHeaderReadLimit;
            return false;
        }
        size_t done = s_->discardChars(static_cast<unsigned int>(n));
        used_ += done;
        return done == n;
    }

private:
    Stream *s_;
    size_t used_ = 0;
};

// Walks the header markers up to the first scan, collecting DQT tables.
template <typename Source>
int ParseHeader(Source &src) {
    if (src.Next() != 0xff || src.Next() != 0xd8) {
        return 0; // no SOI: not a JPEG header
    }
    uint16_t tables[4][64] = {};
    int tableCount = 0;
    int quality = 0;
    for (;;) {
        // Find the next marker: 0xff, possibly repeated as fill bytes.
        int c = src.Next();
        if (c < 0) {
            break;
        }
        if (c != 0xff) {
            continue; // stray byte between segments: resynchronise
        }
        int marker;
        do {
            marker = src.Next();
        } while (marker == 0xff);
        if (marker < 0) {
            break;
        }
        if (marker == 0x00 || marker == 0x01 || marker == 0xd8 || (marker >= 0xd0 && marker <= 0xd7)) {
            continue; // stuffed byte, TEM, SOI, RSTn: no segment length
        }
        if (marker == 0xd9 || marker == 0xda) {
            break; // EOI or first scan: the header is over
        }
        int hi = src.Next();
        int lo = src.Next();
        if (hi < 0 || lo < 0) {
            break;
        }
        size_t segment = static_cast<size_t>((hi << 8) | lo);
        if (segment < 2) {
            break; // damaged length
        }
        size_t remaining = segment - 2;
        if (marker != 0xdb) {
            if (!src.Skip(remaining)) {
                break;
            }
            continue;
        }
        // DQT: one or more tables, each a precision/index byte and 64
        // entries of 8 or 16 bits in zig-zag order.
        bool segmentOk = true;
        while (remaining > 0) {
            int pt = src.Next();
            if (pt < 0) {
                segmentOk = false;
                break;
            }
            --remaining;
            int precision = (pt >> 4) & 0x0f;
            int index = pt & 0x0f;
            size_t entryBytes = precision == 0 ? 1 : 2;
            if (precision > 1 || index >= 4 || remaining < 64 * entryBytes) {
                segmentOk = false;
                break;
            }
            uint16_t entries[64];
            for (int k = 0; k < 64 && segmentOk; ++k) {
                int b0 = src.Next();
                int b1 = entryBytes == 2 ? src.Next() : 0;
                if (b0 < 0 || b1 < 0) {
                    segmentOk = false;
                    break;
                }
                entries[kZigZagToNatural[k]] =
                    static_cast<uint16_t>(entryBytes == 2 ? ((b0 << 8) | b1) : b0);
            }
            if (!segmentOk) {
                break;
            }
            remaining -= 64 * entryBytes;
            for (int k = 0; k < 64; ++k) {
                tables[index][k] = entries[k];
            }
            if (index == tableCount) {
                ++tableCount;
            }
        }
        if (!segmentOk) {
            break; // a damaged segment ends the header as a decoder would
        }
        if (tableCount > 0) {
            quality = JpegTableQuality(tables[tableCount - 1]);
        }
    }
    return quality;
}

} // namespace

int JpegTableQuality(const uint16_t table[64]) {
    long sum = 0;
    for (int k = 0; k < 64; ++k) {
        long s = (static_cast<long>(table[k]) * 100 - 50) / kLuminanceTable[k];
        sum += s <= 100 ? (200 - s) / 2 : 5000 / s;
    }
    return static_cast<int>(sum / 64);
}

int EstimateJpegQuality(const unsigned char *data, size_t length) {
    if (data == nullptr) {
        return 0;
    }
    MemorySource src(data, length);
    return ParseHeader(src);
}

int EstimateJpegQuality(Stream *jpegBytes) {
    if (jpegBytes == nullptr) {
        return 0;
    }
    jpegBytes->reset();
    StreamSource src(jpegBytes);
    int quality = ParseHeader(src);
    jpegBytes->close();
    return quality;
}
