// Serialization of the reading core's values in PDF syntax, and the object
// table. The file structure is in pdf_file.cpp, stream recompression in
// stream_recompress.cpp.
#include "pdf_writer.h"

#include "input_fetch.h"

#include <Array.h>
#include <Dict.h>
#include <PDFDoc.h>
#include <Stream.h>
#include <XRef.h>
#include <goo/GooString.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "ossel.h"
#include "writer_internal.h"

//------------------------------------------------------------------------
// ObjectTable
//------------------------------------------------------------------------

ObjectTableEntry &ObjectTable::Get(int32_t num)
{
    return entries_[num];
}

ObjectTableEntry *ObjectTable::Find(int32_t num)
{
    auto it = entries_.find(num);
    return it == entries_.end() ? nullptr : &it->second;
}

const ObjectTableEntry *ObjectTable::Find(int32_t num) const
{
    auto it = entries_.find(num);
    return it == entries_.end() ? nullptr : &it->second;
}

ObjectTableEntry &ObjectTable::Reset(int32_t num)
{
    ObjectTableEntry &entry = entries_[num];
    entry = ObjectTableEntry();
    return entry;
}

//------------------------------------------------------------------------
// Dictionary helpers
//------------------------------------------------------------------------

namespace osselwriter {

void RemoveKeepingOrder(Dict *dict, const char *key)
{
    if (!dict || !dict->hasKey(key)) {
        return;
    }
    // The reading core's own removal may move the last entry into the gap;
    // rebuild the dictionary so the other entries keep their order.
    std::vector<std::pair<std::string, Object>> kept;
    kept.reserve(static_cast<size_t>(dict->getLength()));
    for (int i = 0; i < dict->getLength(); ++i) {
        if (strcmp(dict->getKey(i), key) != 0) {
            kept.emplace_back(dict->getKey(i), dict->getValNF(i).copy());
        }
    }
    while (dict->getLength() > 0) {
        const std::string first = dict->getKey(0);
        dict->remove(first.c_str());
    }
    for (auto &entry : kept) {
        dict->add(entry.first.c_str(), std::move(entry.second));
    }
}

bool IntegerValue(const Object &value, int64_t *out)
{
    if (value.isInt()) {
        *out = value.getInt();
        return true;
    }
    if (value.isInt64()) {
        *out = value.getInt64();
        return true;
    }
    return false;
}

} // namespace osselwriter

using namespace osselwriter;

//------------------------------------------------------------------------
// Construction
//------------------------------------------------------------------------

PDFWriter::PDFWriter(PDFDoc *doc, OptimizerSettings *settings) : doc_(doc), settings_(settings)
{
    // Before anyone plans objects from the input's table: a rebuild later
    // would add numbers that no plan covers.
    RepairInputTableIfDamaged();
}

PDFWriter::~PDFWriter()
{
    CloseOutput(/*keep=*/false);
}

int PDFWriter::FlateLevel() const
{
    return settings_ ? settings_->recompressStreamsFlateLevel : 9;
}

//------------------------------------------------------------------------
// Safe access to the input
//------------------------------------------------------------------------

Object PDFWriter::SafeFetch(int32_t num, int32_t gen, int recursion)
{
    XRef *xref = doc_ ? doc_->getXRef() : nullptr;
    if (!EntryFetchable(xref, num, gen)) {
        return Object(objNull);
    }
    // An ordinary entry must also point at its own "num gen obj" header, or
    // the fetch would fail and rebuild the table.
    const XRefEntry *entry = xref->getEntry(num, false);
    if (entry->type == xrefEntryUncompressed && !ObjectHeaderAt(entry->offset, num, gen)) {
        return Object(objNull);
    }
    return xref->fetch(num, gen, recursion);
}

