// Helpers shared by the writer's tests: open a crafted PDF, run the writer
// over it, and take the written file apart.
#pragma once

#include <GlobalParams.h>
#include <PDFDoc.h>
#include <Stream.h>
#include <XRef.h>
#include <goo/GooString.h>
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <unistd.h>
#include <vector>

#include "ossel.h"
#include "pdf_builder.h"
#include "pdf_writer.h"

namespace writertest {

inline void EnsureGlobalParams()
{
    if (!globalParams) {
        globalParams = std::make_unique<GlobalParams>();
        globalParams->setErrQuiet(true);
    }
}

inline OptimizerSettings DefaultSettings()
{
    OptimizerSettings s{};
    s.recompressStreamsFlateLevel = 9;
    s.preventGrowth = true;
    return s;
}

// Opens path; *rebuilt (if given) becomes true when the reading core
// reconstructs its cross-reference table.
// A password, when given, is tried as owner and as user password.
inline std::unique_ptr<PDFDoc> OpenDoc(const std::string &path, bool *rebuilt = nullptr,
                                       const char *password = nullptr)
{
    EnsureGlobalParams();
    std::optional<GooString> owner;
    if (password) {
        owner = GooString(password);
    }
    std::function<void()> onRebuild;
    if (rebuilt) {
        *rebuilt = false;
        onRebuild = [rebuilt]() { *rebuilt = true; };
    }
    return std::make_unique<PDFDoc>(std::make_unique<GooString>(path), owner, owner, nullptr, onRebuild);
}

// Writes one value with a writer attached to a memory stream.
inline std::string Serialize(PDFWriter &writer, const Object &value, int num = 1, int gen = 0)
{
    char *buffer = nullptr;
    size_t size = 0;
    FILE *f = open_memstream(&buffer, &size);
    writer.AttachOutput(f);
    writer.WriteObject(&value, num, gen);
    writer.DetachOutput();
    fclose(f);
    std::string text(buffer, size);
    free(buffer);
    return text;
}

// qpdf's exit status: 0 clean, 3 warnings only, 2 errors.
inline int QpdfStatus(const std::string &path, std::string *log = nullptr)
{
    return osseltest::QpdfCheckStatus(path, log);
}

inline bool QpdfCheck(const std::string &path, std::string *log = nullptr)
{
    return QpdfStatus(path, log) == 0;
}

inline std::string Inflate(const std::string &data)
{
    z_stream zs{};
    if (inflateInit(&zs) != Z_OK) {
        return "<inflate init failed>";
    }
    std::string out;
    zs.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data.data()));
    zs.avail_in = static_cast<uInt>(data.size());
    char buf[65536];
    int rc;
    do {
        zs.next_out = reinterpret_cast<Bytef *>(buf);
        zs.avail_out = sizeof buf;
        rc = inflate(&zs, Z_NO_FLUSH);
        out.append(buf, sizeof buf - zs.avail_out);
    } while (rc == Z_OK);
    inflateEnd(&zs);
    return rc == Z_STREAM_END ? out : "<inflate failed>";
}

// The decoded data of stream object num of a document.
inline std::string DecodedStream(PDFDoc *doc, int num, int gen = 0)
{
    Object obj = doc->getXRef()->fetch(num, gen);
    if (!obj.isStream()) {
        return "<not a stream>";
    }
    Stream *s = obj.getStream();
    s->reset();
    std::string out;
    unsigned char buf[4096];
    int got;
    while ((got = s->doGetChars(sizeof buf, buf)) > 0) {
        out.append(reinterpret_cast<char *>(buf), static_cast<size_t>(got));
    }
    s->close();
    return out;
}

// The text of indirect object num in a written file: from "num gen obj\n"
// to the end of its "endobj\n"; empty when absent.
inline std::string ObjectText(const std::string &file, int num, int gen = 0)
{
    const std::string head = std::to_string(num) + " " + std::to_string(gen) + " obj\n";
    size_t pos = file.rfind("\n" + head);
    if (pos == std::string::npos) {
        return {};
    }
    ++pos;
    const size_t end = file.find("\nendobj\n", pos);
    return end == std::string::npos ? std::string() : file.substr(pos, end + 8 - pos);
}

// The parts of a written file's tail.
struct FileTail {
    bool ok = false;
    long long xrefPos = -1;
    int first = -1;
    int count = -1;
    std::vector<std::string> lines; // every entry line, 20 bytes each when sound
    std::string trailer;            // from "trailer\n" to before "\nstartxref"
    long long startxref = -1;
};

inline FileTail ParseTail(const std::string &file)
{
    FileTail t;
    const size_t sx = file.rfind("\nstartxref\n");
    if (sx == std::string::npos) {
        return t;
    }
    t.startxref = atoll(file.c_str() + sx + 11);
    const size_t xref = file.rfind("xref\n", sx);
    const size_t tr = file.rfind("trailer\n", sx);
    if (xref == std::string::npos || tr == std::string::npos || static_cast<long long>(xref) != t.startxref) {
        return t;
    }
    t.xrefPos = static_cast<long long>(xref);
    if (sscanf(file.c_str() + xref + 5, "%d %d", &t.first, &t.count) != 2) {
        return t;
    }
    size_t pos = file.find('\n', xref + 5) + 1;
    while (pos < tr) {
        size_t nl = file.find('\n', pos);
        if (nl == std::string::npos || nl > tr) {
            return t;
        }
        t.lines.push_back(file.substr(pos, nl + 1 - pos));
        pos = nl + 1;
    }
    t.trailer = file.substr(tr + 8, sx - tr - 8);
    t.ok = true;
    return t;
}

// One crafted input, its open document, settings and writer.
class WriterRun {
public:
    explicit WriterRun(const std::string &pdf, const char *password = nullptr)
    {
        inPath = osseltest::TempPath(".pdf");
        FILE *f = fopen(inPath.c_str(), "wb");
        if (f) {
            fwrite(pdf.data(), 1, pdf.size(), f);
            fclose(f);
        }
        doc = OpenDoc(inPath, &rebuilt, password);
        settings = DefaultSettings();
        writer = std::make_unique<PDFWriter>(doc.get(), &settings);
    }
    explicit WriterRun(const osseltest::PdfBuilder &builder) : WriterRun(builder.Build()) {}

    ~WriterRun()
    {
        writer.reset();
        doc.reset();
        unlink(inPath.c_str());
        if (!outPath.empty()) {
            unlink(outPath.c_str());
        }
    }

    // Writes the output to a fresh path (or the given one) and reads it back.
    bool Write(const std::string &path = {})
    {
        outPath = path.empty() ? osseltest::TempPath(".pdf") : path;
        const bool ok = writer->WriteFile(outPath.c_str());
        output = osseltest::ReadFile(outPath);
        return ok;
    }

    std::string inPath;
    std::string outPath;
    std::string output;
    bool rebuilt = false;
    std::unique_ptr<PDFDoc> doc;
    OptimizerSettings settings;
    std::unique_ptr<PDFWriter> writer;
};

} // namespace writertest
