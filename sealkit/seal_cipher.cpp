#include "seal_cipher.h"

#include "seal_hash.h"

#include <cstring>

namespace sealkit {

namespace {

// Wipes memory in a way the compiler may not drop.
void Wipe(void* p, size_t n, uint8_t value) {
    volatile uint8_t* b = static_cast<volatile uint8_t*>(p);
    for (size_t i = 0; i < n; ++i) b[i] = value;
}

}  // namespace

SealBlockCipher128::SealBlockCipher128(const char* algorithm, int maxKeySize)
    : SealBlockCipher(algorithm, maxKeySize, 128) {
    Wipe(iv_, sizeof iv_, 0xFF);
    Wipe(cv_, sizeof cv_, 0xFF);
}

void SealBlockCipher128::CheckInitialized() const {
    if (!initialized_) throw SealBlockCipherError("Cipher not initialized");
}

void SealBlockCipher128::CipherSetup(const uint8_t* key, int bits, const uint8_t* iv) {
    if (initialized_) CipherErase();
    if (bits <= 0 || bits % 4 != 0 || bits > MaxKeySize()) throw SealCipherError("Invalid key size");
    initialized_ = true;
    ExpandKey(key, bits);
    if (iv != nullptr) {
        std::memcpy(iv_, iv, kBlock);
    } else {
        const uint8_t zero[kBlock] = {};
        EncryptBlock(zero, iv_);
    }
    CipherRestart();
}

void SealBlockCipher128::CipherErase() {
    EraseKey();
    Wipe(iv_, sizeof iv_, 0xFF);
    Wipe(cv_, sizeof cv_, 0xFF);
    initialized_ = false;
}

void SealBlockCipher128::CipherRestart() {
    CheckInitialized();
    std::memcpy(cv_, iv_, kBlock);
}

void SealBlockCipher128::SetIV(const uint8_t* iv) {
    CheckInitialized();
    std::memcpy(iv_, iv, kBlock);
    std::memcpy(cv_, iv_, kBlock);
}

// Final partial block, the same in both directions: CV becomes the
// encryption of CV and its first `tail` bytes are XOR-ed onto the data.
void SealBlockCipher128::ChainTail(const uint8_t* in, uint8_t* out, size_t tail) {
    EncryptBlock(cv_, cv_);
    for (size_t i = 0; i < tail; ++i) out[i] = static_cast<uint8_t>(in[i] ^ cv_[i]);
}

void SealBlockCipher128::EncryptChain(const uint8_t* in, uint8_t* out, size_t count) {
    CheckInitialized();
    size_t pos = 0;
    for (; count - pos >= kBlock; pos += kBlock) {
        uint8_t block[kBlock];
        for (size_t i = 0; i < kBlock; ++i) block[i] = static_cast<uint8_t>(in[pos + i] ^ cv_[i]);
        EncryptBlock(block, out + pos);
        std::memcpy(cv_, out + pos, kBlock);
    }
    if (pos < count) ChainTail(in + pos, out + pos, count - pos);
}

void SealBlockCipher128::DecryptChain(const uint8_t* in, uint8_t* out, size_t count) {
    CheckInitialized();
    size_t pos = 0;
    for (; count - pos >= kBlock; pos += kBlock) {
        uint8_t cipher[kBlock];
        std::memcpy(cipher, in + pos, kBlock);  // kept first: in may be out
        DecryptBlock(cipher, out + pos);
        for (size_t i = 0; i < kBlock; ++i) out[pos + i] = static_cast<uint8_t>(out[pos + i] ^ cv_[i]);
        std::memcpy(cv_, cipher, kBlock);
    }
    if (pos < count) ChainTail(in + pos, out + pos, count - pos);
}

SealRijndael::SealRijndael() : SealBlockCipher128("Rijndael", 256) {
    Wipe(&encrypt_, sizeof encrypt_, 0);
    Wipe(&decrypt_, sizeof decrypt_, 0);
}

SealRijndael::~SealRijndael() {
    if (initialized_) CipherErase();
}

void SealRijndael::EraseKey() {
    Wipe(&encrypt_, sizeof encrypt_, 0);
    Wipe(&decrypt_, sizeof decrypt_, 0);
    rounds_ = 0;
}

void SealRijndael::ExpandKey(const uint8_t* key, int bits) {
    // bits / 8 bytes of key, padded with zeros to 32 bytes; the number of
    // key bytes picks the AES variant.
    uint8_t padded[32] = {};
    size_t bytes = static_cast<size_t>(bits) / 8;
    if (bytes > sizeof padded) bytes = sizeof padded;
    if (bytes > 0) std::memcpy(padded, key, bytes);
    if (bytes <= 16) {
        rounds_ = 10;
        aes128_set_encrypt_key(&encrypt_.k128, padded);
        aes128_invert_key(&decrypt_.k128, &encrypt_.k128);
    } else if (bytes <= 24) {
        rounds_ = 12;
        aes192_set_encrypt_key(&encrypt_.k192, padded);
        aes192_invert_key(&decrypt_.k192, &encrypt_.k192);
    } else {
        rounds_ = 14;
        aes256_set_encrypt_key(&encrypt_.k256, padded);
        aes256_invert_key(&decrypt_.k256, &encrypt_.k256);
    }
    Wipe(padded, sizeof padded, 0);
}

void SealRijndael::EncryptBlock(const uint8_t* in, uint8_t* out) const {
    switch (rounds_) {
    case 10: aes128_encrypt(&encrypt_.k128, kBlock, out, in); break;
    case 12: aes192_encrypt(&encrypt_.k192, kBlock, out, in); break;
    case 14: aes256_encrypt(&encrypt_.k256, kBlock, out, in); break;
    default: throw SealBlockCipherError("Cipher not initialized");
    }
}

void SealRijndael::DecryptBlock(const uint8_t* in, uint8_t* out) const {
    switch (rounds_) {
    case 10: aes128_decrypt(&decrypt_.k128, kBlock, out, in); break;
    case 12: aes192_decrypt(&decrypt_.k192, kBlock, out, in); break;
    case 14: aes256_decrypt(&decrypt_.k256, kBlock, out, in); break;
    default: throw SealBlockCipherError("Cipher not initialized");
    }
}

std::unique_ptr<SealRijndael> DeriveCipher(std::string_view password, uint8_t (&keyBuffer)[32]) {
    std::memset(keyBuffer, 0xFF, sizeof keyBuffer);
    {
        SealSha256 hash;
        hash.HashStart();
        hash.HashFeedText(password);
        hash.HashFinish(keyBuffer);
        hash.HashErase();
    }
    auto cipher = std::make_unique<SealRijndael>();
    // 32 bits, not bytes: the key is the first 4 digest bytes and 12 zeros.
    cipher->CipherSetup(keyBuffer, 32, nullptr);
    return cipher;
}

}  // namespace sealkit
