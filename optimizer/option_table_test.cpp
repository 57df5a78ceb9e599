// Tests of the optimizer's option table: its shape, every text as users
// see it, and the table working in a real option handle.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "ossel.h"
#include "tagopt.h"

namespace {

constexpr const char *kScreen =
    "-DownsampleColorImages true -ColorImageResolution 72 -EncodeColorImages true -ColorImageFilter DCTEncode "
    "-ColorImageJPEGQuality 60 -DownsampleGrayImages true -GrayImageResolution 72 -EncodeGrayImages true "
    "-GrayImageFilter DCTEncode -GrayImageJPEGQuality 60 -DownsampleMonoImages true -MonoImageResolution 200 "
    "-EncodeMonoImages true -MonoImageFilter CCITTFaxEncode -RemoveDuplicateObjects true -RecompressStreams true "
    "-RemoveMetadata true -RemovePieceInfo true -RemoveStructuredPDF true -RemoveThumbnails true";
constexpr const char *kMinsize =
    "-DownsampleColorImages false -EncodeColorImages false -DownsampleGrayImages false -EncodeGrayImages false "
    "-DownsampleMonoImages false -EncodeMonoImages false -RemoveDuplicateObjects true -RecompressStreams true "
    "-RemoveMetadata true -RemovePieceInfo true -RemoveStructuredPDF true -RemoveThumbnails true";

struct ExpectedRow {
    const char *name;
    uint32_t type;
    const char *value;
    int32_t category;
    const char *summary;
    const char *help;
    const char *choicesOrAlias; // alias text for alias rows, choices otherwise
};

// The published option table, row by row, as users must see it.
const ExpectedRow kExpected[] = {
    {"DownsampleMonoImages", TAGOPT_BOOLEAN, "true", 0, "Downsample monochrome images",
     "Enable/disables downsampling of monochrome images",
     nullptr},
    {"MonoImageDownsampleType", TAGOPT_SINGLE, "Average", 0, "Downsampling filter for monochrome images",
     "Selects the type of filter to be used when downsampling monochrome images",
     "Average,Bicubic,Subsample"},
    {"MonoImageDownsampleThreshold", TAGOPT_DOUBLE, "1.5", 0, "Downsample threshold for monochrome images",
     "Sets downsample threshold for monochrome images. This is the ratio of imageresolution to output resolution above which downsampling is performed.",
     nullptr},
    {"MonoImageFilter", TAGOPT_SINGLE, "FlateEncode", 0, "Selects downsample filter type for monochrome images.",
     "Specifies the compression filter to be used for monochrome images.",
     "CCITTFaxEncode,CCITTFax3Encode,FlateEncode,LZWEncode,RunLengthEncode"},
    {"MonoImageFlateLevel", TAGOPT_INT, "9", 1, "Selects compression level for monochrome FlateEncoded images.",
     nullptr,
     nullptr},
    {"MonoImageResolution", TAGOPT_DOUBLE, "150.0", 0, "Resolution for monochrome images",
     "Specifies the resolution to which monochrome images are reduced.",
     nullptr},
    {"EncodeMonoImages", TAGOPT_BOOLEAN, "true", 0, "Compress monochrome images",
     "Enables/disables compression of monochrome images using MonoImageFilter",
     nullptr},
    {"DownsampleGrayImages", TAGOPT_BOOLEAN, "true", 1, "Downsample grayscale images",
     "Enable/disables downsampling of grayscale images",
     nullptr},
    {"GrayImageDownsampleType", TAGOPT_SINGLE, "Average", 1, "Downsampling filter type for grayscale images",
     "Selects the type of filter to be used when downsampling color images",
     "Average,Bicubic,Subsample"},
    {"GrayImageDownsampleThreshold", TAGOPT_DOUBLE, "1.5", 1, "Downsample threshold for grayscale images",
     "Sets downsample threshold for grayscale images. This is the ratio of imageresolution to output resolution above which downsampling is performed.",
     nullptr},
    {"GrayImageFilter", TAGOPT_SINGLE, "FlateEncode", 1, "Selects downsample filter type for grayscale images.",
     "Specifies the compression filter to be used for grayscale images.",
     "DCTEncode,FlateEncode,LZWEncode,JPXEncode"},
    {"GrayImageJPEGQuality", TAGOPT_INT, "80", 1, "Selects JPEG quality for grayscale DCTEncoded images.",
     nullptr,
     nullptr},
    {"GrayImageJPXQuality", TAGOPT_INT, "80", 1, "Selects JPEG2000 quality for grayscale JPXEncoded images.",
     nullptr,
     nullptr},
    {"GrayImageFlateLevel", TAGOPT_INT, "9", 1, "Selects compression level for grayscale FlateEncoded images.",
     nullptr,
     nullptr},
    {"GrayImageResolution", TAGOPT_DOUBLE, "72.0", 1, "Resolution for grayscale images",
     "Specifies the resolution to which grayscale images are reduced.",
     nullptr},
    {"EncodeGrayImages", TAGOPT_BOOLEAN, "true", 1, "Compress grayscale images",
     "Enables/disables compression of grayscale images using GrayImageFilter",
     nullptr},
    {"DownsampleColorImages", TAGOPT_BOOLEAN, "true", 2, "Downsample color images",
     "Enable/disables downsampling of color images",
     nullptr},
    {"ColorImageDownsampleType", TAGOPT_SINGLE, "Average", 2, "Downsampling filter type for color images",
     "Selects the type of filter to be used when downsampling color images",
     "Average,Bicubic,Subsample"},
    {"ColorImageDownsampleThreshold", TAGOPT_DOUBLE, "1.5", 2, "Downsample threshold for color images",
     "Sets downsample threshold for color images. This is the ratio of imageresolution to output resolution above which downsampling is performed.",
     nullptr},
    {"ColorImageFilter", TAGOPT_SINGLE, "FlateEncode", 2, "Selects downsample filter type for color images.",
     "Specifies the compression filter to be used for color images.",
     "DCTEncode,FlateEncode,LZWEncode,JPXEncode"},
    {"ColorImageJPEGQuality", TAGOPT_INT, "80", 2, "Selects JPEG Q-factor for color DCTEncoded images.",
     nullptr,
     nullptr},
    {"ColorImageJPXQuality", TAGOPT_INT, "80", 2, "Selects JPEG2000 quality for color JPXEncoded images.",
     nullptr,
     nullptr},
    {"ColorImageFlateLevel", TAGOPT_INT, "9", 1, "Selects compression level for color FlateEncoded images.",
     nullptr,
     nullptr},
    {"ColorImageResolution", TAGOPT_DOUBLE, "72.0", 2, "Resolution for color images",
     "Specifies the resolution to which color images are reduced.",
     nullptr},
    {"EncodeColorImages", TAGOPT_BOOLEAN, "true", 2, "Compress color images",
     "Enables/disables compression of color images using ColorImageFilter",
     nullptr},
    {"ColorTransform", TAGOPT_BOOLEAN, "false", 2, "Enable/disables DCT color image transform",
     "Enable RGB->YCC color transformation when DCTEncoding images",
     nullptr},
    {"ColorPredictor", TAGOPT_BOOLEAN, "true", 2, "Enable/disables LZW/Flate predictor",
     "Enable predictor when using LZW and Flate compression",
     nullptr},
    {"RemoveDuplicateObjects", TAGOPT_BOOLEAN, "true", 2, "Removes duplicate image objects",
     nullptr,
     nullptr},
    {"RecompressStreams", TAGOPT_BOOLEAN, "true", 2, "Recompress data streams",
     "Enables/disables recompression of non-image data streams using FLATE",
     nullptr},
    {"RecompressStreamsFlateLevel", TAGOPT_INT, "9", 1, "Selects compression level for RecompressStreams streams.",
     nullptr,
     nullptr},
    {"RemovePieceInfo", TAGOPT_BOOLEAN, "true", 2, "Removes Photoshop/Illustrator piece info",
     nullptr,
     nullptr},
    {"RemoveThumbnails", TAGOPT_BOOLEAN, "false", 2, "Removes Thumbnails",
     "Enables/disables removal of thumbnail images",
     nullptr},
    {"RemoveMetadata", TAGOPT_BOOLEAN, "true", 2, "Removes Metadata",
     "Enables/disables removal of meta-data",
     nullptr},
    {"RemoveStructuredPDF", TAGOPT_BOOLEAN, "true", 2, "Removes Tagged/Structured PDF",
     nullptr,
     nullptr},
    {"RemoveBase14Fonts", TAGOPT_BOOLEAN, "false", 2, "Removes base 13 fonts (Helvetica, Times, Courier, Symbol, ZapfDingbats)",
     nullptr,
     nullptr},
    {"RemoveAllFonts", TAGOPT_BOOLEAN, "false", 2, "Removes all embedded fonts",
     nullptr,
     nullptr},
    {"PreventGrowth", TAGOPT_BOOLEAN, "true", 2, "Will use original object if compressed object is larger",
     nullptr,
     nullptr},
    {"StatusCallbacks", TAGOPT_POINTER, "0", 1, "Pointer to status callback struct.",
     nullptr,
     nullptr},
    {"password", TAGOPT_STRING, "", 3, "Password to open PDF",
     nullptr,
     nullptr},
    {"encrypt", TAGOPT_BOOLEAN, "false", 3, "Enable/disable encryption of document",
     nullptr,
     nullptr},
    {"ownerPass", TAGOPT_STRING, "", 3, "Set the document's owner password",
     nullptr,
     nullptr},
    {"openPass", TAGOPT_STRING, "", 3, "Set the document's user password",
     nullptr,
     nullptr},
    {"keyLength", TAGOPT_SINGLE, "40", 3, "Size of the encryption key (40 or 128), default is 40",
     nullptr,
     "40,128"},
    {"allowPrinting", TAGOPT_BOOLEAN, "true", 3, "Allow printing of the document",
     nullptr,
     nullptr},
    {"allowEditing", TAGOPT_BOOLEAN, "true", 3, "Allow editing of the document",
     nullptr,
     nullptr},
    {"allowCopying", TAGOPT_BOOLEAN, "true", 3, "Allow copying of the document content",
     nullptr,
     nullptr},
    {"allowNotes", TAGOPT_BOOLEAN, "true", 3, "Allow adding annotations and notes",
     nullptr,
     nullptr},
    {"allowFill", TAGOPT_BOOLEAN, "true", 3, "Allow form filling and signing (available for 128bit only)",
     nullptr,
     nullptr},
    {"allowAccess", TAGOPT_BOOLEAN, "true", 3, "Allow Accessibility (available for 128bit only)",
     nullptr,
     nullptr},
    {"allowAssem", TAGOPT_BOOLEAN, "true", 3, "Allow Document Assembly (available for 128bit only)",
     nullptr,
     nullptr},
    {"allowHQPrint", TAGOPT_BOOLEAN, "true", 3, "Allow High Quality Printing (available for 128bit only)",
     nullptr,
     nullptr},
    {"o", TAGOPT_STRING, "out.pdf", 3, "Set output filename",
     nullptr,
     nullptr},
    {"v", TAGOPT_BOOLEAN, "false", 3, "Print verbose information messages",
     nullptr,
     nullptr},
    {"h", TAGOPT_ALIAS, "", 3, "Print this help message",
     nullptr,
     "-help usage"},
    {"help", TAGOPT_STRING, "", 3, "Display help on usage or a specific command",
     "The help option can be used to display a general help messagefor the program usage (-help usage) or can display a detailedhelp message on a specific option (-help <option>)",
     nullptr},
    {"screen", TAGOPT_ALIAS, "", 4, "screen setting",
     nullptr,
     kScreen},
    {"minsize", TAGOPT_ALIAS, "", 4, "minimize file size setting",
     nullptr,
     kMinsize},
};

// Compares two optional texts; null only equals null.
::testing::AssertionResult SameText(const char *what, const char *actual, const char *expected)
{
    if (actual == nullptr && expected == nullptr) {
        return ::testing::AssertionSuccess();
    }
    if (actual != nullptr && expected != nullptr && std::strcmp(actual, expected) == 0) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << what << ": got " << (actual ? "\"" + std::string(actual) + "\"" : "null")
                                         << ", expected "
                                         << (expected ? "\"" + std::string(expected) + "\"" : "null");
}

struct HandleDeleter {
    void operator()(tagopt_handle *h) const { tagopt_release(h); }
};
using Handle = std::unique_ptr<tagopt_handle, HandleDeleter>;

struct TextDeleter {
    void operator()(char *p) const { std::free(p); }
};
using Text = std::unique_ptr<char, TextDeleter>;

TEST(OptionTable, RowsMatchThePublishedTable)
{
    const tagopt_def *table = ossel_get_opts();
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(table, ossel_get_opts()) << "the table is static";

    constexpr size_t kRows = sizeof kExpected / sizeof kExpected[0];
    ASSERT_EQ(kRows, 57u);
    size_t count = 0;
    while (table[count].name != nullptr) {
        ++count;
    }
    ASSERT_EQ(count, kRows);

    for (size_t i = 0; i < kRows; ++i) {
        const tagopt_def &row = table[i];
        const ExpectedRow &want = kExpected[i];
        SCOPED_TRACE(std::string("row ") + std::to_string(i) + " " + want.name);
        EXPECT_TRUE(SameText("name", row.name, want.name));
        EXPECT_EQ(row.type, want.type);
        EXPECT_TRUE(SameText("value", row.value, want.value));
        EXPECT_EQ(row.category, want.category);
        EXPECT_TRUE(SameText("summary", row.summary, want.summary));
        EXPECT_TRUE(SameText("help", row.help, want.help));
        if (want.type == TAGOPT_ALIAS) {
            EXPECT_TRUE(SameText("alias", row.alias, want.choicesOrAlias));
            EXPECT_EQ(row.choices, nullptr);
        } else {
            EXPECT_TRUE(SameText("choices", row.choices, want.choicesOrAlias));
            EXPECT_EQ(row.alias, nullptr);
        }
        EXPECT_EQ(row.flags, std::strcmp(want.name, "password") == 0 ? uint32_t{TAGOPT_HIDDEN} : 0u);
        EXPECT_EQ(row.extra, nullptr);
    }
}

TEST(OptionTable, VersionIs111)
{
    EXPECT_EQ(ossel_get_version(), 111);
}

TEST(OptionTable, EveryInitialValueIsAcceptedByAHandle)
{
    Handle h(tagopt_initialize(ossel_get_opts(), 0));
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(h->node_count, 57);
    for (const ExpectedRow &want : kExpected) {
        SCOPED_TRACE(want.name);
        if (want.type == TAGOPT_POINTER) {
            EXPECT_EQ(tagopt_get(h.get(), want.name), nullptr) << "\"0\" is the null pointer";
        } else {
            EXPECT_TRUE(SameText("value", tagopt_get(h.get(), want.name), want.value));
        }
    }
}

TEST(OptionTable, HelpLinesThroughTheOptionLibrary)
{
    Handle h(tagopt_initialize(ossel_get_opts(), 0));
    ASSERT_NE(h, nullptr);
    struct Case {
        const char *name;
        const char *line;
    };
    const Case cases[] = {
        // help text preferred over the summary
        {"ColorImageResolution", "-ColorImageResolution - Specifies the resolution to which color images are reduced."},
        // no help text: the summary
        {"o", "-o - Set output filename"},
        {"help",
         "-help - The help option can be used to display a general help messagefor the program usage (-help usage) "
         "or can display a detailedhelp message on a specific option (-help <option>)"},
        {"screen", "-screen - screen setting"},
    };
    for (const Case &c : cases) {
        Text line(tagopt_help(h.get(), c.name));
        ASSERT_NE(line, nullptr) << c.name;
        EXPECT_STREQ(line.get(), c.line);
    }
    EXPECT_EQ(tagopt_help(h.get(), "NoSuchOption"), nullptr);
}

TEST(OptionTable, UsageListsVisibleOptionsInByteOrder)
{
    Handle h(tagopt_initialize(ossel_get_opts(), 0));
    ASSERT_NE(h, nullptr);
    Text usage(tagopt_usage(h.get(), 0));
    ASSERT_NE(usage, nullptr);
    const std::string text(usage.get());
    EXPECT_NE(text.find("-ColorImageFilter <single>\n"
                        "Selects downsample filter type for color images. (DCTEncode,FlateEncode,LZWEncode,JPXEncode)\n"),
              std::string::npos);
    EXPECT_NE(text.find("-StatusCallbacks<pointer>\n"), std::string::npos);
    EXPECT_NE(text.find("-o <string>\nSet output filename\n"), std::string::npos);
    EXPECT_EQ(text.find("-password"), std::string::npos) << "hidden option listed";
    EXPECT_LT(text.find("-ColorImageFilter"), text.find("-allowCopying")) << "upper case sorts first";
}

} // namespace
