// Program-level tests: run the real osselcli on small PDFs built here and
// compare exit status, standard output, standard error and the output file.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "pdf_builder.h"

namespace {

using osseltest::PdfBuilder;

struct Result {
    int status = -1;
    std::string out; // standard output
    std::string err; // standard error
};

using osseltest::ShellQuote;

bool Exists(const std::string &path)
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

// A fresh empty folder for one run; the program is started inside it.
std::string NewFolder()
{
    const std::string dir = osseltest::TempPath("_cli");
    ::mkdir(dir.c_str(), 0777);
    return dir;
}

Result RunCli(const std::string &folder, const std::vector<std::string> &args)
{
    const std::string errPath = folder + "/.stderr";
    std::string command = "cd " + ShellQuote(folder) + " && " + ShellQuote(OSSELCLI_PATH);
    for (const std::string &a : args) {
        command += " " + ShellQuote(a);
    }
    command += " 2>" + ShellQuote(errPath);
    Result r;
    r.status = osseltest::RunCommand(command, &r.out);
    r.err = osseltest::ReadFile(errPath);
    ::unlink(errPath.c_str());
    return r;
}

// A one-page document with a little text; valid input for a whole run.
void WriteSimplePdf(const std::string &path)
{
    PdfBuilder b = PdfBuilder::SimplePage("BT /F1 12 Tf 72 720 Td (Hello) Tj ET",
                                          "/Font << /F1 << /Type /Font /Subtype /Type1 /BaseFont /Helvetica >> >>");
    ASSERT_TRUE(b.WriteTo(path)) << path;
}

const char *const kArgumentError = "Error processing command line arguments\n";
const char *const kOwnerMessage = "ERROR: The PDF file is encrypted and the correct owner password was not provided\n";

// Everything decided before the optimizer runs: help, argument errors, the
// output name. None of these writes a file.
TEST(Osselcli, CommandLineHandling)
{
    struct Case {
        const char *label;
        std::vector<std::string> args;
        bool withInput;        // create in.pdf in the folder first
        std::string err;       // expected standard error, whole or (prefixOnly) its start
        bool prefixOnly;
    };
    const std::string colorHelp =
        "Help for option ColorImageResolution\n"
        "-ColorImageResolution - Specifies the resolution to which color images are reduced.\n";
    const Case cases[] = {
        {"no arguments", {}, false, kArgumentError, false},
        {"help on an option", {"-help", "ColorImageResolution"}, false, colorHelp, false},
        {"help with an input", {"-help", "ColorImageResolution", "in.pdf"}, true, colorHelp, false},
        {"help falls back to the summary", {"-help", "o"}, false, "Help for option o\n-o - Set output filename\n",
         false},
        {"help on no option", {"-help", "NoSuchOption"}, false, "Help for option NoSuchOption\nNo such option\n",
         false},
        {"usage through -h", {"-h"}, false, "", false},
        {"usage through -help usage", {"-help", "usage", "in.pdf"}, true, "", false},
        {"unknown option", {"-NoSuchOption", "in.pdf"}, true, kArgumentError, false},
        {"two inputs", {"in.pdf", "other.pdf"}, true, kArgumentError, false},
        {"missing value", {"in.pdf", "-ColorImageResolution"}, true, kArgumentError, true},
        {"invalid value", {"-ColorImageResolution", "high", "in.pdf"}, true, kArgumentError, true},
        {"invalid choice", {"-ColorImageFilter", "CCITTFaxEncode", "in.pdf"}, true, kArgumentError, true},
        {"empty output name", {"-o", "", "in.pdf"}, true, "Error: no output filename\n", false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.label);
        const std::string folder = NewFolder();
        if (c.withInput) {
            WriteSimplePdf(folder + "/in.pdf");
        }
        const Result r = RunCli(folder, c.args);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, "");
        if (c.prefixOnly) {
            EXPECT_EQ(r.err.rfind(c.err, 0), 0u) << r.err;
            EXPECT_GT(r.err.size(), c.err.size()) << "the option library's message follows";
        } else {
            EXPECT_EQ(r.err, c.err);
        }
        EXPECT_FALSE(Exists(folder + "/out.pdf"));
    }
}

