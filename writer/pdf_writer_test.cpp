// Value serialization: the exact text of every kind of value, references
// through the object table, and the encryption seam of strings and stream
// data.
#include "writer_test_util.h"
#include "writer_internal.h"

#include <Array.h>
#include <Dict.h>
#include <nettle/arcfour.h>
#include <nettle/md5.h>

#include <cmath>
#include <functional>
#include <limits>

using namespace writertest;

namespace {

Object Str(const std::string &bytes)
{
    return Object(new GooString(bytes.data(), bytes.size()));
}

Object Name(const char *name)
{
    return Object(objName, name);
}

Object Ref(int num, int gen)
{
    return Object(::Ref{num, gen});
}

Object MakeArray(std::vector<std::function<Object()>> items)
{
    Array *a = new Array(nullptr);
    for (auto &make : items) {
        a->add(make());
    }
    return Object(a);
}

Object MakeDict(std::vector<std::pair<const char *, std::function<Object()>>> items)
{
    Dict *d = new Dict(static_cast<XRef *>(nullptr));
    for (auto &[key, make] : items) {
        d->add(key, make());
    }
    return Object(d);
}

struct ValueCase {
    const char *label;
    std::function<Object()> make;
    std::string expected;
};

class ValueTest : public ::testing::Test {
protected:
    OptimizerSettings settings = DefaultSettings();
    PDFWriter writer{nullptr, &settings};
};

TEST_F(ValueTest, ScalarsNamesAndStrings)
{
    const ValueCase cases[] = {
        {"true", [] { return Object(true); }, "true"},
        {"false", [] { return Object(false); }, "false"},
        {"zero", [] { return Object(0); }, "0"},
        {"negative int", [] { return Object(-17); }, "-17"},
        {"max int", [] { return Object(2147483647); }, "2147483647"},
        {"64-bit int", [] { return Object(5000000000LL); }, "5000000000"},
        {"half", [] { return Object(0.5); }, "0.5"},
        {"whole real", [] { return Object(612.0); }, "612"},
        {"two", [] { return Object(2.0); }, "2"},
        {"rounded", [] { return Object(1.23456); }, "1.2346"},
        {"tiny", [] { return Object(0.00004); }, "0"},
        {"negative tiny keeps sign", [] { return Object(-0.00001); }, "-0"},
        {"negative", [] { return Object(-3.25); }, "-3.25"},
        {"ten", [] { return Object(10.0); }, "10"},
        {"huge real beyond 40 chars", [] { return Object(1e40); }, "10000000000000000303786028427003666890752"},
        {"huge negative real", [] { return Object(-1e35); }, "-99999999999999996863366107917975552"},
        {"not a number", [] { return Object(std::numeric_limits<double>::quiet_NaN()); }, "0"},
        {"infinity", [] { return Object(std::numeric_limits<double>::infinity()); }, "0"},
        {"name", [] { return Name("Type"); }, "/Type"},
        {"name with blank and hash", [] { return Name("A B#"); }, "/A#20B#23"},
        {"empty name", [] { return Name(""); }, "/"},
        {"name plain punctuation", [] { return Name("a,_.-+Z9"); }, "/a,_.-+Z9"},
        {"name delimiters and high bytes", [] { return Name("(x)/\xE9"); }, "/#28x#29#2F#E9"},
        {"null", [] { return Object(objNull); }, "null"},
        {"empty string", [] { return Str(""); }, "()"},
        {"only NUL", [] { return Str(std::string(1, '\0')); }, "<00>"},
        {"NUL inside", [] { return Str(std::string("a\0\xFF", 3)); }, "<6100ff>"},
        {"paren backslash newline", [] { return Str("(\\\n"); }, "(\\(\\\\\\012)"},
        {"close paren", [] { return Str("a)b"); }, "(a\\)b)"},
        {"DEL and high byte", [] { return Str("a\x7F\x80\xFF"); }, "(a\x7F\\200\\377)"},
        {"tab", [] { return Str("\t"); }, "(\\011)"},
        {"command writes nothing", [] { return Object(objCmd, "BT"); }, ""},
        {"error writes nothing", [] { return Object(objError); }, ""},
    };
    for (const auto &c : cases) {
        Object value = c.make();
        EXPECT_EQ(Serialize(writer, value), c.expected) << c.label;
        EXPECT_FALSE(writer.OutputFailed()) << c.label;
    }
}

TEST_F(ValueTest, ArraysAndDictionaries)
{
    const ValueCase cases[] = {
        {"empty array", [] { return MakeArray({}); }, "[]"},
        {"integers", [] { return MakeArray({[] { return Object(1); }, [] { return Object(2); }, [] { return Object(3); }}); },
         "[1 2 3]"},
        {"names", [] { return MakeArray({[] { return Name("A"); }, [] { return Name("B"); }, [] { return Name("C"); }}); },
         "[/A/B/C]"},
        {"indexed colour space",
         [] {
             return MakeArray({[] { return Name("Indexed"); }, [] { return Name("DeviceRGB"); },
                               [] { return Object(255); }, [] { return Ref(5, 0); }});
         },
         "[/Indexed/DeviceRGB 255 5 0 R]"},
        {"nested arrays and dict",
         [] {
             return MakeArray({[] { return MakeArray({[] { return Object(1); }}); },
                               [] { return MakeArray({[] { return Object(2); }}); },
                               [] { return MakeDict({{"A", [] { return Object(true); }}}); },
                               [] { return Str("s"); }});
         },
         "[[1][2]<</A true>> (s)]"},
        {"empty dict", [] { return MakeDict({}); }, "<<>>"},
        {"page dict",
         [] {
             return MakeDict({{"Type", [] { return Name("Page"); }},
                              {"Parent", [] { return Ref(3, 0); }},
                              {"MediaBox", [] {
                                   return MakeArray({[] { return Object(0); }, [] { return Object(0); },
                                                     [] { return Object(612); }, [] { return Object(792.0); }});
                               }}});
         },
         "<</Type/Page/Parent 3 0 R/MediaBox[0 0 612 792]>>"},
        {"nested dict and string",
         [] {
             return MakeDict({{"Res", [] { return MakeDict({{"F", [] { return Name("Helv"); }}}); }},
                              {"T", [] { return Str("x"); }},
                              {"N", [] { return Object(objNull); }}});
         },
         "<</Res<</F/Helv>>/T (x)/N null>>"},
        {"key needing escapes", [] { return MakeDict({{"A B", [] { return Object(1); }}}); }, "<</A#20B 1>>"},
    };
    for (const auto &c : cases) {
        Object value = c.make();
        EXPECT_EQ(Serialize(writer, value), c.expected) << c.label;
    }
}

TEST_F(ValueTest, LevelZeroPutsEveryEntryOnItsOwnLine)
{
    settings.recompressStreamsFlateLevel = 0;
    Object dict = MakeDict({{"Type", [] { return Name("Page"); }},
                            {"Count", [] { return Object(1); }},
                            {"Kids", [] { return MakeArray({[] { return Ref(4, 0); }}); }}});
    EXPECT_EQ(Serialize(writer, dict), "<<\n/Type/Page\n/Count 1\n/Kids[4 0 R]\n>>");
    Object empty = MakeDict({});
    EXPECT_EQ(Serialize(writer, empty), "<<\n>>");
    // Only exactly 0 changes the layout.
    settings.recompressStreamsFlateLevel = -1;
    EXPECT_EQ(Serialize(writer, dict), "<</Type/Page/Count 1/Kids[4 0 R]>>");
}

TEST_F(ValueTest, ReferencesFollowRedirectsOneStep)
{
    writer.Table().Get(5).action = actionRedirect;
    writer.Table().Get(5).redirectNum = 9;
    writer.Table().Get(5).redirectGen = 2;
    writer.Table().Get(9).action = actionRedirect; // not followed further
    writer.Table().Get(9).redirectNum = 11;
    writer.Table().Get(6).action = actionFree;
    writer.Table().Get(6).redirectNum = 77; // ignored: not a redirect

    const struct {
        int num, gen;
        const char *expected;
    } cases[] = {{5, 0, "9 2 R"}, {9, 0, "11 0 R"}, {6, 0, "6 0 R"}, {7, 3, "7 3 R"}};
    for (const auto &c : cases) {
        Object ref = Ref(c.num, c.gen);
        EXPECT_EQ(Serialize(writer, ref), c.expected) << c.num;
    }
    // Looking references up creates no entries.
    EXPECT_EQ(writer.Table().Size(), 3u);
    EXPECT_EQ(writer.Table().Find(7), nullptr);
}

TEST_F(ValueTest, UnknownKindsWriteNothingAndReport)
{
    for (ObjType type : {objEOF, objNone}) {
        Object value(type);
        testing::internal::CaptureStderr();
        const std::string text = Serialize(writer, value);
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(text, "");
        EXPECT_EQ(err, "Unknown Object type (" + std::to_string(static_cast<int>(type)) + ") in WriteObject!\n");
    }
    // The surrounding value is still completed.
    Object arr = MakeArray({[] { return Object(1); }, [] { return Object(objEOF); }, [] { return Object(2); }});
    testing::internal::CaptureStderr();
    EXPECT_EQ(Serialize(writer, arr), "[1  2]");
    testing::internal::GetCapturedStderr();
}

TEST_F(ValueTest, DeepNestingIsBounded)
{
    Array *inner = new Array(nullptr);
    Object root(inner);
    for (int i = 0; i < 5000; ++i) {
        Array *next = new Array(nullptr);
        inner->add(Object(next));
        inner = next;
    }
    const std::string text = Serialize(writer, root);
    EXPECT_NE(text.find("null"), std::string::npos);
    EXPECT_LT(text.size(), 5000u);
}

TEST(ObjectTableTest, GetFindReset)
{
    ObjectTable table;
    EXPECT_EQ(table.Find(3), nullptr);
    ObjectTableEntry &e = table.Get(3);
    EXPECT_EQ(e.gen, 0);
    EXPECT_EQ(e.action, actionCopy);
    EXPECT_EQ(e.writeCallback, nullptr);
    e.gen = 4;
    e.action = actionStored;
    e.object = Object(42);
    EXPECT_EQ(&table.Get(3), &e);
    ASSERT_NE(table.Find(3), nullptr);
    EXPECT_EQ(table.Find(3)->gen, 4);
    ObjectTableEntry &fresh = table.Reset(3);
    EXPECT_EQ(fresh.gen, 0);
    EXPECT_EQ(fresh.action, actionCopy);
    EXPECT_TRUE(fresh.object.isNone());
    EXPECT_EQ(table.Size(), 1u);
}

// The reference RC4 and key derivation, from Nettle, for the seam tests.
std::string ReferenceEncrypt(const unsigned char *fileKey, size_t keyBytes, int num, int gen, const std::string &plain)
{
    unsigned char material[21];
    memcpy(material, fileKey, keyBytes);
    size_t n = keyBytes;
    material[n++] = num & 0xff;
    material[n++] = (num >> 8) & 0xff;
    material[n++] = (num >> 16) & 0xff;
    material[n++] = gen & 0xff;
    material[n++] = (gen >> 8) & 0xff;
    unsigned char digest[16];
    md5_ctx md5;
    md5_init(&md5);
    md5_update(&md5, n, material);
    md5_digest(&md5, 16, digest);
    arcfour_ctx rc4;
    arcfour_set_key(&rc4, std::min<size_t>(n, 16), digest);
    std::string out(plain.size(), '\0');
    arcfour_crypt(&rc4, plain.size(), reinterpret_cast<uint8_t *>(out.data()),
                  reinterpret_cast<const uint8_t *>(plain.data()));
    return out;
}

std::string UpperHex(const std::string &bytes)
{
    std::string out = "<";
    char two[3];
    for (unsigned char c : bytes) {
        snprintf(two, sizeof two, "%02X", c);
        out += two;
    }
    return out + ">";
}

TEST_F(ValueTest, EncryptedStringsAreUpperCaseHexExceptUnderExemptKeys)
{
    const unsigned char key5[5] = {1, 2, 3, 4, 5};
    const unsigned char key16[16] = {9, 8, 7, 6, 5, 4, 3, 2, 1, 0, 11, 12, 13, 14, 15, 16};
    const struct {
        const unsigned char *key;
        size_t bytes;
        int num, gen;
    } keys[] = {{key5, 5, 7, 0}, {key5, 5, 7, 1}, {key16, 16, 300000, 2}};
    for (const auto &k : keys) {
        writer.SetFileKey(k.key, k.bytes);
        writer.SetEncrypting(true);
        Object s = Str("Hello (world)");
        EXPECT_EQ(Serialize(writer, s, k.num, k.gen),
                  UpperHex(ReferenceEncrypt(k.key, k.bytes, k.num, k.gen, "Hello (world)")))
            << k.bytes << " " << k.gen;
    }
    // Two strings of one object restart the cipher: equal text, equal output.
    writer.SetFileKey(key5, 5);
    Object dict = MakeDict({{"A", [] { return Str("x"); }},
                            {"B", [] { return Str("x"); }},
                            {"U", [] { return Str("u"); }},
                            {"ID", [] { return MakeArray({[] { return Str("i"); }}); }},
                            {"C", [] { return MakeDict({{"O", [] { return Str("o"); }}, {"P", [] { return Str("x"); }}}); }}});
    const std::string x = UpperHex(ReferenceEncrypt(key5, 5, 4, 0, "x"));
    EXPECT_EQ(Serialize(writer, dict, 4, 0), "<</A " + x + "/B " + x + "/U (u)/ID[(i)]/C<</O (o)/P " + x + ">>>>");
    EXPECT_TRUE(writer.Encrypting());
}

TEST_F(ValueTest, StreamDataSinkEncryptsAcrossCalls)
{
    const std::string data = "0123456789abcdefghij";
    // Not encrypting: bytes unchanged.
    {
        char *buffer = nullptr;
        size_t size = 0;
        FILE *f = open_memstream(&buffer, &size);
        writer.AttachOutput(f);
        std::string copy = data;
        writer.WriteStreamData(3, 0, nullptr, 0, 0);
        writer.WriteStreamData(3, 0, reinterpret_cast<unsigned char *>(copy.data()), copy.size(), 1);
        writer.WriteStreamData(3, 0, nullptr, 0, 2);
        writer.DetachOutput();
        fclose(f);
        EXPECT_EQ(std::string(buffer, size), data);
        EXPECT_EQ(copy, data);
        free(buffer);
    }
    // Encrypting: one cipher stream over all blocks; the caller's buffer
    // holds the ciphertext afterwards.
    const unsigned char key[5] = {0xA, 0xB, 0xC, 0xD, 0xE};
    writer.SetFileKey(key, 5);
    writer.SetEncrypting(true);
    char *buffer = nullptr;
    size_t size = 0;
    FILE *f = open_memstream(&buffer, &size);
    writer.AttachOutput(f);
    std::string first = data.substr(0, 7);
    std::string second = data.substr(7);
    writer.WriteStreamData(12, 3, nullptr, 0, 0);
    writer.WriteStreamData(12, 3, reinterpret_cast<unsigned char *>(first.data()), first.size(), 1);
    writer.WriteStreamData(12, 3, reinterpret_cast<unsigned char *>(second.data()), second.size(), 1);
    writer.WriteStreamData(12, 3, nullptr, 0, 2);
    writer.DetachOutput();
    fclose(f);
    const std::string expected = ReferenceEncrypt(key, 5, 12, 3, data);
    EXPECT_EQ(std::string(buffer, size), expected);
    EXPECT_EQ(first + second, expected);
    free(buffer);
}

TEST_F(ValueTest, WritesWithoutOutputAreFailures)
{
    EXPECT_FALSE(writer.WriteBytes("x", 1));
    EXPECT_TRUE(writer.OutputFailed());
    EXPECT_EQ(writer.Tell(), -1);
}

TEST_F(ValueTest, SetStreamLengthReplacesInPlaceOrAppends)
{
    Object dict = MakeDict({{"Length", [] { return Object(5); }}, {"Filter", [] { return Name("X"); }}});
    writer.SetStreamLength(dict.getDict(), 42);
    EXPECT_EQ(Serialize(writer, dict), "<</Length 42/Filter/X>>");
    Object none = MakeDict({{"Filter", [] { return Name("X"); }}});
    writer.SetStreamLength(none.getDict(), 7);
    EXPECT_EQ(Serialize(writer, none), "<</Filter/X/Length 7>>");
    writer.SetStreamLength(none.getDict(), 6000000000LL);
    EXPECT_EQ(Serialize(writer, none), "<</Filter/X/Length 6000000000>>");
}

} // namespace

