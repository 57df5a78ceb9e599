// End-to-end runs over the real-PDF corpus, one test per file, calling the
// exported functions as osselcli does: the "minsize" preset, the file's
// password (if any) as owner password, ossel_check_encrypted first, then
// ossel_process_encrypted. A written output must pass qpdf's check, keep the
// page count, keep the number and generation of every object it writes, and
// render pixel-identically to the input on its first two pages.
//
// Damaged copies of corpus files (truncated, overwritten in the middle) must
// give a documented result and nothing worse.
//
// In a sanitizer build every file runs through the optimizer and the output
// checks, but the page count and rendering comparisons (which exercise only
// the peer tools) are left to the normal build unless the environment
// variable OSSEL_CORPUS_FULL is set to 1.
#include <PDFDoc.h>
#include <XRef.h>
#include <GlobalParams.h>
#include <goo/GooString.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <optional>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "ossel.h"
#include "pdf_builder.h"

using namespace osseltest;

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitizerBuild = true;
#else
constexpr bool kSanitizerBuild = false;
#endif

// Whether the environment asks for every comparison in a sanitizer build.
bool FullRunRequested() {
    const char *full = std::getenv("OSSEL_CORPUS_FULL");
    return full && std::string(full) == "1";
}

struct CorpusFile {
    std::string name;
    long long bytes = 0;
    std::string features;
    std::string password;

    bool Has(const std::string &feature) const {
        std::stringstream ss(features);
        std::string f;
        while (std::getline(ss, f, ','))
            if (f == feature)
                return true;
        return false;
    }
};

void PrintTo(const CorpusFile &f, std::ostream *os) { *os << f.name; }

// Files that cannot pass every check, with the cause. Only causes that are
// understood and lie in the input itself belong here.
const char *KnownLimit(const std::string &name) {
    if (name == "pysf-unreadablemetadata.pdf")
        return "the input's page tree root (object 172) does not exist; the reading core finds its four pages only "
               "through the linearization hint table, which a rewritten file does not carry, so the output has no "
               "pages";
    return nullptr;
}

std::vector<CorpusFile> ReadManifest() {
    std::vector<CorpusFile> files;
    std::ifstream in(CorpusDir() + "/MANIFEST.tsv");
    std::string line;
    bool header = true;
    while (std::getline(in, line)) {
        if (header) {
            header = false;
            continue;
        }
        std::vector<std::string> cols;
        std::stringstream ss(line);
        std::string col;
        while (std::getline(ss, col, '\t'))
            cols.push_back(col);
        if (cols.size() < 9)
            continue;
        CorpusFile f;
        f.name = cols[0];
        f.bytes = std::atoll(cols[1].c_str());
        f.features = cols[8];
        f.password = cols.size() > 9 ? cols[9] : "";
        files.push_back(f);
    }
    if (files.empty())
        files.push_back(CorpusFile{"(no corpus)", 0, "", ""});
    return files;
}


