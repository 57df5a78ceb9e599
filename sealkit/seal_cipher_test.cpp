#include "seal_cipher.h"

#include "seal_hash.h"
#include "seal_test_util.h"

#include <gtest/gtest.h>
#include <nettle/aes.h>
#include <nettle/cbc.h>

#include <cstring>
#include <string>
#include <unordered_map>
#include <vector>

namespace sealkit {
namespace {

using test::FromHex;
using test::Pattern;
using test::ToHex;

std::vector<uint8_t> Sha256(const std::string& s) {
    SealSha256 h;
    h.HashStart();
    h.HashFeedText(s);
    std::vector<uint8_t> d(32);
    h.HashFinish(d.data());
    return d;
}

TEST(SealRijndael, Fips197Vectors) {
    struct Case {
        int bits;
        int rounds;
        const char* cipher;
    } cases[] = {
        {128, 10, "69c4e0d86a7b0430d8cdb78070b4c55a"},
        {192, 12, "dda97ca4864cdfe06eaf70a0ec0d7191"},
        {256, 14, "8ea2b7ca516745bfeafc49904b496089"},
    };
    const auto key = FromHex("000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f");
    const auto plain = FromHex("00112233445566778899aabbccddeeff");
    for (const auto& c : cases) {
        SealRijndael aes;
        aes.CipherSetup(key.data(), c.bits, nullptr);
        EXPECT_EQ(aes.Rounds(), c.rounds) << c.bits;
        uint8_t out[16], back[16];
        aes.EncryptBlock(plain.data(), out);
        EXPECT_EQ(ToHex(out, 16), c.cipher) << c.bits;
        aes.DecryptBlock(out, back);
        EXPECT_EQ(ToHex(back, 16), ToHex(plain)) << c.bits;
        // In place.
        uint8_t block[16];
        std::memcpy(block, plain.data(), 16);
        aes.EncryptBlock(block, block);
        EXPECT_EQ(ToHex(block, 16), c.cipher) << c.bits;
    }
}

TEST(SealRijndael, Properties) {
    SealRijndael aes;
    EXPECT_STREQ(aes.Algorithm(), "Rijndael");
    EXPECT_EQ(aes.MaxKeySize(), 256);
    EXPECT_EQ(aes.BlockSize(), 128);
    EXPECT_EQ(aes.CipherMode(), cmCBC);
    EXPECT_FALSE(aes.Initialized());
}

// Key sizes that are not whole bytes use the whole bytes only; the number of
// key bytes picks the variant.
TEST(SealRijndael, KeySizesAndPadding) {
    const auto key = Pattern(32, 7);
    struct Case {
        int bits;
        int sameAsBits;  // a setup that must give the same cipher
        int rounds;
    } cases[] = {
        {4, 0, 10},     {32, 36, 10}, {124, 120, 10}, {128, 132, 10},
        {136, 140, 12}, {192, 196, 12}, {200, 204, 14}, {256, 252, 14},
    };
    const uint8_t zero[16] = {};
    for (const auto& c : cases) {
        SealRijndael a, b;
        a.CipherSetup(key.data(), c.bits, nullptr);
        EXPECT_EQ(a.Rounds(), c.rounds) << c.bits;
        // The padded key, given whole.
        std::vector<uint8_t> padded(32, 0);
        std::memcpy(padded.data(), key.data(), static_cast<size_t>(c.bits / 8));
        int wholeBits = c.rounds == 10 ? 128 : c.rounds == 12 ? 192 : 256;
        b.CipherSetup(padded.data(), wholeBits, nullptr);
        uint8_t x[16], y[16];
        a.EncryptBlock(zero, x);
        b.EncryptBlock(zero, y);
        EXPECT_EQ(ToHex(x, 16), ToHex(y, 16)) << c.bits << " bits against the zero-padded key";
        if (c.sameAsBits > 0) {
            SealRijndael s;
            s.CipherSetup(key.data(), c.sameAsBits, nullptr);
            s.EncryptBlock(zero, y);
            EXPECT_EQ(ToHex(x, 16) == ToHex(y, 16), c.sameAsBits / 8 == c.bits / 8) << c.bits << " vs " << c.sameAsBits;
        }
    }
}

TEST(SealRijndael, BadKeySizeRaises) {
    const auto key = Pattern(40);
    for (int bits : {0, -8, 2, 30, 129, 260, 512}) {
        SealRijndael aes;
        try {
            aes.CipherSetup(key.data(), bits, nullptr);
            ADD_FAILURE() << bits << " bits accepted";
        } catch (const SealBlockCipherError&) {
            ADD_FAILURE() << bits << ": wrong error kind";
        } catch (const SealCipherError& e) {
            EXPECT_STREQ(e.what(), "Invalid key size") << bits;
        }
        EXPECT_FALSE(aes.Initialized()) << bits;
    }
}

TEST(SealRijndael, UseWhenNotInitializedRaises) {
    const auto key = Pattern(16);
    uint8_t buf[32] = {};
    struct Case {
        const char* name;
        void (*call)(SealRijndael&, uint8_t*);
    } cases[] = {
        {"EncryptChain", [](SealRijndael& c, uint8_t* b) { c.EncryptChain(b, b, 32); }},
        {"DecryptChain", [](SealRijndael& c, uint8_t* b) { c.DecryptChain(b, b, 5); }},
        {"CipherRestart", [](SealRijndael& c, uint8_t*) { c.CipherRestart(); }},
        {"SetIV", [](SealRijndael& c, uint8_t* b) { c.SetIV(b); }},
    };
    for (const auto& c : cases) {
        for (bool erased : {false, true}) {
            SealRijndael aes;
            if (erased) {
                aes.CipherSetup(key.data(), 128, nullptr);
                aes.CipherErase();
            }
            try {
                c.call(aes, buf);
                ADD_FAILURE() << c.name << " erased=" << erased << ": no error";
            } catch (const SealBlockCipherError& e) {
                EXPECT_STREQ(e.what(), "Cipher not initialized") << c.name;
            }
        }
    }
}

TEST(SealRijndael, EraseAndSetupAgain) {
    const auto key = Pattern(16, 3);
    SealRijndael aes;
    aes.CipherSetup(key.data(), 128, nullptr);
    aes.CipherErase();
    EXPECT_FALSE(aes.Initialized());
    EXPECT_EQ(aes.Rounds(), 0);
    EXPECT_EQ(ToHex(aes.IV(), 16), std::string(32, 'f'));
    EXPECT_EQ(ToHex(aes.CV(), 16), std::string(32, 'f'));

    // Setting up an initialized cipher again replaces key and vector.
    const auto iv = Pattern(16, 9);
    aes.CipherSetup(key.data(), 128, nullptr);
    aes.CipherSetup(key.data(), 128, iv.data());
    EXPECT_EQ(ToHex(aes.IV(), 16), ToHex(iv));
    EXPECT_EQ(ToHex(aes.CV(), 16), ToHex(iv));
}

// Full blocks are plain CBC: compare with Nettle's CBC from the same IV.
TEST(SealBlockCipher128, FullBlocksAreCbc) {
    const auto key = Pattern(16, 5);
    const auto data = Pattern(96, 6);
    SealRijndael aes;
    aes.CipherSetup(key.data(), 128, nullptr);
    std::vector<uint8_t> ours(data.size());
    aes.EncryptChain(data.data(), ours.data(), data.size());

    aes128_ctx ctx;
    aes128_set_encrypt_key(&ctx, key.data());
    uint8_t iv[16];
    const uint8_t zero[16] = {};
    aes128_encrypt(&ctx, 16, iv, zero);
    std::vector<uint8_t> ref(data.size());
    cbc_encrypt(&ctx, reinterpret_cast<nettle_cipher_func*>(aes128_encrypt), 16, iv, data.size(), ref.data(),
                data.data());
    EXPECT_EQ(ToHex(ours), ToHex(ref));
    EXPECT_EQ(ToHex(aes.CV(), 16), ToHex(iv, 16)) << "CV is the last cipher block";
}

TEST(SealBlockCipher128, TailRule) {
    const auto key = Pattern(16, 8);
    SealRijndael aes;
    aes.CipherSetup(key.data(), 128, nullptr);
    uint8_t iv[16];
    std::memcpy(iv, aes.IV(), 16);

    // 0 bytes: nothing changes, CV included.
    aes.EncryptChain(nullptr, nullptr, 0);
    EXPECT_EQ(ToHex(aes.CV(), 16), ToHex(iv, 16));

    // 5 bytes: out = in XOR AES(K, IV), and CV = AES(K, IV).
    const auto five = Pattern(5, 2);
    uint8_t out[5];
    aes.EncryptChain(five.data(), out, 5);
    uint8_t eiv[16];
    aes.EncryptBlock(iv, eiv);
    EXPECT_EQ(ToHex(aes.CV(), 16), ToHex(eiv, 16));
    for (int i = 0; i < 5; ++i) EXPECT_EQ(out[i], five[static_cast<size_t>(i)] ^ eiv[i]) << i;

    // Decryption of a tail is the same operation.
    aes.CipherRestart();
    EXPECT_EQ(ToHex(aes.CV(), 16), ToHex(iv, 16));
    uint8_t back[5];
    aes.DecryptChain(out, back, 5);
    EXPECT_EQ(ToHex(back, 5), ToHex(five));
}

// The chain across calls: pieces decrypt correctly in the same pieces, or
// in any pieces when the splits are at multiples of 16.
TEST(SealBlockCipher128, ChainingAcrossCalls) {
    struct Case {
        const char* name;
        std::vector<size_t> encryptSplit;
        std::vector<size_t> decryptSplit;
        size_t restored;  // leading bytes that come back
    } cases[] = {
        {"40 in one call", {40}, {40}, 40},
        {"16 + 24, then 40", {16, 24}, {40}, 40},
        {"20 + 20, then 40", {20, 20}, {40}, 16},
        {"20 + 20, then 20 + 20", {20, 20}, {20, 20}, 40},
        {"32 + 5 + 48, then 85", {32, 5, 48}, {85}, 32},
        {"32 + 5 + 48, then 32 + 5 + 48", {32, 5, 48}, {32, 5, 48}, 85},
        {"48 + 48 + 7, then 16 + 80 + 7", {48, 48, 7}, {16, 80, 7}, 103},
        {"5, then 5", {5}, {5}, 5},
        {"0 + 33, then 33", {0, 33}, {33}, 33},
    };
    const auto key = Pattern(16, 4);
    for (const auto& c : cases) {
        size_t total = 0;
        for (size_t n : c.encryptSplit) total += n;
        const auto plain = Pattern(total, 11);
        std::vector<uint8_t> enc(total), dec(total);
        SealRijndael aes;
        aes.CipherSetup(key.data(), 32, nullptr);
        size_t pos = 0;
        for (size_t n : c.encryptSplit) {
            aes.EncryptChain(plain.data() + pos, enc.data() + pos, n);
            pos += n;
        }
        aes.CipherRestart();
        pos = 0;
        for (size_t n : c.decryptSplit) {
            aes.DecryptChain(enc.data() + pos, dec.data() + pos, n);
            pos += n;
        }
        EXPECT_EQ(ToHex(dec.data(), c.restored), ToHex(plain.data(), c.restored)) << c.name;
        if (c.restored < total) {
            EXPECT_NE(ToHex(dec.data() + c.restored, total - c.restored),
                      ToHex(plain.data() + c.restored, total - c.restored))
                << c.name;
        }
    }
}

TEST(SealBlockCipher128, InPlaceEqualsSeparate) {
    const auto key = Pattern(16, 12);
    for (size_t n : {0u, 5u, 16u, 37u, 100u}) {
        const auto plain = Pattern(n, 13);
        SealRijndael a, b;
        a.CipherSetup(key.data(), 128, nullptr);
        b.CipherSetup(key.data(), 128, nullptr);
        std::vector<uint8_t> sep(n), inplace = plain;
        a.EncryptChain(plain.data(), sep.data(), n);
        b.EncryptChain(inplace.data(), inplace.data(), n);
        EXPECT_EQ(ToHex(inplace), ToHex(sep)) << "encrypt " << n;

        a.CipherRestart();
        b.CipherRestart();
        std::vector<uint8_t> back(n);
        a.DecryptChain(sep.data(), back.data(), n);
        b.DecryptChain(inplace.data(), inplace.data(), n);
        EXPECT_EQ(ToHex(inplace), ToHex(back)) << "decrypt " << n;
        EXPECT_EQ(ToHex(back), ToHex(plain)) << "round trip " << n;
    }
}

TEST(SealBlockCipher128, SetIVRestartsFromIt) {
    const auto key = Pattern(16, 14);
    const auto iv = Pattern(16, 15);
    const auto data = Pattern(16, 16);
    SealRijndael aes;
    aes.CipherSetup(key.data(), 128, nullptr);
    aes.SetIV(iv.data());
    uint8_t out[16];
    aes.EncryptChain(data.data(), out, 16);
    // CBC's first block: AES(K, data XOR IV).
    uint8_t x[16], want[16];
    for (int i = 0; i < 16; ++i) x[i] = data[static_cast<size_t>(i)] ^ iv[static_cast<size_t>(i)];
    aes.EncryptBlock(x, want);
    EXPECT_EQ(ToHex(out, 16), ToHex(want, 16));
}

TEST(DeriveCipher, KeyIsFirstFourDigestBytes) {
    for (const char* password : {"", "secret", "pass word with spaces and more than sixteen bytes"}) {
        uint8_t keyBuffer[32];
        auto cipher = DeriveCipher(password, keyBuffer);
        ASSERT_TRUE(cipher);
        const auto digest = Sha256(password);
        EXPECT_EQ(ToHex(keyBuffer, 32), ToHex(digest)) << password;
        EXPECT_EQ(cipher->Rounds(), 10) << password;

        // The same cipher from the 16-byte key: 4 digest bytes, 12 zeros.
        uint8_t key[16] = {};
        std::memcpy(key, digest.data(), 4);
        aes128_ctx ctx;
        aes128_set_encrypt_key(&ctx, key);
        const uint8_t zero[16] = {};
        uint8_t iv[16];
        aes128_encrypt(&ctx, 16, iv, zero);
        EXPECT_EQ(ToHex(cipher->IV(), 16), ToHex(iv, 16)) << password;
        EXPECT_EQ(ToHex(cipher->CV(), 16), ToHex(iv, 16)) << password;
        const auto block = Pattern(16, 21);
        uint8_t a[16], b[16];
        cipher->EncryptBlock(block.data(), a);
        aes128_encrypt(&ctx, 16, b, block.data());
        EXPECT_EQ(ToHex(a, 16), ToHex(b, 16)) << password;
    }
}

// Two passwords whose digests share their first four bytes give the same
// cipher: the derivation keeps only 32 bits.
TEST(DeriveCipher, PasswordsSharingFourDigestBytesGiveTheSameCipher) {
    std::unordered_map<uint32_t, std::string> seen;
    std::string first, second;
    for (uint32_t i = 0; i < 1000000 && second.empty(); ++i) {
        std::string p = "pw" + std::to_string(i);
        const auto d = Sha256(p);
        uint32_t head = (uint32_t(d[0]) << 24) | (uint32_t(d[1]) << 16) | (uint32_t(d[2]) << 8) | d[3];
        auto [it, added] = seen.emplace(head, p);
        if (!added) {
            first = it->second;
            second = p;
        }
    }
    ASSERT_FALSE(second.empty()) << "no pair found";
    uint8_t kb1[32], kb2[32];
    auto c1 = DeriveCipher(first, kb1);
    auto c2 = DeriveCipher(second, kb2);
    EXPECT_NE(ToHex(kb1, 32), ToHex(kb2, 32)) << "different digests";
    const auto data = Pattern(53, 22);
    std::vector<uint8_t> e1(data.size()), e2(data.size());
    c1->EncryptChain(data.data(), e1.data(), data.size());
    c2->EncryptChain(data.data(), e2.data(), data.size());
    EXPECT_EQ(ToHex(e1), ToHex(e2)) << first << " and " << second;
}

}  // namespace
}  // namespace sealkit
