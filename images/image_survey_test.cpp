#include "image_survey.h"

#include <cmath>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <PDFDoc.h>
#include <GlobalParams.h>
#include <XRef.h>
#include <Stream.h>
#include <goo/GooString.h>

#include "image_locate_dev.h"
#include "pdf_builder.h"
#include "test_jpeg.h"

using osseltest::Deflate;
using osseltest::PdfBuilder;
using surveytest::MakeJpeg;

namespace {

class PopplerEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        if (!globalParams) {
            globalParams = std::make_unique<GlobalParams>();
        }
        globalParams->setErrQuiet(true);
    }
};
const ::testing::Environment *const kPopplerEnvironment =
    ::testing::AddGlobalTestEnvironment(new PopplerEnvironment);

// One page (object 3) with content stream 4 and the given resources; extra
// entries go into the page dictionary.
PdfBuilder PageDoc(const std::string &content, const std::string &resources, const std::string &pageExtra = "") {
    PdfBuilder b;
    b.Object(1, "<< /Type /Catalog /Pages 2 0 R >>");
    b.Object(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    b.Object(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Resources << " + resources +
                    " >> /Contents 4 0 R " + pageExtra + " >>");
    b.Stream(4, "", content);
    return b;
}

// A Flate-coded w x h image dictionary's entries (besides /Length).
std::string ImageDict(int w, int h, int bpc = 8, const std::string &extra = "") {
    return "/Type /XObject /Subtype /Image /Width " + std::to_string(w) + " /Height " + std::to_string(h) +
           " /ColorSpace /DeviceGray /BitsPerComponent " + std::to_string(bpc) + " /Filter /FlateDecode " + extra;
}
std::string ImageData(int w, int h, int bpc = 8) {
    return Deflate(std::string(static_cast<size_t>((w * bpc + 7) / 8 * h), '\x80'));
}
// A 300 x 300 gray image as object num.
void AddImage300(PdfBuilder &b, int num, const std::string &extra = "", int bpc = 8) {
    b.Stream(num, ImageDict(300, 300, bpc, extra), ImageData(300, 300, bpc));
}

// Opens a built document from a temporary file and runs the survey on it.
class SurveyRun {
public:
    explicit SurveyRun(const PdfBuilder &b, StatusCallbackRecord *callbacks = nullptr, bool survey = true)
        : path_(osseltest::TempPath(".pdf")) {
        settings_ = {};
        settings_.callbacks = callbacks;
        if (!b.WriteTo(path_)) {
            return;
        }
        doc_ = std::make_unique<PDFDoc>(std::make_unique<GooString>(path_.c_str()), std::optional<GooString>(),
                                        std::optional<GooString>(), nullptr, [this]() { reconstructed_ = true; });
        if (doc_->isOk() && survey) {
            status_ = RunImageSurvey(doc_.get(), &settings_);
        }
    }
    ~SurveyRun() {
        FreeImageRecordTable(&settings_);
        doc_.reset();
        std::remove(path_.c_str());
    }
    bool Ok() const { return doc_ && doc_->isOk(); }
    int Status() const { return status_; }
    PDFDoc *Doc() { return doc_.get(); }
    OptimizerSettings &Settings() { return settings_; }
    bool Reconstructed() const { return reconstructed_; }
    const ImageRecord &Rec(int num) const {
        EXPECT_TRUE(num > 0 && num < settings_.imageRecordCount) << "object " << num;
        static const ImageRecord kNone{};
        return num > 0 && num < settings_.imageRecordCount ? settings_.imageRecords[num] : kNone;
    }

private:
    std::string path_;
    std::unique_ptr<PDFDoc> doc_;
    OptimizerSettings settings_;
    int status_ = -1;
    bool reconstructed_ = false;
};

// ---------------------------------------------------------------------------
// Resolutions and marks, as a table of small documents.

struct Expect {
    int num;
    bool undrawn;
    bool maskTarget;
    double hdpi;
    double vdpi;
    int bits; // -1: not checked
};

struct ResolutionCase {
    const char *name;
    std::string content;
    std::string resources;
    std::function<void(PdfBuilder &)> objects;
    std::vector<Expect> expect; // every other record must stay unplaced
    std::string pageExtra = {};
};

const char *kIm1 = "/XObject << /Im1 5 0 R >>";

std::vector<ResolutionCase> ResolutionCases() {
    std::vector<ResolutionCase> cases;
    cases.push_back({"drawn twice at 300 and 600 dpi keeps 300",
                     "q 72 0 0 72 0 0 cm /Im1 Do Q q 36 0 0 36 200 200 cm /Im1 Do Q", kIm1,
                     [](PdfBuilder &b) { AddImage300(b, 5); },
                     {{5, false, false, 300, 300, 8}}});
    cases.push_back({"drawn twice at 600 and 300 dpi keeps 300",
                     "q 36 0 0 36 200 200 cm /Im1 Do Q q 72 0 0 72 0 0 cm /Im1 Do Q", kIm1,
                     [](PdfBuilder &b) { AddImage300(b, 5); },
                     {{5, false, false, 300, 300, 8}}});
    cases.push_back({"lowest per direction over different placements",
                     "q 144 0 0 36 0 0 cm /Im1 Do Q q 36 0 0 144 200 200 cm /Im1 Do Q", kIm1,
                     [](PdfBuilder &b) { AddImage300(b, 5); },
                     {{5, false, false, 150, 150, 8}}});
    cases.push_back({"stretched to twice its height", "q 72 0 0 144 0 0 cm /Im1 Do Q", kIm1,
                     [](PdfBuilder &b) { AddImage300(b, 5); },
                     {{5, false, false, 300, 150, 8}}});
    cases.push_back({"rotated by 90 degrees", "q 0 72 -72 0 300 300 cm /Im1 Do Q", kIm1,
                     [](PdfBuilder &b) { AddImage300(b, 5); },
                     {{5, false, false, 300, 300, 8}}});
    cases.push_back({"rotated by 30 degrees and stretched",
                     "q 62.3538291 36 -72 124.7076581 300 300 cm /Im1 Do Q", kIm1,
                     [](PdfBuilder &b) { AddImage300(b, 5); },
                     {{5, false, false, 300, 150, 8}}});
    cases.push_back({"sheared: measured along the image's own axes", "q 72 0 36 72 0 0 cm /Im1 Do Q", kIm1,
                     [](PdfBuilder &b) { AddImage300(b, 5); },
                     {{5, false, false, 300, 300, 8}}});
    cases.push_back({"mirrored", "q -72 0 0 -72 300 300 cm /Im1 Do Q", kIm1,
                     [](PdfBuilder &b) { AddImage300(b, 5); },
                     {{5, false, false, 300, 300, 8}}});
    cases.push_back({"inside a scaled Form XObject", "/Fm1 Do", "/XObject << /Fm1 6 0 R >>",
                     [](PdfBuilder &b) {
                         AddImage300(b, 5);
                         b.Stream(6,
                                  "/Type /XObject /Subtype /Form /BBox [0 0 100 100] /Matrix [2 0 0 2 0 0] "
                                  "/Resources << /XObject << /Im1 5 0 R >> >>",
                                  "q 36 0 0 36 0 0 cm /Im1 Do Q");
                     },
                     {{5, false, false, 300, 300, 8}}});
    cases.push_back({"inline images are ignored",
                     "q 72 0 0 72 0 0 cm BI /W 4 /H 4 /CS /G /BPC 8 ID " + std::string(16, 'x') + "\nEI Q", "",
                     [](PdfBuilder &b) { AddImage300(b, 5); },
                     {{5, true, false, -1, -1, 0}}});
    cases.push_back({"soft mask takes its image's resolutions and its own depth",
                     "q 144 0 0 72 0 0 cm /Im1 Do Q", kIm1,
                     [](PdfBuilder &b) {
                         AddImage300(b, 5, "/SMask 6 0 R");
                         AddImage300(b, 6, "", 4);
                     },
                     {{5, false, false, 150, 300, 8}, {6, false, true, 150, 300, 4}}});
    cases.push_back({"stencil /Mask without a depth gets 1", "q 72 0 0 72 0 0 cm /Im1 Do Q", kIm1,
                     [](PdfBuilder &b) {
                         AddImage300(b, 5, "/Mask 6 0 R");
                         b.Stream(6, "/Type /XObject /Subtype /Image /Width 300 /Height 300 /ImageMask true "
                                     "/Filter /FlateDecode",
                                  ImageData(300, 300, 1));
                     },
                     {{5, false, false, 300, 300, 8}, {6, false, true, 300, 300, 1}}});
    cases.push_back({"mask numbered below its image loses the undrawn mark", "q 72 0 0 72 0 0 cm /Im1 Do Q",
                     "/XObject << /Im1 6 0 R >>",
                     [](PdfBuilder &b) {
                         AddImage300(b, 5);
                         AddImage300(b, 6, "/SMask 5 0 R");
                     },
                     {{5, false, true, 300, 300, 8}, {6, false, false, 300, 300, 8}}});
    cases.push_back({"mask shared by two images drawn at different sizes takes the later image's",
                     "q 72 0 0 72 0 0 cm /Im1 Do Q q 36 0 0 36 0 0 cm /Im2 Do Q",
                     "/XObject << /Im1 5 0 R /Im2 6 0 R >>",
                     [](PdfBuilder &b) {
                         AddImage300(b, 5, "/SMask 7 0 R");
                         AddImage300(b, 6, "/SMask 7 0 R");
                         AddImage300(b, 7);
                     },
                     {{5, false, false, 300, 300, 8}, {6, false, false, 600, 600, 8}, {7, false, true, 600, 600, 8}}});
    cases.push_back({"colour-key /Mask array is no mask target", "q 72 0 0 72 0 0 cm /Im1 Do Q", kIm1,
                     [](PdfBuilder &b) { AddImage300(b, 5, "/Mask [0 10]"); },
                     {{5, false, false, 300, 300, 8}}});
    cases.push_back({"image XObject never drawn is undrawn; without /Type it is not marked", "", "",
                     [](PdfBuilder &b) {
                         AddImage300(b, 5);
                         b.Stream(6,
                                  "/Subtype /Image /Width 300 /Height 300 /ColorSpace /DeviceGray "
                                  "/BitsPerComponent 8 /Filter /FlateDecode",
                                  ImageData(300, 300));
                     },
                     {{5, true, false, -1, -1, 0}}});
    cases.push_back({"masks of an undrawn image are not mask targets", "", "",
                     [](PdfBuilder &b) {
                         AddImage300(b, 5, "/SMask 6 0 R");
                         b.Stream(6,
                                  "/Subtype /Image /Width 300 /Height 300 /ColorSpace /DeviceGray "
                                  "/BitsPerComponent 8 /Filter /FlateDecode",
                                  ImageData(300, 300));
                     },
                     {{5, true, false, -1, -1, 0}}});
    cases.push_back({"ASCII85-only image is not recorded by drawing but marked undrawn",
                     "q 72 0 0 72 0 0 cm /Im1 Do Q", kIm1,
                     [](PdfBuilder &b) {
                         b.Stream(5,
                                  "/Type /XObject /Subtype /Image /Width 4 /Height 4 /ColorSpace /DeviceGray "
                                  "/BitsPerComponent 8 /Filter /ASCII85Decode",
                                  "~>");
                     },
                     {{5, true, false, -1, -1, 0}}});
    cases.push_back({"stencil mask drawn by itself", "q 72 0 0 72 0 0 cm /Im1 Do Q", kIm1,
                     [](PdfBuilder &b) {
                         b.Stream(5, "/Subtype /Image /Width 300 /Height 300 /ImageMask true /Filter /FlateDecode",
                                  ImageData(300, 300, 1));
                     },
                     {{5, false, false, 300, 300, 1}}});
    cases.push_back({"degenerate matrix is ignored", "q 72 0 0 0 0 0 cm /Im1 Do Q", kIm1,
                     [](PdfBuilder &b) {
                         b.Stream(5,
                                  "/Subtype /Image /Width 300 /Height 300 /ColorSpace /DeviceGray "
                                  "/BitsPerComponent 8 /Filter /FlateDecode",
                                  ImageData(300, 300));
                     },
                     {}});
    cases.push_back({"image in an annotation appearance", "", "",
                     [](PdfBuilder &b) {
                         AddImage300(b, 5);
                         b.Object(7, "<< /Type /Annot /Subtype /Square /Rect [0 0 72 72] /AP << /N 8 0 R >> >>");
                         b.Stream(8,
                                  "/Type /XObject /Subtype /Form /BBox [0 0 72 72] "
                                  "/Resources << /XObject << /Im1 5 0 R >> >>",
                                  "q 72 0 0 72 0 0 cm /Im1 Do Q");
                     },
                     {{5, false, false, 300, 300, 8}},
                     "/Annots [7 0 R]"});
    return cases;
}

TEST(ImageSurvey, ResolutionsAndMarks) {
    for (const ResolutionCase &c : ResolutionCases()) {
        SCOPED_TRACE(c.name);
        PdfBuilder b = PageDoc(c.content, c.resources, c.pageExtra);
        c.objects(b);
        SurveyRun run(b);
        ASSERT_TRUE(run.Ok());
        ASSERT_EQ(run.Status(), 0);
        std::map<int, const Expect *> expected;
        for (const Expect &e : c.expect) {
            expected[e.num] = &e;
        }
        for (int i = 1; i < run.Settings().imageRecordCount; ++i) {
            const ImageRecord &r = run.Rec(i);
            auto it = expected.find(i);
            if (it == expected.end()) {
                EXPECT_FALSE(r.placed) << "object " << i;
                EXPECT_FALSE(r.maskTarget) << "object " << i;
                continue;
            }
            const Expect &e = *it->second;
            EXPECT_TRUE(r.inUse) << "object " << i;
            EXPECT_TRUE(r.placed) << "object " << i;
            EXPECT_EQ(r.undrawn, e.undrawn) << "object " << i;
            EXPECT_EQ(r.maskTarget, e.maskTarget) << "object " << i;
            EXPECT_NEAR(r.horizontalDpi, e.hdpi, 1e-4) << "object " << i;
            EXPECT_NEAR(r.verticalDpi, e.vdpi, 1e-4) << "object " << i;
            if (e.bits >= 0) {
                EXPECT_EQ(r.bitsPerComponent, e.bits) << "object " << i;
            }
        }
        EXPECT_FALSE(run.Reconstructed());
    }
}

// ---------------------------------------------------------------------------
// What is recorded about an image at its first placement.

struct FieldCase {
    const char *name;
    std::string dict; // width and height 8 are added
    std::string data;
    bool recorded;
    int bits;
    int components;
    int compression;
    int quality;
};

std::vector<FieldCase> FieldCases() {
    const std::string jpegGray = MakeJpeg(8, 8, 1, 75);
    const std::string jpegRgb = MakeJpeg(8, 8, 3, 90);
    const std::string gray8 = "/ColorSpace /DeviceGray /BitsPerComponent 8 ";
    const std::string gray1 = "/ColorSpace /DeviceGray /BitsPerComponent 1 ";
    return {
        {"unfiltered gray", gray8, std::string(64, 'x'), true, 8, 1, OSSEL_COMPRESSION_NONE, -1},
        {"Flate RGB", "/ColorSpace /DeviceRGB /BitsPerComponent 8 /Filter /FlateDecode",
         Deflate(std::string(192, 'x')), true, 8, 3, OSSEL_COMPRESSION_DEFLATE, -1},
        {"LZW CMYK", "/ColorSpace /DeviceCMYK /BitsPerComponent 8 /Filter /LZWDecode", "\x80\x0b\x60\x50", true, 8,
         4, OSSEL_COMPRESSION_LZW, -1},
        {"RunLength gray 4-bit", "/ColorSpace /DeviceGray /BitsPerComponent 4 /Filter /RunLengthDecode", "\x80",
         true, 4, 1, OSSEL_COMPRESSION_CCITTRLE, -1},
        {"Flate gray 16-bit", "/ColorSpace /DeviceGray /BitsPerComponent 16 /Filter /FlateDecode",
         Deflate(std::string(128, 'x')), true, 16, 1, OSSEL_COMPRESSION_DEFLATE, -1},
        {"Indexed", "/ColorSpace [/Indexed /DeviceRGB 1 <000000FFFFFF>] /BitsPerComponent 8",
         std::string(64, '\1'), true, 8, 1, OSSEL_COMPRESSION_NONE, -1},
        {"CCITT group 4", gray1 + "/Filter /CCITTFaxDecode /DecodeParms << /K -1 /Columns 8 /Rows 8 >>", "xxxx",
         true, 1, 1, OSSEL_COMPRESSION_CCITTFAX4, -1},
        {"CCITT group 3 is recorded as group 4",
         gray1 + "/Filter /CCITTFaxDecode /DecodeParms << /K 0 /Columns 8 /Rows 8 >>", "xxxx", true, 1, 1,
         OSSEL_COMPRESSION_CCITTFAX4, -1},
        {"JBIG2", gray1 + "/Filter /JBIG2Decode", "xxxx", true, 1, 1, OSSEL_COMPRESSION_JBIG2, -1},
        {"DCT gray quality 75", gray8 + "/Filter /DCTDecode", jpegGray, true, 8, 1, OSSEL_COMPRESSION_JPEG, 75},
        {"DCT RGB quality 90", "/ColorSpace /DeviceRGB /BitsPerComponent 8 /Filter /DCTDecode", jpegRgb, true, 8,
         3, OSSEL_COMPRESSION_JPEG, 80},
        {"Flate then DCT: quality from the inflated header", gray8 + "/Filter [/FlateDecode /DCTDecode]",
         Deflate(jpegGray), true, 8, 1, OSSEL_COMPRESSION_JPEG, 75},
        {"DCT with a truncated header", gray8 + "/Filter /DCTDecode", jpegGray.substr(0, 25), true, 8, 1,
         OSSEL_COMPRESSION_JPEG, 0},
        {"DCT with garbage", gray8 + "/Filter /DCTDecode", "this is no jpeg at all", true, 8, 1,
         OSSEL_COMPRESSION_JPEG, 0},
        {"DCT with no data", gray8 + "/Filter /DCTDecode", "", true, 8, 1, OSSEL_COMPRESSION_JPEG, 0},
        {"JPX", "/ColorSpace /DeviceRGB /BitsPerComponent 8 /Filter /JPXDecode", "xxxx", true, 8, 3,
         OSSEL_COMPRESSION_JPEG2000, -1},
        {"ASCIIHex is not recorded", gray8 + "/Filter /ASCIIHexDecode", "00>", false, 0, 0, 0, 0},
        {"ASCII85 then Flate: the last filter counts", gray8 + "/Filter [/ASCII85Decode /FlateDecode]", "~>", true,
         8, 1, OSSEL_COMPRESSION_DEFLATE, -1},
        {"unfiltered stencil mask", "/ImageMask true", std::string(8, 'x'), true, 1, 1, OSSEL_COMPRESSION_NONE, -1},
        {"Flate stencil mask", "/ImageMask true /Filter /FlateDecode", Deflate(std::string(8, 'x')), true, 1, 1,
         OSSEL_COMPRESSION_DEFLATE, -1},
        {"CCITT stencil mask", "/ImageMask true /Filter /CCITTFaxDecode /DecodeParms << /K -1 /Columns 8 >>",
         "xxxx", true, 1, 1, OSSEL_COMPRESSION_CCITTFAX4, -1},
        {"DCT stencil mask is not recorded", "/ImageMask true /Filter /DCTDecode", jpegGray, false, 0, 0, 0, 0},
    };
}

TEST(ImageSurvey, RecordFieldsPerFilter) {
    for (const FieldCase &c : FieldCases()) {
        SCOPED_TRACE(c.name);
        PdfBuilder b = PageDoc("q 8 0 0 8 0 0 cm /Im1 Do Q", kIm1);
        b.Stream(5, "/Subtype /Image /Width 8 /Height 8 " + c.dict, c.data);
        SurveyRun run(b);
        ASSERT_TRUE(run.Ok());
        ASSERT_EQ(run.Status(), 0);
        const ImageRecord &r = run.Rec(5);
        EXPECT_EQ(r.placed, c.recorded);
        EXPECT_FALSE(r.undrawn);
        if (!c.recorded) {
            EXPECT_EQ(r.horizontalDpi, -1.0);
            continue;
        }
        EXPECT_EQ(r.bitsPerComponent, c.bits);
        EXPECT_EQ(r.components, c.components);
        EXPECT_EQ(r.sourceCompression, c.compression);
        EXPECT_EQ(r.sourceJpegQuality, c.quality);
        EXPECT_NEAR(r.horizontalDpi, 72.0, 1e-9);
        EXPECT_NEAR(r.verticalDpi, 72.0, 1e-9);
    }
}

// The first placement decides the fields; later ones only lower resolutions.
TEST(ImageSurvey, FirstPlacementKeepsFields) {
    const std::string jpeg = MakeJpeg(8, 8, 1, 50);
    PdfBuilder b = PageDoc("q 8 0 0 8 0 0 cm /Im1 Do Q q 16 0 0 16 0 0 cm /Im1 Do Q q 4 0 0 4 0 0 cm /Im1 Do Q",
                           kIm1);
    b.Stream(5, "/Subtype /Image /Width 8 /Height 8 /ColorSpace /DeviceGray /BitsPerComponent 8 /Filter /DCTDecode",
             jpeg);
    SurveyRun run(b);
    ASSERT_EQ(run.Status(), 0);
    const ImageRecord &r = run.Rec(5);
    EXPECT_EQ(r.sourceJpegQuality, 50);
    EXPECT_EQ(r.sourceCompression, OSSEL_COMPRESSION_JPEG);
    EXPECT_NEAR(r.horizontalDpi, 36.0, 1e-9);
    EXPECT_NEAR(r.verticalDpi, 36.0, 1e-9);
    EXPECT_EQ(r.encodedLength, 0);
}

// ---------------------------------------------------------------------------
// The table itself.

TEST(ImageRecordTable, FromCrossReferenceTable) {
    PdfBuilder b = PageDoc("", "");
    b.Object(5, "(five)", 2);
    b.Free(6, 3);
    b.Object(8, "(eight)");
    SurveyRun run(b, nullptr, false);
    ASSERT_TRUE(run.Ok());
    OptimizerSettings &s = run.Settings();
    ASSERT_EQ(BuildImageRecordTable(run.Doc(), &s), 0);
    ASSERT_EQ(s.imageRecordCount, 9);
    ASSERT_NE(s.imageRecords, nullptr);
    struct Row {
        int num;
        bool inUse;
        int gen;
    } rows[] = {{1, true, 0}, {4, true, 0}, {5, true, 2}, {6, false, 3}, {7, false, 0}, {8, true, 0}};
    for (const Row &row : rows) {
        const ImageRecord &r = s.imageRecords[row.num];
        EXPECT_EQ(r.inUse, row.inUse) << "object " << row.num;
        EXPECT_EQ(r.generation, row.gen) << "object " << row.num;
    }
    for (int i = 0; i < s.imageRecordCount; ++i) {
        const ImageRecord &r = s.imageRecords[i];
        EXPECT_FALSE(r.placed || r.maskTarget || r.undrawn) << "object " << i;
        EXPECT_EQ(r.horizontalDpi, -1.0) << "object " << i;
        EXPECT_EQ(r.verticalDpi, -1.0) << "object " << i;
        EXPECT_EQ(r.sourceCompression, 0) << "object " << i;
    }
    // Building again replaces the table; freeing twice is harmless.
    EXPECT_EQ(BuildImageRecordTable(run.Doc(), &s), 0);
    FreeImageRecordTable(&s);
    EXPECT_EQ(s.imageRecords, nullptr);
    EXPECT_EQ(s.imageRecordCount, 0);
    FreeImageRecordTable(&s);
    EXPECT_EQ(BuildImageRecordTable(nullptr, &s), 7);
    EXPECT_EQ(s.imageRecords, nullptr);
    EXPECT_EQ(BuildImageRecordTable(run.Doc(), nullptr), 7);
    FreeImageRecordTable(nullptr);
}

// Objects inside object streams: generation 0 although the reading core's
// slot holds the index inside the stream.
TEST(ImageRecordTable, ObjectStreamEntries) {
    std::string version;
    if (osseltest::RunCommand("qpdf --version 2>/dev/null", &version) != 0) {
        GTEST_SKIP() << "qpdf is not installed";
    }
    PdfBuilder b = PageDoc("q 72 0 0 72 0 0 cm /Im1 Do Q", kIm1);
    AddImage300(b, 5);
    for (int i = 6; i < 12; ++i) {
        b.Object(i, "<< /N " + std::to_string(i) + " >>");
    }
    const std::string in = osseltest::TempPath(".pdf");
    const std::string out = osseltest::TempPath(".pdf");
    ASSERT_TRUE(b.WriteTo(in));
    ASSERT_EQ(osseltest::RunCommand("qpdf --object-streams=generate --preserve-unreferenced " + in + " " + out),
              0);
    auto doc = std::make_unique<PDFDoc>(std::make_unique<GooString>(out.c_str()));
    ASSERT_TRUE(doc->isOk());
    OptimizerSettings s{};
    ASSERT_EQ(RunImageSurvey(doc.get(), &s), 0);
    XRef *xref = doc->getXRef();
    int compressed = 0;
    for (int i = 1; i < s.imageRecordCount; ++i) {
        XRefEntry *e = xref->getEntry(i, false);
        if (e->type == xrefEntryCompressed) {
            ++compressed;
            EXPECT_TRUE(s.imageRecords[i].inUse) << i;
            EXPECT_EQ(s.imageRecords[i].generation, 0) << i;
        }
    }
    EXPECT_GT(compressed, 0);
    int placed = 0;
    for (int i = 1; i < s.imageRecordCount; ++i) {
        if (s.imageRecords[i].placed) {
            ++placed;
            EXPECT_NEAR(s.imageRecords[i].horizontalDpi, 300.0, 1e-9);
        }
    }
    EXPECT_EQ(placed, 1);
    FreeImageRecordTable(&s);
    doc.reset();
    std::remove(in.c_str());
    std::remove(out.c_str());
}

// References to free entries, missing objects or the wrong generation do not
// turn anything into a mask target. (Drawing such an image makes the reading
// core itself rebuild its table when it resolves the mask.)
TEST(ImageSurvey, DanglingMaskReferences) {
    PdfBuilder b = PageDoc("q 72 0 0 72 0 0 cm /Im1 Do Q /Im2 Do", "/XObject << /Im1 5 0 R /Im2 6 0 R >>");
    AddImage300(b, 5, "/SMask 7 0 R /Mask 8 1 R");
    AddImage300(b, 6, "/SMask 40 0 R");
    b.Free(7, 1);
    AddImage300(b, 8);
    SurveyRun run(b);
    ASSERT_EQ(run.Status(), 0);
    EXPECT_FALSE(run.Rec(7).inUse);
    EXPECT_FALSE(run.Rec(7).placed);
    EXPECT_FALSE(run.Rec(8).maskTarget);
    EXPECT_TRUE(run.Rec(8).undrawn);
    EXPECT_TRUE(run.Rec(5).placed);
    EXPECT_TRUE(run.Rec(6).placed);
}

TEST(ImageSurvey, DocumentWithoutPagesRunsThePostPass) {
    PdfBuilder b;
    b.Object(1, "<< /Type /Catalog /Pages 2 0 R >>");
    b.Object(2, "<< /Type /Pages /Kids [] /Count 0 >>");
    AddImage300(b, 3, "/SMask 4 0 R");
    AddImage300(b, 4);
    std::vector<double> progress;
    StatusCallbackRecord cb{};
    cb.userData = &progress;
    cb.progress = [](void *u, double f) -> int32_t {
        static_cast<std::vector<double> *>(u)->push_back(f);
        return 0;
    };
    SurveyRun run(b, &cb);
    ASSERT_TRUE(run.Ok());
    ASSERT_EQ(run.Doc()->getNumPages(), 0);
    EXPECT_EQ(run.Status(), 0);
    EXPECT_TRUE(run.Rec(3).undrawn);
    EXPECT_TRUE(run.Rec(4).undrawn);
    EXPECT_FALSE(run.Rec(4).maskTarget);
    EXPECT_EQ(progress, std::vector<double>{1.0});
}

// A document read from memory: an unfiltered image is still code 1.
TEST(ImageSurvey, DocumentInMemory) {
    PdfBuilder b = PageDoc("q 8 0 0 8 0 0 cm /Im1 Do Q", kIm1);
    b.Stream(5, "/Subtype /Image /Width 8 /Height 8 /ColorSpace /DeviceGray /BitsPerComponent 8",
             std::string(64, 'x'));
    std::string text = b.Build();
    std::vector<char> buf(text.begin(), text.end());
    auto doc = std::make_unique<PDFDoc>(new MemStream(buf.data(), 0, static_cast<Goffset>(buf.size()), Object(objNull)));
    ASSERT_TRUE(doc->isOk());
    OptimizerSettings s{};
    ASSERT_EQ(RunImageSurvey(doc.get(), &s), 0);
    ASSERT_GT(s.imageRecordCount, 5);
    EXPECT_TRUE(s.imageRecords[5].placed);
    EXPECT_EQ(s.imageRecords[5].sourceCompression, OSSEL_COMPRESSION_NONE);
    FreeImageRecordTable(&s);
}

// Encrypted documents: an unfiltered image is still code 1 (its data is only
// decrypted), and the JPEG header is read after decryption.
TEST(ImageSurvey, EncryptedDocuments) {
    std::string version;
    if (osseltest::RunCommand("qpdf --version 2>/dev/null", &version) != 0) {
        GTEST_SKIP() << "qpdf is not installed";
    }
    PdfBuilder b = PageDoc("q 8 0 0 8 0 0 cm /Im1 Do Q q 16 0 0 16 0 0 cm /Im2 Do Q", "/XObject << /Im1 5 0 R /Im2 6 0 R >>");
    b.Stream(5, "/Type /XObject /Subtype /Image /Width 8 /Height 8 /ColorSpace /DeviceGray /BitsPerComponent 8",
             std::string(64, 'x'));
    b.Stream(6, "/Type /XObject /Subtype /Image /Width 8 /Height 8 /ColorSpace /DeviceGray /BitsPerComponent 8 "
                "/Filter /DCTDecode",
             MakeJpeg(8, 8, 1, 90));
    const std::string in = osseltest::TempPath(".pdf");
    ASSERT_TRUE(b.WriteTo(in));
    const char *modes[] = {"--allow-weak-crypto --encrypt user owner 128 --use-aes=n",
                           "--encrypt user owner 128 --use-aes=y"};
    for (const char *mode : modes) {
        SCOPED_TRACE(mode);
        const std::string out = osseltest::TempPath(".pdf");
        ASSERT_EQ(osseltest::RunCommand(std::string("qpdf --stream-data=preserve ") + mode +
                                        " -- " + in + " " + out),
                  0);
        auto doc = std::make_unique<PDFDoc>(std::make_unique<GooString>(out.c_str()), std::optional<GooString>(),
                                            std::optional<GooString>(GooString("user")));
        ASSERT_TRUE(doc->isOk());
        ASSERT_TRUE(doc->isEncrypted());
        OptimizerSettings s{};
        ASSERT_EQ(RunImageSurvey(doc.get(), &s), 0);
        ASSERT_GT(s.imageRecordCount, 6);
        EXPECT_TRUE(s.imageRecords[5].placed);
        EXPECT_EQ(s.imageRecords[5].sourceCompression, OSSEL_COMPRESSION_NONE);
        EXPECT_TRUE(s.imageRecords[6].placed);
        EXPECT_EQ(s.imageRecords[6].sourceCompression, OSSEL_COMPRESSION_JPEG);
        EXPECT_EQ(s.imageRecords[6].sourceJpegQuality, 90);
        EXPECT_NEAR(s.imageRecords[6].horizontalDpi, 36.0, 1e-9);
        FreeImageRecordTable(&s);
        doc.reset();
        std::remove(out.c_str());
    }
    std::remove(in.c_str());
}

TEST(ImageLocateDevice, OkOnlyWithCrossReferenceTable) {
    PdfBuilder b = PageDoc("", "");
    SurveyRun run(b, nullptr, false);
    ASSERT_TRUE(run.Ok());
    ImageLocateDev good(run.Doc()->getXRef());
    EXPECT_TRUE(good.isOk());
    EXPECT_TRUE(good.upsideDown());
    EXPECT_FALSE(good.useDrawChar());
    EXPECT_FALSE(good.interpretType3Chars());
    ImageLocateDev bad(nullptr);
    EXPECT_FALSE(bad.isOk());
}

TEST(ImageLocateDevice, CompressionCodes) {
    struct Row {
        StreamKind kind;
        int image;
        int stencil;
    } rows[] = {
        {strFile, 1, 1},           {strCachedFile, 1, 1},   {strCrypt, 1, 1},       {strASCIIHex, 0, 0},
        {strASCII85, 0, 0},        {strLZW, 5, 5},          {strRunLength, 2, 2},   {strCCITTFax, 4, 4},
        {strDCT, 7, 0},            {strFlate, 32946, 32946}, {strJBIG2, 34715, 34715}, {strJPX, 34716, 0},
        {strWeird, 0, 0},
    };
    for (const Row &r : rows) {
        EXPECT_EQ(CompressionForStreamKind(r.kind, false), r.image) << "kind " << r.kind;
        EXPECT_EQ(CompressionForStreamKind(r.kind, true), r.stencil) << "kind " << r.kind;
    }
}

// ---------------------------------------------------------------------------
// Progress and cancellation.

constexpr int kPages = 30;

// kPages pages, page p drawing its own 8 x 8 image (object 12 + 3p) at 72
// dpi; object 5 is an image XObject that no page draws.
PdfBuilder ManyPages() {
    PdfBuilder b;
    b.Object(1, "<< /Type /Catalog /Pages 2 0 R >>");
    std::string kids;
    for (int p = 1; p <= kPages; ++p) {
        kids += std::to_string(10 + 3 * p) + " 0 R ";
        b.Object(10 + 3 * p, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Resources << /XObject << /Im1 " +
                                 std::to_string(12 + 3 * p) + " 0 R >> >> /Contents " + std::to_string(11 + 3 * p) +
                                 " 0 R >>");
        b.Stream(11 + 3 * p, "", "q 8 0 0 8 0 0 cm /Im1 Do Q");
        b.Stream(12 + 3 * p, ImageDict(8, 8), ImageData(8, 8));
    }
    b.Object(2, "<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(kPages) + " >>");
    AddImage300(b, 5);
    return b;
}
int PageImage(int p) { return 12 + 3 * p; }

struct Recorder {
    std::vector<std::string> events;
    std::vector<double> progress;
    int32_t statusAnswer = 0;
    int32_t beginAnswer = 0;
    int32_t endAnswer = 0;
    int cancelAtProgressCall = -1; // index of the progress call answered 1
    bool cancelFinal = false;      // answer 1 to the final 1.0

    StatusCallbackRecord Callbacks() {
        StatusCallbackRecord cb{};
        cb.userData = this;
        cb.status = [](void *u, const char *text) -> int32_t {
            auto *r = static_cast<Recorder *>(u);
            r->events.push_back(std::string("status:") + text);
            return r->statusAnswer;
        };
        cb.begin = [](void *u) -> int32_t {
            auto *r = static_cast<Recorder *>(u);
            r->events.push_back("begin");
            return r->beginAnswer;
        };
        cb.end = [](void *u) -> int32_t {
            auto *r = static_cast<Recorder *>(u);
            r->events.push_back("end");
            return r->endAnswer;
        };
        cb.progress = [](void *u, double f) -> int32_t {
            auto *r = static_cast<Recorder *>(u);
            r->events.push_back("progress");
            r->progress.push_back(f);
            if (static_cast<int>(r->progress.size()) - 1 == r->cancelAtProgressCall) {
                return 1;
            }
            return f == 1.0 && r->cancelFinal ? 1 : 0;
        };
        return cb;
    }
};

int PlacedPages(SurveyRun &run) {
    int n = 0;
    for (int p = 1; p <= kPages; ++p) {
        n += run.Rec(PageImage(p)).placed ? 1 : 0;
    }
    return n;
}

TEST(ImageSurveyProgress, CompleteRun) {
    Recorder rec;
    StatusCallbackRecord cb = rec.Callbacks();
    SurveyRun run(ManyPages(), &cb);
    ASSERT_EQ(run.Status(), 0);
    EXPECT_EQ(PlacedPages(run), kPages);
    EXPECT_TRUE(run.Rec(5).undrawn);
    ASSERT_GE(rec.events.size(), 4u);
    EXPECT_EQ(rec.events.front(), "status:Scanning PDF...");
    EXPECT_EQ(rec.events[1], "begin");
    EXPECT_EQ(rec.events.back(), "end");
    // Reports in hundredths, at least 0.05 apart, the first after two pages
    // (2 x 0.98 / 30 = 0.065), the last 1.0 after the post-pass.
    ASSERT_GE(rec.progress.size(), 3u);
    EXPECT_DOUBLE_EQ(rec.progress.front(), 0.06);
    EXPECT_EQ(rec.progress.back(), 1.0);
    for (size_t i = 0; i < rec.progress.size(); ++i) {
        double f = rec.progress[i];
        EXPECT_NEAR(f * 100.0, std::round(f * 100.0), 1e-9) << i;
        if (i > 0 && i + 1 < rec.progress.size()) {
            EXPECT_GE(f - rec.progress[i - 1], 0.04) << i;
            EXPECT_LE(f, 0.98) << i;
        }
    }
}

TEST(ImageSurveyProgress, CancelAnswers) {
    struct Case {
        const char *name;
        std::function<void(Recorder &)> setup;
        int pagesPlaced;      // -1: not checked
        bool postPass;        // the undrawn image got marked
        bool tableBuilt;
        std::vector<std::string> firstEvents;
    } cases[] = {
        {"status line cancels: nothing else happens", [](Recorder &r) { r.statusAnswer = 1; }, 0, false, false,
         {"status:Scanning PDF..."}},
        {"begin cancels: pages still run, no post-pass", [](Recorder &r) { r.beginAnswer = 1; }, kPages, false, true,
         {"status:Scanning PDF...", "begin"}},
        {"first progress report cancels before the next page", [](Recorder &r) { r.cancelAtProgressCall = 0; }, 3,
         false, true, {"status:Scanning PDF...", "begin", "progress", "end"}},
        {"third progress report cancels", [](Recorder &r) { r.cancelAtProgressCall = 2; }, 7, false, true, {}},
        {"the final 1.0 report cancels after the post-pass", [](Recorder &r) { r.cancelFinal = true; }, kPages, true,
         true, {}},
        {"end cancels", [](Recorder &r) { r.endAnswer = 1; }, kPages, true, true, {}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Recorder rec;
        c.setup(rec);
        StatusCallbackRecord cb = rec.Callbacks();
        SurveyRun run(ManyPages(), &cb);
        EXPECT_EQ(run.Status(), 2);
        if (!c.tableBuilt) {
            EXPECT_EQ(run.Settings().imageRecords, nullptr);
            EXPECT_EQ(rec.events, c.firstEvents);
            continue;
        }
        EXPECT_EQ(PlacedPages(run), c.pagesPlaced);
        EXPECT_EQ(run.Rec(5).undrawn, c.postPass);
        EXPECT_EQ(rec.events.back(), "end");
        EXPECT_EQ(rec.progress.empty() ? 0.0 : rec.progress.back() == 1.0, c.postPass);
        for (size_t i = 0; i < c.firstEvents.size(); ++i) {
            ASSERT_LT(i, rec.events.size());
            EXPECT_EQ(rec.events[i], c.firstEvents[i]) << i;
        }
    }
}

// A cancel answered to the report before the last page still stops the run.
TEST(ImageSurveyProgress, CancelAtLastReport) {
    Recorder plain;
    StatusCallbackRecord cb0 = plain.Callbacks();
    { SurveyRun run(ManyPages(), &cb0); }
    ASSERT_GE(plain.progress.size(), 2u);
    Recorder rec;
    rec.cancelAtProgressCall = static_cast<int>(plain.progress.size()) - 2; // the last in-loop report
    StatusCallbackRecord cb = rec.Callbacks();
    SurveyRun run(ManyPages(), &cb);
    EXPECT_EQ(run.Status(), 2);
    EXPECT_FALSE(run.Rec(5).undrawn);
    EXPECT_NE(rec.progress.back(), 1.0);
}

TEST(ImageSurveyProgress, AbsentCallbacks) {
    StatusCallbackRecord empty{};
    SurveyRun withEmpty(ManyPages(), &empty);
    EXPECT_EQ(withEmpty.Status(), 0);
    EXPECT_EQ(PlacedPages(withEmpty), kPages);
    SurveyRun without(ManyPages(), nullptr);
    EXPECT_EQ(without.Status(), 0);
    EXPECT_TRUE(without.Rec(5).undrawn);
    OptimizerSettings s{};
    EXPECT_EQ(RunImageSurvey(nullptr, &s), 7);
    EXPECT_EQ(RunImageSurvey(nullptr, nullptr), 7);
}

// ---------------------------------------------------------------------------
// Damaged input: no crash, the survey completes.

TEST(ImageSurvey, DamagedDocuments) {
    struct Case {
        const char *name;
        std::function<void(PdfBuilder &)> objects;
    } cases[] = {
        {"image dictionary with absurd size",
         [](PdfBuilder &b) {
             b.Stream(5, "/Subtype /Image /Width 2147483647 /Height 2147483647 /ColorSpace /DeviceGray "
                         "/BitsPerComponent 8 /Filter /DCTDecode",
                      "\xff\xd8\xff\xdb\x00\x43");
         }},
        {"negative size", [](PdfBuilder &b) {
             b.Stream(5, "/Subtype /Image /Width -5 /Height 8 /ColorSpace /DeviceGray /BitsPerComponent 8", "x");
         }},
        {"image is not a stream", [](PdfBuilder &b) { b.Object(5, "<< /Subtype /Image /Width 8 /Height 8 >>"); }},
        {"missing image object", [](PdfBuilder &) {}},
        {"/SMask to itself", [](PdfBuilder &b) { AddImage300(b, 5, "/SMask 5 0 R /Mask 5 0 R"); }},
        {"/SMask to a non-stream", [](PdfBuilder &b) {
             AddImage300(b, 5, "/SMask 6 0 R");
             b.Object(6, "42");
         }},
        {"/SMask out of range", [](PdfBuilder &b) { AddImage300(b, 5, "/SMask 1000000 0 R"); }},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        PdfBuilder b = PageDoc("q 72 0 0 72 0 0 cm /Im1 Do Q", kIm1);
        c.objects(b);
        SurveyRun run(b);
        ASSERT_TRUE(run.Ok());
        EXPECT_EQ(run.Status(), 0);
    }
}

// ---------------------------------------------------------------------------
// Real files: resolutions match what `pdfimages -list` reports per object.

TEST(ImageSurveyCorpus, MatchesPdfimages) {
    const std::string dir = osseltest::CorpusDir();
    std::string probe;
    if (osseltest::RunCommand("pdfimages -v 2>&1", &probe) < 0 || probe.find("pdfimages") == std::string::npos) {
        GTEST_SKIP() << "pdfimages is not installed";
    }
    // Files without tiling patterns: pdfimages fills a pattern cell once
    // with its own matrix, while the survey sees every repeated cell.
    const char *files[] = {"ocrm-masks.pdf", "pdfjs-images.pdf", "pdfjs-bug1669099.pdf", "ocrm-rotated_skew.pdf",
                           "ocrm-multipage.pdf", "pdfjs-freeculture.pdf"};
    int checked = 0;
    for (const char *name : files) {
        const std::string path = dir + "/" + name;
        if (osseltest::ReadFile(path).empty()) {
            continue;
        }
        SCOPED_TRACE(name);
        std::string listing;
        ASSERT_EQ(osseltest::RunCommand("pdfimages -list '" + path + "' 2>/dev/null", &listing), 0);
        // Lowest x-ppi / y-ppi per object of the image and stencil rows.
        std::map<int, std::pair<double, double>> lowest;
        std::istringstream lines(listing);
        std::string line;
        while (std::getline(lines, line)) {
            std::istringstream f(line);
            std::string page, num, type, w, h, color, comp, bpc, enc, interp, obj, gen, xppi, yppi;
            if (!(f >> page >> num >> type >> w >> h >> color >> comp >> bpc >> enc >> interp >> obj >> gen >> xppi >>
                  yppi)) {
                continue;
            }
            if (type != "image" && type != "stencil") {
                continue;
            }
            int o = std::atoi(obj.c_str());
            if (o <= 0) {
                continue; // inline image
            }
            double x = std::atof(xppi.c_str()), y = std::atof(yppi.c_str());
            auto it = lowest.find(o);
            if (it == lowest.end()) {
                lowest[o] = {x, y};
            } else {
                it->second.first = std::min(it->second.first, x);
                it->second.second = std::min(it->second.second, y);
            }
        }
        ASSERT_FALSE(lowest.empty());
        auto doc = std::make_unique<PDFDoc>(std::make_unique<GooString>(path.c_str()));
        ASSERT_TRUE(doc->isOk());
        OptimizerSettings s{};
        ASSERT_EQ(RunImageSurvey(doc.get(), &s), 0);
        for (const auto &[o, ppi] : lowest) {
            ASSERT_LT(o, s.imageRecordCount);
            const ImageRecord &r = s.imageRecords[o];
            EXPECT_TRUE(r.placed) << "object " << o;
            // pdfimages prints whole numbers.
            EXPECT_NEAR(r.horizontalDpi, ppi.first, 0.5 + 1e-6 * ppi.first) << "object " << o;
            EXPECT_NEAR(r.verticalDpi, ppi.second, 0.5 + 1e-6 * ppi.second) << "object " << o;
            ++checked;
        }
        FreeImageRecordTable(&s);
    }
    if (checked == 0) {
        GTEST_SKIP() << "corpus files not found in " << dir;
    }
}

// Every corpus file (damaged ones included) is surveyed without a crash,
// and the table keeps its invariants.
TEST(ImageSurveyCorpus, EveryFileKeepsTheInvariants) {
    const std::string dir = osseltest::CorpusDir();
    const std::string manifest = osseltest::ReadFile(dir + "/MANIFEST.tsv");
    if (manifest.empty()) {
        GTEST_SKIP() << "corpus not found in " << dir;
    }
    std::istringstream lines(manifest);
    std::string line;
    std::getline(lines, line); // header
    int surveyed = 0;
    while (std::getline(lines, line)) {
        std::vector<std::string> cols;
        std::istringstream f(line);
        std::string col;
        while (std::getline(f, col, '\t')) {
            cols.push_back(col);
        }
        if (cols.empty() || cols[0].empty()) {
            continue;
        }
        SCOPED_TRACE(cols[0]);
        const std::string password = cols.size() > 9 ? cols[9] : "";
        std::optional<GooString> user;
        if (!password.empty()) {
            user = GooString(password.c_str());
        }
        const std::string path = dir + "/" + cols[0];
        auto doc = std::make_unique<PDFDoc>(std::make_unique<GooString>(path.c_str()), std::optional<GooString>(), user);
        if (!doc->isOk()) {
            continue;
        }
        OptimizerSettings s{};
        EXPECT_EQ(RunImageSurvey(doc.get(), &s), 0);
        ASSERT_NE(s.imageRecords, nullptr);
        for (int i = 1; i < s.imageRecordCount; ++i) {
            const ImageRecord &r = s.imageRecords[i];
            if (!r.placed) {
                EXPECT_FALSE(r.maskTarget || r.undrawn) << i;
                EXPECT_EQ(r.horizontalDpi, -1.0) << i;
                continue;
            }
            EXPECT_TRUE(r.inUse) << i;
            EXPECT_FALSE(r.undrawn && r.maskTarget) << i;
            if (r.undrawn) {
                EXPECT_EQ(r.horizontalDpi, -1.0) << i;
                EXPECT_EQ(r.verticalDpi, -1.0) << i;
            } else if (!r.maskTarget) {
                EXPECT_TRUE(std::isfinite(r.horizontalDpi) && r.horizontalDpi > 0.0) << i;
                EXPECT_TRUE(std::isfinite(r.verticalDpi) && r.verticalDpi > 0.0) << i;
                EXPECT_NE(r.sourceCompression, 0) << i;
                EXPECT_TRUE(r.sourceJpegQuality >= -1 && r.sourceJpegQuality <= 100) << i;
                EXPECT_EQ(r.sourceJpegQuality >= 0, r.sourceCompression == OSSEL_COMPRESSION_JPEG) << i;
            }
        }
        FreeImageRecordTable(&s);
        ++surveyed;
    }
    EXPECT_GT(surveyed, 0);
}

} // namespace