bool Exists(const std::string &path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

struct Recorder {
    std::vector<std::string> errors;
    static int32_t Error(void *u, const char *t) {
        static_cast<Recorder *>(u)->errors.emplace_back(t);
        return 0;
    }
};

struct HandleDeleter {
    void operator()(tagopt_handle *h) const { tagopt_release(h); }
};

// Runs the file as osselcli -minsize [-password pw] -o out in would.
int RunLikeTheProgram(const std::string &in, const std::string &out, const std::string &password,
                      Recorder *recorder) {
    std::unique_ptr<tagopt_handle, HandleDeleter> h(tagopt_initialize(ossel_get_opts(), 0));
    if (!h)
        return -1;
    if (tagopt_put(h.get(), "minsize", "true") != 0)
        return -1;
    StatusCallbackRecord record{};
    record.userData = recorder;
    record.error = &Recorder::Error;
    tagopt_put(h.get(), "StatusCallbacks", reinterpret_cast<const char *>(&record));
    const char *owner = password.empty() ? nullptr : password.c_str();
    if (ossel_check_encrypted(in.c_str(), nullptr, owner) != 0)
        return 5;
    return ossel_process_encrypted(in.c_str(), out.c_str(), nullptr, owner, h.get());
}

// What the run must give, decided with qpdf as an independent reader:
// 6 when the password we pass is not the owner password and a user password
// is needed, 5 when the document may not be changed without the owner
// password, 0 otherwise. Broken files may also fail to open (6).
std::vector<int> ExpectedResults(const CorpusFile &f, const std::string &path) {
    std::vector<int> expected;
    std::string log;
    RunCommand("timeout 60 qpdf --show-encryption " + (f.password.empty() ? "" : "--password=" + ShellQuote(f.password)) +
                   " " + ShellQuote(path) + " 2>&1",
               &log);
    bool encrypted = log.find("File is not encrypted") == std::string::npos &&
                     (log.find("R = ") != std::string::npos || log.find("invalid password") != std::string::npos);
    if (!encrypted) {
        expected.push_back(0);
    } else if (log.find("invalid password") != std::string::npos) {
        expected.push_back(6);
    } else if (log.find("Supplied password is owner password") != std::string::npos) {
        expected.push_back(0);
    } else if (!f.password.empty()) {
        expected.push_back(6); // we pass it as owner password only
    } else {
        size_t p = log.find("P = ");
        long perm = p == std::string::npos ? 0 : std::strtol(log.c_str() + p + 4, nullptr, 10);
        expected.push_back((perm & 8) ? 0 : 5);
    }
    if (f.Has("broken") && std::find(expected.begin(), expected.end(), 6) == expected.end())
        expected.push_back(6);
    return expected;
}

std::string PasswordArgs(const std::string &tool, const std::string &password) {
    if (password.empty())
        return "";
    if (tool == "qpdf")
        return "--password=" + ShellQuote(password) + " ";
    return "-opw " + ShellQuote(password) + " ";
}

int PopplerPages(const std::string &path, const std::string &password) {
    std::string out;
    if (RunCommand("timeout 120 pdfinfo " + PasswordArgs("pdfinfo", password) + ShellQuote(path) + " 2>/dev/null", &out) != 0)
        return -1;
    size_t p = out.find("\nPages:");
    if (p == std::string::npos)
        return -1;
    return std::atoi(out.c_str() + p + 7);
}

// In-use entries of a classic cross-reference table written by us:
// number -> generation. Empty when the table cannot be parsed.
std::vector<std::pair<int, int>> WrittenObjects(const std::string &file, std::string *why) {
    std::vector<std::pair<int, int>> written;
    size_t sx = file.rfind("startxref");
    if (sx == std::string::npos) {
        *why = "no startxref";
        return written;
    }
    long long pos = std::atoll(file.c_str() + sx + 9);
    if (pos <= 0 || static_cast<size_t>(pos) + 5 > file.size() || file.compare(static_cast<size_t>(pos), 4, "xref") != 0) {
        *why = "startxref does not point at a cross-reference table";
        return written;
    }
    size_t at = static_cast<size_t>(pos) + 4;
    for (;;) {
        while (at < file.size() && (file[at] == '\n' || file[at] == '\r' || file[at] == ' '))
            ++at;
        if (at >= file.size() || file.compare(at, 7, "trailer") == 0)
            break;
        int first = 0, count = 0, used = 0;
        if (std::sscanf(file.c_str() + at, "%d %d%n", &first, &count, &used) != 2 || count < 0) {
            *why = "bad subsection header";
            return {};
        }
        at += static_cast<size_t>(used);
        while (at < file.size() && (file[at] == '\n' || file[at] == '\r' || file[at] == ' '))
            ++at;
        for (int k = 0; k < count; ++k) {
            if (at + 20 > file.size()) {
                *why = "cross-reference table cut off";
                return {};
            }
            long long off = std::atoll(file.substr(at, 10).c_str());
            int gen = std::atoi(file.substr(at + 11, 5).c_str());
            char kind = file[at + 17];
            if (kind == 'n' && off > 0)
                written.emplace_back(first + k, gen);
            at += 20;
        }
    }
    return written;
}

// Whether the file holds the header "num gen obj" of an indirect object.
bool HasObjectHeader(const std::string &file, int num, int gen) {
    std::string header = std::to_string(num) + " " + std::to_string(gen) + " obj";
    for (size_t p = file.find(header); p != std::string::npos; p = file.find(header, p + 1))
        if (p == 0 || !std::isdigit(static_cast<unsigned char>(file[p - 1])))
            return true;
    return false;
}

// Renders page p at 20 dpi; empty when it cannot be rendered.
std::string Render(const std::string &path, const std::string &password, int page) {
    std::string prefix = TempPath(".render");
    std::string cmd = "timeout 120 pdftoppm -r 20 -f " + std::to_string(page) + " -l " + std::to_string(page) +
                      " -singlefile " + PasswordArgs("pdftoppm", password) + ShellQuote(path) + " " + ShellQuote(prefix) +
                      " >/dev/null 2>&1";
    if (RunCommand(cmd) != 0)
        return {};
    std::string image = ReadFile(prefix + ".ppm");
    std::remove((prefix + ".ppm").c_str());
    return image;
}

// A copy of the input with every real number outside stream data rounded to
// four decimals as the writer writes it (qpdf's QDF form, rounded by a
// script, repaired by fix-qdf). Empty when it cannot be made.
std::string RoundedRealsCopy(const std::string &in, const std::string &password) {
    std::string qdf = TempPath(".qdf.pdf"), roundedQdf = TempPath(".qdf2.pdf"), fixed = TempPath(".rounded.pdf");
    std::string script = std::string(OSSEL_SOURCE_DIR) + "/tests/e2e/round_reals.py";
    int rc = RunCommand("timeout 300 qpdf --qdf --object-streams=disable --decrypt " + PasswordArgs("qpdf", password) +
                        ShellQuote(in) + " " + ShellQuote(qdf) + " >/dev/null 2>&1");
    if (rc != 0 && rc != 3)
        return {};
    if (RunCommand("python3 " + ShellQuote(script) + " " + ShellQuote(qdf) + " " + ShellQuote(roundedQdf) + " 2>&1") != 0)
        return {};
    if (RunCommand("fix-qdf " + ShellQuote(roundedQdf) + " > " + ShellQuote(fixed) + " 2>/dev/null") != 0)
        return {};
    std::remove(qdf.c_str());
    std::remove(roundedQdf.c_str());
    return fixed;
}

class Corpus : public ::testing::TestWithParam<CorpusFile> {};

TEST_P(Corpus, OptimizesLikeTheProgram) {
    const CorpusFile &f = GetParam();
    std::string in = CorpusDir() + "/" + f.name;
    if (!Exists(in))
        GTEST_SKIP() << "corpus not found at " << CorpusDir();
    std::vector<int> expected = ExpectedResults(f, in);
    std::string out = TempPath(".pdf");
    Recorder recorder;
    int rc = RunLikeTheProgram(in, out, f.password, &recorder);
    ASSERT_NE(std::find(expected.begin(), expected.end(), rc), expected.end())
        << "result " << rc << (recorder.errors.empty() ? "" : ", error: " + recorder.errors[0]);
    for (const std::string &e : recorder.errors)
        EXPECT_EQ(e.rfind("Error: ", 0), 0u) << e;
    if (rc != 0) {
        EXPECT_FALSE(Exists(out)) << "a failed run left an output file";
        return;
    }
    std::string owner = f.password;

    // 1. qpdf accepts the output (warnings allowed); a file whose input
    //    already has errors may keep them (damaged stream data is copied).
    std::string inLog, outLog;
    int inCheck = RunCommand("timeout 300 qpdf " + PasswordArgs("qpdf", owner) + "--check " + ShellQuote(in) + " 2>&1", &inLog);
    int outCheck = RunCommand("timeout 300 qpdf --check " + ShellQuote(out) + " 2>&1", &outLog);
    EXPECT_TRUE(outCheck == 0 || outCheck == 3 || (outCheck == 2 && inCheck == 2))
        << "qpdf --check: output " << outCheck << ", input " << inCheck << "\n"
        << outLog.substr(0, 2000);


    // 2. Every written object keeps its number and generation.
    std::string why;
    std::vector<std::pair<int, int>> written = WrittenObjects(ReadFile(out), &why);
    ASSERT_FALSE(written.empty()) << why;
    const std::string inBytes = ReadFile(in);
    {
        struct ParamsGuard {
            ParamsGuard() {
                globalParams = std::make_unique<GlobalParams>();
                globalParams->setErrQuiet(true);
            }
            ~ParamsGuard() { globalParams.reset(); }
        } params;
        auto pw = owner.empty() ? std::optional<GooString>() : std::optional<GooString>(GooString(owner));
        {
            PDFDoc doc(std::make_unique<GooString>(in), pw, pw);
            ASSERT_TRUE(doc.isOk());
            XRef *xref = doc.getXRef();
            int mismatches = 0;
            for (const auto &[num, gen] : written) {
                XRefEntry *e = num < xref->getNumObjects() ? xref->getEntry(num, false) : nullptr;
                bool ok = e && ((e->type == xrefEntryUncompressed && e->gen == gen) ||
                                (e->type == xrefEntryCompressed && gen == 0));
                // A damaged input's table may be rebuilt during the run, finding
                // objects that a fresh open does not list: they are in the file.
                if (!ok)
                    ok = HasObjectHeader(inBytes, num, gen);
                if (!ok && ++mismatches <= 5)
                    ADD_FAILURE() << "object " << num << " " << gen << " is not an object of the input";
            }
        }
    }

    // The remaining comparisons exercise only the peer tools; a sanitizer
    // build leaves them to the normal build.
    if (kSanitizerBuild && !FullRunRequested()) {
        RecordProperty("comparisons", "page count and rendering left to the normal build");
        return;
    }
    if (const char *limit = KnownLimit(f.name))
        GTEST_SKIP() << "page count and rendering not compared: " << limit;

    // 3. Same page count, as the reading core sees it.
    int inPages = PopplerPages(in, owner);
    int outPages = PopplerPages(out, "");
    EXPECT_EQ(outPages, inPages);

    // 4. The first two pages render identically. Real numbers are written
    //    with four decimals, which can move a page box or a matrix by a
    //    fraction of a device pixel; where the plain comparison differs the
    //    reference is the input with its real numbers rounded the same way.
    std::string rounded;
    for (int page = 1; page <= std::min(2, inPages); ++page) {
        std::string a = Render(in, owner, page);
        if (a.empty())
            continue; // the input itself cannot be rendered
        std::string b = Render(out, "", page);
        ASSERT_FALSE(b.empty()) << "page " << page << " of the output cannot be rendered";
        // pdftoppm itself is not always repeatable: with non-embedded fonts
        // about one render in thirty differs when renders run side by side
        // (seen on pdfjs-issue6127.pdf rendering the same file twice). A
        // difference counts only when fresh renders of both files confirm it.
        for (int retry = 0; retry < 2 && a != b; ++retry) {
            a = Render(in, owner, page);
            b = Render(out, "", page);
        }
        if (a == b)
            continue;
        if (rounded.empty())
            rounded = RoundedRealsCopy(in, owner);
        ASSERT_FALSE(rounded.empty()) << "page " << page << " renders differently (no rounded reference)";
        std::string r = Render(rounded, "", page);
        for (int retry = 0; retry < 2 && r != b; ++retry) {
            r = Render(rounded, "", page);
            b = Render(out, "", page);
        }
        EXPECT_TRUE(r == b)
            << "page " << page << " renders differently, also from the input with rounded reals";
    }
    if (!rounded.empty())
        std::remove(rounded.c_str());
    std::remove(out.c_str());
}

std::string TestName(const ::testing::TestParamInfo<CorpusFile> &info) {
    std::string n;
    for (char c : info.param.name)
        n += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
    return n;
}

INSTANTIATE_TEST_SUITE_P(Files, Corpus, ::testing::ValuesIn(ReadManifest()), TestName);

// Damaged copies of a few small corpus files of different structure.
struct Damage {
    const char *file;
    const char *password;
};

void PrintTo(const Damage &d, std::ostream *os) { *os << d.file; }

class CorpusDamaged : public ::testing::TestWithParam<Damage> {};

TEST_P(CorpusDamaged, GivesADocumentedResult) {
    const Damage &d = GetParam();
    std::string in = CorpusDir() + "/" + d.file;
    std::string content = ReadFile(in);
    if (content.empty())
        GTEST_SKIP() << "corpus file " << in << " not found";
    std::vector<std::pair<std::string, std::string>> variants;
    for (int tenth : {1, 5, 9})
        variants.emplace_back("cut at " + std::to_string(tenth * 10) + "%", content.substr(0, content.size() * tenth / 10));
    std::string overwritten = content;
    for (size_t i = overwritten.size() / 2; i < overwritten.size() / 2 + 512 && i < overwritten.size(); ++i)
        overwritten[i] = static_cast<char>((i * 131) & 0xFF);
    variants.emplace_back("512 bytes overwritten in the middle", overwritten);
    std::string noXref = content;
    for (size_t p = noXref.find("startxref"); p != std::string::npos; p = noXref.find("startxref", p + 1))
        noXref.replace(p, 9, "startxxxx");
    variants.emplace_back("startxref destroyed", noXref);
    for (const auto &[what, bytes] : variants) {
        SCOPED_TRACE(what);
        std::string path = TempPath(".pdf");
        {
            std::ofstream f(path, std::ios::binary);
            f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        }
        std::string out = TempPath(".pdf");
        Recorder recorder;
        int rc = RunLikeTheProgram(path, out, d.password, &recorder);
        EXPECT_TRUE(rc == 0 || rc == 5 || rc == 6) << "result " << rc;
        if (rc == 0) {
            std::string log;
            EXPECT_EQ(RunCommand("timeout 120 qpdf --show-npages " + ShellQuote(out) + " 2>&1", &log), 0) << log;
        } else {
            EXPECT_FALSE(Exists(out));
        }
        std::remove(path.c_str());
        std::remove(out.c_str());
    }
}

INSTANTIATE_TEST_SUITE_P(Files, CorpusDamaged,
                         ::testing::Values(Damage{"qpdf-image-streams-small.pdf", ""},
                                           Damage{"pdfjs-bug900822.pdf", ""},           // RC4 40-bit
                                           Damage{"pike-jbig2global.pdf", ""},          // object streams
                                           Damage{"pdfbox-ccitt4-cib-test.pdf", ""},
                                           Damage{"qpdf-encrypted-with-images.pdf", ""}, // xref stream, RC4 128
                                           Damage{"pypdf-r2-user-password.pdf", "asdfzxcv"}),
                         [](const ::testing::TestParamInfo<Damage> &info) {
                             std::string n;
                             for (const char *c = info.param.file; *c; ++c)
                                 n += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
                             return n;
                         });

} // namespace
