// Block-cipher objects of the cipher engine: AES in CBC mode with the
// library's rule for a final partial block, and the derivation of a cipher
// from a password.
#pragma once

#include <nettle/aes.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string_view>

namespace sealkit {

// Raised by CipherSetup with an unusable key size.
class SealCipherError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Raised by chain calls, CipherRestart or SetIV on a cipher that is not set
// up.
class SealBlockCipherError : public SealCipherError {
public:
    using SealCipherError::SealCipherError;
};

enum SealCipherMode { cmCBC };

class SealCipher {
public:
    virtual ~SealCipher() = default;
    SealCipher(const SealCipher&) = delete;
    SealCipher& operator=(const SealCipher&) = delete;

    const char* Algorithm() const { return algorithm_; }
    int MaxKeySize() const { return maxKeySize_; }  // in bits
    bool Initialized() const { return initialized_; }

    // Sets the key (`bits` long: non-zero, a multiple of 4, at most
    // MaxKeySize()) and the 16-byte initialization vector `iv`; without one
    // the vector is the encryption of a zero block. Erases an initialized
    // cipher first.
    virtual void CipherSetup(const uint8_t* key, int bits, const uint8_t* iv) = 0;
    // Zeroes the key schedules, fills IV and CV with 0xFF, clears the flag.
    virtual void CipherErase() = 0;
    // Returns the chaining value to the initialization vector.
    virtual void CipherRestart() = 0;

protected:
    SealCipher(const char* algorithm, int maxKeySize) : algorithm_(algorithm), maxKeySize_(maxKeySize) {}
    bool initialized_ = false;

private:
    const char* algorithm_;
    int maxKeySize_;
};

class SealBlockCipher : public SealCipher {
public:
    SealCipherMode CipherMode() const { return mode_; }
    int BlockSize() const { return blockSize_; }  // in bits

    // Builds the key schedules from `bits` bits of `key`.
    virtual void ExpandKey(const uint8_t* key, int bits) = 0;
    // One block; `in` and `out` may be the same memory.
    virtual void EncryptBlock(const uint8_t* in, uint8_t* out) const = 0;
    virtual void DecryptBlock(const uint8_t* in, uint8_t* out) const = 0;
    // CBC over `count` bytes (any count); `out` may be the same memory as
    // `in`; the output has exactly `count` bytes.
    virtual void EncryptChain(const uint8_t* in, uint8_t* out, size_t count) = 0;
    virtual void DecryptChain(const uint8_t* in, uint8_t* out, size_t count) = 0;

protected:
    SealBlockCipher(const char* algorithm, int maxKeySize, int blockSize)
        : SealCipher(algorithm, maxKeySize), blockSize_(blockSize) {}

private:
    SealCipherMode mode_ = cmCBC;
    int blockSize_;
};

// CBC for 128-bit blocks. A final partial block of t bytes is handled by
// encrypting the chaining value and XOR-ing its first t bytes onto the data
// (the same for both directions); the chaining value then stays at that
// encrypted value, so later calls continue from it.
class SealBlockCipher128 : public SealBlockCipher {
public:
    static constexpr size_t kBlock = 16;

    void CipherSetup(const uint8_t* key, int bits, const uint8_t* iv) override;
    void CipherErase() override;
    void CipherRestart() override;
    void EncryptChain(const uint8_t* in, uint8_t* out, size_t count) override;
    void DecryptChain(const uint8_t* in, uint8_t* out, size_t count) override;

    // Replaces the initialization vector (and the chaining value).
    void SetIV(const uint8_t* iv);
    const uint8_t* IV() const { return iv_; }
    const uint8_t* CV() const { return cv_; }

protected:
    SealBlockCipher128(const char* algorithm, int maxKeySize);
    // Zeroes the key schedules of the derived cipher.
    virtual void EraseKey() = 0;

private:
    void CheckInitialized() const;
    void ChainTail(const uint8_t* in, uint8_t* out, size_t tail);

    uint8_t iv_[kBlock];
    uint8_t cv_[kBlock];
};

// AES (FIPS 197) with 128-, 192- or 256-bit keys. The block functions and
// key schedules come from Nettle.
class SealRijndael final : public SealBlockCipher128 {
public:
    SealRijndael();
    ~SealRijndael() override;

    void ExpandKey(const uint8_t* key, int bits) override;
    void EncryptBlock(const uint8_t* in, uint8_t* out) const override;
    void DecryptBlock(const uint8_t* in, uint8_t* out) const override;
    int Rounds() const { return rounds_; }

protected:
    void EraseKey() override;

private:
    union Schedule {
        aes128_ctx k128;
        aes192_ctx k192;
        aes256_ctx k256;
    };
    int rounds_ = 0;
    Schedule encrypt_;
    Schedule decrypt_;
};

// Derives the library's cipher from a password: `keyBuffer` is filled with
// 0xFF, then receives the SHA-256 digest D of the password bytes; the
// cipher is AES set up with CipherSetup(D, 32 bits, no IV). That key size
// is 32 bits: the key is the first 4 bytes of D and 12 zero bytes, and the
// IV is the encryption of a zero block. Existing files and texts depend on
// this derivation; it keeps only 32 bits of the digest and is weak.
std::unique_ptr<SealRijndael> DeriveCipher(std::string_view password, uint8_t (&keyBuffer)[32]);

}  // namespace sealkit
