// The exported entry points, driven as a caller drives them: an option
// handle from the optimizer's table, a status-callback record that records
// every report, small documents built at test time.
#include "ossel.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "pdf_builder.h"

using namespace osseltest;

namespace {

// Everything a run reported, in order, tagged by the callback.
struct Recorder {
    std::vector<std::string> events; // "error:...", "message:...", "status:...", "begin", "end"
    std::string stopAtStatus;        // a status text answered with 1

    static Recorder *Self(void *u) { return static_cast<Recorder *>(u); }
    static int32_t Begin(void *u) { return Self(u)->events.push_back("begin"), 0; }
    static int32_t End(void *u) { return Self(u)->events.push_back("end"), 0; }
    static int32_t Progress(void *, double) { return 0; }
    static int32_t Error(void *u, const char *t) { return Self(u)->events.push_back(std::string("error:") + t), 0; }
    static int32_t Message(void *u, const char *t) { return Self(u)->events.push_back(std::string("message:") + t), 0; }
    static int32_t Status(void *u, const char *t) {
        Self(u)->events.push_back(std::string("status:") + t);
        return Self(u)->stopAtStatus == t ? 1 : 0;
    }

    std::vector<std::string> Of(const std::string &prefix) const {
        std::vector<std::string> out;
        for (const std::string &e : events)
            if (e.rfind(prefix, 0) == 0)
                out.push_back(e.substr(prefix.size()));
        return out;
    }
};

struct HandleDeleter {
    void operator()(tagopt_handle *h) const { tagopt_release(h); }
};
using Handle = std::unique_ptr<tagopt_handle, HandleDeleter>;

class EntryPoints : public ::testing::Test {
protected:
    void SetUp() override {
        handle_.reset(tagopt_initialize(ossel_get_opts(), 0));
        ASSERT_NE(handle_, nullptr);
        record_.userData = &recorder_;
        record_.begin = &Recorder::Begin;
        record_.end = &Recorder::End;
        record_.progress = &Recorder::Progress;
        record_.error = &Recorder::Error;
        record_.message = &Recorder::Message;
        record_.status = &Recorder::Status;
        ASSERT_EQ(tagopt_put(handle_.get(), "StatusCallbacks", reinterpret_cast<const char *>(&record_)), 0);
    }
    void Set(const char *name, const char *value) { ASSERT_EQ(tagopt_put(handle_.get(), name, value), 0) << name; }

    std::string Write(const PdfBuilder &b) {
        std::string path = TempPath(".pdf");
        EXPECT_TRUE(b.WriteTo(path));
        return path;
    }
    int Process(const std::string &in, const std::string &out, const char *user = nullptr,
                const char *owner = nullptr) {
        return ossel_process_encrypted(in.c_str(), out.c_str(), user, owner, handle_.get());
    }

