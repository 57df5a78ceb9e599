#include "seal_hash.h"

#include "seal_test_util.h"

#include <gtest/gtest.h>
#include <nettle/sha2.h>

#include <string>

namespace sealkit {
namespace {

using test::ToHex;

std::string Digest(const std::string& data, size_t repeat = 1) {
    SealSha256 h;
    h.HashStart();
    for (size_t i = 0; i < repeat; ++i) h.HashFeedText(data);
    uint8_t out[32];
    h.HashFinish(out);
    return ToHex(out, sizeof out);
}

struct Vector {
    const char* name;
    std::string message;
    size_t repeat;
    const char* digest;
};

TEST(SealSha256, StandardVectors) {
    const Vector cases[] = {
        {"empty", "", 1, "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "abc", 1, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"448 bits", "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq", 1,
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {"896 bits",
         "abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmnopqrstnopqrstu",
         1, "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
        {"million a", std::string(1000, 'a'), 1000,
         "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const auto& c : cases) EXPECT_EQ(Digest(c.message, c.repeat), c.digest) << c.name;
}

// Lengths around the padding boundaries, fed in uneven pieces, against
// Nettle's complete SHA-256 (our padding and buffering are our own).
TEST(SealSha256, PiecesAndPaddingBoundaries) {
    for (size_t len : {1u, 55u, 56u, 57u, 63u, 64u, 65u, 119u, 120u, 128u, 1000u}) {
        auto data = test::Pattern(len, static_cast<uint32_t>(len));
        uint8_t want[32];
        sha256_ctx ctx;
        sha256_init(&ctx);
        sha256_update(&ctx, data.size(), data.data());
        sha256_digest(&ctx, 32, want);

        for (size_t piece : {1u, 7u, 64u, 100u}) {
            SealSha256 h;
            h.HashStart();
            for (size_t pos = 0; pos < data.size(); pos += piece)
                h.HashFeed(data.data() + pos, std::min(piece, data.size() - pos));
            uint8_t got[32];
            h.HashFinish(got);
            EXPECT_EQ(ToHex(got, 32), ToHex(want, 32)) << "length " << len << " piece " << piece;
        }
    }
}

TEST(SealSha256, PropertiesAndLifecycle) {
    SealSha256 h;
    EXPECT_STREQ(h.Algorithm(), "SHA256");
    EXPECT_EQ(h.HashSize(), 256);
    EXPECT_FALSE(h.Initialized());
    h.HashStart();
    EXPECT_TRUE(h.Initialized());
    h.HashFeedText("abc");
    uint8_t out[32];
    h.HashFinish(out);
    EXPECT_FALSE(h.Initialized()) << "finishing erases the state";

    // Restarting after a finish gives a fresh digest, not a continuation.
    h.HashStart();
    h.HashFeedText("abc");
    uint8_t again[32];
    h.HashFinish(again);
    EXPECT_EQ(ToHex(again, 32), ToHex(out, 32));
}

TEST(SealSha256, UseBeforeStartRaises) {
    uint8_t out[32];
    struct Case {
        const char* name;
        void (*call)(SealSha256&, uint8_t*);
    } cases[] = {
        {"feed before start", [](SealSha256& h, uint8_t*) { h.HashFeed("x", 1); }},
        {"finish before start", [](SealSha256& h, uint8_t* o) { h.HashFinish(o); }},
        {"feed after finish",
         [](SealSha256& h, uint8_t* o) {
             h.HashStart();
             h.HashFinish(o);
             h.HashFeedText("x");
         }},
        {"feed after erase",
         [](SealSha256& h, uint8_t*) {
             h.HashStart();
             h.HashErase();
             h.HashFeedText("x");
         }},
    };
    for (const auto& c : cases) {
        SealSha256 h;
        try {
            c.call(h, out);
            ADD_FAILURE() << c.name << ": no error";
        } catch (const SealHashError& e) {
            EXPECT_STREQ(e.what(), "Hash not initialized") << c.name;
        }
    }
}

}  // namespace
}  // namespace sealkit
