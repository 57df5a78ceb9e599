// The output file: header, the object loop with the growth check of
// callback-written objects, the cross-reference table, trailer and
// startxref; written to a temporary file that replaces the output only when
// complete.
#include "pdf_writer.h"

#include <Dict.h>
#include <PDFDoc.h>
#include <Stream.h>
#include <XRef.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "ossel.h"
#include "writer_internal.h"

using namespace osselwriter;

//------------------------------------------------------------------------
// Output primitives
//------------------------------------------------------------------------

void PDFWriter::AttachOutput(FILE *out)
{
    CloseOutput(false);
    out_ = out;
    ownsOut_ = false;
    outFailed_ = (out == nullptr);
}

void PDFWriter::DetachOutput()
{
    if (out_ && !ownsOut_) {
        if (fflush(out_) != 0) {
            outFailed_ = true;
        }
        out_ = nullptr;
    }
}

bool PDFWriter::WriteBytes(const void *data, size_t n)
{
    if (!out_ || outFailed_) {
        outFailed_ = true;
        return false;
    }
    if (n > 0 && fwrite(data, 1, n, out_) != n) {
        outFailed_ = true;
    }
    return !outFailed_;
}

bool PDFWriter::PutChar(int c)
{
    const unsigned char byte = static_cast<unsigned char>(c);
    return WriteBytes(&byte, 1);
}

bool PDFWriter::WriteText(const char *text)
{
    return WriteBytes(text, strlen(text));
}

bool PDFWriter::VPrintf(const char *fmt, va_list ap)
{
    if (!out_ || outFailed_) {
        outFailed_ = true;
        return false;
    }
    if (vfprintf(out_, fmt, ap) < 0) {
        outFailed_ = true;
    }
    return !outFailed_;
}

bool PDFWriter::Printf(const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    const bool ok = VPrintf(fmt, ap);
    va_end(ap);
    return ok;
}

int64_t PDFWriter::Tell()
{
    if (!out_) {
        return -1;
    }
    const off_t pos = ftello(out_);
    if (pos < 0) {
        outFailed_ = true;
    }
    return static_cast<int64_t>(pos);
}

bool PDFWriter::Seek(int64_t pos)
{
    if (!out_ || outFailed_ || pos < 0 || fseeko(out_, static_cast<off_t>(pos), SEEK_SET) != 0) {
        outFailed_ = true;
        return false;
    }
    return true;
}

bool PDFWriter::TruncateTo(int64_t pos)
{
    if (!out_ || outFailed_ || fflush(out_) != 0 || ftruncate(fileno(out_), static_cast<off_t>(pos)) != 0 ||
        fseeko(out_, static_cast<off_t>(pos), SEEK_SET) != 0) {
        outFailed_ = true;
        return false;
    }
    return true;
}

void PDFWriter::CloseOutput(bool keep)
{
    if (out_ && ownsOut_) {
        fclose(out_);
    }
    if (ownsOut_) {
        out_ = nullptr;
        ownsOut_ = false;
    }
    if (!keep && !tempPath_.empty()) {
        unlink(tempPath_.c_str());
    }
    tempPath_.clear();
}

//------------------------------------------------------------------------
// Callbacks
//------------------------------------------------------------------------

