// Tests of the readers: argument vectors, command strings and setup files.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "pdf_builder.h"
#include "tagopt_test_support.h"

using namespace tagopttest;

namespace {

std::vector<tagopt_def> ReaderRows() {
    std::vector<tagopt_def> rows = OptimizerLikeRows();
    rows.push_back(Def("a", TAGOPT_STRING, ""));
    rows.push_back(Def("L", TAGOPT_LIST, ""));
    rows.push_back(Def("secret", TAGOPT_STRING, "", nullptr, nullptr, nullptr, nullptr, TAGOPT_NO_ARGV));
    return rows;
}

// ---------------------------------------------------------------------------
// tagopt_argv

struct ArgvCase {
    const char *what;
    std::vector<std::string> args;
    unsigned flags;
    int result;
    std::vector<std::string> kept;                 // argv[0 .. result-1] after the call (successes)
    std::map<std::string, std::string> values;     // tag values after the call
    const char *message;                           // error_text after the call
};

class TagoptArgvTable : public testing::TestWithParam<ArgvCase> {};

TEST_P(TagoptArgvTable, AppliesOptionsAndKeepsArguments) {
    const ArgvCase &c = GetParam();
    Handle h = Make(ReaderRows());
    ASSERT_NE(h, nullptr);
    std::strcpy(h->error_text, "left over from before");
    std::vector<std::string> storage = c.args;
    std::vector<char *> argv;
    for (std::string &s : storage) argv.push_back(s.data());
    argv.push_back(nullptr);
    const int n = tagopt_argv(h.get(), static_cast<int>(c.args.size()), argv.data(), c.flags);
    EXPECT_EQ(n, c.result);
    if (n > 0 && !c.args.empty()) {
        ASSERT_LE(static_cast<size_t>(n), c.args.size());
        std::vector<std::string> kept(argv.begin(), argv.begin() + n);
        EXPECT_EQ(kept, c.kept);
    }
    for (const auto &[name, value] : c.values) EXPECT_EQ(Get(h.get(), name.c_str()), value) << name;
    EXPECT_STREQ(h->error_text, c.message);
}

std::string Name(const testing::TestParamInfo<ArgvCase> &info) { return info.param.what; }

INSTANTIATE_TEST_SUITE_P(
    Argv, TagoptArgvTable,
    testing::Values(
        ArgvCase{"OutputThenInput", {"prog", "-o", "out.pdf", "in.pdf"}, 0, 2, {"prog", "in.pdf"}, {{"o", "out.pdf"}}, ""},
        ArgvCase{"OtherOutput", {"prog", "-o", "x.pdf", "in.pdf"}, 0, 2, {"prog", "in.pdf"}, {{"o", "x.pdf"}}, ""},
        ArgvCase{"BooleanLast", {"prog", "in.pdf", "-v"}, 0, 2, {"prog", "in.pdf"}, {{"v", "true"}}, ""},
        ArgvCase{"BooleanWithZero", {"prog", "-v", "0", "in.pdf"}, 0, 2, {"prog", "in.pdf"}, {{"v", "false"}}, ""},
        ArgvCase{"BooleanWithoutValue", {"prog", "-v", "in.pdf"}, 0, 2, {"prog", "in.pdf"}, {{"v", "true"}}, ""},
        ArgvCase{"BooleanWordAnyCase", {"prog", "-allowCopying", "FaLsE", "in.pdf"}, 0, 2, {"prog", "in.pdf"},
                 {{"allowCopying", "false"}}, ""},
        ArgvCase{"BooleanLeavesOtherWord", {"prog", "-v", "yes"}, 0, 2, {"prog", "yes"}, {{"v", "true"}}, ""},
        ArgvCase{"BareBooleansStillTakeABooleanWord", {"prog", "-v", "false", "in.pdf"}, TAGOPT_BARE_BOOLEANS, 2,
                 {"prog", "in.pdf"}, {{"v", "false"}}, ""},
        ArgvCase{"BareBooleanWithoutValue", {"prog", "-v", "in.pdf"}, TAGOPT_BARE_BOOLEANS, 2, {"prog", "in.pdf"},
                 {{"v", "true"}}, ""},
        ArgvCase{"Preset", {"prog", "-screen", "in.pdf"}, 0, 2, {"prog", "in.pdf"},
                 {{"screen", "true"}, {"ColorImageFilter", "DCTEncode"}, {"ColorImageResolution", "72"}}, ""},
        ArgvCase{"PresetRefusesFalse", {"prog", "-screen", "false", "in.pdf"}, 0, -1, {},
                 {{"screen", ""}, {"ColorImageFilter", "FlateEncode"}},
                 "tag 'screen' is an alias and must be 'true', '1', or ''"},
        ArgvCase{"HelpAlias", {"prog", "-h"}, 0, 1, {"prog"}, {{"help", "usage"}, {"h", "true"}}, ""},
        ArgvCase{"UnknownOptionIsKept", {"prog", "-xyz", "in.pdf"}, 0, 3, {"prog", "-xyz", "in.pdf"}, {}, ""},
        ArgvCase{"NegativeNumberIsKept", {"prog", "-5", "in.pdf"}, 0, 3, {"prog", "-5", "in.pdf"}, {}, ""},
        ArgvCase{"DashEndsOptions", {"prog", "-a", "1", "-", "-b", "c"}, 0, 3, {"prog", "-b", "c"}, {{"a", "1"}}, ""},
        ArgvCase{"DashKeepsOptionNames", {"prog", "in.pdf", "-", "-o", "x"}, 0, 4, {"prog", "in.pdf", "-o", "x"},
                 {{"o", "out.pdf"}}, ""},
        ArgvCase{"MissingValue", {"prog", "-o"}, 0, -1, {}, {}, "missing value for tag 'o'"},
        ArgvCase{"ValueMayStartWithDash", {"prog", "-o", "-v", "in.pdf"}, 0, 2, {"prog", "in.pdf"},
                 {{"o", "-v"}, {"v", "false"}}, ""},
        ArgvCase{"InvalidValue", {"prog", "in.pdf", "-ColorImageResolution", "abc"}, 0, -2, {},
                 {{"ColorImageResolution", "72.0"}},
                 "tag 'ColorImageResolution' is a double; 'abc' is not a valid value"},
        ArgvCase{"EarlierValuesStay", {"prog", "in.pdf", "-o", "new.pdf", "-keyLength", "64"}, 0, -4, {},
                 {{"o", "new.pdf"}, {"keyLength", "40"}},
                 "The value '64' for tag 'keyLength' is not valid.\nThe set of valid values is '40,128'."},
        ArgvCase{"LaterValueWins", {"prog", "-o", "a.pdf", "-o", "b.pdf", "in.pdf"}, 0, 2, {"prog", "in.pdf"},
                 {{"o", "b.pdf"}}, ""},
        ArgvCase{"ListsAccumulate", {"prog", "-L", "a,b", "-L", "c,d", "-L", "e"}, 0, 1, {"prog"},
                 {{"L", "a,b,c\\,d,e"}}, ""},
        ArgvCase{"NoArgvTagFailsSilently", {"prog", "in.pdf", "-secret", "x"}, 0, -2, {}, {{"secret", ""}}, ""},
        ArgvCase{"PointerIsRefused", {"prog", "-StatusCallbacks", "0x1234", "in.pdf"}, 0, -1, {},
                 {{"StatusCallbacks", "<null>"}},
                 "tag 'StatusCallbacks' holds a pointer and cannot be set from an argument vector"},
        ArgvCase{"OnlyProgramName", {"prog"}, 0, 1, {"prog"}, {}, ""},
        ArgvCase{"NothingAtAll", {}, 0, 1, {}, {}, ""}),
    Name);

TEST(TagoptArgv, NullHandleFails) {
    char prog[] = "prog";
    char *argv[] = {prog, prog, nullptr};
    EXPECT_EQ(tagopt_argv(nullptr, 2, argv, 0), -1);
}

TEST(TagoptArgv, UndefinedOptionsStayArgumentsEvenOnAnOpenHandle) {
    Handle h = Make({Def("a", TAGOPT_STRING, "")});
    ASSERT_NE(h, nullptr);
    std::string p = "prog", x = "-new", v = "val";
    char *argv[] = {p.data(), x.data(), v.data(), nullptr};
    EXPECT_EQ(tagopt_argv(h.get(), 3, argv, 0), 3);
    EXPECT_EQ(tagopt_get(h.get(), "new"), nullptr);
}

// ---------------------------------------------------------------------------
// tagopt_rdcmd

struct CommandCase {
    const char *what;
    std::string text;
    unsigned flags;
    int result;
    std::map<std::string, std::string> values;
    const char *message; // error_text after a failure; null when the call succeeds
};

class TagoptRdcmdTable : public testing::TestWithParam<CommandCase> {};

TEST_P(TagoptRdcmdTable, ReadsWordsLeftToRight) {
    const CommandCase &c = GetParam();
    Handle h = Make(ReaderRows(), TAGOPT_CLOSED);
    ASSERT_NE(h, nullptr);
    std::strcpy(h->error_text, "untouched");
    EXPECT_EQ(tagopt_rdcmd(h.get(), c.text.c_str(), c.flags), c.result);
    for (const auto &[name, value] : c.values) EXPECT_EQ(Get(h.get(), name.c_str()), value) << name;
    EXPECT_STREQ(h->error_text, c.message != nullptr ? c.message : "untouched");
}

std::string CommandName(const testing::TestParamInfo<CommandCase> &info) { return info.param.what; }

const std::string kLongName(256, 'n');
const std::string kLongestValue(2031, 'v');

INSTANTIATE_TEST_SUITE_P(
    Rdcmd, TagoptRdcmdTable,
    testing::Values(
        CommandCase{"QuotedValueWithBlank", "-o \"my file.pdf\" -v true", 0, 0, {{"o", "my file.pdf"}, {"v", "true"}},
                    nullptr},
        CommandCase{"QuotesInsideAWord", "-o a\"b c\"d", 0, 0, {{"o", "ab cd"}}, nullptr},
        CommandCase{"EmptyQuotedValue", "-o \"\" -v 1", 0, 0, {{"o", ""}, {"v", "true"}}, nullptr},
        CommandCase{"MissingCloseQuote", "-o \"unclosed", 0, 11, {{"o", "out.pdf"}}, "missing close quote"},
        CommandCase{"FirstWordNotAnOption", "x -o a", 0, 0, {{"o", "out.pdf"}}, nullptr},
        CommandCase{"StrayWordStops", "-o a b", 0, 4, {{"o", "a"}}, nullptr},
        CommandCase{"StrayWordAfterBlanks", "  -o a   b -v true", 0, 8, {{"o", "a"}, {"v", "false"}}, nullptr},
        CommandCase{"SurroundingBlanks", "   -o a   ", 0, 0, {{"o", "a"}}, nullptr},
        CommandCase{"Empty", "", 0, 0, {}, nullptr},
        CommandCase{"MissingArgument", "-v true -o", 0, 8, {{"v", "true"}},
                    "missing argument for tag 'o' in tagopt_rdcmd"},
        CommandCase{"MissingArgumentAfterBlanks", "-o   ", 0, 4, {}, "missing argument for tag 'o' in tagopt_rdcmd"},
        CommandCase{"DashAloneFailsNotSucceeds", "-", 0, 1, {}, "missing argument for tag '' in tagopt_rdcmd"},
        CommandCase{"BareBooleans", "-v -o a", TAGOPT_BARE_BOOLEANS, 0, {{"v", "true"}, {"o", "a"}}, nullptr},
        CommandCase{"BooleanTakesAWord", "-v -o a", 0, 4, {{"v", "false"}},
                    "tag 'v' is a boolean and must be 'true', 'false', '1', or '0'"},
        CommandCase{"AliasTakesNoWord", "-screen -o a", 0, 0,
                    {{"screen", "true"}, {"ColorImageFilter", "DCTEncode"}, {"o", "a"}}, nullptr},
        CommandCase{"TabIsPartOfTheName", "-o\ta", 0, 3, {{"o", "out.pdf"}},
                    "missing argument for tag 'o\ta' in tagopt_rdcmd"},
        CommandCase{"UndefinedNameOnClosedHandle", "-newtag val", 0, 10, {{"newtag", "<null>"}}, "untouched"},
        CommandCase{"PointerIsRefused", "-StatusCallbacks 0x1234", 0, 22, {{"StatusCallbacks", "<null>"}},
                    "tag 'StatusCallbacks' holds a pointer and cannot be set from a command string"},
        CommandCase{"NameOf255IsRead", "-" + std::string(255, 'n') + " x", 0, 257, {},
                    "untouched"}, // a closed handle refuses the unknown name
        CommandCase{"NameOf256IsRefused", "-" + kLongName + " x", 0, 256, {},
                    "tag name of 256 characters in tagopt_rdcmd is longer than 255 characters"},
        CommandCase{"ValueOf2031IsRead", "-o " + kLongestValue, 0, 0, {{"o", kLongestValue}}, nullptr},
        CommandCase{"ValueOf2032IsRefused", "-o " + kLongestValue + "v", 0, 2034, {{"o", "out.pdf"}},
                    "value for tag 'o' in tagopt_rdcmd is longer than 2031 characters"}),
    CommandName);

TEST(TagoptRdcmd, UndefinedNameBecomesAStringTagOnAnOpenHandle) {
    Handle h = Make(ReaderRows());
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(tagopt_rdcmd(h.get(), "-newtag val -o x", 0), 0);
    EXPECT_EQ(Get(h.get(), "newtag"), "val");
    EXPECT_EQ(tagopt_find(h.get(), "newtag")->type, static_cast<uint32_t>(TAGOPT_STRING));
    EXPECT_EQ(Get(h.get(), "o"), "x");
}

TEST(TagoptRdcmd, NullArguments) {
    Handle h = Make(ReaderRows());
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(tagopt_rdcmd(h.get(), nullptr, 0), 0);
    EXPECT_NE(tagopt_rdcmd(nullptr, "-o x", 0), 0);
}

// ---------------------------------------------------------------------------
// tagopt_parse, one setup line

struct LineCase {
    const char *what;
    std::string line;
    int result;
    const char *name;  // tag to look at; null: none
    std::string value; // its value afterwards
};

class TagoptParseLine : public testing::TestWithParam<LineCase> {};

TEST_P(TagoptParseLine, ReadsNameAndValue) {
    const LineCase &c = GetParam();
    Handle h = Make(ReaderRows());
    ASSERT_NE(h, nullptr);
    const int before = h->node_count;
    EXPECT_EQ(tagopt_parse(c.line.c_str(), h.get()), c.result);
    if (c.name != nullptr) {
        EXPECT_EQ(Get(h.get(), c.name), c.value);
    } else {
        EXPECT_EQ(h->node_count, before);
    }
}

std::string LineName(const testing::TestParamInfo<LineCase> &info) { return info.param.what; }

INSTANTIATE_TEST_SUITE_P(
    Parse, TagoptParseLine,
    testing::Values(
        LineCase{"EqualsSeparator", "o = out2.pdf", 0, "o", "out2.pdf"},
        LineCase{"ColonSeparator", "ColorImageResolution: 96", 0, "ColorImageResolution", "96"},
        LineCase{"FirstSeparatorCounts", "o=a=b:c", 0, "o", "a=b:c"},
        LineCase{"BlanksAndTabsTrimmed", " \t o \t=\t  spaced value \t ", 0, "o", "spaced value"},
        LineCase{"NameWithInnerBlank", "two words = x", 0, "two words", "x"},
        LineCase{"EmptyValueFails", "v=", 2, "v", "false"},
        LineCase{"BlankValueFails", "o = \t ", 2, "o", "out.pdf"},
        LineCase{"NoSeparatorFails", "novalue", 1, nullptr, ""},
        LineCase{"EmptyNameFails", "  = v", 1, nullptr, ""},
        LineCase{"EmptyLine", "", 0, nullptr, ""},
        LineCase{"BlankLine", " \t ", 0, nullptr, ""},
        LineCase{"Comment", "# o = x", 0, "o", "out.pdf"},
        LineCase{"CommentOnlyInColumnOne", " # o = x", 0, "# o", "x"},
        LineCase{"QuotedEscapes", "title = \"a\\tb\\101\"", 0, "title", "a\tbA"},
        LineCase{"OctalTakesThreeDigits", "s = \"\\1234\"", 0, "s", "S4"},
        LineCase{"OneOctalDigit", "s = \"\\7x\"", 0, "s", "\ax"},
        LineCase{"NewlineEscape", "s = \"x\\ny\"", 0, "s", "x\ny"},
        LineCase{"EscapedQuote", "s = \"say \\\"hi\\\"\"", 0, "s", "say \"hi\""},
        LineCase{"EscapedBackslash", "s = \"back\\\\slash\"", 0, "s", "back\\slash"},
        LineCase{"OtherEscape", "s = \"\\q\"", 0, "s", "q"},
        LineCase{"BlanksInsideQuotesKept", "s = \"  keep  \" ignored", 0, "s", "  keep  "},
        LineCase{"EmptyQuoted", "o = \"\"", 0, "o", ""},
        LineCase{"UnclosedQuoteRunsToTheEnd", "s = \"unterminated", 0, "s", "unterminated"},
        LineCase{"LoneBackslashAtTheEnd", "s = \"lone\\", 0, "s", "lone"},
        LineCase{"NewStringTag", "fresh = value", 0, "fresh", "value"},
        LineCase{"InvalidValue", "ColorImageResolution = abc", 3, "ColorImageResolution", "72.0"},
        LineCase{"BooleanPrefixNewTag", "x = BOOLEAN:yes", 0, "x", "false"},
        LineCase{"BooleanPrefixTrueAnyCase", "x = BOOLEAN:TRUE", 0, "x", "true"},
        LineCase{"BooleanPrefixWithoutColon", "x = BOOLEAN", 3, "x", "<null>"},
        LineCase{"BooleanPrefixOnDefinedTag", "v = BOOLEAN:true", 0, "v", "true"},
        LineCase{"BooleanPrefixOnStringTag", "o = BOOLEAN:x", 0, "o", "false"},
        LineCase{"PointerPrefixNewTag", "ptr = POINTER", 0, "ptr", "<null>"},
        LineCase{"PointerPrefixOnStringTag", "o = POINTER", 1, "o", "out.pdf"},
        LineCase{"DefinedPointerIsRefused", "StatusCallbacks = 0x1234", 1, "StatusCallbacks", "<null>"},
        LineCase{"ListGetsEscapedItem", "L = a,b", 0, "L", "a\\,b"}),
    LineName);

TEST(TagoptParse, BooleanPrefixCreatesABooleanTag) {
    Handle h = Make({});
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(tagopt_parse("x = BOOLEAN:yes", h.get()), 0);
    const tagopt_node *x = tagopt_find(h.get(), "x");
    ASSERT_NE(x, nullptr);
    EXPECT_EQ(x->type, static_cast<uint32_t>(TAGOPT_BOOLEAN));
    EXPECT_EQ(tagopt_parse("p = POINTER", h.get()), 0);
    const tagopt_node *p = tagopt_find(h.get(), "p");
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->type, static_cast<uint32_t>(TAGOPT_POINTER));
    // A pointer tag made by a setup line is still set only by the caller.
    EXPECT_EQ(tagopt_parse("p = 0x1234", h.get()), 1);
    EXPECT_STREQ(h->error_text, "tag 'p' holds a pointer and cannot be set from a setup file");
    EXPECT_EQ(tagopt_get(h.get(), "p"), nullptr);
}

