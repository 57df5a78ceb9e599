#include "seal_hash.h"

#include <nettle/sha2.h>

#include <cstring>

namespace sealkit {

namespace {

constexpr uint32_t kSha256Initial[8] = {0x6a09e667u, 0xbb67ae85u, 0x3c6ef372u, 0xa54ff53au,
                                        0x510e527fu, 0x9b05688cu, 0x1f83d9abu, 0x5be0cd19u};

void PutBigEndian32(uint8_t* out, uint32_t v) {
    out[0] = static_cast<uint8_t>(v >> 24);
    out[1] = static_cast<uint8_t>(v >> 16);
    out[2] = static_cast<uint8_t>(v >> 8);
    out[3] = static_cast<uint8_t>(v);
}

}  // namespace

SealSha256::~SealSha256() {
    if (initialized_) HashErase();
}

void SealSha256::HashErase() {
    // volatile writes so that the compiler keeps the wipe of a dying object
    volatile uint8_t* p = reinterpret_cast<volatile uint8_t*>(state_);
    for (size_t i = 0; i < sizeof state_; ++i) p[i] = 0;
    volatile uint8_t* b = block_;
    for (size_t i = 0; i < sizeof block_; ++i) b[i] = 0;
    lengthLow_ = 0;
    lengthHigh_ = 0;
    fill_ = 0;
    initialized_ = false;
}

void SealSha256::HashStart() {
    HashErase();
    std::memcpy(state_, kSha256Initial, sizeof state_);
    initialized_ = true;
}

void SealSha256::CheckInitialized() const {
    if (!initialized_) throw SealHashError("Hash not initialized");
}

// One application of the SHA-256 compression function to a 64-byte block.
// Nettle 3.8 has no public compression call, so a scratch context is loaded
// with our chaining words and fed exactly one block: sha256_update then
// compresses that block and nothing else.
void SealSha256::Compress(const uint8_t* block) {
    sha256_ctx ctx;
    std::memcpy(ctx.state, state_, sizeof state_);
    ctx.count = 0;
    ctx.index = 0;
    sha256_update(&ctx, 64, block);
    std::memcpy(state_, ctx.state, sizeof state_);
    volatile uint8_t* p = reinterpret_cast<volatile uint8_t*>(&ctx);
    for (size_t i = 0; i < sizeof ctx; ++i) p[i] = 0;
}

void SealSha256::HashFeed(const void* data, size_t count) {
    CheckInitialized();
    if (count == 0) return;
    const uint8_t* in = static_cast<const uint8_t*>(data);

    // Message length in bits, kept modulo 2^64 as two 32-bit halves.
    uint64_t bits = (static_cast<uint64_t>(lengthHigh_) << 32) | lengthLow_;
    bits += static_cast<uint64_t>(count) << 3;
    lengthLow_ = static_cast<uint32_t>(bits);
    lengthHigh_ = static_cast<uint32_t>(bits >> 32);

    if (fill_ > 0) {
        size_t take = 64 - fill_;
        if (take > count) take = count;
        std::memcpy(block_ + fill_, in, take);
        fill_ += static_cast<uint32_t>(take);
        in += take;
        count -= take;
        if (fill_ < 64) return;
        Compress(block_);
        fill_ = 0;
    }
    while (count >= 64) {
        Compress(in);
        in += 64;
        count -= 64;
    }
    if (count > 0) {
        std::memcpy(block_, in, count);
        fill_ = static_cast<uint32_t>(count);
    }
}

void SealSha256::HashFinish(uint8_t* out) {
    CheckInitialized();
    // Pad: one 0x80 byte, zeros up to 56 mod 64, then the 64-bit bit length.
    block_[fill_++] = 0x80;
    if (fill_ > 56) {
        std::memset(block_ + fill_, 0, 64 - fill_);
        Compress(block_);
        fill_ = 0;
    }
    std::memset(block_ + fill_, 0, 56 - fill_);
    PutBigEndian32(block_ + 56, lengthHigh_);
    PutBigEndian32(block_ + 60, lengthLow_);
    Compress(block_);
    for (int i = 0; i < 8; ++i) PutBigEndian32(out + 4 * i, state_[i]);
    HashErase();
}

}  // namespace sealkit