TEST(Osselcli, InvalidValueShowsTheLibraryMessage)
{
    const std::string folder = NewFolder();
    WriteSimplePdf(folder + "/in.pdf");
    const Result r = RunCli(folder, {"-ColorImageResolution", "high", "in.pdf"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("ColorImageResolution"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("high"), std::string::npos) << r.err;
}

// Whole runs on a valid input: the output lands where "o" says.
TEST(Osselcli, WritesTheOutput)
{
    struct Case {
        const char *label;
        std::vector<std::string> args;
        const char *output;
    };
    const Case cases[] = {
        {"initial values", {"in.pdf"}, "out.pdf"},
        {"empty password is no password", {"-password", "", "in.pdf"}, "out.pdf"},
        {"named output", {"-o", "small.pdf", "in.pdf"}, "small.pdf"},
        {"screen preset", {"-screen", "in.pdf"}, "out.pdf"},
        {"minsize preset", {"-minsize", "in.pdf"}, "out.pdf"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.label);
        const std::string folder = NewFolder();
        WriteSimplePdf(folder + "/in.pdf");
        const std::string before = osseltest::ReadFile(folder + "/in.pdf");
        const Result r = RunCli(folder, c.args);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, "");
        EXPECT_NE(r.err.find("Scanning PDF...\n"), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("Shrinking PDF...\n"), std::string::npos) << r.err;
        EXPECT_LT(r.err.find("Scanning PDF...\n"), r.err.find("Shrinking PDF...\n"));
        const std::string written = osseltest::ReadFile(folder + "/" + c.output);
        EXPECT_EQ(written.rfind("%PDF-", 0), 0u) << "no PDF at " << c.output;
        EXPECT_NE(written.find("%%EOF"), std::string::npos);
        EXPECT_EQ(osseltest::ReadFile(folder + "/in.pdf"), before) << "input changed";
        if (std::string(c.output) != "out.pdf") {
            EXPECT_FALSE(Exists(folder + "/out.pdf"));
        }
    }
}

TEST(Osselcli, MissingInput)
{
    const std::string folder = NewFolder();
    const Result r = RunCli(folder, {"missing.pdf"});
    EXPECT_EQ(r.status, 6);
    EXPECT_NE(r.err.find("Error: PDF can't be opened\n"), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_FALSE(Exists(folder + "/out.pdf"));
}

// An input that opens without a password but may be changed only with the
// owner password "secret".
TEST(Osselcli, OwnerPassword)
{
    if (osseltest::RunCommand("qpdf --version >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "qpdf is not installed; it builds the encrypted input";
    }
    const std::string folder = NewFolder();
    WriteSimplePdf(folder + "/plain.pdf");
    ASSERT_EQ(osseltest::RunCommand("cd " + ShellQuote(folder) +
                                    " && qpdf --allow-weak-crypto --encrypt '' secret 128 --modify=none "
                                    "--use-aes=n -- plain.pdf in.pdf 2>&1"),
              0);

    struct Case {
        const char *label;
        std::vector<std::string> args;
        int status;
    };
    const Case cases[] = {
        {"no password", {"in.pdf"}, 5},
        {"empty password", {"-password", "", "in.pdf"}, 5},
        {"wrong password", {"-password", "guess", "in.pdf"}, 5},
        {"owner password", {"-password", "secret", "in.pdf"}, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.label);
        ::unlink((folder + "/out.pdf").c_str());
        const Result r = RunCli(folder, c.args);
        EXPECT_EQ(r.status, c.status) << r.err;
        if (c.status == 5) {
            EXPECT_EQ(r.out, kOwnerMessage);
            EXPECT_FALSE(Exists(folder + "/out.pdf"));
        } else {
            EXPECT_EQ(r.out, "");
            EXPECT_TRUE(Exists(folder + "/out.pdf"));
        }
    }
}

// The program reaches the library through exactly these nine functions.
TEST(Osselcli, ImportsOnlyTheNineFunctions)
{
    std::string symbols;
    if (osseltest::RunCommand("nm -D --undefined-only " + ShellQuote(OSSELCLI_PATH) + " 2>/dev/null", &symbols) != 0) {
        GTEST_SKIP() << "nm is not available";
    }
    std::set<std::string> imported;
    std::istringstream lines(symbols);
    std::string line;
    while (std::getline(lines, line)) {
        const std::string name = line.substr(line.find_last_of(' ') + 1);
        if (name.rfind("ossel_", 0) == 0 || name.rfind("tagopt_", 0) == 0) {
            imported.insert(name);
        }
    }
    const std::set<std::string> expected = {"ossel_get_opts", "tagopt_initialize", "tagopt_argv",
                                            "tagopt_get", "tagopt_help", "tagopt_release",
                                            "tagopt_put", "ossel_check_encrypted", "ossel_process_encrypted"};
    EXPECT_EQ(imported, expected);
}

} // namespace
