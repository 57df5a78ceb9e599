#include "sealkit.h"

#include "seal_cipher.h"
#include "seal_test_util.h"
#include "seal_wipe.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <sys/file.h>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

using sealkit::test::Pattern;
using sealkit::test::ToHex;

std::vector<uint8_t> ReadAll(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteAll(const fs::path& p, const std::vector<uint8_t>& data) {
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
}

// A counted string over a std::string, for the D flavour.
struct Counted {
    explicit Counted(std::string s) : text(std::move(s)) {
        value.length = static_cast<uint32_t>(text.size());
        value.bytes = text.data();
    }
    const sealkit_string* get() const { return &value; }
    std::string text;
    sealkit_string value;
};

// Takes a counted string returned by the library and releases it.
std::string TakeCounted(sealkit_string* s) {
    if (s == nullptr) return "<null>";
    std::string out(s->bytes, s->length);
    EXPECT_EQ(s->bytes[s->length], '\0') << "counted results carry a terminator";
    SealReleaseString(s);
    return out;
}

// The header every encrypted file starts with, computed from the engine.
std::vector<uint8_t> ExpectedHeader(const std::string& password) {
    uint8_t key[32];
    auto cipher = sealkit::DeriveCipher(password, key);
    cipher->EncryptChain(key, key, 32);
    return std::vector<uint8_t>(key, key + 32);
}

class SealkitFiles : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/sealkit_test_XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(dir, ec);
    }
    std::string Path(const std::string& name) const { return (dir / name).string(); }
    fs::path dir;
};

// ---- files ----------------------------------------------------------------

using FileCall = std::function<int32_t(const std::string&, const std::string&, const std::string&)>;

struct FileFlavour {
    const char* name;
    FileCall encrypt;
    FileCall decrypt;
};

const FileFlavour kFileFlavours[] = {
    {"plain", [](auto& p, auto& i, auto& o) { return EncryptFile(p.c_str(), i.c_str(), o.c_str()); },
     [](auto& p, auto& i, auto& o) { return DecryptFile(p.c_str(), i.c_str(), o.c_str()); }},
    {"VB", [](auto& p, auto& i, auto& o) { return EncryptFileVB(p.c_str(), i.c_str(), o.c_str()); },
     [](auto& p, auto& i, auto& o) { return DecryptFileVB(p.c_str(), i.c_str(), o.c_str()); }},
    {"D",
     [](auto& p, auto& i, auto& o) { return EncryptFileD(Counted(p).get(), Counted(i).get(), Counted(o).get()); },
     [](auto& p, auto& i, auto& o) { return DecryptFileD(Counted(p).get(), Counted(i).get(), Counted(o).get()); }},
};

TEST_F(SealkitFiles, RoundTripAndLayout) {
    for (const auto& f : kFileFlavours) {
        for (size_t size : {0u, 5u, 15u, 16u, 4095u, 4096u, 4097u, 10000u}) {
            SCOPED_TRACE(std::string(f.name) + " size " + std::to_string(size));
            const auto plain = Pattern(size, static_cast<uint32_t>(size));
            WriteAll(Path("plain"), plain);
            ASSERT_EQ(f.encrypt("secret", Path("plain"), Path("enc")), SEALKIT_OK);
            const auto enc = ReadAll(Path("enc"));
            ASSERT_EQ(enc.size(), size + 32);
            EXPECT_EQ(ToHex(enc.data(), 32), ToHex(ExpectedHeader("secret")));
            if (size >= 16) {
                EXPECT_NE(ToHex(enc.data() + 32, 16), ToHex(plain.data(), 16));
            }
            ASSERT_EQ(f.decrypt("secret", Path("enc"), Path("dec")), SEALKIT_OK);
            EXPECT_EQ(ToHex(ReadAll(Path("dec"))), ToHex(plain));
            EXPECT_EQ(ToHex(ReadAll(Path("plain"))), ToHex(plain)) << "input unchanged";
        }
    }
}

