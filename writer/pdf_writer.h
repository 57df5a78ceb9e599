// PDFWriter: writes the optimized file. Every value of the reading core's
// object model is turned back into PDF syntax; the object loop writes every
// object number of the input as the ObjectTable says (copied, omitted,
// stored replacement, written by a callback, redirected), then one classic
// cross-reference table, the trailer and startxref. Streams other than
// images are recompressed with Flate.
//
// The output is written to a temporary file beside the requested path and
// renamed over it only when complete, so a failed or cancelled run leaves no
// partial file and never destroys an existing one.
#pragma once

#include <Object.h> // Poppler; must come before Stream.h / Dict.h / Array.h

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

class PDFDoc;
class Dict;
class Stream;
class XRef;
struct OptimizerSettings; // optimizer/ossel.h

class PDFWriter;

enum ObjectAction : int32_t {
    actionCopy = 0,     // fetched from the input and written
    actionFree = 1,     // not written; free cross-reference entry
    actionStored = 2,   // the entry's object is written under this number
    actionCallback = 3, // writeCallback writes the object; growth check applies
    actionRedirect = 4, // not written; references name redirectNum/redirectGen
};

// Writes object objNum/objGen completely at the writer's current position.
// Returns the length of the stream data it wrote, or a value below 1 when it
// failed (the writer then cuts its output back and writes the input object).
typedef int32_t (*ObjectWriteCallback)(PDFWriter *writer, int32_t objNum, int32_t objGen);

struct ObjectTableEntry {
    int32_t gen = 0;
    int32_t action = actionCopy;
    int32_t redirectNum = 0;
    int32_t redirectGen = 0;
    Object object; // for actionStored; owned by the entry
    ObjectWriteCallback writeCallback = nullptr;
};

// Per-object output instructions, ordered by object number. A number without
// an entry behaves like the default entry.
class ObjectTable {
public:
    // Get-or-create; a created entry is the default entry.
    ObjectTableEntry &Get(int32_t num);
    // No creation; nullptr when absent.
    ObjectTableEntry *Find(int32_t num);
    const ObjectTableEntry *Find(int32_t num) const;
    // Replaces the entry of num with a fresh default entry (freeing a stored
    // object it held) and returns it.
    ObjectTableEntry &Reset(int32_t num);
    size_t Size() const { return entries_.size(); }
    void Clear() { entries_.clear(); }

private:
    std::map<int32_t, ObjectTableEntry> entries_;
};

class PDFWriter {
public:
    // When entries of the input's classic cross-reference table do not point
    // at their objects, the reading core rebuilds the table here, before the
    // objects are planned.
    PDFWriter(PDFDoc *doc, OptimizerSettings *settings);
    ~PDFWriter();
    PDFWriter(const PDFWriter &) = delete;
    PDFWriter &operator=(const PDFWriter &) = delete;

    ObjectTable &Table() { return table_; }
    PDFDoc *Doc() const { return doc_; }
    OptimizerSettings *Settings() const { return settings_; }

    // Writes the whole output. Writes to a temporary file in the output's
    // folder and renames it over `path` only when complete; on failure or
    // cancel no file is left and an existing file at path is untouched.
    // (A path naming an existing non-regular file, such as a device, is
    // written directly.) False when the output cannot be created, a write,
    // flush or close fails, an offset does not fit the cross-reference
    // table, or the progress callback cancels. Called once per writer.
    bool WriteFile(const char *path);
    // Whether the last WriteFile was stopped by the progress callback.
    bool Cancelled() const { return cancelled_; }

    // Writes one value in PDF syntax at the current output position, on
    // behalf of the indirect object objNum/objGen that contains it.
    void WriteObject(const Object *value, int32_t objNum, int32_t objGen);

    // Stream-data sink of the image path. mode 0: begin a stream; 1: write
    // `length` bytes (encrypted in place first when the output is
    // encrypted); 2: end.
    void WriteStreamData(int32_t objNum, int32_t objGen, unsigned char *bytes, size_t length, int mode);

    // Makes dict's Length the direct integer n. An indirect Length object
    // holding a number is freed in the table (the lengths are written
    // directly).
    void SetStreamLength(Dict *dict, int64_t n);

    // Output stream for the image path: position, raw writes, formatted text,
    // and an absolute seek (for patching a length placeholder). Write
    // failures are remembered and make WriteFile fail.
    int64_t Tell();
    bool WriteBytes(const void *data, size_t n);
    bool Printf(const char *fmt, ...) __attribute__((format(printf, 2, 3)));
    bool Seek(int64_t pos);