TEST(TagoptParse, ListItemsAccumulate) {
    Handle h = Make({Def("L", TAGOPT_LIST, "")});
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(tagopt_parse("L = a,b", h.get()), 0);
    EXPECT_EQ(tagopt_parse("L = c", h.get()), 0);
    EXPECT_EQ(Get(h.get(), "L"), "a\\,b,c");
}

TEST(TagoptParse, ClosedHandleWarnsAboutUnknownNamesAndAcceptsTheLine) {
    Handle h = Make(ReaderRows(), TAGOPT_CLOSED);
    ASSERT_NE(h, nullptr);
    testing::internal::CaptureStderr();
    const int result = tagopt_parse("zz = 1", h.get());
    const std::string printed = testing::internal::GetCapturedStderr();
    EXPECT_EQ(result, 0);
    EXPECT_EQ(printed, "\"zz\" not a valid option.  Please correct your setup file.\n");
    EXPECT_EQ(tagopt_get(h.get(), "zz"), nullptr);
}

TEST(TagoptParse, CommentsAreKeptOnlyWhenAsked) {
    Handle keep = Make(ReaderRows(), TAGOPT_KEEP_COMMENTS);
    Handle drop = Make(ReaderRows());
    ASSERT_NE(keep, nullptr);
    ASSERT_NE(drop, nullptr);
    for (tagopt_handle *h : {keep.get(), drop.get()}) {
        EXPECT_EQ(tagopt_parse("# first", h), 0);
        EXPECT_EQ(tagopt_parse("#second = x", h), 0);
    }
    ASSERT_EQ(keep->comment_count, 2);
    EXPECT_STREQ(keep->comments[0], "# first");
    EXPECT_STREQ(keep->comments[1], "#second = x");
    EXPECT_EQ(drop->comment_count, 0);
    EXPECT_EQ(drop->comments, nullptr);
}

