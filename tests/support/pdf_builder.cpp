#include "pdf_builder.h"

#include <zlib.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace osseltest {

PdfBuilder::PdfBuilder(std::string version) : version_(std::move(version)) {}

void PdfBuilder::Object(int num, const std::string &body, int gen) {
    Entry e;
    e.gen = gen;
    e.text = body;
    objects_[num] = e;
}

void PdfBuilder::Stream(int num, const std::string &dictEntries, const std::string &data, int gen) {
    Entry e;
    e.gen = gen;
    e.text = "<< " + dictEntries + " /Length " + std::to_string(data.size()) + " >>\nstream\n" + data +
             "\nendstream";
    objects_[num] = e;
}

void PdfBuilder::StreamIndirectLength(int num, const std::string &dictEntries, const std::string &data,
                                      int lengthNum) {
    Entry e;
    e.text = "<< " + dictEntries + " /Length " + std::to_string(lengthNum) + " 0 R >>\nstream\n" + data +
             "\nendstream";
    objects_[num] = e;
    Object(lengthNum, std::to_string(data.size()));
}

void PdfBuilder::Free(int num, int gen) {
    Entry e;
    e.free = true;
    e.gen = gen;
    objects_[num] = e;
}

std::string PdfBuilder::Build() const {
    std::string out = "%PDF-" + version_ + "\n%\xE2\xE3\xCF\xD3\n";
    int size = objects_.empty() ? 1 : objects_.rbegin()->first + 1;
    std::vector<long long> offsets(size, -1);
    for (const auto &[num, e] : objects_) {
        if (e.free)
            continue;
        offsets[num] = static_cast<long long>(out.size());
        out += std::to_string(num) + " " + std::to_string(e.gen) + " obj\n" + e.text + "\nendobj\n";
    }
    long long xref = static_cast<long long>(out.size());
    out += "xref\n0 " + std::to_string(size) + "\n";
    char line[32];
    for (int i = 0; i < size; ++i) {
        auto it = objects_.find(i);
        if (i == 0) {
            out += "0000000000 65535 f \n";
        } else if (offsets[i] >= 0) {
            std::snprintf(line, sizeof line, "%010lld %05d n \n", offsets[i], it->second.gen);
            out += line;
        } else {
            int gen = (it != objects_.end()) ? it->second.gen : 0;
            std::snprintf(line, sizeof line, "%010d %05d f \n", 0, gen);
            out += line;
        }
    }
    out += "trailer\n<< /Size " + std::to_string(size) + " /Root " + std::to_string(root_) + " 0 R " +
           trailerExtra_ + " >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
    return out;
}

bool PdfBuilder::WriteTo(const std::string &path) const {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    std::string s = Build();
    f.write(s.data(), static_cast<std::streamsize>(s.size()));
    return static_cast<bool>(f);
}

PdfBuilder PdfBuilder::SimplePage(const std::string &content, const std::string &resources) {
    PdfBuilder b;
    b.Object(1, "<< /Type /Catalog /Pages 2 0 R >>");
    b.Object(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    b.Object(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Resources << " + resources +
                    " >> /Contents 4 0 R >>");
    b.Stream(4, "", content);
    return b;
}

std::string Deflate(const std::string &data, int level) {
    uLongf cap = compressBound(static_cast<uLong>(data.size()));
    std::string out(cap, '\0');
    if (compress2(reinterpret_cast<Bytef *>(out.data()), &cap, reinterpret_cast<const Bytef *>(data.data()),
                  static_cast<uLong>(data.size()), level) != Z_OK)
        return {};
    out.resize(cap);
    return out;
}

std::string TempPath(const std::string &suffix) {
    // Every test process gets a fresh folder of its own: process ids are
    // reused, so names built from them alone could meet a file an earlier
    // test left behind.
    static const std::string dir = [] {
        std::string root = std::string(OSSEL_BINARY_DIR) + "/test-tmp";
        ::mkdir(root.c_str(), 0777);
        std::string pattern = root + "/pXXXXXX";
        std::vector<char> buf(pattern.begin(), pattern.end());
        buf.push_back('\0');
        const char *made = ::mkdtemp(buf.data());
        return made ? std::string(made) : root;
    }();
    static std::atomic<int> counter{0};
    return dir + "/t" + std::to_string(counter++) + suffix;
}

std::string ReadFile(const std::string &path) {
    std::ifstream f(path, std::ios::binary);
    if (!f)
        return {};
    std::ostringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

int RunCommand(const std::string &command, std::string *output) {
    FILE *p = ::popen(command.c_str(), "r");
    if (!p)
        return -1;
    std::string out;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0)
        out.append(buf, n);
    int status = ::pclose(p);
    if (output)
        *output = out;
    if (status == -1)
        return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

std::string ShellQuote(const std::string &s) {
    std::string q = "'";
    for (char c : s)
        q += (c == '\'') ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

int QpdfCheckStatus(const std::string &path, std::string *log) {
    return RunCommand("qpdf --check " + ShellQuote(path) + " 2>&1", log);
}

std::string CorpusDir() { return OSSEL_CORPUS_DIR; }

} // namespace osseltest
