// tagopt_check.cpp - validation of a tag value: the type check, then the
// value against the tag's set of valid values ("choices").

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <strings.h>

#include "tagopt_tree.h"

namespace {

bool IsSpace(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

const char *SkipSpace(const char *p) {
    while (*p != '\0' && IsSpace(*p)) ++p;
    return p;
}

int32_t Clamp32(long long v) {
    if (v > INT32_MAX) return INT32_MAX;
    if (v < INT32_MIN) return INT32_MIN;
    return static_cast<int32_t>(v);
}

// Splits text at every ','. A trailing comma adds no item; a leading comma or
// two commas in a row give an empty item. The empty text has no items.
std::vector<std::string_view> SplitItems(std::string_view text) {
    std::vector<std::string_view> items;
    size_t start = 0;
    while (start < text.size()) {
        const size_t comma = text.find(',', start);
        if (comma == std::string_view::npos) {
            items.push_back(text.substr(start));
            break;
        }
        items.push_back(text.substr(start, comma - start));
        start = comma + 1;
    }
    return items;
}

// The candidate read as a double; counts only when the reading uses all of
// it (the empty text reads as 0).
bool ReadWholeDouble(const std::string &candidate, double *v) {
    char *end = nullptr;
    *v = std::strtod(candidate.c_str(), &end);
    return end != nullptr && *end == '\0';
}

enum class MatchMode { PerItem, WholeValue };

// Whether one item of choices admits the candidate. candidate is the item of
// the value (per-item mode) or the trimmed value (whole-value mode); value is
// the untrimmed value.
bool MatchItem(std::string_view item, const std::string &candidate, const char *value, uint32_t type,
               MatchMode mode) {
    const std::string itemText(item);
    if (item.find('-') != std::string_view::npos) {
        // A numeric range "lo-hi", or "lo-" open above. The first pattern
        // reading one number only is the open form.
        double lo = 0.0, hi = 0.0;
        const int got = std::sscanf(itemText.c_str(), "%lf-%lf,", &lo, &hi);
        double v = 0.0;
        if (got == 2) return ReadWholeDouble(candidate, &v) && lo <= v && v <= hi;
        if (std::sscanf(itemText.c_str(), "%lf-,", &lo) == 1) return ReadWholeDouble(candidate, &v) && v >= lo;
        return false;
    }
    if (mode == MatchMode::WholeValue && type == TAGOPT_INT) {
        int32_t a = 0, b = 0;
        return ReadTagInteger(itemText.c_str(), &a) && ReadTagInteger(value, &b) && a == b;
    }
    if (mode == MatchMode::WholeValue && type == TAGOPT_DOUBLE) {
        double a = 0.0, b = 0.0;
        return ReadTagDouble(itemText.c_str(), &a) && ReadTagDouble(value, &b) && a == b;
    }
    return item == std::string_view(candidate);
}

bool MatchAny(const char *choices, const std::string &candidate, const char *value, uint32_t type, MatchMode mode) {
    for (std::string_view item : SplitItems(choices)) {
        if (MatchItem(item, candidate, value, type, mode)) return true;
    }
    return false;
}

void ReportNotInSet(tagopt_handle *handle, const char *shown, const tagopt_node *node) {
    tagopt_set_error(handle, "The value '%s' for tag '%s' is not valid.\nThe set of valid values is '%s'.", shown,
                     node->name != nullptr ? node->name : "", node->choices);
}

// Stage 1: the value against the tag's type.
bool CheckType(tagopt_handle *handle, const tagopt_node *node, const char *value) {
    const char *name = node->name != nullptr ? node->name : "";
    switch (node->type) {
    case TAGOPT_BOOLEAN:
        if (value == nullptr) return false;
        if (std::strcmp(value, "0") == 0 || std::strcmp(value, "1") == 0 || strcasecmp(value, "true") == 0 ||
            strcasecmp(value, "false") == 0)
            return true;
        tagopt_set_error(handle, "tag '%s' is a boolean and must be 'true', 'false', '1', or '0'", name);
        return false;
    case TAGOPT_INT: {
        if (value == nullptr) return false;
        int32_t n = 0;
        if (ReadTagInteger(value, &n)) return true;
        tagopt_set_error(handle, "tag '%s' is an integer; '%s' is not a valid value", name, value);
        return false;
    }
    case TAGOPT_DOUBLE: {
        if (value == nullptr) return false;
        double d = 0.0;
        if (ReadTagDouble(value, &d)) return true;
        tagopt_set_error(handle, "tag '%s' is a double; '%s' is not a valid value", name, value);
        return false;
    }
    case TAGOPT_SINGLE:
    case TAGOPT_MULTI: {
        if (value == nullptr) return false;
        if (node->type == TAGOPT_SINGLE && std::strchr(value, ',') != nullptr) {
            tagopt_set_error(handle, "tag '%s' is a single-choice tag and cannot contain a comma", name);
            return false;
        }
        if (node->type == TAGOPT_MULTI && *value == '\0') return true;
        const char *choices = node->choices != nullptr ? node->choices : "";
        std::vector<std::string_view> items = SplitItems(value);
        if (items.empty()) items.push_back(std::string_view()); // the empty single-choice value is one empty item
        for (std::string_view item : items) {
            const std::string candidate(item);
            if (!MatchAny(choices, candidate, value, node->type, MatchMode::PerItem)) {
                tagopt_set_error(handle,
                                 "The value '%s' for tag '%s' is not valid.\nThe set of valid values is '%s'.",
                                 candidate.c_str(), name, choices);
                return false;
            }
        }
        return true;
    }
    case TAGOPT_ALIAS:
        if (value == nullptr) return false;
        if (*value == '\0' || IsTagTrue(value)) return true;
        tagopt_set_error(handle, "tag '%s' is an alias and must be 'true', '1', or ''", name);
        return false;
    case TAGOPT_STRING:
    case TAGOPT_LIST:
    case TAGOPT_UNTYPED:
    case TAGOPT_POINTER:
        return true;
    default:
        tagopt_set_error(handle, "Invalid type (%d) for tag \"%s\".", static_cast<int>(node->type), name);
        return false;
    }
}

} // namespace

bool ReadTagInteger(const char *text, int32_t *number) noexcept {
    *number = 0;
    if (text == nullptr) return false;
    char *end = nullptr;
    const int savedErrno = errno;
    long long v = std::strtoll(text, &end, 10);
    if (*end == 'x' || *end == 'X') v = std::strtoll(text, &end, 16);
    errno = savedErrno;
    *number = Clamp32(v);
    return *SkipSpace(end) == '\0';
}

bool ReadTagDouble(const char *text, double *number) noexcept {
    *number = 0.0;
    if (text == nullptr) return false;
    const char *start = SkipSpace(text);
    const char *p = start;
    if (*p == '+' || *p == '-') ++p;
    int digits = 0;
    while (IsDigit(*p)) ++p, ++digits;
    if (*p == '.') {
        ++p;
        while (IsDigit(*p)) ++p, ++digits;
    }
    const char *end = text; // nothing read
    if (digits > 0) {
        if (*p == 'e' || *p == 'E') {
            const char *q = p + 1;
            if (*q == '+' || *q == '-') ++q;
            if (IsDigit(*q)) {
                while (IsDigit(*q)) ++q;
                p = q;
            }
        }
        end = p;
        // strtod alone would also take hexadecimal and "inf"; read only the
        // decimal text found above.
        char small[128];
        const size_t len = static_cast<size_t>(p - start);
        const int savedErrno = errno;
        if (len < sizeof small) {
            std::memcpy(small, start, len);
            small[len] = '\0';
            *number = std::strtod(small, nullptr);
        } else {
            try {
                *number = std::strtod(std::string(start, len).c_str(), nullptr);
            } catch (...) {
                errno = savedErrno;
                return false;
            }
        }
        errno = savedErrno;
    }
    return *SkipSpace(end) == '\0';
}

bool IsTagTrue(const char *value) noexcept {
    return value != nullptr && (std::strcmp(value, "1") == 0 || strcasecmp(value, "true") == 0);
}

int tagopt_check(tagopt_handle *handle, const tagopt_node *node, const char *value) {
    return TagoptGuard(handle, "tagopt_check", 0, [&]() -> int {
        if (node == nullptr) return 0;
        if (!CheckType(handle, node, value)) return 0;
        // A pointer is not text: it has no set of valid values.
        if (value == nullptr || node->type == TAGOPT_POINTER || node->type == TAGOPT_MULTI) return 1;
        if (node->choices == nullptr || *node->choices == '\0') return 1;
        if (node->type == TAGOPT_STRING && *value == '\0') return 1;
        // Stage 2: the whole value, trimmed, against the set of valid values.
        const char *b = SkipSpace(value);
        const char *e = b + std::strlen(b);
        while (e > b && IsSpace(e[-1])) --e;
        const std::string trimmed(b, e);
        if (MatchAny(node->choices, trimmed, value, node->type, MatchMode::WholeValue)) return 1;
        ReportNotInSet(handle, value, node);
        return 0;
    });
}
