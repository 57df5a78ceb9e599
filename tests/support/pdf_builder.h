// A tiny builder of PDF files for tests: objects are given as text, streams
// as raw bytes; the builder numbers them, computes stream lengths, and writes
// a correct classic cross-reference table and trailer.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace osseltest {

class PdfBuilder {
public:
    // Header version, e.g. "1.4".
    explicit PdfBuilder(std::string version = "1.4");

    // Adds (or replaces) object num with the given body text, e.g. "<< /Type /Catalog /Pages 2 0 R >>".
    void Object(int num, const std::string &body, int gen = 0);

    // Adds a stream object: dict holds the entries without /Length (the builder adds the direct /Length)
    // e.g. "/Filter /FlateDecode", and data the raw (already encoded) bytes.
    void Stream(int num, const std::string &dictEntries, const std::string &data, int gen = 0);

    // Adds a stream whose /Length is the indirect object lengthNum (which the builder writes too).
    void StreamIndirectLength(int num, const std::string &dictEntries, const std::string &data, int lengthNum);

    // Marks number num free in the cross-reference table (with the given next generation).
    void Free(int num, int gen = 1);

    // Extra trailer entries besides /Size and /Root, e.g. "/Info 9 0 R".
    void TrailerExtra(const std::string &entries) { trailerExtra_ = entries; }
    void Root(int num) { root_ = num; }

    // The whole file. The table covers 0..max object number; numbers not given are free.
    std::string Build() const;

    // Build() written to path; returns false when the file cannot be written.
    bool WriteTo(const std::string &path) const;

    // A one-page document skeleton: 1 catalog, 2 pages, 3 page with the given content stream (object 4)
    // and resources text (e.g. "/XObject << /Im1 5 0 R >>"). MediaBox 0 0 612 792.
    static PdfBuilder SimplePage(const std::string &content, const std::string &resources = "");

private:
    struct Entry {
        bool free = false;
        int gen = 0;
        std::string text; // "N G obj ... endobj\n" body without the header line
    };
    std::string version_;
    std::map<int, Entry> objects_;
    std::string trailerExtra_;
    int root_ = 1;
};

// zlib-compresses data (for /FlateDecode test streams).
std::string Deflate(const std::string &data, int level = 6);

// A unique temporary path under the build tree's test folder, ending in suffix.
std::string TempPath(const std::string &suffix);

// Reads a whole file; empty when it cannot be read.
std::string ReadFile(const std::string &path);

// Runs a shell command, returns its exit status and (optionally) its standard output.
int RunCommand(const std::string &command, std::string *output = nullptr);

// s quoted for the shell (single quotes, embedded quotes escaped).
std::string ShellQuote(const std::string &s);

// Exit status of `qpdf --check` on path: 0 clean, 3 warnings only, 2 errors;
// its output goes to *log when given.
int QpdfCheckStatus(const std::string &path, std::string *log = nullptr);

// Folder of the real-PDF corpus (may not exist).
std::string CorpusDir();

} // namespace osseltest