TEST_F(SealkitFiles, FlavoursWriteTheSameBytes) {
    WriteAll(Path("plain"), Pattern(777));
    std::vector<std::vector<uint8_t>> outputs;
    for (const auto& f : kFileFlavours) {
        ASSERT_EQ(f.encrypt("pw", Path("plain"), Path(std::string("enc_") + f.name)), SEALKIT_OK) << f.name;
        outputs.push_back(ReadAll(Path(std::string("enc_") + f.name)));
    }
    EXPECT_EQ(outputs[0], outputs[1]);
    EXPECT_EQ(outputs[0], outputs[2]);
}

TEST_F(SealkitFiles, PasswordErrors) {
    WriteAll(Path("plain"), Pattern(100));
    ASSERT_EQ(EncryptFile("right", Path("plain").c_str(), Path("enc").c_str()), SEALKIT_OK);
    struct Case {
        const char* name;
        std::function<int32_t()> call;
        int32_t result;
        const char* mustNotExist;
    } cases[] = {
        {"wrong password", [&] { return DecryptFile("wrong", Path("enc").c_str(), Path("out1").c_str()); },
         SEALKIT_ERR_PASSWORD, "out1"},
        {"empty password decrypt", [&] { return DecryptFile("", Path("enc").c_str(), Path("out2").c_str()); },
         SEALKIT_ERR_EMPTY, "out2"},
        {"null password decrypt", [&] { return DecryptFile(nullptr, Path("enc").c_str(), Path("out3").c_str()); },
         SEALKIT_ERR_EMPTY, "out3"},
        {"empty password encrypt", [&] { return EncryptFile("", Path("plain").c_str(), Path("out4").c_str()); },
         SEALKIT_ERR_EMPTY, "out4"},
        {"empty password, missing input", [&] { return EncryptFileD(nullptr, nullptr, nullptr); },
         SEALKIT_ERR_EMPTY, nullptr},
        {"password differs after a NUL byte",
         [&] {
             return DecryptFileD(Counted(std::string("right\0x", 7)).get(), Counted(Path("enc")).get(),
                                 Counted(Path("out5")).get());
         },
         SEALKIT_ERR_PASSWORD, "out5"},
        {"input shorter than the header",
         [&] {
             WriteAll(Path("short"), Pattern(31));
             return DecryptFile("right", Path("short").c_str(), Path("out6").c_str());
         },
         SEALKIT_ERR_PASSWORD, "out6"},
        {"empty input", [&] {
             WriteAll(Path("empty"), {});
             return DecryptFile("right", Path("empty").c_str(), Path("out7").c_str());
         },
         SEALKIT_ERR_PASSWORD, "out7"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.call(), c.result) << c.name;
        if (c.mustNotExist) {
            EXPECT_FALSE(fs::exists(Path(c.mustNotExist))) << c.name;
        }
    }
    // The password may hold NUL bytes in the counted flavour; they count.
    Counted nulPassword(std::string("a\0b", 3));
    ASSERT_EQ(EncryptFileD(nulPassword.get(), Counted(Path("plain")).get(), Counted(Path("enc2")).get()), 0);
    EXPECT_EQ(DecryptFile("a", Path("enc2").c_str(), Path("dec2").c_str()), SEALKIT_ERR_PASSWORD);
    EXPECT_EQ(DecryptFileD(nulPassword.get(), Counted(Path("enc2")).get(), Counted(Path("dec2")).get()), 0);
    EXPECT_EQ(ReadAll(Path("dec2")), ReadAll(Path("plain")));
}