// Whether "num gen obj" starts at offset of the input, as the reading core
// requires; if it does not, fetching would make it rebuild its table.
bool PDFWriter::ObjectHeaderAt(int64_t offset, int32_t num, int32_t gen)
{
    BaseStream *base = doc_->getBaseStream();
    if (!base || offset > INT64_MAX - base->getStart() - kHeaderProbe) {
        return false;
    }
    Stream *probe = base->makeSubStream(base->getStart() + offset, true, kHeaderProbe, Object(objNull));
    if (!probe) {
        return false;
    }
    unsigned char bytes[kHeaderProbe];
    probe->reset();
    const int got = probe->doGetChars(static_cast<int>(kHeaderProbe), bytes);
    probe->close();
    delete probe;
    if (got <= 0) {
        return false;
    }
    const size_t n = static_cast<size_t>(got);
    size_t pos = 0;
    auto isSpace = [](unsigned char c) { return c == 0 || c == '\t' || c == '\n' || c == '\f' || c == '\r' || c == ' '; };
    auto skipBlanks = [&]() {
        while (pos < n) {
            if (isSpace(bytes[pos])) {
                ++pos;
            } else if (bytes[pos] == '%') {
                while (pos < n && bytes[pos] != '\n' && bytes[pos] != '\r') {
                    ++pos;
                }
            } else {
                break;
            }
        }
    };
    auto readNumber = [&](int64_t *value) {
        const size_t first = pos;
        int64_t v = 0;
        while (pos < n && bytes[pos] >= '0' && bytes[pos] <= '9') {
            v = std::min<int64_t>(v * 10 + (bytes[pos] - '0'), INT64_C(1) << 40);
            ++pos;
        }
        *value = v;
        return pos > first;
    };
    int64_t foundNum = -1;
    int64_t foundGen = -1;
    skipBlanks();
    if (!readNumber(&foundNum) || foundNum != num) {
        return false;
    }
    skipBlanks();
    if (!readNumber(&foundGen) || foundGen != gen) {
        return false;
    }
    skipBlanks();
    return pos + 3 <= n && memcmp(bytes + pos, "obj", 3) == 0;
}

Object PDFWriter::Resolve(const Object &value)
{
    if (value.isRef()) {
        const Ref ref = value.getRef();
        return SafeFetch(ref.num, ref.gen);
    }
    return value.copy();
}

//------------------------------------------------------------------------
// Values
//------------------------------------------------------------------------

void PDFWriter::WriteObject(const Object *value, int32_t objNum, int32_t objGen)
{
    if (!value) {
        return;
    }
    // The reading core limits nesting when it parses; values built in memory
    // could still nest without end (or hold themselves).
    if (depth_ >= kMaxDepth) {
        WriteText("null");
        return;
    }
    ++depth_;
    const ObjType type = value->getType();
    switch (type) {
    case objBool:
        WriteText(value->getBool() ? "true" : "false");
        break;
    case objInt:
        Printf("%d", value->getInt());
        break;
    case objInt64:
        // Integers beyond 32 bits are kept as such, never dropped.
        Printf("%lld", value->getInt64());
        break;
    case objReal:
        WriteReal(value->getReal());
        break;
    case objString:
        WriteString(value->getString(), objNum, objGen);
        break;
    case objHexString:
        WriteString(value->getHexString(), objNum, objGen);
        break;
    case objName:
        WriteName(value->getName());
        break;
    case objNull:
        WriteText("null");
        break;
    case objArray:
        WriteArray(value->getArray(), objNum, objGen);
        break;
    case objDict:
        WriteDict(value->getDict(), objNum, objGen);
        break;
    case objStream:
        WriteStream(value->getStream(), objNum, objGen);
        break;
    case objRef:
        WriteRef(value->getRef());
        break;
    case objCmd:
    case objError:
        break;
    default:
        fprintf(stderr, "Unknown Object type (%d) in WriteObject!\n", static_cast<int>(type));
        break;
    }
    --depth_;
}

void PDFWriter::WriteReal(double value)
{
    // A value that is not a number has no PDF form; 0 is the harmless one.
    if (!std::isfinite(value)) {
        PutChar('0');
        return;
    }
    char small[40];
    std::string large;
    const char *text = small;
    int n = snprintf(small, sizeof small, "%.4f", value);
    if (n < 0) {
        PutChar('0');
        return;
    }
    if (static_cast<size_t>(n) >= sizeof small) {
        // Magnitudes of about 1e34 and more: format into a buffer that fits.
        large.resize(static_cast<size_t>(n) + 1);
        snprintf(large.data(), large.size(), "%.4f", value);
        text = large.c_str();
    }
    size_t len = static_cast<size_t>(n);
    while (len > 0 && text[len - 1] == '0') {
        --len;
    }
    if (len > 0 && text[len - 1] == '.') {
        --len;
    }
    WriteBytes(text, len);
}

