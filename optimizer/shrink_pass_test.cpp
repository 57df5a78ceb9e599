// The plan of the shrink pass, checked on small documents with image records
// set by hand, so every branch of the rules is reached exactly: free entries,
// generations, the Length step, the bit-depth rule and the JPEG rule.
#include "shrink_pass.h"

#include <PDFDoc.h>
#include <XRef.h>
#include <goo/GooString.h>

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "core_config.h"
#include "image_survey.h"
#include "pdf_builder.h"
#include "settings.h"

using namespace osseltest;

namespace {

int32_t MarkerCallback(PDFWriter *, int32_t, int32_t) { return 1; }

struct Messages {
    std::vector<std::string> texts;
    static int32_t OnMessage(void *user, const char *text) {
        static_cast<Messages *>(user)->texts.emplace_back(text);
        return 0;
    }
};

// The settings of the JPEG-rule examples: colour class at 72 dpi with
// threshold 1.5 (K = 108.5), DCT output at quality 80; gray likewise.
void JpegRuleSettings(OptimizerSettings *s) {
    ossel_set_defaults(s);
    for (ImageClassSettings *c : {&s->gray, &s->color}) {
        c->downsample = true;
        c->encode = true;
        c->compression = OSSEL_COMPRESSION_JPEG;
        c->resolution = 72.0;
        c->downsampleThreshold = 1.5;
        c->jpegQuality = 80;
        c->resampleFilter = "box";
        c->flateLevel = 9;
    }
    s->mono.resolution = 150.0;
    s->mono.downsampleThreshold = 1.5;
}

// A document whose objects 5.. are image streams (raw 8-bit gray 2x2), plus
// whatever the case adds; the records are then set by hand.
class PlanFixture : public ::testing::Test {
protected:
    void SetUp() override {
        core_ = std::make_unique<CoreSession>(true);
        SetOsselVerbose(true);
        JpegRuleSettings(&settings_);
        callbacks_.userData = &messages_;
        callbacks_.message = &Messages::OnMessage;
        settings_.callbacks = &callbacks_;
    }
    void TearDown() override {
        FreeImageRecordTable(&settings_);
        doc_.reset();
        SetOsselVerbose(false);
        core_.reset();
    }

    void Open(const PdfBuilder &b) {
        path_ = TempPath(".pdf");
        ASSERT_TRUE(b.WriteTo(path_));
        Open(path_);
    }
    void Open(const std::string &path) {
        doc_ = std::make_unique<PDFDoc>(std::make_unique<GooString>(path));
        ASSERT_TRUE(doc_->isOk());
        ASSERT_EQ(BuildImageRecordTable(doc_.get(), &settings_), 0);
    }
    ImageRecord &Record(int num) { return settings_.imageRecords[num]; }
    // Marks num as a drawn image.
    void Image(int num, int bits, int components, int compression, int quality, double dpi) {
        ImageRecord &e = Record(num);
        e.placed = true;
        e.bitsPerComponent = bits;
        e.components = components;
        e.sourceCompression = compression;
        e.sourceJpegQuality = quality;
        e.horizontalDpi = e.verticalDpi = dpi;
    }
    void Plan() { PlanObjects(doc_.get(), &settings_, table_, &MarkerCallback); }
    int Action(int num) {
        const ObjectTableEntry *e = table_.Find(num);
        return e ? e->action : actionCopy;
    }