namespace {

StatusCallbackRecord *Callbacks(OptimizerSettings *settings)
{
    return settings ? settings->callbacks : nullptr;
}

void CallBegin(StatusCallbackRecord *cb)
{
    if (cb && cb->begin) {
        cb->begin(cb->userData);
    }
}

void CallEnd(StatusCallbackRecord *cb)
{
    if (cb && cb->end) {
        cb->end(cb->userData);
    }
}

int32_t CallProgress(StatusCallbackRecord *cb, double fraction)
{
    return (cb && cb->progress) ? cb->progress(cb->userData, fraction) : 0;
}

std::string FolderOf(const std::string &path)
{
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    if (slash == 0) {
        return "/";
    }
    return path.substr(0, slash);
}

std::string BaseOf(const std::string &path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

} // namespace

//------------------------------------------------------------------------
// Opening and finishing the output
//------------------------------------------------------------------------

bool PDFWriter::OpenOutput(const char *path)
{
    if (!path || !*path) {
        return false;
    }
    std::string target = path;
    struct stat st;
    // Write through a symbolic link to the file it names.
    if (lstat(path, &st) == 0 && S_ISLNK(st.st_mode)) {
        if (char *real = realpath(path, nullptr)) {
            target = real;
            free(real);
        }
    }
    mode_t mode = 0;
    if (stat(target.c_str(), &st) == 0) {
        if (!S_ISREG(st.st_mode)) {
            // A device or pipe cannot be replaced by a rename: write to it
            // directly. Directories and the like fail to open.
            FILE *f = fopen(target.c_str(), "wb");
            if (!f) {
                return false;
            }
            out_ = f;
            ownsOut_ = true;
            outFailed_ = false;
            finalPath_.clear();
            return true;
        }
        mode = st.st_mode & 07777;
    } else {
        const mode_t mask = umask(0);
        umask(mask);
        mode = 0666 & ~mask;
    }

    std::string temp = FolderOf(target) + "/." + BaseOf(target) + ".XXXXXX";
    std::vector<char> name(temp.begin(), temp.end());
    name.push_back('\0');
    int fd = mkstemp(name.data());
    if (fd < 0 && errno == ENAMETOOLONG) {
        // A name near the length limit leaves no room for the decoration.
        temp = FolderOf(target) + "/.ossel.XXXXXX";
        name.assign(temp.begin(), temp.end());
        name.push_back('\0');
        fd = mkstemp(name.data());
    }
    if (fd < 0) {
        return false;
    }
    tempPath_ = name.data();
    if (fchmod(fd, mode) != 0) {
        // Keep going: the content matters more than the permission bits.
    }
    FILE *f = fdopen(fd, "wb");
    if (!f) {
        close(fd);
        unlink(tempPath_.c_str());
        tempPath_.clear();
        return false;
    }
    out_ = f;
    ownsOut_ = true;
    outFailed_ = false;
    finalPath_ = target;
    return true;
}

bool PDFWriter::FinishOutput()
{
    bool ok = !outFailed_ && out_ != nullptr;
    if (ok && fflush(out_) != 0) {
        ok = false;
    }
    if (ok && ferror(out_)) {
        ok = false;
    }
    if (ok && !tempPath_.empty() && fsync(fileno(out_)) != 0) {
        ok = false;
    }
    FILE *f = out_;
    out_ = nullptr;
    ownsOut_ = false;
    if (f && fclose(f) != 0) {
        ok = false;
    }
    if (ok && !tempPath_.empty()) {
        if (rename(tempPath_.c_str(), finalPath_.c_str()) != 0) {
            ok = false;
        } else {
            tempPath_.clear();
        }
    }
    if (!ok) {
        outFailed_ = true;
        CloseOutput(false);
    }
    return ok;
}

//------------------------------------------------------------------------
// WriteFile
//------------------------------------------------------------------------

bool PDFWriter::WriteFile(const char *path)
{
    StatusCallbackRecord *cb = Callbacks(settings_);
    cancelled_ = false;
    XRef *xref = doc_ ? doc_->getXRef() : nullptr;
    const int32_t count = xref ? std::max(xref->getNumObjects(), 1) : 1;
    CallBegin(cb);

    if (!OpenOutput(path)) {
        return false;
    }

    bool ok = false;
    try {
        std::vector<int64_t> offsets(static_cast<size_t>(count), 0);
        ok = WriteHeader() && WriteObjectLoop(count, offsets) && WriteTail(count, offsets);
        if (ok) {
            if (cb) {
                CallProgress(cb, 1.0);
            }
            ok = FinishOutput();
        }
    } catch (...) {
        // Out of memory and the like: the run fails like any write error.
        ok = false;
    }
    currentObject_ = 0;
    if (!ok) {
        CloseOutput(false);
    }
    CallEnd(cb);
    return ok;
}

// A classic cross-reference table whose entries do not point at their
// objects is rebuilt by the reading core on the first failing fetch. The
// constructor lets that happen at once, so objects are planned and the
// object loop runs over one stable, repaired table that also gives the
// loop its size; afterwards damaged entries simply yield null (the reading
// core rebuilds at most once).
void PDFWriter::RepairInputTableIfDamaged()
{
    XRef *xref = doc_ ? doc_->getXRef() : nullptr;
    if (!xref || xref->isXRefStream()) {
        return;
    }
    const int size = xref->getNumObjects();
    for (int i = 1; i < size; ++i) {
        XRefEntry *entry = xref->getEntry(i, false);
        if (!entry || entry->type != xrefEntryUncompressed) {
            continue;
        }
        if (entry->offset < 0 || !ObjectHeaderAt(entry->offset, i, entry->gen)) {
            xref->fetch(i, entry->gen);
            return;
        }
    }
}

bool PDFWriter::WriteHeader()
{
    // The reading core's version as a number ("1.4" stays 1.4; a header
    // without a version gives 0.0).
    int major = 0;
    int minor = 0;
    if (doc_ && doc_->getCatalog()) {
        major = doc_->getPDFMajorVersion();
        minor = doc_->getPDFMinorVersion();
    }
    const std::string text = std::to_string(major) + "." + std::to_string(minor < 0 ? 0 : minor);
    const double version = strtod(text.c_str(), nullptr);
    Printf("%%PDF-%.1f%c%%", version, '\n');
    static const unsigned char binary[4] = {0xE2, 0xE3, 0xCF, 0xD3};
    WriteBytes(binary, sizeof binary);
    PutChar('\n');
    return !outFailed_;
}

bool PDFWriter::WriteObjectLoop(int32_t count, std::vector<int64_t> &offsets)
{
    StatusCallbackRecord *cb = Callbacks(settings_);
    double progress = 0.0;
    double last = 0.0;
    const double step = 0.98 / count;

    for (int32_t i = 1; i < count; ++i) {
        if (cb && last + 0.01 <= progress) {
            const int32_t answer = CallProgress(cb, std::floor(progress * 100.0) / 100.0);
            last = progress;
            if (answer != 0) {
                cancelled_ = true;
                return false;
            }
        }

        const ObjectTableEntry *entry = table_.Find(i);
        const int32_t action = entry ? entry->action : actionCopy;
        const int32_t gen = entry ? entry->gen : 0;
        currentObject_ = i;
        switch (action) {
        case actionCopy: {
            Object obj = SafeFetch(i, gen);
            offsets[i] = Tell();
            Printf("%d %d obj%c", i, gen, '\n');
            WriteObject(&obj, i, gen);
            Printf("%cendobj%c", '\n', '\n');
            break;
        }
        case actionStored:
            offsets[i] = Tell();
            Printf("%d %d obj%c", i, gen, '\n');
            WriteObject(&entry->object, i, gen);
            Printf("%cendobj%c", '\n', '\n');
            break;
        case actionCallback:
            if (!WriteCallbackObject(i, *entry, offsets)) {
                return false;
            }
            break;
        default:
            offsets[i] = -1;
            break;
        }
        if (outFailed_) {
            return false;
        }
        progress += step;
    }
    currentObject_ = 0;
    return true;
}

bool PDFWriter::WriteCallbackObject(int32_t num, const ObjectTableEntry &entry, std::vector<int64_t> &offsets)
{
    const int32_t gen = entry.gen;
    const ObjectWriteCallback callback = entry.writeCallback;
    const bool preventGrowth = settings_ ? settings_->preventGrowth : true;

    const int64_t start = Tell();
    if (start < 0) {
        return false;
    }
    offsets[num] = start;

    Object input = SafeFetch(num, gen);
    int64_t inputLen = -1;
    bool lengthKnown = false;
    if (input.isStream() && input.getStream()->getDict()) {
        Object length = Resolve(input.getStream()->getDict()->lookupNF("Length"));
        lengthKnown = IntegerValue(length, &inputLen);
        if (!lengthKnown) {
            inputLen = -1;
        }
    }

    const int32_t result = callback ? callback(this, num, gen) : 0;
    if (outFailed_) {
        return false;
    }
    // Without a usable input Length there is nothing to compare with; the
    // input object is then the safe choice.
    const bool accept = result >= 1 && (!preventGrowth || (lengthKnown && result <= inputLen));
    if (accept) {
        // The callback may have moved back to patch its Length.
        if (fseeko(out_, 0, SEEK_END) != 0) {
            outFailed_ = true;
            return false;
        }
        return true;
    }

    // Fall back to the input object: discard all the callback wrote.
    if (!TruncateTo(start)) {
        return false;
    }
    Printf("%d %d obj%c", num, gen, '\n');
    if (input.isStream() && lengthKnown) {
        SetStreamLength(input.getStream()->getDict(), inputLen);
    }
    WriteObject(&input, num, gen);
    Printf("%cendobj%c", '\n', '\n');
    return !outFailed_;
}

bool PDFWriter::WriteTail(int32_t count, const std::vector<int64_t> &offsets)
{
    const int64_t xrefPos = Tell();
    if (xrefPos < 0) {
        return false;
    }
    Printf("xref%c", '\n');
    Printf("%d %d%c", 0, count, '\n');
    Printf("%010d %05d f %c", 0, 65535, '\n');
    for (int32_t i = 1; i < count; ++i) {
        const ObjectTableEntry *entry = table_.Find(i);
        const int32_t gen = (entry && entry->gen >= 0 && entry->gen <= 65534) ? entry->gen : 0;
        if (offsets[i] > 0) {
            // An offset beyond ten digits cannot be expressed: fail cleanly.
            if (offsets[i] > kMaxXrefOffset) {
                outFailed_ = true;
                return false;
            }
            Printf("%010lld %05d n %c", static_cast<long long>(offsets[i]), gen, '\n');
        } else {
            Printf("%010d %05d f %c", 0, 65535, '\n');
        }
        if (outFailed_) {
            return false;
        }
    }

    Printf("trailer%c", '\n');
    XRef *xref = doc_ ? doc_->getXRef() : nullptr;
    Object *trailer = xref ? xref->getTrailerDict() : nullptr;
    // The trailer is no indirect object; its strings are never encrypted
    // (readers do not decrypt them).
    const bool savedEncrypting = encrypting_;
    encrypting_ = false;
    if (trailer && trailer->isDict()) {
        Dict *dict = trailer->getDict();
        dict->set("Size", Object(static_cast<int>(count)));
        RemoveKeepingOrder(dict, "Prev");
        // The offset of a hybrid file's cross-reference stream means nothing
        // in the new file; readers that follow it would read garbage.
        RemoveKeepingOrder(dict, "XRefStm");
        if (keyBits_ < 1) {
            RemoveKeepingOrder(dict, "Encrypt");
        }
        WriteDict(dict, 0, 0);
    } else {
        Dict *dict = new Dict(xref);
        Object holder(dict);
        dict->add("Size", Object(static_cast<int>(count)));
        WriteDict(dict, 0, 0);
    }
    encrypting_ = savedEncrypting;

    Printf("%cstartxref%c%lld%c", '\n', '\n', static_cast<long long>(xrefPos), '\n');
    Printf("%%%%EOF%c", '\n');
    return !outFailed_;
}
