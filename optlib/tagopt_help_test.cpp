// Tests of the help line and the usage listing.

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "tagopt_test_support.h"

using namespace tagopttest;

namespace {

std::string Usage(tagopt_handle *h, unsigned flags = 0) {
    Text text(tagopt_usage(h, flags));
    return text ? std::string(text.get()) : std::string("<null>");
}

// ---------------------------------------------------------------------------
// tagopt_help

TEST(TagoptHelp, PrefersHelpThenSummaryThenAFixedText) {
    Handle h = Make({Def("o", TAGOPT_STRING, "out.pdf", nullptr, "Set output filename"),
                     Def("ColorImageResolution", TAGOPT_DOUBLE, "72.0", nullptr, "Resolution for color images",
                         "Specifies the resolution to which color images are reduced."),
                     Def("x", TAGOPT_STRING, "")});
    ASSERT_NE(h, nullptr);
    struct Case {
        const char *name;
        const char *line;
    };
    const Case cases[] = {
        {"o", "-o - Set output filename"},
        {"ColorImageResolution", "-ColorImageResolution - Specifies the resolution to which color images are reduced."},
        {"x", "-x - No help available"},
    };
    for (const Case &c : cases) {
        Text line(tagopt_help(h.get(), c.name));
        ASSERT_NE(line, nullptr) << c.name;
        EXPECT_STREQ(line.get(), c.line);
    }
}

TEST(TagoptHelp, UnknownNameGivesNullAndLeavesErrorText) {
    Handle h = Make(OptimizerLikeRows());
    ASSERT_NE(h, nullptr);
    std::strcpy(h->error_text, "untouched");
    EXPECT_EQ(tagopt_help(h.get(), "nosuch"), nullptr);
    EXPECT_STREQ(h->error_text, "untouched");
    EXPECT_EQ(tagopt_help(nullptr, "o"), nullptr);
}

TEST(TagoptHelp, NullNameIsReported) {
    Handle h = Make(OptimizerLikeRows());
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(tagopt_help(h.get(), nullptr), nullptr);
    EXPECT_STREQ(h->error_text, "tagopt_help with key == NULL not yet implemented");
}

// ---------------------------------------------------------------------------
// tagopt_usage, long layout

TEST(TagoptUsage, LongLayoutOfTheOptimizerLikeTable) {
    // The widest entry is "ColorImageDownsampleThreshold" with " <float>":
    // 37 characters, so W is 38 and every entry uses the long layout. The
    // hidden "password" is left out.
    Handle h = Make(OptimizerLikeRows());
    ASSERT_NE(h, nullptr);
    const std::string expected =
        "-ColorImageDownsampleThreshold <float>\nDownsample threshold for color images\n"
        "-ColorImageFilter <single>\nSelects downsample filter type for color images. "
        "(DCTEncode,FlateEncode,LZWEncode,JPXEncode)\n"
        "-ColorImageJPEGQuality <int>\nSelects JPEG Q-factor for color DCTEncoded images.\n"
        "-ColorImageResolution <float>\nResolution for color images\n"
        "-DownsampleColorImages <0|1>\nDownsample color images\n"
        "-StatusCallbacks<pointer>\nPointer to status callback struct.\n"
        "-allowCopying <0|1>\nAllow copying of the document content\n"
        "-h\nPrint this help message\n"
        "-help <string>\nDisplay help on usage or a specific command\n"
        "-keyLength <single>\nSize of the encryption key (40 or 128), default is 40 (40,128)\n"
        "-o <string>\nSet output filename\n"
        "-screen\nscreen setting\n"
        "-v <0|1>\nPrint verbose information messages\n";
    EXPECT_EQ(Usage(h.get()), expected);
}

TEST(TagoptUsage, LongLayoutBareBooleansDropTheirLabel) {
    Handle h = Make(OptimizerLikeRows());
    ASSERT_NE(h, nullptr);
    const std::string text = Usage(h.get(), TAGOPT_BARE_BOOLEANS);
    EXPECT_NE(text.find("-DownsampleColorImages\nDownsample color images\n"), std::string::npos);
    EXPECT_NE(text.find("\n-v\nPrint verbose information messages\n"), std::string::npos);
    EXPECT_EQ(text.find("<0|1>"), std::string::npos);
    EXPECT_NE(text.find("-ColorImageFilter <single>\n"), std::string::npos);
}

TEST(TagoptUsage, HiddenTagsCountInTheWidth) {
    // Without the hidden tag W would be 14 (short layout); its 40-character
    // name makes W 50, so every entry takes the long layout.
    Handle h = Make({Def("mode", TAGOPT_SINGLE, "a", "a,b"),
                     Def("al", TAGOPT_ALIAS, "", nullptr, nullptr, nullptr, "-mode b"),
                     Def("bare", TAGOPT_STRING, ""),
                     Def(std::string(40, 'z').c_str(), TAGOPT_STRING, "", nullptr, "hidden", nullptr, nullptr,
                         TAGOPT_HIDDEN)});
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(Usage(h.get()), "-al\nEquivalent to '-mode b'\n"
                              "-bare <string>\n\n"
                              "-mode <single>\n (a,b)\n");
}

// ---------------------------------------------------------------------------
// tagopt_usage, short layout

std::vector<tagopt_def> ShortRows() {
    return {
        Def("mode", TAGOPT_SINGLE, "a", "a,b"),                                       // C only
        Def("a", TAGOPT_ALIAS, "", nullptr, nullptr, nullptr, "-n x"),                // A only
        Def("ca", TAGOPT_STRING, "p", "p,q", nullptr, nullptr, "-mode b"),            // C and A
        Def("cs", TAGOPT_INT, "5", "1-9", "level"),                                   // C and S
        Def("n", TAGOPT_STRING, ""),                                                  // none
        Def("s", TAGOPT_BOOLEAN, "false", nullptr, "verbose"),                        // S only
        Def("sa", TAGOPT_ALIAS, "", nullptr, "both", nullptr, "-n y"),                // S wins over A
    };
}

TEST(TagoptUsage, ShortLayoutPadsHeadsToTheWidth) {
    // Widest: "mode" with " <single>", 13 characters, so W is 14: the head
    // "-mode <single>" just fills it and every description starts in
    // column 16.
    Handle h = Make(ShortRows());
    ASSERT_NE(h, nullptr);
    const std::string expected = "-a             Equivalent to '-n x'\n"
                                 "-ca <string>   Equivalent to '-mode b' (p,q)\n"
                                 "-cs <int>      level (1-9)\n"
                                 "-mode <single> can be (a,b)\n"
                                 "-n <string>\n"
                                 "-s <0|1>       verbose\n"
                                 "-sa            both\n";
    EXPECT_EQ(Usage(h.get()), expected);
}

TEST(TagoptUsage, ShortLayoutBareBooleansKeepTheWidth) {
    Handle h = Make({Def("s", TAGOPT_BOOLEAN, "false", nullptr, "verbose"), Def("n", TAGOPT_INT, "1", nullptr, "num")});
    ASSERT_NE(h, nullptr);
    // W counts " <0|1>" even when it is not printed: 1 + 6 + 1 = 8, the
    // length of "-n <int>".
    EXPECT_EQ(Usage(h.get(), TAGOPT_BARE_BOOLEANS), "-n <int> num\n"
                                                    "-s       verbose\n");
    EXPECT_EQ(Usage(h.get(), 0), "-n <int> num\n"
                                 "-s <0|1> verbose\n");
}

TEST(TagoptUsage, LayoutSwitchesAboveWidthThirty) {
    // A pointer label has no leading blank: 20 + 9 = 29, W = 30 (short);
    // 21 + 9 = 30, W = 31 (long).
    Handle shortOne = Make({Def(std::string(20, 'p').c_str(), TAGOPT_POINTER, "0", nullptr, "ptr")});
    Handle longOne = Make({Def(std::string(21, 'p').c_str(), TAGOPT_POINTER, "0", nullptr, "ptr")});
    ASSERT_NE(shortOne, nullptr);
    ASSERT_NE(longOne, nullptr);
    EXPECT_EQ(Usage(shortOne.get()), "-" + std::string(20, 'p') + "<pointer> ptr\n");
    EXPECT_EQ(Usage(longOne.get()), "-" + std::string(21, 'p') + "<pointer>\nptr\n");
}

TEST(TagoptUsage, ByteOrderUpperCaseFirst) {
    Handle h = Make({Def("beta", TAGOPT_STRING, ""), Def("Zed", TAGOPT_STRING, ""), Def("alpha", TAGOPT_STRING, ""),
                     Def("Alpha", TAGOPT_STRING, "")});
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(Usage(h.get()), "-Alpha <string>\n-Zed <string>\n-alpha <string>\n-beta <string>\n");
}

TEST(TagoptUsage, EmptyHandleGivesEmptyText) {
    Handle h(tagopt_initialize(nullptr, 0));
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(Usage(h.get()), "");
    Handle onlyHidden = Make({Def("x", TAGOPT_STRING, "", nullptr, nullptr, nullptr, nullptr, TAGOPT_HIDDEN)});
    ASSERT_NE(onlyHidden, nullptr);
    EXPECT_EQ(Usage(onlyHidden.get()), "");
    EXPECT_EQ(tagopt_usage(nullptr, 0), nullptr);
}

TEST(TagoptUsage, ShowsEveryTypeLabel) {
    Handle h = Make({Def("a1", TAGOPT_BOOLEAN, "0"), Def("a2", TAGOPT_INT, "0"), Def("a3", TAGOPT_DOUBLE, "0"),
                     Def("a4", TAGOPT_STRING, ""), Def("a5", TAGOPT_SINGLE, "x", "x"),
                     Def("a6", TAGOPT_MULTI, "x", "x"), Def("a7", TAGOPT_ALIAS, "", nullptr, nullptr, nullptr, "-a4 q"),
                     Def("a8", TAGOPT_LIST, ""), Def("a9", TAGOPT_UNTYPED, ""), Def("b0", TAGOPT_POINTER, "0")});
    ASSERT_NE(h, nullptr);
    // W = 2 + 9 + 1 = 12, the length of "-a4 <string>".
    EXPECT_EQ(Usage(h.get()), "-a1 <0|1>\n"
                              "-a2 <int>\n"
                              "-a3 <float>\n"
                              "-a4 <string>\n"
                              "-a5 <single> can be (x)\n"
                              "-a6 <multi>  can be (x)\n"
                              "-a7          Equivalent to '-a4 q'\n"
                              "-a8\n"
                              "-a9\n"
                              "-b0<pointer>\n");
}

} // namespace