    std::unique_ptr<CoreSession> core_;
    std::string path_;
    std::unique_ptr<PDFDoc> doc_;
    OptimizerSettings settings_{};
    StatusCallbackRecord callbacks_{};
    Messages messages_;
    ObjectTable table_;
};

PdfBuilder ImagesDocument(int imageCount) {
    PdfBuilder b = PdfBuilder::SimplePage("q 10 0 0 10 0 0 cm Q");
    for (int i = 0; i < imageCount; ++i)
        b.Stream(5 + i, "/Type /XObject /Subtype /Image /Width 2 /Height 2 /ColorSpace /DeviceGray /BitsPerComponent 8",
                 std::string(4, '\x80'));
    return b;
}

TEST_F(PlanFixture, FreeEntriesAndGenerations) {
    PdfBuilder b = PdfBuilder::SimplePage("q Q");
    b.Object(5, "(kept)", 3);
    b.Free(6, 2);
    b.Object(7, "(also kept)");
    Open(b);
    Plan();
    EXPECT_EQ(Action(6), actionFree);
    ASSERT_NE(table_.Find(5), nullptr);
    EXPECT_EQ(table_.Find(5)->gen, 3);
    EXPECT_EQ(table_.Find(5)->action, actionCopy);
    EXPECT_EQ(Action(7), actionCopy);
    EXPECT_EQ(Action(1), actionCopy);
    EXPECT_TRUE(messages_.texts.empty());
}

struct DepthCase {
    int bits;
    bool undrawn;
    bool toProcessor;
};

TEST_F(PlanFixture, BitDepthRule) {
    const DepthCase cases[] = {
        {1, false, true}, {4, false, false}, {8, false, true}, {16, false, false}, {0, true, false},
    };
    Open(ImagesDocument(5));
    int num = 5;
    for (const DepthCase &c : cases) {
        Image(num, c.bits, 1, OSSEL_COMPRESSION_NONE, -1, c.undrawn ? -1.0 : 300.0);
        Record(num).undrawn = c.undrawn;
        ++num;
    }
    Plan();
    std::vector<std::string> expected;
    num = 5;
    for (const DepthCase &c : cases) {
        EXPECT_EQ(Action(num), c.toProcessor ? actionCallback : actionCopy) << "bits " << c.bits;
        if (c.toProcessor) {
            EXPECT_EQ(table_.Find(num)->writeCallback, &MarkerCallback);
        } else {
            expected.push_back("Skipping image " + std::to_string(num) + " because it isn't 8 or 16 bits per pixel\n");
        }
        ++num;
    }
    EXPECT_EQ(messages_.texts, expected);
}

TEST_F(PlanFixture, SkipMessagesOnlyWhenVerbose) {
    SetOsselVerbose(false);
    Open(ImagesDocument(1));
    Image(5, 16, 1, OSSEL_COMPRESSION_NONE, -1, 300.0);
    Plan();
    EXPECT_EQ(Action(5), actionCopy);
    EXPECT_TRUE(messages_.texts.empty());
}

struct JpegCase {
    const char *name;
    int components;
    int quality;
    double dpi;
    bool downsample;     // of the class used
    int compression;     // of the class used
    bool keptAsIs;
};

TEST_F(PlanFixture, JpegRule) {
    const JpegCase cases[] = {
        {"quality 85 at 300 dpi is kept (85 <= 80 + 5)", 3, 85, 300.0, true, OSSEL_COMPRESSION_JPEG, true},
        {"quality 86 at 300 dpi is processed", 3, 86, 300.0, true, OSSEL_COMPRESSION_JPEG, false},
        {"quality 20 at 100 dpi is processed (not above K)", 3, 20, 100.0, true, OSSEL_COMPRESSION_JPEG, false},
        {"just above K = 108.5", 3, 20, 108.6, true, OSSEL_COMPRESSION_JPEG, true},
        {"exactly K is not above it", 3, 20, 108.5, true, OSSEL_COMPRESSION_JPEG, false},
        {"downsampling off", 3, 20, 300.0, false, OSSEL_COMPRESSION_JPEG, false},
        {"output filter Flate", 3, 20, 300.0, true, OSSEL_COMPRESSION_DEFLATE, false},
        {"never drawn (-1) never exceeds K", 3, 20, -1.0, true, OSSEL_COMPRESSION_JPEG, false},
        {"gray class", 1, 85, 300.0, true, OSSEL_COMPRESSION_JPEG, true},
    };
    Open(ImagesDocument(static_cast<int>(std::size(cases))));
    for (size_t k = 0; k < std::size(cases); ++k) {
        const JpegCase &c = cases[k];
        SCOPED_TRACE(c.name);
        int num = 5 + static_cast<int>(k);
        messages_.texts.clear();
        table_.Clear();
        JpegRuleSettings(&settings_);
        settings_.callbacks = &callbacks_;
        ImageClassSettings &cls = c.components == 1 ? settings_.gray : settings_.color;
        cls.downsample = c.downsample;
        cls.compression = c.compression;
        // Only this image is an image for this round.
        for (int i = 5; i < 5 + static_cast<int>(std::size(cases)); ++i)
            Record(i).placed = false;
        Image(num, 8, c.components, OSSEL_COMPRESSION_JPEG, c.quality, c.dpi);
        Plan();
        EXPECT_EQ(Action(num), c.keptAsIs ? actionCopy : actionCallback);
        if (c.keptAsIs) {
            ASSERT_EQ(messages_.texts.size(), 1u);
            EXPECT_EQ(messages_.texts[0], "Not recompressing JPEG image " + std::to_string(num) +
                                              " because current quality " + std::to_string(c.quality) +
                                              " < setting 85\n");
        } else {
            EXPECT_TRUE(messages_.texts.empty());
        }
    }
}

TEST_F(PlanFixture, JpegRuleUsesTheGrayClassForOneComponent) {
    Open(ImagesDocument(1));
    settings_.gray.resolution = 300.0; // K = 450.5 for gray, 108.5 for colour
    Image(5, 8, 1, OSSEL_COMPRESSION_JPEG, 50, 300.0);
    Plan();
    EXPECT_EQ(Action(5), actionCallback);
}

TEST_F(PlanFixture, LengthStep) {
    struct Case {
        bool recompress;
        bool image;
        bool lengthFreed;
    } cases[] = {
        {true, false, true},
        {false, false, false},
        {true, true, true},
        {false, true, true}, // an image handed to the processor always frees its Length object
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string("recompress ") + (c.recompress ? "on" : "off") + (c.image ? ", image" : ""));
        PdfBuilder b = PdfBuilder::SimplePage("q Q");
        if (c.image)
            b.StreamIndirectLength(5, "/Type /XObject /Subtype /Image /Width 2 /Height 2 /ColorSpace /DeviceGray "
                                      "/BitsPerComponent 8", std::string(4, 'x'), 6);
        else
            b.StreamIndirectLength(5, "", "0 0 m 10 10 l S", 6);
        FreeImageRecordTable(&settings_);
        table_.Clear();
        Open(b);
        settings_.recompressStreams = c.recompress;
        if (c.image)
            Image(5, 8, 1, OSSEL_COMPRESSION_NONE, -1, 300.0);
        Plan();
        EXPECT_EQ(Action(6), c.lengthFreed ? actionFree : actionCopy);
        EXPECT_EQ(Action(5), c.image ? actionCallback : actionCopy);
    }
}