void PDFWriter::WriteName(const char *name)
{
    std::string text = "/";
    if (name) {
        for (const unsigned char *p = reinterpret_cast<const unsigned char *>(name); *p; ++p) {
            const unsigned char c = *p;
            const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == ',' ||
                               c == '_' || c == '.' || c == '-' || c == '+';
            if (plain) {
                text += static_cast<char>(c);
            } else {
                char hex[4];
                snprintf(hex, sizeof hex, "#%.2X", c);
                text += hex;
            }
        }
    }
    WriteBytes(text.data(), text.size());
}

void PDFWriter::WriteString(const GooString *s, int32_t objNum, int32_t objGen)
{
    static const char upperHex[] = "0123456789ABCDEF";
    static const char lowerHex[] = "0123456789abcdef";
    const size_t len = s ? static_cast<size_t>(s->getLength()) : 0;
    const unsigned char *bytes = s ? reinterpret_cast<const unsigned char *>(s->c_str()) : nullptr;
    std::string text;

    if (encrypting_) {
        // Each string is encrypted from a fresh cipher state of its object.
        std::vector<unsigned char> copy(bytes, bytes + len);
        SetObjectKey(objNum, objGen);
        EncryptBytes(copy.data(), copy.size());
        text.reserve(2 * len + 2);
        text += '<';
        for (unsigned char c : copy) {
            text += upperHex[c >> 4];
            text += upperHex[c & 15];
        }
        text += '>';
    } else if (len > 0 && memchr(bytes, 0, len) != nullptr) {
        text.reserve(2 * len + 2);
        text += '<';
        for (size_t i = 0; i < len; ++i) {
            text += lowerHex[bytes[i] >> 4];
            text += lowerHex[bytes[i] & 15];
        }
        text += '>';
    } else {
        text.reserve(len + 2);
        text += '(';
        for (size_t i = 0; i < len; ++i) {
            const unsigned char c = bytes[i];
            if (c == '(' || c == ')' || c == '\\') {
                text += '\\';
                text += static_cast<char>(c);
            } else if (c < 0x20 || c >= 0x80) {
                char oct[5];
                snprintf(oct, sizeof oct, "\\%03o", c);
                text += oct;
            } else {
                text += static_cast<char>(c);
            }
        }
        text += ')';
    }
    WriteBytes(text.data(), text.size());
}

static bool NeedsBlankBefore(const Object &value)
{
    return !value.isName() && !value.isArray() && !value.isDict();
}

void PDFWriter::WriteArray(Array *array, int32_t objNum, int32_t objGen)
{
    PutChar('[');
    if (array) {
        for (int i = 0; i < array->getLength(); ++i) {
            const Object &element = array->getNF(i);
            if (i > 0 && NeedsBlankBefore(element)) {
                PutChar(' ');
            }
            WriteObject(&element, objNum, objGen);
        }
    }
    PutChar(']');
}

static bool IsExemptKey(const char *key)
{
    return strcmp(key, "Encrypt") == 0 || strcmp(key, "ID") == 0 || strcmp(key, "O") == 0 || strcmp(key, "U") == 0;
}

void PDFWriter::WriteDict(Dict *dict, int32_t objNum, int32_t objGen)
{
    const bool linePerEntry = FlateLevel() == 0;
    WriteText("<<");
    if (linePerEntry) {
        PutChar('\n');
    }
    if (dict) {
        for (int i = 0; i < dict->getLength(); ++i) {
            const char *key = dict->getKey(i);
            const bool saved = encrypting_;
            if (IsExemptKey(key)) {
                encrypting_ = false;
            }
            WriteName(key);
            const Object &value = dict->getValNF(i);
            if (NeedsBlankBefore(value)) {
                PutChar(' ');
            }
            WriteObject(&value, objNum, objGen);
            if (linePerEntry) {
                PutChar('\n');
            }
            encrypting_ = saved;
        }
    }
    WriteText(">>");
}