TEST_F(SealkitFiles, InputCannotBeOpened) {
    fs::create_directory(Path("folder"));
    WriteAll(Path("locked"), Pattern(10));
    int holder = open(Path("locked").c_str(), O_RDONLY);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(flock(holder, LOCK_EX | LOCK_NB), 0);
    for (const char* input : {"missing", "folder", "locked"}) {
        EXPECT_EQ(EncryptFile("pw", Path(input).c_str(), Path("out").c_str()), SEALKIT_ERR_OPEN) << input;
        EXPECT_EQ(DecryptFile("pw", Path(input).c_str(), Path("out").c_str()), SEALKIT_ERR_OPEN) << input;
        EXPECT_FALSE(fs::exists(Path("out"))) << input;
    }
    close(holder);
    EXPECT_EQ(EncryptFile("pw", nullptr, Path("out").c_str()), SEALKIT_ERR_OPEN);
    EXPECT_EQ(EncryptFileD(Counted("pw").get(), Counted(Path("locked") + std::string(1, '\0')).get(),
                           Counted(Path("out")).get()),
              SEALKIT_ERR_OPEN)
        << "a path with a NUL byte inside";
    EXPECT_EQ(EncryptFile("pw", Path("locked").c_str(), Path("out").c_str()), SEALKIT_OK) << "lock released";
}

TEST_F(SealkitFiles, MissingFoldersAreCreatedAndOutputsReplaced) {
    WriteAll(Path("plain"), Pattern(50));
    const std::string deep = Path("a/b/c/enc");
    ASSERT_EQ(EncryptFile("pw", Path("plain").c_str(), deep.c_str()), SEALKIT_OK);
    EXPECT_EQ(fs::file_size(deep), 82u);
    const std::string deepOut = Path("x/y/dec");
    ASSERT_EQ(DecryptFile("pw", deep.c_str(), deepOut.c_str()), SEALKIT_OK);
    EXPECT_EQ(ReadAll(deepOut), ReadAll(Path("plain")));

    // A longer existing output is replaced, not overwritten in place.
    WriteAll(Path("old"), Pattern(5000));
    ASSERT_EQ(EncryptFile("pw", Path("plain").c_str(), Path("old").c_str()), SEALKIT_OK);
    EXPECT_EQ(fs::file_size(Path("old")), 82u);
}

// An output that is the input (by any name) is refused and the input kept.
TEST_F(SealkitFiles, OutputNamingTheInputIsRefused) {
    const auto plain = Pattern(3000);
    WriteAll(Path("in"), plain);
    fs::create_directory(Path("sub"));
    fs::create_hard_link(Path("in"), Path("hard"));
    fs::create_symlink(Path("in"), Path("soft"));
    ASSERT_EQ(EncryptFile("pw", Path("in").c_str(), Path("enc").c_str()), SEALKIT_OK);
    const auto enc = ReadAll(Path("enc"));
    fs::create_hard_link(Path("enc"), Path("enchard"));

    struct Case {
        const char* name;
        bool encrypt;
        std::string input, output;
    } cases[] = {
        {"same path", true, Path("in"), Path("in")},
        {"through another path", true, Path("in"), Path("sub/../in")},
        {"hard link", true, Path("in"), Path("hard")},
        {"symbolic link", true, Path("in"), Path("soft")},
        {"decrypt onto itself", false, Path("enc"), Path("enc")},
        {"decrypt onto a hard link", false, Path("enc"), Path("enchard")},
    };
    for (const auto& c : cases) {
        int32_t r = c.encrypt ? EncryptFile("pw", c.input.c_str(), c.output.c_str())
                              : DecryptFile("pw", c.input.c_str(), c.output.c_str());
        EXPECT_EQ(r, SEALKIT_ERR_OUTPUT) << c.name;
        EXPECT_EQ(ReadAll(c.input), c.encrypt ? plain : enc) << c.name << ": input changed";
    }
}