    // Per-object encryption primitives (standard security handler, RC4).
    // Only used while `encrypting` is on; output encryption is set up
    // elsewhere.
    void SetObjectKey(int32_t objNum, int32_t objGen);
    void EncryptBytes(unsigned char *buffer, size_t length);
    // The file key (5 or 16 bytes) that SetObjectKey derives from, and the
    // switch that encrypts strings and stream data while on. The setup of
    // output encryption uses them; nothing else turns encryption on.
    void SetFileKey(const unsigned char *key, size_t keyBytes);
    void SetEncrypting(bool on) { encrypting_ = on; }
    bool Encrypting() const { return encrypting_; }

    // Individual value writers (WriteObject dispatches to them).
    void WriteReal(double value);
    void WriteName(const char *name);
    void WriteString(const GooString *s, int32_t objNum, int32_t objGen);
    void WriteArray(Array *array, int32_t objNum, int32_t objGen);
    void WriteDict(Dict *dict, int32_t objNum, int32_t objGen);
    void WriteRef(Ref ref);
    void WriteStream(Stream *stream, int32_t objNum, int32_t objGen);

    // Test and embedding hooks: write values to an already open stream (not
    // owned) instead of a file; false once any write has failed.
    void AttachOutput(FILE *out);
    void DetachOutput();
    bool OutputFailed() const { return outFailed_; }

    // Decoded bytes beyond which a stream is copied as stored instead of
    // being recompressed (default 1 GiB).
    void SetDecodedStreamLimit(uint64_t bytes) { decodedLimit_ = bytes; }

private:
    int FlateLevel() const;
    bool OpenOutput(const char *path);
    bool FinishOutput();
    void CloseOutput(bool keep);
    bool WriteHeader();
    bool PutChar(int c);
    bool WriteText(const char *text);
    bool VPrintf(const char *fmt, va_list ap);

    // limit >= 0 copies at most that many bytes of the stored data.
    void WriteStreamCopy(Stream *stream, Dict *dict, int32_t objNum, int32_t objGen, int64_t limit = -1);
    bool WriteStreamRecompressed(Stream *stream, Dict *dict, int32_t objNum, int32_t objGen);
    // When the input's table was rebuilt, the reading core sizes a stream up
    // to the next "endstream" that starts a line, which may lie objects
    // further on. Returns the stream's own Length when that is shorter and
    // the input bytes right after it are blanks and "endstream"; -1 when the
    // stream keeps the size the reading core gave it.
    int64_t ProvenStreamLength(Stream *stream, Dict *dict);
    // Whether optional blanks and "endstream" follow at file position pos.
    bool EndstreamAt(int64_t pos);
    bool FiltersDecodable(Dict *dict);
    // Fetches an object only when the input's cross-reference entry allows it
    // (so the reading core never rebuilds its table); null otherwise.
    Object SafeFetch(int32_t num, int32_t gen, int recursion = 0);
    bool ObjectHeaderAt(int64_t offset, int32_t num, int32_t gen);
    void RepairInputTableIfDamaged();
    Object Resolve(const Object &value);
    bool WriteObjectLoop(int32_t count, std::vector<int64_t> &offsets);
    bool WriteCallbackObject(int32_t num, const ObjectTableEntry &entry, std::vector<int64_t> &offsets);
    bool TruncateTo(int64_t pos);
    bool WriteTail(int32_t count, const std::vector<int64_t> &offsets);

    PDFDoc *doc_;
    OptimizerSettings *settings_;
    FILE *out_ = nullptr;
    bool ownsOut_ = false;
    bool outFailed_ = false;
    bool cancelled_ = false;

    // Output encryption state (off unless set up).
    bool encrypting_ = false;
    std::string ownerPassword_;
    std::string userPassword_;
    int32_t permissions_ = -1;
    int32_t keyBits_ = 0;
    uint8_t keyBytes_ = 0;
    uint8_t revision_ = 0;
    uint8_t version_ = 0;
    std::vector<unsigned char> fileKey_;

    ObjectTable table_;

    struct Rc4State {
        uint8_t i = 0;
        uint8_t j = 0;
        uint8_t s[256] = {};
    } cipher_;

    int depth_ = 0;             // nesting depth of WriteObject (guards against cycles)
    int32_t currentObject_ = 0; // object being written by the object loop
    uint64_t decodedLimit_ = uint64_t(1) << 30;
    std::string tempPath_;      // temporary output, removed unless renamed
    std::string finalPath_;     // where the output goes when complete
};