namespace {

std::vector<std::string> Keys(Dict *d)
{
    std::vector<std::string> keys;
    for (int i = 0; i < d->getLength(); ++i) {
        keys.push_back(d->getKey(i));
    }
    return keys;
}

TEST(DictHelperTest, RemoveKeepsTheOrderOfTheOtherEntries)
{
    for (int size : {3, 10, 40}) { // 40: large dictionaries are kept sorted by the reading core
        Dict *d = new Dict(static_cast<XRef *>(nullptr));
        Object holder(d);
        for (int i = size - 1; i >= 0; --i) {
            d->add(("K" + std::to_string(100 + i)).c_str(), Object(i));
        }
        d->hasKey("K100");
        std::vector<std::string> expected = Keys(d);
        const std::string victim = expected[1];
        expected.erase(expected.begin() + 1);
        osselwriter::RemoveKeepingOrder(d, victim.c_str());
        EXPECT_EQ(Keys(d), expected) << size;
        osselwriter::RemoveKeepingOrder(d, "Absent");
        EXPECT_EQ(Keys(d), expected) << size;
        // Values stay with their keys.
        Object v = d->lookup(expected[0].c_str());
        ASSERT_TRUE(v.isInt());
        EXPECT_EQ(v.getInt(), atoi(expected[0].c_str() + 1) - 100);
    }
}

} // namespace