TEST_F(SealkitFiles, OutputCannotBeCreated) {
    WriteAll(Path("plain"), Pattern(10));
    ASSERT_EQ(EncryptFile("pw", Path("plain").c_str(), Path("enc").c_str()), SEALKIT_OK);
    fs::create_directory(Path("folder"));
    WriteAll(Path("file"), Pattern(3));
    WriteAll(Path("busy"), Pattern(3));
    int holder = open(Path("busy").c_str(), O_RDONLY);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(flock(holder, LOCK_EX | LOCK_NB), 0);
    struct Case {
        const char* name;
        std::string output;
    } cases[] = {
        {"a folder", Path("folder")},
        {"below a plain file", Path("file/out")},
        {"empty path", ""},
        {"a device", "/dev/null"},
        {"locked by another holder", Path("busy")},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(EncryptFile("pw", Path("plain").c_str(), c.output.c_str()), SEALKIT_ERR_OUTPUT) << c.name;
        EXPECT_EQ(DecryptFile("pw", Path("enc").c_str(), c.output.c_str()), SEALKIT_ERR_OUTPUT) << c.name;
    }
    close(holder);
    EXPECT_EQ(ReadAll(Path("busy")), Pattern(3)) << "a locked output is not emptied";
}

// Runs in a child process: with files limited to 8 KiB, the file call must
// fail with -2 and leave no output. Exit status 0 when it does.
int WriteUnderSizeLimit(bool encrypt, const std::string& input, const std::string& output) {
    std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit lim;
    lim.rlim_cur = 8192;
    lim.rlim_max = 8192;
    if (setrlimit(RLIMIT_FSIZE, &lim) != 0) return 2;
    int32_t r = encrypt ? EncryptFile("pw", input.c_str(), output.c_str())
                        : DecryptFile("pw", input.c_str(), output.c_str());
    if (r != SEALKIT_ERR_OUTPUT) return 3;
    return access(output.c_str(), F_OK) != 0 ? 0 : 4;
}

// A write failure part-way is reported and leaves no partial output. The
// file size limit makes writes fail; it runs in a child process.
TEST_F(SealkitFiles, WriteFailureIsReported) {
    WriteAll(Path("plain"), Pattern(20000));
    ASSERT_EQ(EncryptFile("pw", Path("plain").c_str(), Path("enc").c_str()), SEALKIT_OK);
    struct Case {
        const char* name;
        bool encrypt;
        std::string input;
    } cases[] = {{"encrypt", true, Path("plain")}, {"decrypt", false, Path("enc")}};
    for (const auto& c : cases) {
        const std::string out = Path(std::string("limited_") + c.name);
        EXPECT_EXIT(std::_Exit(WriteUnderSizeLimit(c.encrypt, c.input, out)), ::testing::ExitedWithCode(0), "")
            << c.name;
    }
}

// ---- strings --------------------------------------------------------------

struct StringFlavour {
    const char* name;
    std::function<std::string(const std::string&, const std::string&)> encrypt;
    std::function<std::string(const std::string&, const std::string&)> decrypt;
    size_t encryptLimit;  // text bytes
    size_t decryptLimit;  // decrypted bytes
};

uint32_t LengthField(const char* text) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text) - 4;
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

const StringFlavour kStringFlavours[] = {
    {"plain", [](auto& p, auto& t) { return std::string(EncryptString(p.c_str(), t.c_str())); },
     [](auto& p, auto& x) { return std::string(DecryptString(p.c_str(), x.c_str())); }, 4095, 8191},
    {"VB",
     [](auto& p, auto& t) {
         const char* r = EncryptStringVB(p.c_str(), t.c_str());
         EXPECT_EQ(LengthField(r), std::strlen(r));
         return std::string(r);
     },
     [](auto& p, auto& x) { return std::string(DecryptStringVB(p.c_str(), x.c_str())); }, 4093, 8187},
    {"D", [](auto& p, auto& t) { return TakeCounted(EncryptStringD(Counted(p).get(), Counted(t).get())); },
     [](auto& p, auto& x) { return TakeCounted(DecryptStringD(Counted(p).get(), Counted(x).get())); }, 8191, 8192},
};

