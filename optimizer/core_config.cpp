#include "core_config.h"

#include <GlobalParams.h>
#include <goo/GooString.h>

#include <cstdio>
#include <fcntl.h>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v'; }

// A name or value quoted for a message: printable ASCII as it is, other
// bytes as \xNN, cut after 64 bytes.
std::string Printable(std::string_view text) {
    constexpr size_t kMax = 64;
    std::string out;
    for (size_t i = 0; i < text.size() && i < kMax; ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c >= 0x20 && c < 0x7F && c != '\\') {
            out += static_cast<char>(c);
        } else {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02X", c);
            out += buf;
        }
    }
    if (text.size() > kMax)
        out += "...";
    return out;
}

// Splits one line into words: blanks separate, double quotes group, a word
// starting with '#' ends the line. An unterminated quote runs to the end.
std::vector<std::string> SplitWords(std::string_view line) {
    std::vector<std::string> words;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && IsBlank(line[i]))
            ++i;
        if (i >= line.size() || line[i] == '#')
            break;
        std::string word;
        if (line[i] == '"') {
            ++i;
            while (i < line.size() && line[i] != '"')
                word += line[i++];
            if (i < line.size())
                ++i; // closing quote
        } else {
            while (i < line.size() && !IsBlank(line[i]))
                word += line[i++];
        }
        words.push_back(std::move(word));
    }
    return words;
}

std::optional<bool> ParseYesNo(const std::string &word) {
    if (word == "yes")
        return true;
    if (word == "no")
        return false;
    return std::nullopt;
}

class Parser {
public:
    Parser(std::string_view sourceName, std::vector<std::string> *diagnostics)
        : source_(sourceName), diagnostics_(diagnostics) {}

    void Line(std::string_view line, size_t lineNo, CoreConfig *config) {
        if (line.size() > kCoreConfigMaxLine) {
            Report("Line " + std::to_string(lineNo) + " of " + source_ + " is too long; ignored");
            return;
        }
        std::vector<std::string> words = SplitWords(line);
        if (words.empty())
            return;
        const std::string &name = words[0];
        std::string where = " in " + source_ + ", line " + std::to_string(lineNo);
        auto needs = [&](size_t n) {
            if (words.size() == n + 1)
                return true;
            Report("Setting '" + name + "'" + where + " takes " + std::to_string(n) +
                   (n == 1 ? " value" : " values") + "; ignored");
            return false;
        };
        auto yesNo = [&](std::optional<bool> *field) {
            if (!needs(1))
                return;
            std::optional<bool> v = ParseYesNo(words[1]);
            if (!v) {
                Report("Bad value '" + Printable(words[1]) + "' for setting '" + name + "'" + where +
                       " (expected yes or no); ignored");
                return;
            }
            *field = v;
        };
        if (name == "errQuiet") {
            yesNo(&config->errQuiet);
        } else if (name == "printCommands") {
            yesNo(&config->printCommands);
        } else if (name == "profileCommands") {
            yesNo(&config->profileCommands);
        } else if (name == "textEncoding") {
            if (needs(1))
                config->textEncoding = words[1];
        } else if (name == "fontDir") {
            if (needs(1))
                config->fontDir = words[1];
        } else if (name == "fontFile") {
            if (needs(2))
                config->fontFiles.emplace_back(words[1], words[2]);
        } else if (unknown_.insert(name).second) {
            Report("Unknown setting '" + Printable(name) + "'" + where + "; ignored");
        }
    }

    void Report(const std::string &text) {
        if (diagnostics_)
            diagnostics_->push_back(text);
    }

private:
    std::string source_;
    std::vector<std::string> *diagnostics_;
    std::set<std::string> unknown_;
};

} // namespace

CoreConfig ParseCoreConfig(std::string_view text, std::string_view sourceName,
                           std::vector<std::string> *diagnostics) {
    CoreConfig config;
    Parser parser(sourceName, diagnostics);
    size_t lineNo = 0;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string_view::npos)
            end = text.size();
        ++lineNo;
        parser.Line(text.substr(pos, end - pos), lineNo, &config);
        pos = end + 1;
    }
    return config;
}

bool ReadCoreConfigFile(const char *path, CoreConfig *config, std::vector<std::string> *diagnostics) {
    *config = CoreConfig{};
    if (!path)
        return false;
    // O_NONBLOCK keeps a FIFO from blocking the open; only a regular file is read.
    int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return false;
    }
    std::string text;
    char buf[8192];
    bool truncated = false;
    for (;;) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0) {
            ::close(fd);
            return false;
        }
        if (n == 0)
            break;
        size_t room = kCoreConfigMaxFile - text.size();
        if (static_cast<size_t>(n) > room) {
            text.append(buf, room);
            truncated = true;
            break;
        }
        text.append(buf, static_cast<size_t>(n));
    }
    ::close(fd);
    std::string name = Printable(path);
    if (truncated) {
        // Drop the partial last line so a cut setting is not applied.
        size_t lastBreak = text.rfind('\n');
        text.resize(lastBreak == std::string::npos ? 0 : lastBreak + 1);
        if (diagnostics)
            diagnostics->push_back("File " + name + " is larger than " + std::to_string(kCoreConfigMaxFile) +
                                   " bytes; the rest is ignored");
    }
    *config = ParseCoreConfig(text, name, diagnostics);
    return true;
}

void ApplyCoreConfig(const CoreConfig &config, GlobalParams *params) {
    if (!params)
        return;
    if (config.errQuiet)
        params->setErrQuiet(*config.errQuiet);
    if (config.printCommands)
        params->setPrintCommands(*config.printCommands);
    if (config.profileCommands)
        params->setProfileCommands(*config.profileCommands);
    if (config.textEncoding)
        params->setTextEncoding(config.textEncoding->c_str());
    for (const auto &[fontName, path] : config.fontFiles) {
        GooString name(fontName);
        GooString file(path);
        params->addFontFile(&name, &file);
    }
    if (config.fontDir)
        params->setupBaseFonts(config.fontDir->c_str());
}

CoreSession::CoreSession(bool quietByDefault) {
    globalParams = std::make_unique<GlobalParams>();
    globalParams->setErrQuiet(quietByDefault);
    CoreConfig config;
    std::vector<std::string> diagnostics;
    if (ReadCoreConfigFile(kCoreConfigFileName, &config, &diagnostics))
        ApplyCoreConfig(config, globalParams.get());
    // A caller usually makes two calls per file (check, then process): each
    // problem is reported once per process, not once per call.
    static std::set<std::string> reported;
    for (const std::string &line : diagnostics)
        if (reported.insert(line).second)
            std::fprintf(stderr, "%s\n", line.c_str());
}

CoreSession::~CoreSession() { globalParams.reset(); }
