// tagopt_tree.h - the handle's ordered set of tags and helpers private to the
// option library's sources.
#pragma once

#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "tagopt_internal.h"

// Orders tag names byte by byte as unsigned characters ('Z' before 'a').
struct TagNameLess {
    using is_transparent = void;
    bool operator()(std::string_view a, std::string_view b) const noexcept {
        const size_t n = a.size() < b.size() ? a.size() : b.size();
        const int c = n != 0 ? std::memcmp(a.data(), b.data(), n) : 0; // memcmp compares unsigned bytes
        if (c != 0) return c < 0;
        return a.size() < b.size();
    }
};

// Frees a node held by a handle with all its texts (a pointer tag's value
// excepted). Null is ignored.
void tagopt_freenode(tagopt_node *node) noexcept;

struct TagNodeDeleter {
    void operator()(tagopt_node *node) const noexcept { tagopt_freenode(node); }
};
using TagNodePtr = std::unique_ptr<tagopt_node, TagNodeDeleter>;

struct tagopt_tree {
    std::map<std::string, TagNodePtr, TagNameLess> nodes;
    // Alias tags whose alias text is being applied, outermost first. An alias
    // that is set again while it is in this list would expand without end.
    std::vector<std::string> expanding;
    // Set when a loop of aliases was reported, so the enclosing alias
    // expansions keep that message instead of replacing it.
    bool loopReported = false;
};

// Number readers shared by the checks and the typed getters.
// Integer rule: base 10 (leading white space and a sign allowed, clamped to
// the 32-bit range), read again in base 16 when the reading stops at 'x' or
// 'X'. True when only white space follows the number (the empty text reads
// as 0 and passes).
bool ReadTagInteger(const char *text, int32_t *number) noexcept;
// Decimal rule: optional sign, digits with an optional fraction, an optional
// exponent. True when only white space follows (the empty text reads as 0).
bool ReadTagDouble(const char *text, double *number) noexcept;

// True for "1" or any letter case of "true".
bool IsTagTrue(const char *value) noexcept;

// Runs body and turns anything it throws into failure, with a message in
// error_text. Every function of the library runs through this, so nothing
// is thrown to a caller.
template <typename Result, typename Body>
Result TagoptGuard(tagopt_handle *handle, const char *where, Result failure, Body &&body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc &) {
        if (handle != nullptr) tagopt_set_error(handle, "out of memory in %s", where);
    } catch (...) {
        if (handle != nullptr) tagopt_set_error(handle, "internal error in %s", where);
    }
    return failure;
}

inline tagopt_tree *TreeOf(tagopt_handle *handle) noexcept {
    return handle != nullptr ? handle->nodes : nullptr;
}