std::string Lower(std::string s) {
    for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::string TextOf(size_t n, uint32_t seed) {
    std::string s(n, 'a');
    for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>('!' + (i * 7 + seed) % 90);  // no NUL bytes
    return s;
}

TEST(SealkitStrings, RoundTrips) {
    for (const auto& f : kStringFlavours) {
        for (size_t n : {0u, 1u, 3u, 16u, 17u, 200u, 1000u}) {
            for (const std::string password : {"", "pw", "a longer pass phrase"}) {
                SCOPED_TRACE(std::string(f.name) + " length " + std::to_string(n) + " password '" + password + "'");
                const std::string text = TextOf(n, static_cast<uint32_t>(n));
                const std::string hex = f.encrypt(password, text);
                ASSERT_EQ(hex.size(), 2 * n);
                EXPECT_EQ(hex.find_first_not_of("0123456789ABCDEF"), std::string::npos) << hex;
                EXPECT_EQ(f.decrypt(password, hex), text);
                EXPECT_EQ(f.decrypt(password, Lower(hex)), text) << "lower-case digits";
                if (n >= 4) {
                    EXPECT_NE(f.decrypt(password + "x", hex), text) << "other password";
                }
            }
        }
    }
}

TEST(SealkitStrings, FlavoursAgreeAndMatchTheBufferChain) {
    const std::string text = TextOf(45, 3);
    const std::string hex = EncryptString("k", text.c_str());
    EXPECT_EQ(std::string(EncryptStringVB("k", text.c_str())), hex);
    EXPECT_EQ(TakeCounted(EncryptStringD(Counted("k").get(), Counted(text).get())), hex);

    // The text's bytes are EncryptChain from the IV, as one buffer call.
    std::vector<uint8_t> bytes(text.begin(), text.end());
    OpenCrypt("k");
    EncryptBuffer(bytes.data(), bytes.data(), static_cast<int32_t>(bytes.size()));
    CloseCrypt();
    std::string upper;
    for (char c : ToHex(bytes)) upper.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(c))));
    EXPECT_EQ(upper, hex);
}

TEST(SealkitStrings, ReadingHexText) {
    const std::string text = "Hello";
    const std::string hex = EncryptString("pw", text.c_str());
    struct Case {
        const char* name;
        std::string input;
        std::string sameAs;
    } cases[] = {
        {"odd last character ignored", hex + "7", hex},
        {"odd last character ignored (G)", hex + "G", hex},
        {"non-digits count as zero", "ZZ" + hex.substr(2), "00" + hex.substr(2)},
        {"mixed case", Lower(hex.substr(0, 4)) + hex.substr(4), hex},
        {"one character only", "F", ""},
    };
    for (const auto& c : cases) {
        for (const auto& f : kStringFlavours)
            EXPECT_EQ(f.decrypt("pw", c.input), f.decrypt("pw", c.sameAs)) << c.name << " " << f.name;
    }
    EXPECT_EQ(std::string(DecryptString("pw", hex.c_str())), text);
}

// The terminated results end at the first NUL; the VB length field and the
// counted result keep every decrypted byte.
TEST(SealkitStrings, DecryptedNulBytes) {
    const std::string text("ab\0cd", 5);
    const std::string hex = TakeCounted(EncryptStringD(Counted("pw").get(), Counted(text).get()));
    ASSERT_EQ(hex.size(), 10u);
    EXPECT_EQ(std::string(DecryptString("pw", hex.c_str())), "ab");
    const char* vb = DecryptStringVB("pw", hex.c_str());
    EXPECT_EQ(std::string(vb), "ab");
    EXPECT_EQ(LengthField(vb), 5u);
    EXPECT_EQ(TakeCounted(DecryptStringD(Counted("pw").get(), Counted(hex).get())), text);
}