// ---------------------------------------------------------------------------
// tagopt_merge, whole setup files

std::string WriteSetup(const std::string &text) {
    const std::string path = osseltest::TempPath(".setup");
    std::ofstream out(path, std::ios::binary);
    out << text;
    return path;
}

TEST(TagoptMerge, AppliesEveryLineAndReportsTheFirstFailure) {
    Handle h = Make(ReaderRows());
    ASSERT_NE(h, nullptr);
    const std::string path = WriteSetup("# note\no = out2.pdf\nColorImageResolution: 96\nv=\n");
    EXPECT_EQ(tagopt_merge(h.get(), path.c_str()), 4);
    EXPECT_EQ(Get(h.get(), "o"), "out2.pdf");
    EXPECT_EQ(Get(h.get(), "ColorImageResolution"), "96");
    EXPECT_EQ(Get(h.get(), "v"), "false");
    std::remove(path.c_str());
}

TEST(TagoptMerge, KeepsReadingAfterAFailedLine) {
    Handle h = Make(ReaderRows());
    ASSERT_NE(h, nullptr);
    const std::string path = WriteSetup("bad line\no = x.pdf\nalso bad\r\nv = true\r\nkeyLength = 128");
    EXPECT_EQ(tagopt_merge(h.get(), path.c_str()), 1);
    EXPECT_EQ(Get(h.get(), "o"), "x.pdf");
    EXPECT_EQ(Get(h.get(), "v"), "true");
    EXPECT_EQ(Get(h.get(), "keyLength"), "128"); // last line without a line end
    std::remove(path.c_str());
}

