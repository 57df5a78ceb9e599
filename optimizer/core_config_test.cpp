// The ".ossel" reader: what each line sets, what is reported, and that no
// content (long lines, binary bytes, odd file kinds) upsets it.
#include "core_config.h"

#include "pdf_builder.h"

#include <GlobalParams.h>

#include <gtest/gtest.h>

#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

using namespace osseltest;

namespace {

struct ParseCase {
    const char *name;
    std::string text;
    std::optional<bool> errQuiet;
    std::optional<bool> printCommands;
    std::optional<std::string> textEncoding;
    size_t fontFiles;
    std::vector<std::string> diagnostics; // substrings, one per expected report, in order
};

std::vector<ParseCase> ParseCases() {
    return {
        {"Empty", "", {}, {}, {}, 0, {}},
        {"CommentsAndBlankLines", "# a comment\n\n   \t\n  # indented comment\n", {}, {}, {}, 0, {}},
        {"ErrQuietYes", "errQuiet yes\n", true, {}, {}, 0, {}},
        {"ErrQuietNoWithTrailingComment", "errQuiet no # show messages\n", false, {}, {}, 0, {}},
        {"LaterLineWins", "errQuiet yes\nerrQuiet no\n", false, {}, {}, 0, {}},
        {"CrLfLineEnds", "errQuiet yes\r\nprintCommands no\r\n", true, false, {}, 0, {}},
        {"NoFinalLineEnd", "textEncoding UTF-8", {}, {}, "UTF-8", 0, {}},
        {"QuotedValue", "fontFile Foo \"/tmp/a b.ttf\"\n", {}, {}, {}, 1, {}},
        {"BadYesNo", "errQuiet maybe\n", {}, {}, {}, 0, {"Bad value 'maybe' for setting 'errQuiet' in .ossel, line 1"}},
        {"MissingValue", "\nerrQuiet\n", {}, {}, {}, 0, {"Setting 'errQuiet' in .ossel, line 2 takes 1 value"}},
        {"TooManyValues", "textEncoding a b\n", {}, {}, {}, 0, {"Setting 'textEncoding' in .ossel, line 1 takes 1 value"}},
        {"FontFileNeedsTwo", "fontFile Foo\n", {}, {}, {}, 0, {"takes 2 values"}},
        {"UnknownReportedOnce", "colour red\nerrQuiet yes\ncolour blue\nshape round\n", true, {}, {}, 0,
         {"Unknown setting 'colour' in .ossel, line 1", "Unknown setting 'shape' in .ossel, line 4"}},
        {"NamesAreCaseSensitive", "ErrQuiet yes\n", {}, {}, {}, 0, {"Unknown setting 'ErrQuiet'"}},
        {"BinaryName", std::string("\x01\xff\x00z yes\nerrQuiet no\n", 21), false, {}, {}, 0,
         {"Unknown setting '\\x01\\xFF\\x00z' in .ossel, line 1"}},
        {"LongLineSkipped", "errQuiet yes " + std::string(kCoreConfigMaxLine, 'x') + "\nprintCommands yes\n", {}, true, {},
         0, {"Line 1 of .ossel is too long"}},
        {"LongUnknownNameIsCut", std::string(200, 'n') + " 1\n", {}, {}, {}, 0, {std::string(64, 'n') + "...'"}},
        {"UnterminatedQuote", "textEncoding \"UTF-8\n", {}, {}, "UTF-8", 0, {}},
    };
}

class CoreConfigParse : public ::testing::TestWithParam<ParseCase> {};

TEST_P(CoreConfigParse, SetsAndReports) {
    const ParseCase &c = GetParam();
    std::vector<std::string> diagnostics;
    CoreConfig config = ParseCoreConfig(c.text, ".ossel", &diagnostics);
    EXPECT_EQ(config.errQuiet, c.errQuiet);
    EXPECT_EQ(config.printCommands, c.printCommands);
    EXPECT_EQ(config.textEncoding, c.textEncoding);
    EXPECT_EQ(config.fontFiles.size(), c.fontFiles);
    ASSERT_EQ(diagnostics.size(), c.diagnostics.size()) << (diagnostics.empty() ? "" : diagnostics[0]);
    for (size_t i = 0; i < diagnostics.size(); ++i)
        EXPECT_NE(diagnostics[i].find(c.diagnostics[i]), std::string::npos) << diagnostics[i];
}

INSTANTIATE_TEST_SUITE_P(Lines, CoreConfigParse, ::testing::ValuesIn(ParseCases()),
                         [](const ::testing::TestParamInfo<ParseCase> &info) { return std::string(info.param.name); });

TEST(CoreConfigParse, QuotedFontFileKeepsBlanks) {
    CoreConfig config = ParseCoreConfig("fontFile \"My Font\" \"/x y/z.ttf\"", ".ossel", nullptr);
    ASSERT_EQ(config.fontFiles.size(), 1u);
    EXPECT_EQ(config.fontFiles[0].first, "My Font");
    EXPECT_EQ(config.fontFiles[0].second, "/x y/z.ttf");
}

TEST(CoreConfigParse, RandomBytesNeverCrash) {
    // Deterministic pseudo-random content, including NUL bytes and long runs without line ends.
    uint32_t state = 12345;
    for (int round = 0; round < 50; ++round) {
        std::string text;
        size_t len = (round * 997) % 20000;
        for (size_t i = 0; i < len; ++i) {
            state = state * 1103515245u + 12345u;
            text += static_cast<char>((state >> 16) & 0xFF);
        }
        std::vector<std::string> diagnostics;
        ParseCoreConfig(text, ".ossel", &diagnostics);
    }
}

TEST(CoreConfigFile, MissingFolderAndFifoAreNotRead) {
    CoreConfig config;
    std::vector<std::string> diagnostics;
    std::string missing = TempPath(".missing");
    EXPECT_FALSE(ReadCoreConfigFile(missing.c_str(), &config, &diagnostics));
    std::string dir = TempPath(".dir");
    ASSERT_EQ(::mkdir(dir.c_str(), 0777), 0);
    EXPECT_FALSE(ReadCoreConfigFile(dir.c_str(), &config, &diagnostics));
    std::string fifo = TempPath(".fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0666), 0);
    EXPECT_FALSE(ReadCoreConfigFile(fifo.c_str(), &config, &diagnostics)); // must not block
    EXPECT_FALSE(ReadCoreConfigFile(nullptr, &config, &diagnostics));
    EXPECT_TRUE(diagnostics.empty());
}

TEST(CoreConfigFile, OversizedFileIsCutAtALineBoundary) {
    std::string path = TempPath(".ossel");
    std::string text = "errQuiet yes\n";
    while (text.size() < kCoreConfigMaxFile - 5)
        text += "# padding padding padding padding padding padding\n";
    text += "textEncoding Latin1\n"; // crosses the size limit: must not be applied in part
    {
        std::ofstream f(path, std::ios::binary);
        f << text;
    }
    CoreConfig config;
    std::vector<std::string> diagnostics;
    ASSERT_TRUE(ReadCoreConfigFile(path.c_str(), &config, &diagnostics));
    EXPECT_EQ(config.errQuiet, std::optional<bool>(true));
    EXPECT_FALSE(config.textEncoding.has_value());
    ASSERT_EQ(diagnostics.size(), 1u);
    EXPECT_NE(diagnostics[0].find("larger than"), std::string::npos) << diagnostics[0];
}

// Runs a CoreSession inside a fresh folder holding the given ".ossel" text
// (none when text is null), and returns what the parameter set holds.
struct SessionResult {
    bool quiet;
    bool printCommands;
    std::string textEncoding;
    std::string stderrText;
};

SessionResult RunSession(bool quietByDefault, const char *text) {
    std::string dir = TempPath(".session");
    EXPECT_EQ(::mkdir(dir.c_str(), 0777), 0);
    if (text) {
        std::ofstream f(dir + "/.ossel", std::ios::binary);
        f << text;
    }
    char old[4096];
    EXPECT_NE(::getcwd(old, sizeof old), nullptr);
    EXPECT_EQ(::chdir(dir.c_str()), 0);
    SessionResult r{};
    ::testing::internal::CaptureStderr();
    {
        CoreSession session(quietByDefault);
        r.quiet = globalParams->getErrQuiet();
        r.printCommands = globalParams->getPrintCommands();
        r.textEncoding = globalParams->getTextEncodingName();
    }
    r.stderrText = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(::chdir(old), 0);
    EXPECT_EQ(globalParams, nullptr) << "the session must destroy the parameter set";
    return r;
}

TEST(CoreSession, DefaultsWithoutFile) {
    for (bool quiet : {false, true}) {
        SessionResult r = RunSession(quiet, nullptr);
        EXPECT_EQ(r.quiet, quiet);
        EXPECT_FALSE(r.printCommands);
        EXPECT_EQ(r.stderrText, "");
    }
}

TEST(CoreSession, FileOverridesTheDefaultQuietSwitch) {
    EXPECT_FALSE(RunSession(true, "errQuiet no\n").quiet);
    EXPECT_TRUE(RunSession(false, "errQuiet yes\n").quiet);
}

TEST(CoreSession, AppliesOtherSettingsAndReportsUnknownOnesOnStderrOnce) {
    const char *text = "textEncoding Latin1\nprintCommands yes\nbogus 1\nbogus 2\n";
    SessionResult r = RunSession(true, text);
    EXPECT_TRUE(r.quiet);
    EXPECT_TRUE(r.printCommands);
    EXPECT_EQ(r.textEncoding, "Latin1");
    EXPECT_EQ(r.stderrText, "Unknown setting 'bogus' in .ossel, line 3; ignored\n");
    // A second call in the same process (as check, then process) applies
    // the file again but does not repeat the report.
    SessionResult again = RunSession(true, text);
    EXPECT_TRUE(again.printCommands);
    EXPECT_EQ(again.stderrText, "");
}

} // namespace