TEST(SealkitStrings, LengthPrefixedLayout) {
    const std::string text = TextOf(200, 1);
    const char* r = EncryptStringVB("pw", text.c_str());
    EXPECT_EQ(std::strlen(r), 400u);
    EXPECT_EQ(LengthField(r), 400u);
    const char* d = DecryptStringVB("pw", r);
    EXPECT_EQ(std::string(d), text);
    EXPECT_EQ(LengthField(d), 200u);
    // A text result is the start of the area; VB's starts 4 bytes later.
    const char* plain = EncryptString("pw", "x");
    EXPECT_EQ(plain + 4, EncryptStringVB("pw", "x"));
    // A result fed straight back in (it lives in the area being written).
    EXPECT_EQ(std::string(DecryptString("pw", EncryptString("pw", text.c_str()))), text);
    EXPECT_STREQ(EncryptString(nullptr, nullptr), "");
    EXPECT_STREQ(DecryptString(nullptr, nullptr), "");
}

// Results that would not fit are refused with the empty result; the ones
// that just fit are complete.
TEST(SealkitStrings, Limits) {
    for (const auto& f : kStringFlavours) {
        SCOPED_TRACE(f.name);
        const std::string fits = TextOf(f.encryptLimit, 5);
        const std::string hex = f.encrypt("pw", fits);
        ASSERT_EQ(hex.size(), 2 * fits.size());
        EXPECT_EQ(f.decrypt("pw", hex), fits);
        EXPECT_EQ(f.encrypt("pw", TextOf(f.encryptLimit + 1, 5)), "");

        // Decrypting: the largest accepted text of hex digits, and one pair
        // more.
        const std::string big(2 * f.decryptLimit, '7');
        EXPECT_EQ(f.decrypt("pw", big).size() > 0, true);
        EXPECT_EQ(f.decrypt("pw", big + "77"), "");
        EXPECT_NE(f.decrypt("pw", big + "7"), "") << "an odd last digit does not count";
    }
    const char* vb = EncryptStringVB("pw", TextOf(4094, 1).c_str());
    EXPECT_EQ(LengthField(vb), 0u);
    EXPECT_STREQ(vb, "");
}

// ---- buffers --------------------------------------------------------------

using BufferCall = unsigned char (*)(const void*, void*, int32_t);
struct BufferFlavour {
    const char* name;
    unsigned char (*open)(const char*);
    BufferCall encrypt;
    BufferCall decrypt;
    unsigned char (*close)();
};

unsigned char OpenCryptDText(const char* p) { return OpenCryptD(Counted(p).get()); }

const BufferFlavour kBufferFlavours[] = {
    {"plain", OpenCrypt, EncryptBuffer, DecryptBuffer, CloseCrypt},
    {"VB", OpenCryptVB, EncryptBufferVB, DecryptBufferVB, CloseCryptVB},
    {"D", OpenCryptDText, EncryptBufferD, DecryptBufferD, CloseCryptD},
};

TEST(SealkitBuffers, PiecesDecryptInOneCall) {
    const auto plain = Pattern(4196, 2);
    std::vector<uint8_t> reference;
    for (const auto& f : kBufferFlavours) {
        SCOPED_TRACE(f.name);
        std::vector<uint8_t> enc(plain.size());
        EXPECT_EQ(f.open("buffer pw"), 1);
        EXPECT_EQ(f.encrypt(plain.data(), enc.data(), 4096), 1);
        EXPECT_EQ(f.encrypt(plain.data() + 4096, enc.data() + 4096, 100), 1);
        EXPECT_EQ(f.close(), 1);
        EXPECT_NE(enc, plain);
        if (reference.empty()) reference = enc;
        EXPECT_EQ(enc, reference) << "all flavours give the same bytes";

        std::vector<uint8_t> dec(plain.size());
        f.open("buffer pw");
        f.decrypt(enc.data(), dec.data(), 4196);
        f.close();
        EXPECT_EQ(dec, plain);
    }
}

