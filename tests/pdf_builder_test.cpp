// The test PDF builder must itself produce files that an independent checker
// accepts, or every test built on it proves nothing.
#include "pdf_builder.h"

#include <gtest/gtest.h>

using namespace osseltest;

TEST(PdfBuilder, SimplePagePassesQpdfCheck) {
    PdfBuilder b = PdfBuilder::SimplePage("BT /F1 12 Tf 72 720 Td (Hello) Tj ET",
                                          "/Font << /F1 << /Type /Font /Subtype /Type1 /BaseFont /Helvetica >> >>");
    b.StreamIndirectLength(5, "/Filter /FlateDecode", Deflate("q Q"), 6);
    b.Free(7);
    b.Object(8, "(unused)");
    std::string path = TempPath(".pdf");
    ASSERT_TRUE(b.WriteTo(path));
    std::string out;
    int rc = RunCommand("qpdf --check '" + path + "' 2>&1", &out);
    EXPECT_EQ(rc, 0) << out;
    EXPECT_NE(out.find("No syntax or stream encoding errors"), std::string::npos) << out;
}
