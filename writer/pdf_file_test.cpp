// File structure: header, object loop, cross-reference table, trailer,
// the growth check of callback-written objects, progress and cancel,
// atomic output and write failures.
#include "writer_test_util.h"

#include <Dict.h>
#include <Page.h>

#include <dirent.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <cmath>
#include <random>

using namespace writertest;
using osseltest::PdfBuilder;

namespace {

// A catalog, pages tree, one page and its content stream, plus an image.
PdfBuilder SmallDocument()
{
    PdfBuilder b = PdfBuilder::SimplePage("q 100 0 0 30 0 0 cm /Im1 Do Q BT /F1 12 Tf (Hello) Tj ET",
                                          "/XObject << /Im1 5 0 R >>");
    b.Stream(5, "/Type /XObject /Subtype /Image /Width 1 /Height 30 /ColorSpace /DeviceGray /BitsPerComponent 8",
             std::string(30, '\x80'));
    return b;
}

// Every cross-reference line: 20 bytes; in-use lines point at their object.
void ExpectSoundTail(const std::string &file, int count)
{
    FileTail tail = ParseTail(file);
    ASSERT_TRUE(tail.ok);
    EXPECT_EQ(tail.first, 0);
    EXPECT_EQ(tail.count, count);
    ASSERT_EQ(tail.lines.size(), static_cast<size_t>(count));
    EXPECT_EQ(tail.lines[0], "0000000000 65535 f \n");
    for (int i = 0; i < count; ++i) {
        const std::string &line = tail.lines[i];
        ASSERT_EQ(line.size(), 20u) << i;
        if (line[17] == 'n') {
            const long long offset = atoll(line.substr(0, 10).c_str());
            const int gen = atoi(line.substr(11, 5).c_str());
            const std::string head = std::to_string(i) + " " + std::to_string(gen) + " obj\n";
            EXPECT_EQ(file.compare(static_cast<size_t>(offset), head.size(), head), 0) << "object " << i;
        } else {
            EXPECT_EQ(line, "0000000000 65535 f \n") << i;
        }
    }
    const std::string expectedEnd = "\nstartxref\n" + std::to_string(tail.startxref) + "\n%%EOF\n";
    EXPECT_EQ(file.substr(file.size() - expectedEnd.size()), expectedEnd);
}

bool LeftoverTempFiles(const std::string &finalPath);

bool LineIsFree(const std::string &file, int num)
{
    FileTail tail = ParseTail(file);
    return tail.ok && num < static_cast<int>(tail.lines.size()) && tail.lines[num] == "0000000000 65535 f \n";
}

TEST(WriteFileTest, SmallDocumentLayout)
{
    WriterRun run(SmallDocument());
    ASSERT_TRUE(run.doc->isOk());
    ASSERT_TRUE(run.Write());
    const std::string &out = run.output;
    const std::string expectedStart = std::string("%PDF-1.4\n%\xE2\xE3\xCF\xD3\n") +
                                      "1 0 obj\n<</Type/Catalog/Pages 2 0 R>>\nendobj\n" +
                                      "2 0 obj\n<</Type/Pages/Kids[3 0 R]/Count 1>>\nendobj\n" +
                                      "3 0 obj\n<</Type/Page/Parent 2 0 R/MediaBox[0 0 612 792]"
                                      "/Resources<</XObject<</Im1 5 0 R>>>>/Contents 4 0 R>>\nendobj\n";
    EXPECT_EQ(out.substr(0, expectedStart.size()), expectedStart);
    ExpectSoundTail(out, 6);
    FileTail tail = ParseTail(out);
    EXPECT_EQ(tail.trailer, "<</Size 6/Root 1 0 R>>");
    // The image is copied unchanged; the content stream is recompressed.
    EXPECT_EQ(ObjectText(out, 5), "5 0 obj\n<</Type/XObject/Subtype/Image/Width 1/Height 30/ColorSpace/DeviceGray"
                                  "/BitsPerComponent 8/Length 30>>\nstream\n" +
                                      std::string(30, '\x80') + "endstream\nendobj\n");
    EXPECT_NE(ObjectText(out, 4).find("/Filter/FlateDecode>>\nstream\n"), std::string::npos);
    std::string log;
    EXPECT_TRUE(QpdfCheck(run.outPath, &log)) << log;
    EXPECT_FALSE(run.rebuilt);
}

TEST(WriteFileTest, HeaderVersion)
{
    const struct {
        const char *version;
        const char *catalogExtra;
        const char *expected;
    } cases[] = {
        {"1.4", "", "%PDF-1.4\n"},
        {"1.7", "", "%PDF-1.7\n"},
        {"2.0", "", "%PDF-2.0\n"},
        {"", "", "%PDF-0.0\n"},
        {"1.3", "/Version /1.6", "%PDF-1.6\n"},
    };
    for (const auto &c : cases) {
        PdfBuilder b(c.version);
        b.Object(1, std::string("<< /Type /Catalog /Pages 2 0 R ") + c.catalogExtra + " >>");
        b.Object(2, "<< /Type /Pages /Kids [] /Count 0 >>");
        WriterRun run(b);
        ASSERT_TRUE(run.Write()) << c.version;
        EXPECT_EQ(run.output.substr(0, strlen(c.expected)), c.expected) << c.version;
        EXPECT_EQ(run.output.substr(strlen(c.expected), 6), "%\xE2\xE3\xCF\xD3\n");
    }
}

TEST(WriteFileTest, PlannedActions)
{
    PdfBuilder b = SmallDocument();
    b.Object(6, "<< /Kept (yes) >>");
    b.Object(7, "<< /Dropped true >>");
    b.Object(8, "[6 0 R 9 0 R 9 0 R]");
    b.Object(9, "<< /Duplicate true >>");
    b.Object(10, "(generation two)", 2);
    b.Free(11);
    b.Object(12, "<< /Original true >>");
    WriterRun run(b);
    ObjectTable &t = run.writer->Table();
    t.Get(7).action = actionFree;
    t.Get(9).action = actionRedirect;
    t.Get(9).redirectNum = 6;
    t.Get(9).redirectGen = 0;
    t.Get(10).gen = 2;
    t.Get(12).action = actionStored;
    {
        Dict *d = new Dict(run.doc->getXRef());
        d->add("Replaced", Object(true));
        t.Get(12).object = Object(d);
    }
    t.Get(11).action = 99; // unknown actions behave like actionFree
    ASSERT_TRUE(run.Write());
    const std::string &out = run.output;
    ExpectSoundTail(out, 13);
    EXPECT_TRUE(LineIsFree(out, 7));
    EXPECT_TRUE(LineIsFree(out, 9));
    EXPECT_TRUE(LineIsFree(out, 11));
    EXPECT_EQ(ObjectText(out, 7), "");
    EXPECT_EQ(ObjectText(out, 9), "");
    EXPECT_EQ(ObjectText(out, 8), "8 0 obj\n[6 0 R 6 0 R 6 0 R]\nendobj\n");
    EXPECT_EQ(ObjectText(out, 10, 2), "10 2 obj\n(generation two)\nendobj\n");
    EXPECT_EQ(ParseTail(out).lines[10].substr(11, 5), "00002");
    EXPECT_EQ(ObjectText(out, 12), "12 0 obj\n<</Replaced true>>\nendobj\n");
    // The table is not changed by writing; the stored object stays.
    ASSERT_NE(t.Find(12), nullptr);
    EXPECT_TRUE(t.Find(12)->object.isDict());
    std::string log;
    EXPECT_TRUE(QpdfCheck(run.outPath, &log)) << log;
}

TEST(WriteFileTest, UnfetchableObjectsAreNullWithoutRebuildingTheInputTable)
{
    PdfBuilder b = SmallDocument();
    b.Object(6, "<< /Real true >>");
    b.Free(7, 3);
    WriterRun run(b);
    ASSERT_TRUE(run.doc->isOk());
    const int size = run.doc->getXRef()->getNumObjects();
    run.writer->Table().Get(6).gen = 4; // wrong generation
    ASSERT_TRUE(run.Write());
    EXPECT_FALSE(run.rebuilt);
    EXPECT_EQ(run.doc->getXRef()->getNumObjects(), size);
    EXPECT_EQ(ObjectText(run.output, 6, 4), "6 4 obj\nnull\nendobj\n");
    EXPECT_EQ(ObjectText(run.output, 7), "7 0 obj\nnull\nendobj\n");
    ExpectSoundTail(run.output, 8);
}

TEST(WriteFileTest, DamagedEntriesAreRepairedWhenTheWriterIsMade)
{
    PdfBuilder b = SmallDocument();
    b.Object(6, "<< /Six true >>");
    b.Object(7, "<< /Seven true >>");
    std::string pdf = b.Build();
    // The entries of 6 and 7 point at each other's object.
    const size_t table = pdf.rfind("xref\n0 8\n") + 9;
    const std::string line6 = pdf.substr(table + 6 * 20, 20);
    const std::string line7 = pdf.substr(table + 7 * 20, 20);
    pdf.replace(table + 6 * 20, 20, line7);
    pdf.replace(table + 7 * 20, 20, line6);
    const std::string path = osseltest::TempPath(".pdf");
    FILE *f = fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    fwrite(pdf.data(), 1, pdf.size(), f);
    fclose(f);
    bool rebuilt = false;
    std::unique_ptr<PDFDoc> doc = OpenDoc(path, &rebuilt);
    unlink(path.c_str());
    ASSERT_TRUE(doc->isOk());
    ASSERT_FALSE(rebuilt);
    {
        // The rebuild happens before anything can be planned from the table.
        OptimizerSettings settings = DefaultSettings();
        PDFWriter writer(doc.get(), &settings);
        EXPECT_TRUE(rebuilt);
    }
    doc.reset();

    WriterRun run(pdf);
    ASSERT_TRUE(run.doc->isOk());
    EXPECT_TRUE(run.rebuilt);
    ASSERT_TRUE(run.Write());
    EXPECT_EQ(ObjectText(run.output, 6), "6 0 obj\n<</Six true>>\nendobj\n");
    EXPECT_EQ(ObjectText(run.output, 7), "7 0 obj\n<</Seven true>>\nendobj\n");
    EXPECT_NE(ObjectText(run.output, 5).find("/Subtype/Image"), std::string::npos);
    ExpectSoundTail(run.output, run.doc->getXRef()->getNumObjects());
    std::string log;
    EXPECT_TRUE(QpdfCheck(run.outPath, &log)) << log;
}

TEST(WriteFileTest, DamagedInputsNeverCrash)
{
    // Truncations and byte changes of a small document: whatever opens is
    // written as a complete file or refused, never a crash or a hang.
    PdfBuilder b = SmallDocument();
    b.StreamIndirectLength(6, "/Filter /FlateDecode", osseltest::Deflate(std::string(3000, 'q')), 7);
    b.Object(8, "[1 2.5 (str) /N << /K [6 0 R 99 0 R] >>]");
    const std::string pdf = b.Build();
    std::mt19937 gen(1234);
    int written = 0;
    for (int round = 0; round < 120; ++round) {
        std::string damaged = pdf;
        if (round % 3 == 0) {
            damaged.resize(gen() % pdf.size());
        } else {
            for (int k = 0; k < 1 + round % 7; ++k) {
                damaged[gen() % damaged.size()] = static_cast<char>(gen() & 0xff);
            }
        }
        WriterRun run(damaged);
        if (!run.doc->isOk()) {
            continue;
        }
        if (run.Write()) {
            ++written;
            EXPECT_TRUE(ParseTail(run.output).ok) << round;
        }
    }
    EXPECT_GT(written, 0);
}

TEST(WriteFileTest, IndirectLengthObjects)
{
    PdfBuilder b = SmallDocument();
    // Stream 7 has its Length in 6 (written before it) and stream 8 in 9
    // (after it); stream 10 names a dictionary as its Length, which is damage.
    b.StreamIndirectLength(7, "/Subtype /Form /BBox [0 0 1 1]", "0 0 m 1 1 l S 0 0 m 1 1 l S", 6);
    b.StreamIndirectLength(8, "", "short", 9);
    b.Object(11, "<< /Precious true >>");
    b.Object(10, "<< /Length 11 0 R >>\nstream\n0123456789012345678901234\nendstream");
    WriterRun run(b);
    ASSERT_TRUE(run.Write());
    const std::string &out = run.output;
    EXPECT_EQ(ObjectText(out, 6), "6 0 obj\n27\nendobj\n");
    EXPECT_TRUE(LineIsFree(out, 9));
    EXPECT_EQ(ObjectText(out, 9), "");
    EXPECT_EQ(ObjectText(out, 8), "8 0 obj\n<</Length 5>>\nstream\nshortendstream\nendobj\n");
    ASSERT_NE(run.writer->Table().Find(6), nullptr);
    EXPECT_EQ(run.writer->Table().Find(6)->action, actionFree);
    // A Length reference to something other than a number frees nothing.
    EXPECT_EQ(ObjectText(out, 11), "11 0 obj\n<</Precious true>>\nendobj\n");
    EXPECT_EQ(run.writer->Table().Find(11), nullptr);
    ExpectSoundTail(out, 12);
}

// ---- Growth check -------------------------------------------------------

struct CallbackScript {
    int32_t result = 0;
    std::string text; // written after "N G obj\n"
    int calls = 0;
    int64_t seekTo = -1; // seek there after writing, then write one byte
    bool seekWorked = false;
};
CallbackScript g_script;

int32_t ScriptedCallback(PDFWriter *writer, int32_t num, int32_t gen)
{
    ++g_script.calls;
    writer->Printf("%d %d obj%c", num, gen, '\n');
    writer->WriteBytes(g_script.text.data(), g_script.text.size());
    if (g_script.seekTo >= 0) {
        g_script.seekWorked = writer->Seek(g_script.seekTo) && writer->WriteBytes("%", 1) &&
                              writer->Tell() == g_script.seekTo + 1;
    }
    return g_script.result;
}

std::string CallbackObject(int length)
{
    return "<</Type/XObject/Subtype/Image/Width 1/Height " + std::to_string(length) +
           "/ColorSpace/DeviceGray/BitsPerComponent 8/Length " + std::to_string(length) + "/Marker true>>\nstream\n" +
           std::string(static_cast<size_t>(length), 'A') + "\nendstream\nendobj\n";
}

TEST(GrowthCheckTest, AcceptOrFallBack)
{
    const struct {
        const char *label;
        bool preventGrowth;
        int32_t result;
        int written; // bytes of stream data the callback writes
        bool accepted;
    } cases[] = {
        {"equal length, prevent growth", true, 30, 30, true},
        {"shorter, prevent growth", true, 10, 10, true},
        {"one byte longer, prevent growth", true, 31, 31, false},
        {"one byte longer, growth allowed", false, 31, 31, true},
        {"failed", true, -1, 12, false},
        {"failed with growth allowed", false, 0, 12, false},
    };
    for (const auto &c : cases) {
        WriterRun run(SmallDocument());
        run.settings.preventGrowth = c.preventGrowth;
        ObjectTableEntry &e = run.writer->Table().Get(5);
        e.action = actionCallback;
        e.writeCallback = ScriptedCallback;
        g_script = CallbackScript();
        g_script.result = c.result;
        g_script.text = CallbackObject(c.written);
        if (c.result < 1) {
            g_script.text = "<</Partial"; // a failure in the middle of its object
        }
        ASSERT_TRUE(run.Write()) << c.label;
        EXPECT_EQ(g_script.calls, 1) << c.label;
        const std::string obj = ObjectText(run.output, 5);
        if (c.accepted) {
            EXPECT_EQ(obj, "5 0 obj\n" + CallbackObject(c.written)) << c.label;
        } else {
            EXPECT_EQ(run.output.find("/Marker"), std::string::npos) << c.label;
            EXPECT_EQ(run.output.find("Partial"), std::string::npos) << c.label;
            EXPECT_NE(run.output.find("endobj\n5 0 obj\n<</Type/XObject"), std::string::npos) << c.label;
            EXPECT_NE(obj.find("/Length 30>>\nstream\n" + std::string(30, '\x80') + "endstream"), std::string::npos)
                << c.label;
        }
        ExpectSoundTail(run.output, 6);
        std::string log;
        EXPECT_TRUE(QpdfCheck(run.outPath, &log)) << c.label << "\n" << log;
    }
}

TEST(GrowthCheckTest, UnusableInputLengthKeepsTheInputObject)
{
    // The image's Length is a reference to a name: no comparison possible.
    PdfBuilder b = SmallDocument();
    b.Object(5, "<< /Type /XObject /Subtype /Image /Width 1 /Height 4 /ColorSpace /DeviceGray /BitsPerComponent 8 "
                "/Length 6 0 R >>\nstream\nabcd\nendstream");
    b.Object(6, "/NotANumber");
    for (bool prevent : {true, false}) {
        WriterRun run(b);
        run.settings.preventGrowth = prevent;
        ObjectTableEntry &e = run.writer->Table().Get(5);
        e.action = actionCallback;
        e.writeCallback = ScriptedCallback;
        g_script = CallbackScript();
        g_script.result = 1;
        g_script.text = CallbackObject(1);
        ASSERT_TRUE(run.Write());
        EXPECT_EQ(run.output.find("/Marker") != std::string::npos, !prevent) << prevent;
        EXPECT_EQ(ObjectText(run.output, 6), "6 0 obj\n/NotANumber\nendobj\n");
        ExpectSoundTail(run.output, 7);
    }
}

TEST(GrowthCheckTest, MissingCallbackFallsBack)
{
    WriterRun run(SmallDocument());
    run.writer->Table().Get(5).action = actionCallback;
    ASSERT_TRUE(run.Write());
    EXPECT_NE(ObjectText(run.output, 5).find(std::string(30, '\x80')), std::string::npos);
}

TEST(GrowthCheckTest, OffsetBeyondTenDigitsFailsCleanly)
{
    // The callback leaves the position past 10^10 bytes (a sparse file), so
    // the next object's offset cannot be written in the table.
    WriterRun run(SmallDocument());
    run.writer->Table().Get(3).action = actionCallback;
    run.writer->Table().Get(3).writeCallback = ScriptedCallback;
    run.settings.preventGrowth = false;
    g_script = CallbackScript();
    g_script.result = 5;
    g_script.text = "<<>>\nendobj\n";
    g_script.seekTo = 10000000000LL;
    const std::string path = osseltest::TempPath(".pdf");
    EXPECT_FALSE(run.writer->WriteFile(path.c_str()));
    EXPECT_TRUE(g_script.seekWorked);
    struct stat st;
    EXPECT_NE(stat(path.c_str(), &st), 0);
    EXPECT_FALSE(LeftoverTempFiles(path));
}

// ---- Trailer --------------------------------------------------------------

TEST(TrailerTest, IncrementalUpdateLosesPrev)
{
    PdfBuilder b = SmallDocument();
    b.TrailerExtra("/Info 6 0 R /ID [<00112233445566778899aabbccddeeff> <00112233445566778899aabbccddeeff>]");
    b.Object(6, "<< /Producer (test) >>");
    std::string base = b.Build();
    const long long prevXref = atoll(base.c_str() + base.rfind("startxref\n") + 10);
    const size_t objPos = base.size();
    base += "6 0 obj\n<< /Producer (updated) >>\nendobj\n";
    const size_t xrefPos = base.size();
    char line[32];
    snprintf(line, sizeof line, "%010zu 00000 n \n", objPos);
    base += std::string("xref\n0 1\n0000000000 65535 f \n6 1\n") + line + "trailer\n<< /Size 7 /Root 1 0 R /Info 6 0 R /Prev " +
            std::to_string(prevXref) + " >>\nstartxref\n" + std::to_string(xrefPos) + "\n%%EOF\n";
    WriterRun run(base);
    ASSERT_TRUE(run.doc->isOk());
    ASSERT_TRUE(run.Write());
    EXPECT_EQ(ParseTail(run.output).trailer, "<</Size 7/Root 1 0 R/Info 6 0 R>>");
    EXPECT_EQ(ObjectText(run.output, 6), "6 0 obj\n<</Producer (updated)>>\nendobj\n");
    ExpectSoundTail(run.output, 7);
    std::string log;
    EXPECT_TRUE(QpdfCheck(run.outPath, &log)) << log;
}

TEST(TrailerTest, HybridInputLosesXRefStm)
{
    PdfBuilder b = SmallDocument();
    b.TrailerExtra("/XRefStm XREFPOS /Info 6 0 R");
    b.Object(6, "<< /Producer (test) >>");
    std::string pdf = b.Build();
    // XRefStm points at the classic table (not a stream: the reading core
    // repairs the file when it opens it).
    const std::string xrefPos = std::to_string(pdf.rfind("xref\n0 "));
    const std::string padded = xrefPos + std::string(7 - xrefPos.size(), ' ');
    pdf.replace(pdf.find("XREFPOS"), 7, padded);
    WriterRun run(pdf);
    ASSERT_TRUE(run.doc->isOk());
    ASSERT_TRUE(run.doc->getXRef()->getTrailerDict()->getDict()->hasKey("XRefStm"));
    const int count = run.doc->getXRef()->getNumObjects();
    ASSERT_TRUE(run.Write());
    EXPECT_EQ(ParseTail(run.output).trailer, "<</Size " + std::to_string(count) + "/Root 1 0 R/Info 6 0 R>>");
    std::string log;
    EXPECT_TRUE(QpdfCheck(run.outPath, &log)) << log;
}

TEST(TrailerTest, CrossReferenceStreamInputKeepsItsEntriesInOrder)
{
    PdfBuilder b = SmallDocument();
    b.Object(6, "<< /Producer (test) >>");
    b.TrailerExtra("/Info 6 0 R");
    const std::string plain = osseltest::TempPath(".pdf");
    const std::string packed = osseltest::TempPath(".pdf");
    ASSERT_TRUE(b.WriteTo(plain));
    ASSERT_EQ(osseltest::RunCommand("qpdf --object-streams=generate '" + plain + "' '" + packed + "'"), 0);
    WriterRun run(osseltest::ReadFile(packed));
    unlink(plain.c_str());
    unlink(packed.c_str());
    ASSERT_TRUE(run.doc->isOk());
    ASSERT_TRUE(run.doc->getXRef()->isXRefStream());
    std::vector<std::string> keys;
    Dict *trailer = run.doc->getXRef()->getTrailerDict()->getDict();
    for (int i = 0; i < trailer->getLength(); ++i) {
        if (strcmp(trailer->getKey(i), "Prev") != 0) {
            keys.push_back(trailer->getKey(i));
        }
    }
    const int count = run.doc->getXRef()->getNumObjects();
    ASSERT_TRUE(run.Write());
    ExpectSoundTail(run.output, count);
    const std::string text = ParseTail(run.output).trailer;
    size_t pos = 0;
    for (const auto &key : keys) {
        const size_t at = text.find("/" + key, pos);
        ASSERT_NE(at, std::string::npos) << key << " in " << text;
        pos = at + 1;
    }
    EXPECT_NE(text.find("/Type/XRef"), std::string::npos);
    EXPECT_NE(text.find("/Size " + std::to_string(count)), std::string::npos);
    EXPECT_EQ(text.find("/Prev"), std::string::npos);
    std::string log;
    EXPECT_TRUE(QpdfCheck(run.outPath, &log)) << log;
}

TEST(TrailerTest, EncryptedInputIsWrittenDecryptedWithoutEncrypt)
{
    PdfBuilder b = SmallDocument();
    b.Object(6, "<< /Title (Secret title) >>");
    b.TrailerExtra("/Info 6 0 R");
    const std::string plain = osseltest::TempPath(".pdf");
    const std::string locked = osseltest::TempPath(".pdf");
    ASSERT_TRUE(b.WriteTo(plain));
    ASSERT_EQ(osseltest::RunCommand("qpdf --allow-weak-crypto --encrypt user owner 128 --use-aes=n -- '" + plain + "' '" + locked + "'"),
              0);
    WriterRun run(osseltest::ReadFile(locked), "owner");
    unlink(plain.c_str());
    unlink(locked.c_str());
    ASSERT_TRUE(run.doc->isOk());
    ASSERT_TRUE(run.doc->isEncrypted());
    ASSERT_TRUE(run.Write());
    const std::string text = ParseTail(run.output).trailer;
    EXPECT_EQ(text.find("/Encrypt"), std::string::npos) << text;
    EXPECT_NE(text.find("/ID["), std::string::npos) << text;
    EXPECT_NE(run.output.find("(Secret title)"), std::string::npos);
    auto out = OpenDoc(run.outPath);
    ASSERT_TRUE(out->isOk());
    EXPECT_FALSE(out->isEncrypted());
    // The image (renumbered and compressed by qpdf) decodes to its data.
    Page *page = out->getPage(1);
    ASSERT_NE(page, nullptr);
    Object xobjects = page->getResourceDict()->lookup("XObject");
    ASSERT_TRUE(xobjects.isDict());
    Object image = xobjects.dictLookup("Im1");
    ASSERT_TRUE(image.isStream());
    image.getStream()->reset();
    std::string decoded;
    for (int c; (c = image.getStream()->getChar()) != EOF;) {
        decoded += static_cast<char>(c);
    }
    EXPECT_EQ(decoded, std::string(30, '\x80'));
}

// ---- Progress, cancel, atomic output, failures ----------------------------

struct CallbackLog {
    int begins = 0;
    int ends = 0;
    std::vector<double> progress;
    int cancelAt = -1; // answer 1 to this progress call (0-based)
};

int32_t LogBegin(void *user)
{
    static_cast<CallbackLog *>(user)->begins++;
    return 0;
}
int32_t LogEnd(void *user)
{
    static_cast<CallbackLog *>(user)->ends++;
    return 0;
}
int32_t LogProgress(void *user, double fraction)
{
    auto *log = static_cast<CallbackLog *>(user);
    log->progress.push_back(fraction);
    return static_cast<int>(log->progress.size()) - 1 == log->cancelAt ? 1 : 0;
}

StatusCallbackRecord RecordFor(CallbackLog &log)
{
    StatusCallbackRecord r{};
    r.userData = &log;
    r.begin = LogBegin;
    r.end = LogEnd;
    r.progress = LogProgress;
    return r;
}

bool LeftoverTempFiles(const std::string &finalPath)
{
    const size_t slash = finalPath.rfind('/');
    const std::string dir = finalPath.substr(0, slash);
    const std::string prefix = "." + finalPath.substr(slash + 1) + ".";
    bool found = false;
    if (DIR *d = opendir(dir.c_str())) {
        while (dirent *e = readdir(d)) {
            if (strncmp(e->d_name, prefix.c_str(), prefix.size()) == 0) {
                found = true;
            }
        }
        closedir(d);
    }
    return found;
}

TEST(ProgressTest, ReportsHundredthsAndEndsWithOne)
{
    CallbackLog log;
    StatusCallbackRecord record = RecordFor(log);
    WriterRun run(SmallDocument());
    run.settings.callbacks = &record;
    ASSERT_TRUE(run.Write());
    EXPECT_FALSE(run.writer->Cancelled());
    EXPECT_EQ(log.begins, 1);
    EXPECT_EQ(log.ends, 1);
    // 6 entries: step 0.98/6, reported before objects 2 to 5.
    const std::vector<double> expected = {0.16, 0.32, 0.49, 0.65, 1.0};
    ASSERT_EQ(log.progress.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_NEAR(log.progress[i], expected[i], 1e-9) << i;
    }
}

TEST(ProgressTest, CancelLeavesNoFileAndKeepsAnExistingOne)
{
    for (int cancelAt : {0, 3}) {
        CallbackLog log;
        log.cancelAt = cancelAt;
        StatusCallbackRecord record = RecordFor(log);
        WriterRun run(SmallDocument());
        run.settings.callbacks = &record;
        const std::string path = osseltest::TempPath(".pdf");
        {
            FILE *f = fopen(path.c_str(), "wb");
            fputs("OLD CONTENT", f);
            fclose(f);
        }
        EXPECT_FALSE(run.Write(path)) << cancelAt;
        EXPECT_TRUE(run.writer->Cancelled());
        EXPECT_EQ(run.output, "OLD CONTENT") << cancelAt;
        EXPECT_EQ(log.begins, 1);
        EXPECT_EQ(log.ends, 1);
        EXPECT_EQ(log.progress.size(), static_cast<size_t>(cancelAt + 1));
        EXPECT_FALSE(LeftoverTempFiles(path));

        // Cancelled without an existing file: nothing at the path.
        CallbackLog log2;
        log2.cancelAt = cancelAt;
        StatusCallbackRecord record2 = RecordFor(log2);
        WriterRun run2(SmallDocument());
        run2.settings.callbacks = &record2;
        const std::string fresh = osseltest::TempPath(".pdf");
        EXPECT_FALSE(run2.Write(fresh));
        struct stat st;
        EXPECT_NE(stat(fresh.c_str(), &st), 0);
        EXPECT_FALSE(LeftoverTempFiles(fresh));
    }
}

TEST(AtomicOutputTest, SuccessReplacesAnExistingFileKeepingItsMode)
{
    WriterRun run(SmallDocument());
    const std::string path = osseltest::TempPath(".pdf");
    {
        FILE *f = fopen(path.c_str(), "wb");
        fputs("OLD CONTENT", f);
        fclose(f);
        chmod(path.c_str(), 0640);
    }
    ASSERT_TRUE(run.Write(path));
    EXPECT_EQ(run.output.substr(0, 8), "%PDF-1.4");
    struct stat st;
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    EXPECT_FALSE(LeftoverTempFiles(path));
}

TEST(AtomicOutputTest, UncreatableOutputFailsAtOnce)
{
    CallbackLog log;
    StatusCallbackRecord record = RecordFor(log);
    WriterRun run(SmallDocument());
    run.settings.callbacks = &record;
    const std::string path = osseltest::TempPath("-missing-folder/out.pdf");
    EXPECT_FALSE(run.writer->WriteFile(path.c_str()));
    EXPECT_EQ(log.begins, 1);
    EXPECT_EQ(log.ends, 0);
    EXPECT_TRUE(log.progress.empty());
    EXPECT_FALSE(run.writer->WriteFile(""));
}

TEST(AtomicOutputTest, ReadOnlyFolderFails)
{
    if (geteuid() == 0) {
        GTEST_SKIP() << "running as root: folder permissions do not apply";
    }
    const std::string dir = osseltest::TempPath("-readonly");
    ASSERT_EQ(mkdir(dir.c_str(), 0755), 0);
    const std::string path = dir + "/out.pdf";
    {
        FILE *f = fopen(path.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        fputs("OLD CONTENT", f);
        fclose(f);
    }
    chmod(dir.c_str(), 0555);
    WriterRun run(SmallDocument());
    EXPECT_FALSE(run.writer->WriteFile(path.c_str()));
    chmod(dir.c_str(), 0755);
    EXPECT_EQ(osseltest::ReadFile(path), "OLD CONTENT");
    unlink(path.c_str());
    rmdir(dir.c_str());
}

TEST(AtomicOutputTest, WriteErrorsAreFailures)
{
    // A device that reports a full disk on every write.
    struct stat st;
    if (stat("/dev/full", &st) == 0) {
        WriterRun run(SmallDocument());
        EXPECT_FALSE(run.writer->WriteFile("/dev/full"));
        ASSERT_EQ(stat("/dev/full", &st), 0);
        EXPECT_TRUE(S_ISCHR(st.st_mode));
    }

    // A regular file that cannot grow beyond 200 bytes (as on a full disk):
    // fails, the existing file is untouched, no temporary file is left.
    WriterRun run(SmallDocument());
    const std::string path = osseltest::TempPath(".pdf");
    {
        FILE *f = fopen(path.c_str(), "wb");
        fputs("OLD CONTENT", f);
        fclose(f);
    }
    rlimit saved;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    auto previous = signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 200;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool ok = run.writer->WriteFile(path.c_str());
    setrlimit(RLIMIT_FSIZE, &saved);
    signal(SIGXFSZ, previous);
    EXPECT_FALSE(ok);
    EXPECT_EQ(osseltest::ReadFile(path), "OLD CONTENT");
    EXPECT_FALSE(LeftoverTempFiles(path));
    unlink(path.c_str());
}

TEST(AtomicOutputTest, WritesThroughASymbolicLink)
{
    WriterRun run(SmallDocument());
    const std::string target = osseltest::TempPath(".pdf");
    const std::string link = osseltest::TempPath(".pdf");
    {
        FILE *f = fopen(target.c_str(), "wb");
        fputs("OLD", f);
        fclose(f);
    }
    ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0);
    ASSERT_TRUE(run.writer->WriteFile(link.c_str()));
    struct stat st;
    ASSERT_EQ(lstat(link.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(osseltest::ReadFile(target).substr(0, 8), "%PDF-1.4");
    unlink(link.c_str());
    unlink(target.c_str());
}

TEST(CorpusTest, RealFilesComeOutValid)
{
    const std::string dir = osseltest::CorpusDir();
    const struct {
        const char *name;
        const char *password;
        int qpdfStatus; // 3: the input's own damage leaves warnings
    } files[] = {{"pdfbox-ccitt4-cib-test.pdf", nullptr, 0},
                 {"qpdf-image-streams-small.pdf", nullptr, 0},
                 {"pike-jbig2global.pdf", nullptr, 0},
                 {"qpdf-encrypted-with-images.pdf", nullptr, 0},
                 {"qpdf-nontrivial-crypt-filter.pdf", "asdfqwer", 0},
                 {"qpdf-issue-202.pdf", nullptr, 3}};
    int ran = 0;
    for (const auto &file : files) {
        const char *name = file.name;
        const std::string path = dir + "/" + name;
        struct stat st;
        if (stat(path.c_str(), &st) != 0) {
            continue;
        }
        ++ran;
        WriterRun run(osseltest::ReadFile(path), file.password);
        if (!run.doc->isOk()) {
            ADD_FAILURE() << name << " does not open";
            continue;
        }
        ASSERT_TRUE(run.Write()) << name;
        std::string log;
        EXPECT_EQ(QpdfStatus(run.outPath, &log), file.qpdfStatus) << name << "\n" << log;
        auto out = OpenDoc(run.outPath);
        ASSERT_TRUE(out->isOk()) << name;
        EXPECT_FALSE(out->isEncrypted()) << name;
        EXPECT_EQ(out->getNumPages(), run.doc->getNumPages()) << name;
    }
    if (ran == 0) {
        GTEST_SKIP() << "corpus not found at " << dir;
    }
}

} // namespace