// A file or string call replaces the open cipher: the chain breaks.
TEST_F(SealkitFiles, FileCallBreaksTheBufferChain) {
    WriteAll(Path("plain"), Pattern(10));
    const auto plain = Pattern(4196, 2);
    std::vector<uint8_t> whole(plain.size()), broken(plain.size());
    OpenCrypt("pw");
    EncryptBuffer(plain.data(), whole.data(), 4196);
    CloseCrypt();

    OpenCrypt("pw");
    EncryptBuffer(plain.data(), broken.data(), 4096);
    ASSERT_EQ(EncryptFile("other", Path("plain").c_str(), Path("enc").c_str()), 0);
    std::vector<uint8_t> tail(100, 0xAA);
    EncryptBuffer(plain.data() + 4096, tail.data(), 100);
    EXPECT_EQ(tail, std::vector<uint8_t>(100, 0xAA)) << "no cipher open after the file call";
    OpenCrypt("pw");
    EncryptBuffer(plain.data() + 4096, broken.data() + 4096, 100);
    CloseCrypt();
    EXPECT_TRUE(std::equal(whole.begin(), whole.begin() + 4096, broken.begin()));
    EXPECT_FALSE(std::equal(whole.begin() + 4096, whole.end(), broken.begin() + 4096));
}

// Calls beyond 8,192 bytes go in pieces and give the bytes of one call.
TEST(SealkitBuffers, LargeCallsMatchOneChain) {
    for (int32_t n : {8191, 8192, 8193, 8200, 20000, 65536 + 5}) {
        SCOPED_TRACE(n);
        const auto plain = Pattern(static_cast<size_t>(n), static_cast<uint32_t>(n));
        std::vector<uint8_t> direct(plain.size()), copied(plain.size() + 64, 0xEE), inplace = plain;
        OpenCrypt("big");
        EncryptBufferD(plain.data(), direct.data(), n);
        OpenCrypt("big");
        EncryptBuffer(plain.data(), copied.data(), n);
        OpenCrypt("big");
        EncryptBufferVB(inplace.data(), inplace.data(), n);
        CloseCrypt();
        EXPECT_TRUE(std::equal(direct.begin(), direct.end(), copied.begin()));
        EXPECT_EQ(std::vector<uint8_t>(copied.begin() + n, copied.end()), std::vector<uint8_t>(64, 0xEE))
            << "nothing written past the count";
        EXPECT_EQ(inplace, direct);

        std::vector<uint8_t> back(plain.size());
        OpenCrypt("big");
        DecryptBuffer(direct.data(), back.data(), n);
        CloseCrypt();
        EXPECT_EQ(back, plain);
    }
}

TEST(SealkitBuffers, NoOpenCipherAndBadArgumentsChangeNothing) {
    CloseCrypt();
    EXPECT_EQ(CloseCrypt(), 1) << "a second close";
    EXPECT_EQ(CloseCryptD(), 1);
    const auto plain = Pattern(64);
    for (const auto& f : kBufferFlavours) {
        std::vector<uint8_t> out(64, 0x33);
        EXPECT_EQ(f.encrypt(plain.data(), out.data(), 64), 1) << f.name;
        EXPECT_EQ(f.decrypt(plain.data(), out.data(), 64), 1) << f.name;
        EXPECT_EQ(out, std::vector<uint8_t>(64, 0x33)) << f.name << ": no cipher open";

        f.open("pw");
        EXPECT_EQ(f.encrypt(plain.data(), out.data(), -5), 1);
        EXPECT_EQ(f.encrypt(plain.data(), out.data(), 0), 1);
        EXPECT_EQ(f.encrypt(nullptr, out.data(), 64), 1);
        EXPECT_EQ(f.encrypt(plain.data(), nullptr, 64), 1);
        EXPECT_EQ(out, std::vector<uint8_t>(64, 0x33)) << f.name << ": bad arguments";
        // The chain did not move: the next call gives the first bytes.
        f.encrypt(plain.data(), out.data(), 64);
        f.close();
        OpenCrypt("pw");
        std::vector<uint8_t> fresh(64);
        EncryptBufferD(plain.data(), fresh.data(), 64);
        CloseCrypt();
        EXPECT_EQ(out, fresh) << f.name;
    }
}

