// Constants and helpers shared by the writer's source files (not part of
// its interface).
#pragma once

#include <Object.h>

#include <cstddef>
#include <cstdint>

class Dict;

namespace osselwriter {

// Nesting depth beyond which a value is written as null.
constexpr int kMaxDepth = 1000;
// Streams whose declared Length is at least this are recompressed (images
// never are).
constexpr int64_t kMinRecompressLength = 20;
// Recompression blocks: decoded input and compressed output.
constexpr size_t kInputBlock = 0x40000;
constexpr size_t kOutputBlock = 0x40400;
// Decoded bytes beyond which a stream is copied as stored instead of being
// recompressed (a small stream may decode to an enormous amount).
constexpr uint64_t kDefaultDecodedLimit = uint64_t(1) << 30;
// Copy path: read block, and the bound on the buffer sized from the
// (untrusted) declared Length.
constexpr size_t kCopyBlock = 0x10000;
constexpr int64_t kMaxInitialCopyBuffer = int64_t(64) << 20;
// Bytes read at an object's offset to check its "num gen obj" header.
constexpr int64_t kHeaderProbe = 1024;
// Bytes read after a stream's declared end to find its "endstream" (blanks
// before it included).
constexpr int64_t kEndstreamProbe = 64;
// The largest offset the ten digits of a cross-reference entry can hold.
constexpr int64_t kMaxXrefOffset = 9999999999LL;

// Removes key from dict; the other entries keep their order.
void RemoveKeepingOrder(Dict *dict, const char *key);
// The value of an integer object (32- or 64-bit); false for anything else.
bool IntegerValue(const Object &value, int64_t *out);

} // namespace osselwriter
