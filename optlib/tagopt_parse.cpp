// tagopt_parse.cpp - readers that turn text into tag values: argument
// vectors, command strings (alias texts) and setup files.

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <strings.h>

#include "tagopt_tree.h"

namespace {

// Longest tag name and value that a command string may hold.
constexpr size_t kMaxCommandName = 255;
constexpr size_t kMaxCommandValue = 2031;
// Longest piece of a setup-file line read at once.
constexpr size_t kMaxSetupLine = 2046;

bool IsBoolWord(const char *s) {
    return std::strcmp(s, "1") == 0 || std::strcmp(s, "0") == 0 || strcasecmp(s, "true") == 0 ||
           strcasecmp(s, "false") == 0;
}

// A failing command string reports the position it reached; a failure at the
// very start still reports 1 so that it cannot read as success (0).
int FailedAt(long long position) {
    if (position < 1) return 1;
    if (position > INT_MAX) return INT_MAX;
    return static_cast<int>(position);
}

int Argv(tagopt_handle *handle, int argc, char **argv, unsigned flags) {
    if (handle == nullptr) return -1;
    std::memset(handle->error_text, 0, sizeof handle->error_text);
    if (argc < 2) return 1;
    if (argv == nullptr) return -1;
    // TAGOPT_BARE_BOOLEANS changes nothing here: with or without it a boolean
    // takes the next argument only when that is a boolean word.
    static_cast<void>(flags);
    int k = 1;
    for (int i = 1; i < argc; ++i) {
        char *arg = argv[i];
        if (arg == nullptr) {
            argv[k++] = arg;
            continue;
        }
        if (std::strcmp(arg, "-") == 0) {
            int moved = 0;
            for (int j = i + 1; j < argc; ++j) argv[k + moved++] = argv[j];
            return k + moved;
        }
        const tagopt_node *node = arg[0] == '-' ? tagopt_find(handle, arg + 1) : nullptr;
        if (node == nullptr) {
            argv[k++] = arg; // a plain argument, or a word that names no tag
            continue;
        }
        const int option = i;
        const char *name = arg + 1;
        if ((node->flags & TAGOPT_NO_ARGV) != 0) return -option;
        if (node->type == TAGOPT_POINTER) {
            // An address typed on a command line would be followed blindly.
            tagopt_set_error(handle, "tag '%s' holds a pointer and cannot be set from an argument vector", name);
            return -option;
        }
        if (node->type == TAGOPT_ALIAS || node->type == TAGOPT_BOOLEAN) {
            // The value is optional: take the next argument only when it is a
            // boolean word.
            const char *value = "true";
            if (i + 1 < argc && argv[i + 1] != nullptr && IsBoolWord(argv[i + 1])) value = argv[++i];
            if (tagopt_put(handle, name, value) != 0) return -option;
            continue;
        }
        if (i + 1 >= argc || argv[i + 1] == nullptr) {
            tagopt_set_error(handle, "missing value for tag '%s'", name);
            return -option;
        }
        const char *value = argv[i + 1];
        const bool append = node->type == TAGOPT_LIST && node->value != nullptr && node->value[0] != '\0';
        const int result = append ? tagopt_additem(handle, name, value) : tagopt_put(handle, name, value);
        if (result != 0) return -option;
        ++i;
    }
    return k;
}

int ReadCommand(tagopt_handle *handle, const char *text, unsigned flags) {
    if (handle == nullptr) return 1;
    if (text == nullptr) return 0;
    size_t i = 0;
    long long p = 0;
    for (;;) {
        if (text[i] == '\0') return 0;
        while (text[i] == ' ') ++i, ++p;
        if (text[i] == '\0') return 0;
        if (text[i] != '-') return static_cast<int>(p < INT_MAX ? p : INT_MAX);
        ++i; // the '-' is not counted
        const size_t nameStart = i;
        while (text[i] != '\0' && text[i] != ' ') ++i;
        const size_t nameLength = i - nameStart;
        p += static_cast<long long>(nameLength);
        if (nameLength > kMaxCommandName) {
            tagopt_set_error(handle, "tag name of %zu characters in tagopt_rdcmd is longer than %zu characters",
                             nameLength, kMaxCommandName);
            return FailedAt(p);
        }
        const std::string name(text + nameStart, nameLength);
        while (text[i] == ' ') ++i, ++p;

        const tagopt_node *node = tagopt_find(handle, name.c_str());
        std::string value;
        if (node != nullptr &&
            (node->type == TAGOPT_ALIAS || (node->type == TAGOPT_BOOLEAN && (flags & TAGOPT_BARE_BOOLEANS) != 0))) {
            value = "1";
        } else {
            if (text[i] == '\0') {
                tagopt_set_error(handle, "missing argument for tag '%s' in tagopt_rdcmd", name.c_str());
                return FailedAt(p);
            }
            bool quoted = false;
            while (text[i] != '\0' && (quoted || text[i] != ' ')) {
                if (text[i] == '"') {
                    quoted = !quoted;
                } else if (value.size() <= kMaxCommandValue) {
                    value += text[i];
                }
                ++i, ++p;
            }
            if (quoted) {
                tagopt_set_error(handle, "missing close quote");
                return FailedAt(p);
            }
            if (value.size() > kMaxCommandValue) {
                tagopt_set_error(handle, "value for tag '%s' in tagopt_rdcmd is longer than %zu characters",
                                 name.c_str(), kMaxCommandValue);
                return FailedAt(p);
            }
            if (node != nullptr && node->type == TAGOPT_POINTER) {
                tagopt_set_error(handle, "tag '%s' holds a pointer and cannot be set from a command string",
                                 name.c_str());
                return FailedAt(p);
            }
        }
        if (tagopt_put(handle, name.c_str(), value.c_str()) != 0) return FailedAt(p);
    }
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

bool IsOctal(char c) { return c >= '0' && c <= '7'; }

// The quoted value that starts after the opening quote at s, up to the next
// quote that is not escaped (or the end of the line).
std::string Unquote(const char *s) {
    std::string out;
    while (*s != '\0' && *s != '"') {
        if (*s != '\\') {
            out += *s++;
            continue;
        }
        ++s;
        if (*s == '\0') break; // a lone backslash at the end of the line
        if (IsOctal(*s)) {
            int v = 0;
            for (int n = 0; n < 3 && IsOctal(*s); ++n) v = v * 8 + (*s++ - '0');
            out += static_cast<char>(v & 0xff);
            continue;
        }
        const char c = *s++;
        out += c == 'n' ? '\n' : c == 't' ? '\t' : c;
    }
    return out;
}

int KeepComment(tagopt_handle *handle, const char *line) {
    if (handle->comment_count >= INT32_MAX) {
        tagopt_set_error(handle, "error allocating in tagopt_parse: '%s'", std::strerror(ENOMEM));
        return 1;
    }
    char *copy = strdup(line);
    if (copy == nullptr) {
        tagopt_set_error(handle, "error allocating in tagopt_parse: '%s'", std::strerror(errno));
        return 1;
    }
    const size_t count = static_cast<size_t>(handle->comment_count) + 1;
    char **grown = static_cast<char **>(std::realloc(handle->comments, count * sizeof(char *)));
    if (grown == nullptr) {
        tagopt_set_error(handle, "error allocating in tagopt_parse: '%s'", std::strerror(errno));
        std::free(copy);
        return 1;
    }
    handle->comments = grown;
    handle->comments[handle->comment_count++] = copy;
    return 0;
}

int Parse(const char *line, tagopt_handle *handle) {
    if (TreeOf(handle) == nullptr || line == nullptr) return 1;
    if (line[0] == '#') {
        return (handle->flags & TAGOPT_KEEP_COMMENTS) != 0 ? KeepComment(handle, line) : 0;
    }
    const char *s = line;
    while (IsBlank(*s)) ++s;
    if (*s == '\0') return 0;
    const char *separator = std::strpbrk(s, "=:");
    if (separator == nullptr) return 1;
    const char *nameEnd = separator;
    while (nameEnd > s && IsBlank(nameEnd[-1])) --nameEnd;
    if (nameEnd == s) return 1;
    const std::string name(s, nameEnd);

    const char *v = separator + 1;
    while (IsBlank(*v)) ++v;
    std::string value;
    if (*v == '"') {
        value = Unquote(v + 1);
    } else {
        const char *e = v + std::strlen(v);
        while (e > v && IsBlank(e[-1])) --e;
        if (e == v) return 2;
        value.assign(v, e);
    }

    uint32_t newType = TAGOPT_STRING;
    bool prefixed = false;
    bool nullValue = false;
    if (value.compare(0, 7, "BOOLEAN") == 0) {
        newType = TAGOPT_BOOLEAN;
        prefixed = true;
        if (value.size() > 7 && value[7] == ':') value = strcasecmp(value.c_str() + 8, "true") == 0 ? "true" : "false";
    } else if (value.compare(0, 7, "POINTER") == 0) {
        newType = TAGOPT_POINTER;
        prefixed = true;
        nullValue = true;
    }

    const tagopt_node *node = tagopt_find(handle, name.c_str());
    if (node != nullptr) {
        if (node->type == TAGOPT_POINTER) {
            tagopt_set_error(handle, "tag '%s' holds a pointer and cannot be set from a setup file", name.c_str());
            return 1;
        }
        const char *text = nullValue ? nullptr : value.c_str();
        if (node->type == TAGOPT_LIST) return tagopt_additem(handle, name.c_str(), text);
        return tagopt_put(handle, name.c_str(), text);
    }
    if ((handle->flags & TAGOPT_CLOSED) != 0) {
        std::fprintf(stderr, "\"%s\" not a valid option.  Please correct your setup file.\n", name.c_str());
        return 0;
    }
    if (!prefixed) return tagopt_put(handle, name.c_str(), value.c_str());
    tagopt_node fresh;
    fresh.name = const_cast<char *>(name.c_str());
    fresh.value = nullValue ? nullptr : const_cast<char *>(value.c_str());
    fresh.type = newType;
    return tagopt_putnode(handle, &fresh, true);
}

struct FileCloser {
    void operator()(FILE *f) const noexcept { std::fclose(f); }
};

int Merge(tagopt_handle *handle, const char *path) {
    if (TreeOf(handle) == nullptr || path == nullptr) return 2;
    errno = 0;
    std::unique_ptr<FILE, FileCloser> file(std::fopen(path, "r"));
    if (!file) return 2;
    char line[kMaxSetupLine + 1];
    int number = 0;
    int firstFailed = 0;
    while (std::fgets(line, sizeof line, file.get()) != nullptr) {
        if (number < INT_MAX) ++number;
        size_t n = std::strlen(line);
        if (n > 0 && line[n - 1] == '\n') line[--n] = '\0';
        if (n > 0 && line[n - 1] == '\r') line[--n] = '\0';
        if (tagopt_parse(line, handle) != 0 && firstFailed == 0) firstFailed = number;
    }
    return firstFailed;
}

} // namespace

int tagopt_rdcmd(tagopt_handle *handle, const char *text, unsigned flags) {
    return TagoptGuard(handle, "tagopt_rdcmd", 1, [&] { return ReadCommand(handle, text, flags); });
}

int tagopt_parse(const char *line, tagopt_handle *handle) {
    return TagoptGuard(handle, "tagopt_parse", 1, [&] { return Parse(line, handle); });
}

extern "C" {

TAGOPT_API int tagopt_argv(tagopt_handle *handle, int argc, char **argv, unsigned flags) {
    return TagoptGuard(handle, "tagopt_argv", -1, [&] { return Argv(handle, argc, argv, flags); });
}

TAGOPT_API int tagopt_merge(tagopt_handle *handle, const char *path) {
    return TagoptGuard(handle, "tagopt_merge", 2, [&] { return Merge(handle, path); });
}

} // extern "C"