// ---- wipe -----------------------------------------------------------------

// A hard link keeps the overwritten inode visible after the wipe deletes
// the name: its size shows the blocks written, its bytes the last pass.
TEST_F(SealkitFiles, WipeOverwritesThenDeletes) {
    struct Case {
        size_t size;
        size_t written;
    } cases[] = {{0, 8192}, {1, 8192}, {4096, 12288}, {10000, 16384}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.size);
        WriteAll(Path("victim"), Pattern(c.size));
        fs::create_hard_link(Path("victim"), Path("witness"));
        ASSERT_EQ(sealkit::WipePath(Path("victim"), 0), SEALKIT_OK);
        EXPECT_FALSE(fs::exists(Path("victim")));
        EXPECT_EQ(ReadAll(Path("witness")), std::vector<uint8_t>(c.written, 0x5A));
        fs::remove(Path("witness"));
    }
}

TEST(SealkitWipe, BlockCountIsSixtyFourBit) {
    struct Case {
        uint64_t size;
        uint64_t blocks;
    } cases[] = {
        {0, 2}, {4095, 2}, {4096, 3}, {10000, 4}, {(5ull << 30) + 1, (5ull << 18) + 2}, {UINT64_C(1) << 40, (UINT64_C(1) << 28) + 2},
    };
    for (const auto& c : cases) EXPECT_EQ(sealkit::WipeBlockCount(c.size), c.blocks) << c.size;
}

TEST_F(SealkitFiles, WipeFileFlavours) {
    WriteAll(Path("w1"), Pattern(10000));
    WriteAll(Path("w2"), Pattern(10));
    EXPECT_EQ(WipeFile(Path("w1").c_str()), SEALKIT_OK);
    EXPECT_FALSE(fs::exists(Path("w1")));
    EXPECT_EQ(WipeFileD(Counted(Path("w2")).get()), SEALKIT_OK);
    EXPECT_FALSE(fs::exists(Path("w2")));
}

TEST_F(SealkitFiles, WipeRefusals) {
    fs::create_directory(Path("folder"));
    WriteAll(Path("busy"), Pattern(100));
    int holder = open(Path("busy").c_str(), O_RDONLY);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(flock(holder, LOCK_EX | LOCK_NB), 0);
    EXPECT_EQ(WipeFile(Path("busy").c_str()), SEALKIT_ERR_OPEN);
    EXPECT_EQ(WipeFileVB(Path("missing").c_str()), SEALKIT_ERR_OPEN);
    EXPECT_EQ(WipeFile(Path("folder").c_str()), SEALKIT_ERR_OPEN);
    EXPECT_EQ(WipeFile(nullptr), SEALKIT_ERR_OPEN);
    EXPECT_EQ(WipeFileD(nullptr), SEALKIT_ERR_OPEN);
    EXPECT_EQ(WipeFileD(Counted(Path("busy") + std::string(1, '\0')).get()), SEALKIT_ERR_OPEN);
    close(holder);
    EXPECT_EQ(ReadAll(Path("busy")), Pattern(100)) << "a locked file is not touched";
}

// ---- component-server entry points ----------------------------------------

TEST(SealkitEntryPoints, ServeNothing) {
    const uint8_t id[16] = {};
    void* object = &object;
    EXPECT_EQ(DllGetClassObject(id, id, &object), static_cast<int32_t>(0x80040111u));
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(DllGetClassObject(nullptr, nullptr, nullptr), static_cast<int32_t>(0x80040111u));
    EXPECT_EQ(DllCanUnloadNow(), 0);
    EXPECT_EQ(DllRegisterServer(), 0);
    EXPECT_EQ(DllUnregisterServer(), 0);
    SealReleaseString(nullptr);
}

}  // namespace
