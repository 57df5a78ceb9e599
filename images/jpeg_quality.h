// Estimate of the quality setting a JPEG was made with, read from the
// quantization tables (DQT segments) of its header.
#pragma once

#include <cstddef>
#include <cstdint>

class Stream;

// Most bytes read from a JPEG header before giving up on finding its first
// scan; APPn segments (ICC profiles, thumbnails) may come before the tables.
constexpr size_t kJpegHeaderReadLimit = 8u << 20;

// Quality estimate of one quantization table given in natural (row-major)
// order, compared with the luminance table of ITU-T T.81 Annex K.
int JpegTableQuality(const uint16_t table[64]);

// Reads the markers of a JPEG header from data up to the first scan (SOS)
// and returns the quality estimate of the last-counted table: tables are
// counted 0, 1, ... in the order their indexes first reach the count, and the
// estimate of the highest counted index after the last complete DQT segment
// is kept. 0 when no table is defined before the first scan, or when the data
// does not start like a JPEG. Never reads past length.
int EstimateJpegQuality(const unsigned char *data, size_t length);

// The same over a reading-core stream holding the undecoded JPEG bytes (the
// input of a DCT decoder). Resets the stream, reads at most
// kJpegHeaderReadLimit bytes and closes it again.
int EstimateJpegQuality(Stream *jpegBytes);