TEST(TagoptMerge, CarriageReturnsAreRemoved) {
    Handle h = Make(ReaderRows(), TAGOPT_KEEP_COMMENTS);
    ASSERT_NE(h, nullptr);
    const std::string path = WriteSetup("#c\r\no = crlf.pdf\r\n");
    EXPECT_EQ(tagopt_merge(h.get(), path.c_str()), 0);
    EXPECT_EQ(Get(h.get(), "o"), "crlf.pdf");
    ASSERT_EQ(h->comment_count, 1);
    EXPECT_STREQ(h->comments[0], "#c");
    std::remove(path.c_str());
}

TEST(TagoptMerge, MissingFileGivesTwo) {
    Handle h = Make(ReaderRows());
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(tagopt_merge(h.get(), (osseltest::TempPath(".none") + "/nothing").c_str()), 2);
    EXPECT_EQ(tagopt_merge(h.get(), nullptr), 2);
    EXPECT_EQ(tagopt_merge(nullptr, "x"), 2);
}

TEST(TagoptMerge, LongLinesArriveInPiecesWithoutOverrun) {
    Handle h = Make(ReaderRows());
    ASSERT_NE(h, nullptr);
    // Line 2 has 3,004 characters: its first 2,046 are one piece (line 2),
    // the rest another (line 3, which has no separator and fails).
    const std::string path = WriteSetup("o = first\ns = " + std::string(3000, 'x') + "\nv = true\n");
    EXPECT_EQ(tagopt_merge(h.get(), path.c_str()), 3);
    EXPECT_EQ(Get(h.get(), "s"), std::string(2042, 'x'));
    EXPECT_EQ(Get(h.get(), "v"), "true");
    std::remove(path.c_str());
}

TEST(TagoptMerge, LineOfExactlyTheLimitLeavesAnEmptyPiece) {
    Handle h = Make(ReaderRows());
    ASSERT_NE(h, nullptr);
    // 2,046 characters fill the piece; the line end arrives as an empty
    // piece (line 2), so the failing line is numbered 3.
    const std::string path = WriteSetup("s = " + std::string(2042, 'y') + "\nbad\n");
    EXPECT_EQ(tagopt_merge(h.get(), path.c_str()), 3);
    EXPECT_EQ(Get(h.get(), "s"), std::string(2042, 'y'));
    std::remove(path.c_str());
}

} // namespace