void PDFWriter::WriteRef(Ref ref)
{
    int num = ref.num;
    int gen = ref.gen;
    if (const ObjectTableEntry *entry = table_.Find(num); entry && entry->action == actionRedirect) {
        num = entry->redirectNum;
        gen = entry->redirectGen;
    }
    Printf("%d %d R", num, gen);
}

//------------------------------------------------------------------------
// Streams
//------------------------------------------------------------------------

void PDFWriter::SetStreamLength(Dict *dict, int64_t n)
{
    if (!dict) {
        return;
    }
    const Object &length = dict->lookupNF("Length");
    if (length.isRef()) {
        // The length is now written directly, so its object is no longer
        // needed: free it (one already written stays in the file). Only an
        // object that holds a number is freed; a reference to anything else
        // is damage and must not cost the document that object.
        const Ref ref = length.getRef();
        Object target = SafeFetch(ref.num, ref.gen);
        if (ref.num != currentObject_ && (target.isInt() || target.isInt64() || target.isReal())) {
            table_.Reset(ref.num).action = actionFree;
        }
    }
    if (n >= INT32_MIN && n <= INT32_MAX) {
        dict->set("Length", Object(static_cast<int>(n)));
    } else {
        dict->set("Length", Object(static_cast<long long>(n)));
    }
}

static bool KnownFilter(const Object &name)
{
    static const char *const known[] = {"ASCIIHexDecode", "AHx", "ASCII85Decode", "A85", "LZWDecode", "LZW",
                                        "FlateDecode", "Fl", "RunLengthDecode", "RL", "CCITTFaxDecode", "CCF",
                                        "DCTDecode", "DCT", "JBIG2Decode", "JPXDecode", "Crypt"};
    if (!name.isName()) {
        return false;
    }
    for (const char *k : known) {
        if (strcmp(name.getName(), k) == 0) {
            return true;
        }
    }
    return false;
}

bool PDFWriter::FiltersDecodable(Dict *dict)
{
    if (!dict) {
        return true;
    }
    Object filter = Resolve(dict->lookupNF("Filter"));
    if (filter.isNull()) {
        return true;
    }
    if (filter.isArray()) {
        Array *list = filter.getArray();
        for (int i = 0; i < list->getLength(); ++i) {
            if (!KnownFilter(Resolve(list->getNF(i)))) {
                return false;
            }
        }
        return true;
    }
    return KnownFilter(filter);
}

void PDFWriter::WriteStream(Stream *stream, int32_t objNum, int32_t objGen)
{
    if (!stream) {
        return;
    }
    Dict *dict = stream->getDict();
    int64_t declared = -1;
    bool image = false;
    if (dict) {
        Object length = Resolve(dict->lookupNF("Length"));
        if (!IntegerValue(length, &declared)) {
            declared = -1;
        }
        Object subtype = Resolve(dict->lookupNF("Subtype"));
        image = subtype.isName("Image");
    }
    const int64_t proven = ProvenStreamLength(stream, dict);
    // A filter the reading core does not know would decode to nothing: such
    // a stream is copied as stored rather than losing its data.
    if (declared >= kMinRecompressLength && !image && FiltersDecodable(dict)) {
        if (proven < 0) {
            if (WriteStreamRecompressed(stream, dict, objNum, objGen)) {
                return;
            }
        } else {
            // Decode from the proven extent only: the same input bytes with
            // the same filters, without what follows the stream's end.
            BaseStream *base = doc_->getBaseStream();
            XRef *xref = doc_->getXRef();
            Stream *bounded = base->makeSubStream(stream->getBaseStream()->getStart(), true, proven,
                                                  Object(dict->copy(xref)));
            if (bounded) {
                // The outermost decoder owns the streams beneath it.
                Stream *chain = bounded->addFilters(bounded->getDict());
                std::unique_ptr<Stream> decoded(chain ? chain : bounded);
                if (chain && WriteStreamRecompressed(chain, dict, objNum, objGen)) {
                    return;
                }
            }
        }
    }
    WriteStreamCopy(stream, dict, objNum, objGen, proven);
}

