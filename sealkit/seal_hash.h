// Hash objects of the cipher engine: an abstract base and SHA-256.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string_view>

namespace sealkit {

// Raised by HashFeed or HashFinish on a hash that was not started.
class SealHashError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class SealHash {
public:
    virtual ~SealHash() = default;
    SealHash(const SealHash&) = delete;
    SealHash& operator=(const SealHash&) = delete;

    const char* Algorithm() const { return algorithm_; }
    int HashSize() const { return hashSize_; }  // digest size in bits
    bool Initialized() const { return initialized_; }

    // Resets the state to the algorithm's initial values.
    virtual void HashStart() = 0;
    // Pads, writes HashSize()/8 bytes of digest to `out`, then erases.
    virtual void HashFinish(uint8_t* out) = 0;
    // Zeroes the whole state; the hash is no longer initialized.
    virtual void HashErase() = 0;
    virtual void HashFeed(const void* data, size_t count) = 0;

    // Feeds the bytes of a text, without any terminator.
    void HashFeedText(std::string_view text) { HashFeed(text.data(), text.size()); }

protected:
    SealHash(const char* algorithm, int hashSize) : algorithm_(algorithm), hashSize_(hashSize) {}
    bool initialized_ = false;

private:
    const char* algorithm_;
    int hashSize_;
};

// SHA-256 (FIPS 180-2). The compression function comes from Nettle; the
// buffering, length count and padding are done here.
class SealSha256 final : public SealHash {
public:
    static constexpr size_t kDigestSize = 32;

    SealSha256() : SealHash("SHA256", 256) { HashErase(); }
    ~SealSha256() override;

    void HashStart() override;
    void HashFinish(uint8_t* out) override;
    void HashErase() override;
    void HashFeed(const void* data, size_t count) override;

private:
    void Compress(const uint8_t* block);
    void CheckInitialized() const;

    uint32_t state_[8];
    uint32_t lengthLow_;   // message length in bits, low half
    uint32_t lengthHigh_;  // and high half
    uint8_t block_[64];
    uint32_t fill_;        // bytes waiting in block_
};

}  // namespace sealkit
