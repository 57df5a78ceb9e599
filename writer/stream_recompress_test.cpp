// Stream recompression: which streams are recompressed, what their
// dictionaries and data become, levels, large and encrypted streams.
#include "writer_test_util.h"

#include <nettle/arcfour.h>
#include <nettle/md5.h>

#include <random>

using namespace writertest;
using osseltest::PdfBuilder;

namespace {

struct StreamParts {
    bool ok = false;
    std::string dict;
    std::string data;
};

// Splits "N G obj\n<<dict>>\nstream\ndata endstream\nendobj\n".
StreamParts SplitStream(const std::string &objectText)
{
    StreamParts p;
    const size_t head = objectText.find('\n');
    const size_t mark = objectText.find("\nstream\n");
    const size_t end = objectText.rfind("endstream\nendobj\n");
    if (head == std::string::npos || mark == std::string::npos || end == std::string::npos || end < mark + 8) {
        return p;
    }
    p.dict = objectText.substr(head + 1, mark - head - 1);
    p.data = objectText.substr(mark + 8, end - mark - 8);
    p.ok = true;
    return p;
}

const std::string kHelloHex = "48656c6c6f20776f726c642c2068656c6c6f20776f726c6421>";
const std::string kHello = "Hello world, hello world!";
const std::string kA85 = "87cURD_*#OARfXqE,oN2F(Jl)GAhM<A0E'L0etOA2)[BQ3<~>";
const std::string kA85Plain = "Hello, recompressed world! 0123456789";

struct SelectionCase {
    const char *label;
    std::string dictEntries;
    std::string data;
    bool recompressed;
    std::string expectedDict; // with "N" standing for the written length
    std::string decoded;      // what the written stream decodes to
};

std::string WithLength(std::string pattern, size_t n)
{
    const size_t at = pattern.find("/Length N");
    if (at != std::string::npos) {
        pattern.replace(at, 9, "/Length " + std::to_string(n));
    }
    return pattern;
}

TEST(StreamRecompressTest, Selection)
{
    const std::string nineteen = "0123456789abcdefghi";
    const std::string twenty = "0123456789abcdefghij";
    const std::string imageData(100, '\x33');
    const SelectionCase cases[] = {
        {"19 bytes are copied", "", nineteen, false, "<</Length 19>>", nineteen},
        {"20 bytes are recompressed", "", twenty, true, "<</Length N/Filter/FlateDecode>>", twenty},
        {"filters and parameters are replaced", "/Filter /ASCIIHexDecode /DecodeParms << /X 1 >> /Foo 1", kHelloHex,
         true, "<</Foo 1/Length N/Filter/FlateDecode>>", kHello},
        {"filter arrays", "/Filter [/ASCIIHexDecode] /DecodeParms [null]", kHelloHex, true,
         "<</Length N/Filter/FlateDecode>>", kHello},
        {"ASCII85", "/Filter /ASCII85Decode", kA85, true, "<</Length N/Filter/FlateDecode>>", kA85Plain},
        {"forms are recompressed", "/Subtype /Form /BBox [0 0 1 1]", twenty + twenty, true,
         "<</Subtype/Form/BBox[0 0 1 1]/Length N/Filter/FlateDecode>>", twenty + twenty},
        {"images are copied", "/Subtype /Image /Width 10 /Height 10 /ColorSpace /DeviceGray /BitsPerComponent 8",
         imageData, false,
         "<</Subtype/Image/Width 10/Height 10/ColorSpace/DeviceGray/BitsPerComponent 8/Length 100>>", imageData},
        {"images behind a reference are copied",
         "/Subtype 6 0 R /Width 10 /Height 10 /ColorSpace /DeviceGray /BitsPerComponent 8", imageData, false,
         "<</Subtype 6 0 R/Width 10/Height 10/ColorSpace/DeviceGray/BitsPerComponent 8/Length 100>>", imageData},
        {"unknown filters are copied", "/Filter /BrotliDecode", twenty + "xyz", false,
         "<</Filter/BrotliDecode/Length 23>>", ""},
        {"unknown filter in a chain is copied", "/Filter [/FlateDecode /NoSuchDecode]", twenty, false,
         "<</Filter[/FlateDecode/NoSuchDecode]/Length 20>>", ""},
        {"encoded images keep their filter", "/Subtype /Image /Filter /ASCIIHexDecode", kHelloHex, false,
         "<</Subtype/Image/Filter/ASCIIHexDecode/Length 51>>", kHello},
    };
    for (const auto &c : cases) {
        for (bool recompressOption : {true, false}) {
            PdfBuilder b = PdfBuilder::SimplePage("");
            b.Stream(5, c.dictEntries, c.data);
            b.Object(6, "/Image");
            WriterRun run(b);
            run.settings.recompressStreams = recompressOption; // the writer's rule ignores it
            ASSERT_TRUE(run.Write()) << c.label;
            StreamParts parts = SplitStream(ObjectText(run.output, 5));
            ASSERT_TRUE(parts.ok) << c.label;
            EXPECT_EQ(parts.dict, WithLength(c.expectedDict, parts.data.size())) << c.label;
            if (c.recompressed) {
                ASSERT_GE(parts.data.size(), 2u);
                EXPECT_EQ(parts.data.substr(0, 2), "\x78\xDA") << c.label;
                EXPECT_EQ(Inflate(parts.data), c.decoded) << c.label;
            } else {
                EXPECT_EQ(parts.data, c.data) << c.label;
            }
            auto out = OpenDoc(run.outPath);
            ASSERT_TRUE(out->isOk()) << c.label;
            if (!c.decoded.empty()) {
                EXPECT_EQ(DecodedStream(out.get(), 5), c.decoded) << c.label;
            }
            std::string log;
            EXPECT_TRUE(QpdfCheck(run.outPath, &log)) << c.label << "\n" << log;
        }
    }
}

TEST(StreamRecompressTest, Levels)
{
    const struct {
        int level;
        std::string dict;    // "N" for the length
        std::string header;  // first bytes of the data, empty for raw
    } cases[] = {
        {9, "<</Length N/Filter/FlateDecode>>", "\x78\xDA"},
        {1, "<</Length N/Filter/FlateDecode>>", std::string("\x78\x01", 2)},
        {6, "<</Length N/Filter/FlateDecode>>", "\x78\x9C"},
        {12, "<</Length N/Filter/FlateDecode>>", "\x78\xDA"},
        {0, "<<\n/Length N\n>>", ""},
        {-3, "<</Length N>>", ""},
    };
    for (const auto &c : cases) {
        PdfBuilder b = PdfBuilder::SimplePage("");
        b.Stream(5, "/Filter /ASCIIHexDecode /DecodeParms << /X 1 >>", kHelloHex);
        WriterRun run(b);
        run.settings.recompressStreamsFlateLevel = c.level;
        ASSERT_TRUE(run.Write()) << c.level;
        StreamParts parts = SplitStream(ObjectText(run.output, 5));
        ASSERT_TRUE(parts.ok) << c.level;
        EXPECT_EQ(parts.dict, WithLength(c.dict, parts.data.size())) << c.level;
        if (c.header.empty()) {
            EXPECT_EQ(parts.data, kHello) << c.level;
        } else {
            EXPECT_EQ(parts.data.substr(0, 2), c.header) << c.level;
            EXPECT_EQ(Inflate(parts.data), kHello) << c.level;
        }
        std::string log;
        EXPECT_TRUE(QpdfCheck(run.outPath, &log)) << c.level << "\n" << log;
    }
}

TEST(StreamRecompressTest, LevelZeroWritesAReadableFile)
{
    WriterRun run(PdfBuilder::SimplePage("BT /F1 12 Tf 72 712 Td (Readable) Tj ET"));
    run.settings.recompressStreamsFlateLevel = 0;
    ASSERT_TRUE(run.Write());
    EXPECT_NE(run.output.find("1 0 obj\n<<\n/Type/Catalog\n/Pages 2 0 R\n>>\nendobj\n"), std::string::npos);
    EXPECT_NE(run.output.find("stream\nBT /F1 12 Tf 72 712 Td (Readable) Tj ETendstream"), std::string::npos);
    EXPECT_NE(run.output.find("trailer\n<<\n/Size 5\n/Root 1 0 R\n>>\nstartxref\n"), std::string::npos);
    std::string log;
    EXPECT_TRUE(QpdfCheck(run.outPath, &log)) << log;
}

TEST(StreamRecompressTest, EmptyDecodedDataGivesAnEmptyFlateStream)
{
    PdfBuilder b = PdfBuilder::SimplePage("");
    b.Stream(5, "/Filter /ASCIIHexDecode", std::string(24, ' ') + ">");
    WriterRun run(b);
    ASSERT_TRUE(run.Write());
    StreamParts parts = SplitStream(ObjectText(run.output, 5));
    ASSERT_TRUE(parts.ok);
    EXPECT_EQ(parts.dict, "<</Length 8/Filter/FlateDecode>>");
    EXPECT_EQ(parts.data, std::string("\x78\xDA\x03\x00\x00\x00\x00\x01", 8));
}

std::string RandomBytes(size_t n, unsigned seed)
{
    std::mt19937 gen(seed);
    std::string s(n, '\0');
    for (auto &c : s) {
        c = static_cast<char>(gen() & 0xff);
    }
    return s;
}

TEST(StreamRecompressTest, LargeStreamsSpanSeveralBlocksAndEncryptAsOneStream)
{
    // Incompressible data: the compressed stream exceeds one output block.
    const std::string data = RandomBytes(300000, 7);
    const unsigned char key[16] = {1, 1, 2, 3, 5, 8, 13, 21, 34, 55, 89, 144, 233, 121, 98, 219};
    for (bool encrypt : {false, true}) {
        PdfBuilder b = PdfBuilder::SimplePage("");
        b.Stream(5, "", data);
        WriterRun run(b);
        if (encrypt) {
            run.writer->SetFileKey(key, 16);
            run.writer->SetEncrypting(true);
        }
        ASSERT_TRUE(run.Write()) << encrypt;
        StreamParts parts = SplitStream(ObjectText(run.output, 5));
        ASSERT_TRUE(parts.ok);
        EXPECT_GT(parts.data.size(), 0x40400u);
        EXPECT_EQ(parts.dict, "<</Length " + std::to_string(parts.data.size()) + "/Filter/FlateDecode>>");
        std::string flate = parts.data;
        if (encrypt) {
            unsigned char material[21];
            memcpy(material, key, 16);
            const unsigned char tail[5] = {5, 0, 0, 0, 0};
            memcpy(material + 16, tail, 5);
            unsigned char digest[16];
            md5_ctx md5;
            md5_init(&md5);
            md5_update(&md5, 21, material);
            md5_digest(&md5, 16, digest);
            arcfour_ctx rc4;
            arcfour_set_key(&rc4, 16, digest);
            arcfour_crypt(&rc4, flate.size(), reinterpret_cast<uint8_t *>(flate.data()),
                          reinterpret_cast<const uint8_t *>(flate.data()));
        }
        EXPECT_EQ(Inflate(flate), data) << encrypt;
    }
}

TEST(StreamRecompressTest, StreamsDecodingBeyondTheLimitAreCopiedAsStored)
{
    PdfBuilder b = PdfBuilder::SimplePage("");
    const std::string plain(5000, 'z');
    b.Stream(5, "/Filter /FlateDecode", osseltest::Deflate(plain));
    b.Stream(6, "/Filter /ASCIIHexDecode", kHelloHex);
    WriterRun run(b);
    run.writer->SetDecodedStreamLimit(1000);
    ASSERT_TRUE(run.Write());
    StreamParts big = SplitStream(ObjectText(run.output, 5));
    ASSERT_TRUE(big.ok);
    EXPECT_EQ(big.dict, "<</Filter/FlateDecode/Length " + std::to_string(big.data.size()) + ">>");
    EXPECT_EQ(big.data, osseltest::Deflate(plain));
    StreamParts small = SplitStream(ObjectText(run.output, 6));
    ASSERT_TRUE(small.ok);
    EXPECT_EQ(Inflate(small.data), kHello);
    std::string log;
    EXPECT_TRUE(QpdfCheck(run.outPath, &log)) << log;
}

TEST(StreamRecompressTest, LengthAlwaysMatchesTheWrittenData)
{
    // Declared Lengths that are wrong, missing or not integers.
    const char *dicts[] = {"/Length 10", "/Length 500", "", "/Length /Bad", "/Length 9 0 R",
                           "/Subtype /Image /Length 10", "/Subtype /Image /Length 9999"};
    for (const char *dict : dicts) {
        PdfBuilder b = PdfBuilder::SimplePage("");
        b.Object(5, std::string("<< ") + dict + " >>\nstream\n0123456789012345678901234567890123456789\nendstream");
        WriterRun run(b);
        if (!run.doc->isOk()) {
            continue;
        }
        ASSERT_TRUE(run.Write()) << dict;
        // The data may run past the input's endstream (the reading core
        // decides): go by the written Length.
        const std::string &out = run.output;
        const size_t obj = out.find("\n5 0 obj\n");
        ASSERT_NE(obj, std::string::npos) << dict;
        const size_t length = out.find("/Length ", obj);
        const size_t data = out.find(">>\nstream\n", obj);
        ASSERT_LT(length, data) << dict;
        const long long n = atoll(out.c_str() + length + 8);
        EXPECT_EQ(out.compare(data + 10 + static_cast<size_t>(n), 17, "endstream\nendobj\n"), 0) << dict;
        EXPECT_TRUE(ParseTail(run.output).ok) << dict;
    }
}

} // namespace