int64_t PDFWriter::ProvenStreamLength(Stream *stream, Dict *dict)
{
    if (!doc_ || !dict || !doc_->getXRef() || !doc_->getBaseStream()) {
        return -1;
    }
    // Only streams read from the unencrypted input file: their stored bytes
    // are the file's bytes. (A decrypting layer could not be rebuilt over a
    // shorter extent here.)
    BaseStream *file = doc_->getBaseStream();
    BaseStream *base = stream->getBaseStream();
    if (doc_->getXRef()->isEncrypted() || !base || stream->getUndecodedStream() != base ||
        (file->getKind() != strFile && file->getKind() != strCachedFile) || base->getKind() != file->getKind()) {
        return -1;
    }
    int64_t declared = -1;
    if (!IntegerValue(Resolve(dict->lookupNF("Length")), &declared)) {
        return -1;
    }
    const int64_t start = base->getStart();
    const int64_t given = base->getLength();
    if (declared < 0 || start < 0 || declared >= given || !EndstreamAt(start + declared)) {
        return -1;
    }
    return declared;
}

bool PDFWriter::EndstreamAt(int64_t pos)
{
    BaseStream *file = doc_->getBaseStream();
    if (pos < 0 || pos > INT64_MAX - kEndstreamProbe) {
        return false;
    }
    std::unique_ptr<Stream> probe(file->makeSubStream(pos, true, kEndstreamProbe, Object(objNull)));
    if (!probe) {
        return false;
    }
    unsigned char bytes[kEndstreamProbe];
    probe->reset();
    const int got = probe->doGetChars(static_cast<int>(kEndstreamProbe), bytes);
    probe->close();
    if (got <= 0) {
        return false;
    }
    const size_t n = static_cast<size_t>(got);
    size_t i = 0;
    while (i < n && (bytes[i] == 0 || bytes[i] == '\t' || bytes[i] == '\n' || bytes[i] == '\f' || bytes[i] == '\r' ||
                     bytes[i] == ' ')) {
        ++i;
    }
    static const char marker[] = "endstream";
    const size_t markerLen = sizeof marker - 1;
    return n - i >= markerLen && memcmp(bytes + i, marker, markerLen) == 0;
}

void PDFWriter::WriteStreamCopy(Stream *stream, Dict *dict, int32_t objNum, int32_t objGen, int64_t limit)
{
    // The bytes as stored (after decryption of an encrypted input, before
    // any filter); the bytes delivered, not the declared Length, decide.
    std::vector<unsigned char> data;
    Stream *raw = stream->getUndecodedStream();
    if (raw) {
        int64_t declared = 0;
        if (dict) {
            Object length = Resolve(dict->lookupNF("Length"));
            if (!IntegerValue(length, &declared)) {
                declared = 0;
            }
        }
        // The declared Length only sizes the first buffer, and it comes from
        // the file: bound it.
        if (declared > 0) {
            data.reserve(static_cast<size_t>(std::min<int64_t>(declared, kMaxInitialCopyBuffer)));
        }
        raw->reset();
        unsigned char block[kCopyBlock];
        for (;;) {
            size_t want = sizeof block;
            if (limit >= 0) {
                const uint64_t left = static_cast<uint64_t>(limit) - data.size();
                want = static_cast<size_t>(std::min<uint64_t>(want, left));
                if (want == 0) {
                    break;
                }
            }
            const int got = raw->doGetChars(static_cast<int>(want), block);
            if (got <= 0) {
                break;
            }
            data.insert(data.end(), block, block + got);
        }
        raw->close();
    }

    SetStreamLength(dict, static_cast<int64_t>(data.size()));
    WriteDict(dict, objNum, objGen);
    Printf("%cstream%c", '\n', '\n');
    if (encrypting_) {
        SetObjectKey(objNum, objGen);
        EncryptBytes(data.data(), data.size());
    }
    WriteBytes(data.data(), data.size());
    WriteText("endstream");
}

void PDFWriter::WriteStreamData(int32_t objNum, int32_t objGen, unsigned char *bytes, size_t length, int mode)
{
    switch (mode) {
    case 0:
        if (encrypting_) {
            SetObjectKey(objNum, objGen);
        }
        break;
    case 1:
        if (!bytes || length == 0) {
            break;
        }
        if (encrypting_) {
            EncryptBytes(bytes, length);
        }
        WriteBytes(bytes, length);
        break;
    default:
        break;
    }
}
