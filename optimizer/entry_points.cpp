// The exported processing entry points: ossel_check_encrypted,
// ossel_process_encrypted and ossel_process. Each runs its body through one
// catch-all wrapper, so nothing is thrown across the C boundary.
#include <PDFDoc.h>
#include <goo/GooString.h>

#include <memory>
#include <new>
#include <optional>
#include <sys/stat.h>

#include "core_config.h"
#include "image_survey.h"
#include "ossel.h"
#include "settings.h"
#include "shrink_pass.h"

namespace {

constexpr const char *kOpenFailed = "Error: PDF can't be opened\n";
constexpr const char *kNeedsOwnerPassword = "Error: User password must be provided to process an encrypted PDF\n";
constexpr const char *kOutputIsInput = "Error: the output file is the input file\n";

std::optional<GooString> Password(const char *text) {
    if (!text)
        return std::nullopt;
    return GooString(text);
}

// Opens fileName with the passwords (null: not given). Never null; test isOk().
std::unique_ptr<PDFDoc> OpenDocument(const char *fileName, const char *ownerPassword, const char *userPassword) {
    return std::make_unique<PDFDoc>(std::make_unique<GooString>(fileName), Password(ownerPassword),
                                    Password(userPassword));
}

// Whether the document may be changed: not encrypted, owner password
// verified, or modification granted by the P entry.
bool MayChange(PDFDoc *doc) { return doc->okToChange(false); }

// True when outFile names the same file as inFile, by any path (links
// included). Only an existing output can be the input.
bool SameFile(const char *inFile, const char *outFile) {
    struct stat in {}, out {};
    if (::stat(outFile, &out) != 0 || ::stat(inFile, &in) != 0)
        return false;
    return in.st_dev == out.st_dev && in.st_ino == out.st_ino;
}

// Frees the image record table however the run ends.
struct ImageTableGuard {
    OptimizerSettings *settings;
    ~ImageTableGuard() { FreeImageRecordTable(settings); }
};

int CheckEncrypted(const char *fileName, const char *userPassword, const char *ownerPassword) {
    if (!fileName)
        return OSSEL_ERR_ARGUMENTS;
    CoreSession core(false); // the reading core's messages are shown here
    std::unique_ptr<PDFDoc> doc = OpenDocument(fileName, ownerPassword, userPassword);
    if (!doc->isOk())
        return OSSEL_OK; // the processing call reports it
    return MayChange(doc.get()) ? OSSEL_OK : OSSEL_ERR_PERMISSION;
}

int ProcessEncrypted(const char *inFile, const char *outFile, const char *userPassword, const char *ownerPassword,
                     tagopt_handle *options) {
    if (!inFile || !outFile || !options)
        return OSSEL_ERR_ARGUMENTS;
    OptimizerSettings settings{};
    ossel_set_defaults(&settings);
    if (ReadOptimizerSettings(options, &settings) != 0)
        return OSSEL_ERR_ARGUMENTS;

    // The input stays open and is read while the output is written: writing
    // over it would destroy it.
    if (SameFile(inFile, outFile)) {
        ReportError(&settings, kOutputIsInput);
        return OSSEL_ERR_WRITE;
    }

    CoreSession core(true); // quiet while processing
    ImageTableGuard tableGuard{&settings};
    std::unique_ptr<PDFDoc> doc = OpenDocument(inFile, ownerPassword, userPassword ? userPassword : "");
    if (!doc->isOk()) {
        ReportError(&settings, kOpenFailed);
        return OSSEL_ERR_OPEN;
    }
    if (!MayChange(doc.get())) {
        ReportError(&settings, kNeedsOwnerPassword);
        return OSSEL_ERR_PERMISSION;
    }
    int result = RunImageSurvey(doc.get(), &settings);
    if (result == OSSEL_OK)
        result = ShrinkPass(doc.get(), &settings, outFile);
    return result;
    // doc, then the image table, then the parameter set are destroyed here.
}

// The one place where an unexpected failure inside a call becomes a result
// code. An exception during processing (out of memory, a fault in the reading
// core) counts as a failed write: the writer leaves no partial file.
template <typename Body>
int Guarded(int failureCode, Body &&body) noexcept {
    try {
        return body();
    } catch (...) {
        return failureCode;
    }
}

} // namespace

extern "C" {

OSSEL_API int ossel_check_encrypted(const char *fileName, const char *userPassword, const char *ownerPassword) {
    return Guarded(OSSEL_OK, [&] { return CheckEncrypted(fileName, userPassword, ownerPassword); });
}

OSSEL_API int ossel_process_encrypted(const char *inFile, const char *outFile, const char *userPassword,
                                      const char *ownerPassword, tagopt_handle *options) {
    return Guarded(OSSEL_ERR_WRITE,
                   [&] { return ProcessEncrypted(inFile, outFile, userPassword, ownerPassword, options); });
}

OSSEL_API int ossel_process(const char *inFile, const char *outFile, tagopt_handle *options) {
    return Guarded(OSSEL_ERR_WRITE, [&] { return ProcessEncrypted(inFile, outFile, nullptr, nullptr, options); });
}

} // extern "C"