    Handle handle_;
    StatusCallbackRecord record_{};
    Recorder recorder_;
};

bool Exists(const std::string &path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

int QpdfCheck(const std::string &path, std::string *out = nullptr) {
    return osseltest::QpdfCheckStatus(path, out);
}

PdfBuilder TextDocument() {
    return PdfBuilder::SimplePage("BT /F1 12 Tf 72 720 Td (Hello) Tj ET",
                                  "/Font << /F1 << /Type /Font /Subtype /Type1 /BaseFont /Helvetica >> >>");
}

// Encrypts path with user password "user", owner password "owner", 128-bit
// keys and modification forbidden.
std::string EncryptNoModify(const std::string &path) {
    std::string out = TempPath(".pdf");
    std::string cmd = "qpdf --allow-weak-crypto --encrypt user owner 128 --modify=none -- '" + path + "' '" + out + "' 2>&1";
    std::string log;
    EXPECT_EQ(RunCommand(cmd, &log), 0) << log;
    return out;
}

TEST_F(EntryPoints, NullArgumentsGiveOneWithoutReports) {
    std::string in = Write(TextDocument());
    std::string out = TempPath(".pdf");
    EXPECT_EQ(ossel_process_encrypted(nullptr, out.c_str(), nullptr, nullptr, handle_.get()), 1);
    EXPECT_EQ(ossel_process_encrypted(in.c_str(), nullptr, nullptr, nullptr, handle_.get()), 1);
    EXPECT_EQ(ossel_process_encrypted(in.c_str(), out.c_str(), nullptr, nullptr, nullptr), 1);
    EXPECT_EQ(ossel_process(nullptr, out.c_str(), handle_.get()), 1);
    EXPECT_EQ(ossel_process(in.c_str(), nullptr, handle_.get()), 1);
    EXPECT_EQ(ossel_process(in.c_str(), out.c_str(), nullptr), 1);
    EXPECT_EQ(ossel_check_encrypted(nullptr, nullptr, nullptr), 1);
    EXPECT_TRUE(recorder_.events.empty());
    EXPECT_FALSE(Exists(out));
}

TEST_F(EntryPoints, InvalidSettingReturnsOneBeforeOpening) {
    Set("ColorImageResolution", "1");
    std::string out = TempPath(".pdf");
    // The input does not even exist: the setting is refused first.
    EXPECT_EQ(Process(TempPath(".missing.pdf"), out), 1);
    EXPECT_EQ(recorder_.events, std::vector<std::string>{"error:Error: invalid resolution value\n"});
    EXPECT_FALSE(Exists(out));
}

TEST_F(EntryPoints, DocumentWithoutImagesIsWritten) {
    std::string in = Write(TextDocument());
    std::string out = TempPath(".pdf");
    ASSERT_EQ(Process(in, out), 0);
    EXPECT_EQ(recorder_.Of("status:"), (std::vector<std::string>{"Scanning PDF...", "Shrinking PDF..."}));
    EXPECT_TRUE(recorder_.Of("error:").empty());
    std::string log;
    EXPECT_EQ(QpdfCheck(out, &log), 0) << log;
    std::string text;
    ASSERT_EQ(RunCommand("pdftotext '" + out + "' - 2>/dev/null", &text), 0);
    EXPECT_NE(text.find("Hello"), std::string::npos);
}

TEST_F(EntryPoints, ProcessWithoutPasswordsEqualsProcessEncrypted) {
    std::string in = Write(TextDocument());
    std::string a = TempPath(".pdf"), b = TempPath(".pdf");
    ASSERT_EQ(ossel_process(in.c_str(), a.c_str(), handle_.get()), 0);
    ASSERT_EQ(Process(in, b), 0);
    EXPECT_EQ(ReadFile(a), ReadFile(b));
}

TEST_F(EntryPoints, MissingInputGivesSix) {
    std::string missing = TempPath(".missing.pdf");
    EXPECT_EQ(ossel_check_encrypted(missing.c_str(), nullptr, nullptr), 0);
    std::string out = TempPath(".pdf");
    EXPECT_EQ(Process(missing, out), 6);
    EXPECT_EQ(recorder_.Of("error:"), std::vector<std::string>{"Error: PDF can't be opened\n"});
    EXPECT_TRUE(recorder_.Of("status:").empty());
    EXPECT_FALSE(Exists(out));
}

TEST_F(EntryPoints, EncryptedDocumentForbiddingChanges) {
    std::string in = EncryptNoModify(Write(TextDocument()));
    struct Case {
        const char *user;
        const char *owner;
        int check;
        int process;
    } cases[] = {
        {"user", nullptr, 5, 5},
        {nullptr, "owner", 0, 0},
        {"wrong", "owner", 0, 0},
        {nullptr, nullptr, 0, 6}, // needs a user password to open at all
        {"wrong", nullptr, 0, 6},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string("user ") + (c.user ? c.user : "(none)") + ", owner " + (c.owner ? c.owner : "(none)"));
        recorder_.events.clear();
        std::string out = TempPath(".pdf");
        EXPECT_EQ(ossel_check_encrypted(in.c_str(), c.user, c.owner), c.check);
        EXPECT_EQ(Process(in, out, c.user, c.owner), c.process);
        std::vector<std::string> errors = recorder_.Of("error:");
        if (c.process == 5)
            EXPECT_EQ(errors, std::vector<std::string>{
                                  "Error: User password must be provided to process an encrypted PDF\n"});
        else if (c.process == 6)
            EXPECT_EQ(errors, std::vector<std::string>{"Error: PDF can't be opened\n"});
        else
            EXPECT_TRUE(errors.empty());
        EXPECT_EQ(Exists(out), c.process == 0);
        if (c.process == 0) {
            // The output is written unencrypted, readable without a password.
            std::string log;
            EXPECT_EQ(RunCommand("qpdf --show-encryption '" + out + "' 2>&1", &log), 0) << log;
            EXPECT_NE(log.find("File is not encrypted"), std::string::npos) << log;
        }
    }
}

TEST_F(EntryPoints, UnencryptedDocumentChecksZero) {
    std::string in = Write(TextDocument());
    EXPECT_EQ(ossel_check_encrypted(in.c_str(), nullptr, nullptr), 0);
    EXPECT_EQ(ossel_check_encrypted(in.c_str(), "x", "y"), 0);
}

TEST_F(EntryPoints, StopAtShrinkingGivesTwoAndNoFile) {
    std::string in = Write(TextDocument());
    std::string out = TempPath(".pdf");
    recorder_.stopAtStatus = "Shrinking PDF...";
    EXPECT_EQ(Process(in, out), 2);
    // The survey ran completely (begin ... end) before the stop.
    std::vector<std::string> expected = {"status:Scanning PDF...", "begin", "end", "status:Shrinking PDF..."};
    EXPECT_EQ(recorder_.events, expected);
    EXPECT_FALSE(Exists(out));
}

TEST_F(EntryPoints, StopAtScanningGivesTwo) {
    std::string in = Write(TextDocument());
    std::string out = TempPath(".pdf");
    recorder_.stopAtStatus = "Scanning PDF...";
    EXPECT_EQ(Process(in, out), 2);
    EXPECT_EQ(recorder_.Of("status:"), std::vector<std::string>{"Scanning PDF..."});
    EXPECT_FALSE(Exists(out));
}

TEST_F(EntryPoints, OutputNamingTheInputIsRefused) {
    std::string in = Write(TextDocument());
    const std::string original = ReadFile(in);
    std::string symlinkPath = TempPath(".lnk.pdf");
    ASSERT_EQ(::symlink(in.c_str(), symlinkPath.c_str()), 0);
    std::string hardlinkPath = TempPath(".hard.pdf");
    ASSERT_EQ(::link(in.c_str(), hardlinkPath.c_str()), 0);
    char cwd[4096];
    ASSERT_NE(::getcwd(cwd, sizeof cwd), nullptr);
    std::string dotted = in.substr(0, in.rfind('/')) + "/./" + in.substr(in.rfind('/') + 1);
    for (const std::string &out : {in, symlinkPath, hardlinkPath, dotted}) {
        SCOPED_TRACE(out);
        recorder_.events.clear();
        EXPECT_EQ(Process(in, out), 4);
        std::vector<std::string> errors = recorder_.Of("error:");
        ASSERT_EQ(errors.size(), 1u);
        EXPECT_EQ(errors[0].rfind("Error: ", 0), 0u) << errors[0];
        EXPECT_EQ(errors[0].back(), '\n');
        EXPECT_TRUE(recorder_.Of("status:").empty()) << "refused before the input is opened";
        EXPECT_EQ(ReadFile(in), original);
    }
    // Through the symbolic link as the input, too.
    recorder_.events.clear();
    EXPECT_EQ(Process(symlinkPath, in), 4);
    EXPECT_EQ(ReadFile(in), original);
}

TEST_F(EntryPoints, EncryptionRequestIsNotSilentlyIgnored) {
    // Output encryption is not available yet: the run must fail instead of
    // writing an unprotected file.
    std::string in = Write(TextDocument());
    std::string out = TempPath(".pdf");
    Set("encrypt", "true");
    Set("ownerPass", "secret");
    int rc = Process(in, out);
    if (rc == 0) {
        std::string log;
        RunCommand("qpdf --show-encryption '" + out + "' 2>&1", &log);
        EXPECT_EQ(log.find("File is not encrypted"), std::string::npos) << "asked for encryption, got " << log;
    } else {
        EXPECT_EQ(rc, 4);
        EXPECT_FALSE(Exists(out));
        ASSERT_FALSE(recorder_.Of("error:").empty());
        EXPECT_EQ(recorder_.Of("error:")[0].rfind("Error: ", 0), 0u);
    }
}

TEST_F(EntryPoints, DamagedInputsAndBadPaths) {
    std::string good = Write(TextDocument());
    std::string content = ReadFile(good);
    auto makeFile = [](const std::string &bytes) {
        std::string p = TempPath(".pdf");
        FILE *f = std::fopen(p.c_str(), "wb");
        std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
        return p;
    };
    std::string folder = TempPath(".dir");
    ASSERT_EQ(::mkdir(folder.c_str(), 0777), 0);
    std::string garbage;
    for (int i = 0; i < 5000; ++i)
        garbage += static_cast<char>((i * 7919) & 0xFF);
    struct Case {
        const char *name;
        std::string in;
        std::string out;
        std::vector<int> results; // any of these
    } cases[] = {
        {"empty file", makeFile(""), TempPath(".pdf"), {6}},
        {"garbage bytes", makeFile(garbage), TempPath(".pdf"), {6}},
        {"header only", makeFile("%PDF-1.4\n"), TempPath(".pdf"), {6}},
        {"truncated in the middle", makeFile(content.substr(0, content.size() / 2)), TempPath(".pdf"), {0, 6}},
        {"cross-reference table cut off", makeFile(content.substr(0, content.find("xref"))), TempPath(".pdf"), {0, 6}},
        {"a folder", folder, TempPath(".pdf"), {6}},
        {"a path through a file", good + "/inner.pdf", TempPath(".pdf"), {6}},
        {"output in a missing folder", good, TempPath(".nodir") + "/out.pdf", {4}},
        {"output is a folder", good, folder, {4}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        recorder_.events.clear();
        EXPECT_EQ(ossel_check_encrypted(c.in.c_str(), nullptr, nullptr), 0);
        int rc = Process(c.in, c.out);
        EXPECT_NE(std::find(c.results.begin(), c.results.end(), rc), c.results.end()) << "result " << rc;
        if (rc == 0) {
            std::string log;
            int q = QpdfCheck(c.out, &log);
            EXPECT_TRUE(q == 0 || q == 3) << log;
        } else if (c.out != folder) {
            EXPECT_FALSE(Exists(c.out));
        }
        for (const std::string &e : recorder_.Of("error:"))
            EXPECT_EQ(e.rfind("Error: ", 0), 0u) << e;
    }
}

// A page drawing four images of 1, 4, 8 and 16 bits per component at 300 dpi
// (objects 5 to 8), with an image XObject that no page draws (object 9).
PdfBuilder DepthsDocument() {
    PdfBuilder b = PdfBuilder::SimplePage(
        "q 7.68 0 0 7.68 72 700 cm /A Do Q q 7.68 0 0 7.68 100 700 cm /B Do Q "
        "q 7.68 0 0 7.68 128 700 cm /C Do Q q 7.68 0 0 7.68 156 700 cm /D Do Q",
        "/XObject << /A 5 0 R /B 6 0 R /C 7 0 R /D 8 0 R /E 9 0 R >>");
    auto image = [&](int num, int bits, size_t bytes) {
        b.Stream(num,
                 "/Type /XObject /Subtype /Image /Width 32 /Height 32 /ColorSpace /DeviceGray /BitsPerComponent " +
                     std::to_string(bits),
                 std::string(bytes, '\x5A'));
    };
    image(5, 1, 4 * 32);
    image(6, 4, 16 * 32);
    image(7, 8, 32 * 32);
    image(8, 16, 64 * 32);
    image(9, 8, 32 * 32);
    return b;
}

TEST_F(EntryPoints, ImagesOfOtherDepthsAreNamedWhenVerboseAndCopied) {
    std::string in = Write(DepthsDocument());
    for (bool verbose : {true, false}) {
        SCOPED_TRACE(verbose ? "verbose" : "quiet");
        recorder_.events.clear();
        Set("v", verbose ? "true" : "false");
        std::string out = TempPath(".pdf");
        ASSERT_EQ(Process(in, out), 0);
        std::vector<std::string> skipped;
        for (const std::string &m : recorder_.Of("message:"))
            if (m.rfind("Skipping image", 0) == 0)
                skipped.push_back(m);
        std::vector<std::string> expected;
        if (verbose)
            expected = {"Skipping image 6 because it isn't 8 or 16 bits per pixel\n",
                        "Skipping image 8 because it isn't 8 or 16 bits per pixel\n",
                        "Skipping image 9 because it isn't 8 or 16 bits per pixel\n"};
        EXPECT_EQ(skipped, expected);
        // The skipped images are written with their data unchanged.
        std::string raw;
        ASSERT_EQ(RunCommand("qpdf --show-object=8 --raw-stream-data '" + out + "'", &raw), 0);
        EXPECT_EQ(raw, std::string(64 * 32, '\x5A'));
        std::string log;
        EXPECT_EQ(QpdfCheck(out, &log), 0) << log;
    }
}

// Hostile variants of the bundled sample (bytes overwritten at many places,
// numbers in the structure included) give a documented result, never a
// crash or a hang, and a written output is a readable file.
TEST_F(EntryPoints, MutatedSampleGivesDocumentedResults) {
    const std::string sample = ReadFile(std::string(OSSEL_SOURCE_DIR) + "/examples/sample.pdf");
    ASSERT_FALSE(sample.empty());
    const char kBytes[] = {'0', '9', ' ', '\n', '/', '<', '>', '(', '\xFF', '\0', 'R', '-'};
    uint32_t state = 2024;
    int written = 0, refused = 0;
    auto next = [&state] { return state = state * 1664525u + 1013904223u; };
    for (int round = 0; round < 40; ++round) {
        std::string bytes = sample;
        int edits = 1 + round % 12;
        for (int k = 0; k < edits; ++k) {
            size_t pos = next() % bytes.size();
            // Every other edit lands in the last kilobyte: cross-reference table and trailer.
            if (k % 2 == 1 && bytes.size() > 1024)
                pos = bytes.size() - 1024 + next() % 1024;
            bytes[pos] = kBytes[next() % sizeof kBytes];
        }
        std::string in = TempPath(".pdf");
        {
            FILE *f = std::fopen(in.c_str(), "wb");
            ASSERT_NE(f, nullptr);
            std::fwrite(bytes.data(), 1, bytes.size(), f);
            std::fclose(f);
        }
        SCOPED_TRACE("round " + std::to_string(round) + ", input " + in);
        std::string out = TempPath(".pdf");
        recorder_.events.clear();
        EXPECT_EQ(ossel_check_encrypted(in.c_str(), nullptr, nullptr), 0);
        int rc = Process(in, out);
        EXPECT_TRUE(rc == 0 || rc == 6) << "result " << rc;
        (rc == 0 ? written : refused)++;
        if (rc == 0) {
            std::string log;
            int q = RunCommand("qpdf --show-xref '" + out + "' 2>&1", &log);
            EXPECT_TRUE(q == 0 || q == 3) << log.substr(0, 500);
        } else {
            EXPECT_FALSE(Exists(out));
        }
        std::remove(in.c_str());
        std::remove(out.c_str());
    }
    // The variants reach both outcomes, so both paths were exercised.
    EXPECT_GT(written, 0);
    EXPECT_GT(refused, 0);
}

// The reading core's own messages: shown while checking, hidden while
// processing, and a ".ossel" file in the current directory overrides both.
TEST_F(EntryPoints, ReadingCoreMessagesFollowTheEntryPointAndOssel) {
    std::string damaged = TempPath(".pdf");
    {
        FILE *f = std::fopen(damaged.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        std::fputs("%PDF-1.4\n1 0 obj\n<< /Type /Catalog >>\nendobj\ntrailer\n<< /Root 1 0 R >>\n", f);
        std::fclose(f);
    }
    struct Case {
        const char *ossel; // null: no file
        bool check;        // ossel_check_encrypted, else ossel_process_encrypted
        bool loud;
    } cases[] = {
        {nullptr, true, true},
        {nullptr, false, false},
        {"errQuiet yes\n", true, false},
        {"errQuiet no\n", false, true},
        {"# nothing set\n", false, false},
    };
    char old[4096];
    ASSERT_NE(::getcwd(old, sizeof old), nullptr);
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.check ? "check" : "process") + ", .ossel: " + (c.ossel ? c.ossel : "none"));
        std::string dir = TempPath(".cwd");
        ASSERT_EQ(::mkdir(dir.c_str(), 0777), 0);
        if (c.ossel) {
            FILE *f = std::fopen((dir + "/.ossel").c_str(), "wb");
            ASSERT_NE(f, nullptr);
            std::fputs(c.ossel, f);
            std::fclose(f);
        }
        ASSERT_EQ(::chdir(dir.c_str()), 0);
        ::testing::internal::CaptureStderr();
        int rc = c.check ? ossel_check_encrypted(damaged.c_str(), nullptr, nullptr)
                         : Process(damaged, dir + "/out.pdf");
        std::string err = ::testing::internal::GetCapturedStderr();
        ASSERT_EQ(::chdir(old), 0);
        // The table is rebuilt by the reading core, so processing may succeed.
        EXPECT_TRUE(c.check ? rc == 0 : (rc == 0 || rc == 6)) << rc;
        EXPECT_EQ(!err.empty(), c.loud) << err;
    }
}

TEST_F(EntryPoints, BundledSampleIsOptimized) {
    std::string in = std::string(OSSEL_SOURCE_DIR) + "/examples/sample.pdf";
    std::string out = TempPath(".pdf");
    ASSERT_EQ(Process(in, out), 0);
    std::string log;
    EXPECT_EQ(QpdfCheck(out, &log), 0) << log;
    std::string pages;
    ASSERT_EQ(RunCommand("qpdf --show-npages '" + out + "'", &pages), 0);
    EXPECT_EQ(pages, "1\n");
}

} // namespace