TEST_F(PlanFixture, LengthReferringToANonNumberIsNotFreed) {
    // A damaged file whose stream names the page tree as its Length.
    PdfBuilder b = PdfBuilder::SimplePage("q Q");
    b.Object(5, "<< /Length 2 0 R >>\nstream\n0 0 m S\nendstream");
    Open(b);
    settings_.recompressStreams = true;
    Plan();
    EXPECT_EQ(Action(2), actionCopy);
}

TEST_F(PlanFixture, NoProcessorMeansCopy) {
    Open(ImagesDocument(1));
    Image(5, 8, 3, OSSEL_COMPRESSION_DEFLATE, -1, 300.0);
    PlanObjects(doc_.get(), &settings_, table_, ImageWriteCallback());
    if (ImageWriteCallback() == nullptr) {
        EXPECT_EQ(Action(5), actionCopy);
    } else {
        EXPECT_EQ(Action(5), actionCallback);
    }
}

TEST_F(PlanFixture, ObjectStreamContainersAreFreed) {
    PdfBuilder b = PdfBuilder::SimplePage("BT /F1 12 Tf 72 720 Td (x) Tj ET",
                                          "/Font << /F1 << /Type /Font /Subtype /Type1 /BaseFont /Helvetica >> >>");
    std::string plain = TempPath(".pdf");
    ASSERT_TRUE(b.WriteTo(plain));
    std::string packed = TempPath(".pdf");
    ASSERT_EQ(RunCommand("qpdf --object-streams=generate '" + plain + "' '" + packed + "'"), 0);
    Open(packed);
    XRef *xref = doc_->getXRef();
    std::vector<int> containers;
    int xrefStream = -1;
    for (int i = 1; i < xref->getNumObjects(); ++i) {
        XRefEntry *e = xref->getEntry(i, false);
        if (e->type == xrefEntryCompressed)
            containers.push_back(static_cast<int>(e->offset));
    }
    ASSERT_FALSE(containers.empty()) << "qpdf wrote no object stream";
    for (int i = 1; i < xref->getNumObjects(); ++i) {
        Object o = xref->getEntry(i, false)->type == xrefEntryUncompressed ? xref->fetch(i, 0) : Object(objNull);
        if (o.isStream() && o.streamGetDict()->is("XRef"))
            xrefStream = i;
    }
    Plan();
    for (int n : containers)
        EXPECT_EQ(Action(n), actionFree) << "object stream " << n;
    if (xrefStream > 0) {
        EXPECT_EQ(Action(xrefStream), actionFree) << "cross-reference stream " << xrefStream;
    }
    // qpdf renumbers: the catalog (now inside an object stream) is still written.
    EXPECT_EQ(Action(xref->getRootNum()), actionCopy);
}

} // namespace

namespace {

TEST_F(PlanFixture, NumbersBeyondTheRecordsArePlannedFromTheCrossReferenceTable) {
    // As after a rebuild of the table during the survey: the records cover
    // fewer numbers than the reading core now knows.
    PdfBuilder b = PdfBuilder::SimplePage("q Q");
    b.Object(5, "(five)", 2);
    b.Free(6, 1);
    b.Object(7, "(seven)");
    Open(b);
    settings_.imageRecordCount = 3;
    Plan();
    EXPECT_EQ(Action(4), actionCopy);
    ASSERT_NE(table_.Find(5), nullptr);
    EXPECT_EQ(table_.Find(5)->gen, 2);
    EXPECT_EQ(Action(5), actionCopy);
    EXPECT_EQ(Action(6), actionFree);
    EXPECT_EQ(Action(7), actionCopy);
}

} // namespace
