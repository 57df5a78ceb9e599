// tagopt_store.cpp - the option handle: creation and release, adding tags,
// storing and reading values, list items and alias expansion.

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "tagopt_tree.h"

namespace {

// Copies src (null stays null). False when the copy cannot be allocated.
bool CopyText(const char *src, char **dst) noexcept {
    *dst = nullptr;
    if (src == nullptr) return true;
    *dst = strdup(src);
    return *dst != nullptr;
}

// The pointer that a pointer tag's definition text stands for: an unsigned
// number in C notation (decimal, 0x hexadecimal, leading-zero octal).
char *PointerFromText(const char *text) noexcept {
    if (text == nullptr) return nullptr;
    const int savedErrno = errno;
    const unsigned long long v = std::strtoull(text, nullptr, 0);
    errno = savedErrno;
    return reinterpret_cast<char *>(static_cast<uintptr_t>(v));
}

bool IsExpanding(const tagopt_tree *tree, const char *name) {
    for (const std::string &n : tree->expanding) {
        if (n == name) return true;
    }
    return false;
}

int PutNode(tagopt_handle *handle, const tagopt_node *node, bool allowNew) {
    tagopt_tree *tree = TreeOf(handle);
    if (tree == nullptr) return 1;
    if (node == nullptr) {
        tagopt_set_error(handle, "node passed to tagopt_putnode was NULL");
        return 1;
    }
    if (node->name == nullptr) {
        tagopt_set_error(handle, "node passed to tagopt_putnode had NULL in key");
        return 1;
    }
    if (node->value == nullptr && node->type != TAGOPT_POINTER) {
        tagopt_set_error(handle, "node passed to tagopt_putnode had NULL in value");
        return 1;
    }
    if (node->type == TAGOPT_ALIAS && node->alias == nullptr) {
        tagopt_set_error(handle, "tag '%s' is an alias but does not have an alias", node->name);
        return 1;
    }
    if ((node->type == TAGOPT_SINGLE || node->type == TAGOPT_MULTI) &&
        (node->choices == nullptr || *node->choices == '\0')) {
        tagopt_set_error(handle, "tag '%s' is a single- or multi-choice and must have a set of valid values",
                         node->name);
        return 1;
    }
    if (!tagopt_check(handle, node, node->value)) return 3;

    auto existing = tree->nodes.find(std::string_view(node->name));
    if (existing == tree->nodes.end() && !allowNew) return 1;
    if ((handle->flags & TAGOPT_CLOSED) != 0) return 1;

    TagNodePtr copy(new (std::nothrow) tagopt_node);
    if (!copy) {
        tagopt_set_error(handle, "error allocating new node: '%s'", std::strerror(ENOMEM));
        return 1;
    }
    copy->flags = node->flags;
    copy->type = node->type;
    copy->category = node->category;
    bool copied = CopyText(node->name, &copy->name) && CopyText(node->alias, &copy->alias) &&
                  CopyText(node->summary, &copy->summary) && CopyText(node->help, &copy->help) &&
                  CopyText(node->choices, &copy->choices) && CopyText(node->extra, &copy->extra);
    if (copied) {
        if (node->type == TAGOPT_POINTER) {
            copy->value = node->value; // the caller's pointer, not a text
        } else {
            copied = CopyText(node->value, &copy->value);
        }
    }
    if (!copied) {
        tagopt_set_error(handle, "error calling strdup in tagopt_putnode: '%s'", std::strerror(errno));
        return 1;
    }

    if (existing != tree->nodes.end()) {
        existing->second = std::move(copy); // frees the replaced node
    } else {
        try {
            std::string key(node->name);
            tree->nodes.emplace(std::move(key), std::move(copy));
        } catch (...) {
            tagopt_set_error(handle, "error adding node for tag '%s' to tree", node->name);
            handle->node_count = static_cast<int32_t>(tree->nodes.size());
            return 1;
        }
    }
    handle->node_count = static_cast<int32_t>(tree->nodes.size());
    return 0;
}

// Applies the alias text of the alias tag name. True on success.
bool ExpandAlias(tagopt_handle *handle, const std::string &name, const std::string &text) {
    tagopt_tree *tree = TreeOf(handle);
    tree->expanding.push_back(name);
    const int position = tagopt_rdcmd(handle, text.c_str(), 0);
    tree->expanding.pop_back();
    const bool loop = tree->loopReported;
    if (tree->expanding.empty()) tree->loopReported = false;
    if (position == 0) return true;
    if (!loop) {
        tagopt_set_error(handle, "error occured parsing alias for '%s' at position %d:\n\t%s\n", name.c_str(),
                         position, text.c_str());
    }
    return false;
}

int Put(tagopt_handle *handle, const char *name, const char *value) {
    tagopt_tree *tree = TreeOf(handle);
    if (tree == nullptr) return 1;
    tagopt_node *node = tagopt_find(handle, name);
    if (node == nullptr) {
        if ((handle->flags & TAGOPT_CLOSED) != 0) return 1;
        tagopt_node fresh;
        fresh.name = const_cast<char *>(name);
        fresh.value = const_cast<char *>(value);
        fresh.type = TAGOPT_STRING;
        return tagopt_putnode(handle, &fresh, true);
    }
    if (node->type != TAGOPT_POINTER) {
        if (value == nullptr) {
            tagopt_set_error(handle, "tag '%s' cannot be given a NULL value", node->name);
            return 1;
        }
        if (node->type == TAGOPT_ALIAS && IsExpanding(tree, node->name)) {
            // The alias text sets the alias itself, directly or through other
            // aliases: applying it again would never end.
            tagopt_set_error(handle, "alias '%s' sets itself in its alias text (directly or through other aliases)",
                             node->name);
            tree->loopReported = true;
            return 1;
        }
        if (node->value != nullptr && std::strcmp(node->value, value) == 0) return 0;
    }
    if (!tagopt_check(handle, node, value)) return 3;

    char *newValue = nullptr;
    switch (node->type) {
    case TAGOPT_BOOLEAN:
        newValue = strdup(IsTagTrue(value) ? "true" : "false");
        break;
    case TAGOPT_ALIAS:
        if (IsTagTrue(value)) {
            const std::string aliasName(node->name);
            const std::string text(node->alias != nullptr ? node->alias : "");
            if (!ExpandAlias(handle, aliasName, text)) return 1;
            // The alias text may have created tags; look the alias up again.
            node = tagopt_find(handle, aliasName.c_str());
            if (node == nullptr) return 1;
            newValue = strdup("true");
        } else {
            newValue = strdup("");
        }
        break;
    case TAGOPT_POINTER:
        node->value = const_cast<char *>(value); // the caller's pointer; the old one is not ours to free
        return 0;
    default:
        newValue = strdup(value);
        break;
    }
    if (newValue == nullptr) {
        tagopt_set_error(handle, "error calling strdup in tagopt_put: '%s'", std::strerror(errno));
        return 1;
    }
    std::free(node->value);
    node->value = newValue;
    return 0;
}

std::string EscapeCommas(const char *item) {
    std::string out;
    for (const char *p = item; *p != '\0'; ++p) {
        if (*p == ',') out += '\\';
        out += *p;
    }
    return out;
}

int AddItem(tagopt_handle *handle, const char *name, const char *item) {
    if (TreeOf(handle) == nullptr) return 1;
    if (item == nullptr) {
        tagopt_set_error(handle, "no item given for tag '%s' in tagopt_additem", name != nullptr ? name : "");
        return 1;
    }
    std::string escaped;
    try {
        escaped = EscapeCommas(item);
    } catch (const std::bad_alloc &) {
        tagopt_set_error(handle, "error allocating memory in tagopt_additem: '%s'", std::strerror(ENOMEM));
        return 1;
    }
    tagopt_node *node = tagopt_find(handle, name);
    if (node != nullptr && node->type == TAGOPT_LIST) {
        if (!tagopt_check(handle, node, item)) return 3;
        const char *current = node->value != nullptr ? node->value : "";
        const size_t currentLength = std::strlen(current);
        const size_t size = currentLength + 1 + escaped.size() + 1;
        char *joined = static_cast<char *>(std::malloc(size));
        if (joined == nullptr) {
            tagopt_set_error(handle, "error allocating memory in tagopt_additem: '%s'", std::strerror(errno));
            return 1;
        }
        if (currentLength == 0) {
            std::memcpy(joined, escaped.c_str(), escaped.size() + 1);
        } else {
            std::memcpy(joined, current, currentLength);
            joined[currentLength] = ',';
            std::memcpy(joined + currentLength + 1, escaped.c_str(), escaped.size() + 1);
        }
        std::free(node->value);
        node->value = joined;
        return 0;
    }
    if ((handle->flags & TAGOPT_CLOSED) != 0) return 1;
    tagopt_node fresh;
    fresh.name = const_cast<char *>(name);
    fresh.value = const_cast<char *>(escaped.c_str());
    fresh.type = TAGOPT_LIST;
    return tagopt_putnode(handle, &fresh, true);
}

void ReleaseHandle(tagopt_handle *handle) noexcept {
    if (handle == nullptr) return;
    delete handle->nodes; // frees every node
    handle->nodes = nullptr;
    for (int32_t i = 0; i < handle->comment_count; ++i) std::free(handle->comments[i]);
    std::free(handle->comments);
    std::free(handle);
}

tagopt_handle *Initialize(const tagopt_def *defs, unsigned flags) {
    tagopt_handle *handle = static_cast<tagopt_handle *>(std::calloc(1, sizeof(tagopt_handle)));
    if (handle == nullptr) {
        std::perror("tagopt_initialize");
        return nullptr;
    }
    handle->nodes = new (std::nothrow) tagopt_tree;
    if (handle->nodes == nullptr) {
        errno = ENOMEM;
        std::perror("tagopt_initialize");
        std::free(handle);
        return nullptr;
    }
    if ((flags & TAGOPT_KEEP_COMMENTS) != 0) handle->flags |= TAGOPT_KEEP_COMMENTS;
    for (const tagopt_def *def = defs; def != nullptr && def->name != nullptr; ++def) {
        tagopt_node node;
        node.name = const_cast<char *>(def->name);
        node.value = def->type == TAGOPT_POINTER ? PointerFromText(def->value) : const_cast<char *>(def->value);
        node.alias = const_cast<char *>(def->alias);
        node.flags = def->flags;
        node.type = def->type;
        node.category = def->category;
        node.summary = const_cast<char *>(def->summary);
        node.help = const_cast<char *>(def->help);
        node.choices = const_cast<char *>(def->choices);
        node.extra = const_cast<char *>(def->extra);
        if (tagopt_putnode(handle, &node, true) != 0) {
            std::fprintf(stderr, "Error adding tag %s in tagopt_initialize:\n   %s\n", def->name, handle->error_text);
            ReleaseHandle(handle);
            return nullptr;
        }
    }
    if ((flags & TAGOPT_CLOSED) != 0) handle->flags |= TAGOPT_CLOSED;
    return handle;
}

// The text value of a tag for the typed getters; null for a missing tag, a
// null value and a pointer tag (whose value is an address, not text).
const char *TextValue(tagopt_handle *handle, const char *name) {
    const tagopt_node *node = tagopt_find(handle, name);
    if (node == nullptr || node->type == TAGOPT_POINTER) return nullptr;
    return node->value;
}

} // namespace

void tagopt_set_error(tagopt_handle *handle, const char *format, ...) {
    if (handle == nullptr || format == nullptr) return;
    va_list args;
    va_start(args, format);
    // vsnprintf cuts a message that does not fit and always ends it with NUL.
    const int n = std::vsnprintf(handle->error_text, sizeof handle->error_text, format, args);
    va_end(args);
    if (n < 0) handle->error_text[0] = '\0';
}

void tagopt_freenode(tagopt_node *node) noexcept {
    if (node == nullptr) return;
    std::free(node->name);
    if (node->type != TAGOPT_POINTER) std::free(node->value);
    std::free(node->alias);
    std::free(node->summary);
    std::free(node->help);
    std::free(node->choices);
    std::free(node->extra);
    delete node;
}

tagopt_node *tagopt_find(tagopt_handle *handle, const char *name) {
    tagopt_tree *tree = TreeOf(handle);
    if (tree == nullptr || name == nullptr) return nullptr;
    auto it = tree->nodes.find(std::string_view(name));
    return it != tree->nodes.end() ? it->second.get() : nullptr;
}

int tagopt_putnode(tagopt_handle *handle, const tagopt_node *node, bool allow_new) {
    return TagoptGuard(handle, "tagopt_putnode", 1, [&] { return PutNode(handle, node, allow_new); });
}

int tagopt_additem(tagopt_handle *handle, const char *name, const char *item) {
    return TagoptGuard(handle, "tagopt_additem", 1, [&] { return AddItem(handle, name, item); });
}

int tagopt_get_bool(tagopt_handle *handle, const char *name) {
    return TagoptGuard(handle, "tagopt_get_bool", 0, [&] {
        const char *v = TextValue(handle, name);
        return v != nullptr && (std::strcmp(v, "1") == 0 || std::strcmp(v, "true") == 0) ? 1 : 0;
    });
}

int tagopt_get_int(tagopt_handle *handle, const char *name) {
    return TagoptGuard(handle, "tagopt_get_int", 0, [&] {
        int32_t n = 0;
        return ReadTagInteger(TextValue(handle, name), &n) ? static_cast<int>(n) : 0;
    });
}

double tagopt_get_double(tagopt_handle *handle, const char *name) {
    return TagoptGuard(handle, "tagopt_get_double", 0.0, [&] {
        double d = 0.0;
        return ReadTagDouble(TextValue(handle, name), &d) ? d : 0.0;
    });
}

extern "C" {

TAGOPT_API tagopt_handle *tagopt_initialize(const tagopt_def *defs, unsigned flags) {
    return TagoptGuard(static_cast<tagopt_handle *>(nullptr), "tagopt_initialize", static_cast<tagopt_handle *>(nullptr),
                       [&] { return Initialize(defs, flags); });
}

TAGOPT_API void tagopt_release(tagopt_handle *handle) {
    TagoptGuard(static_cast<tagopt_handle *>(nullptr), "tagopt_release", 0, [&] {
        ReleaseHandle(handle);
        return 0;
    });
}

TAGOPT_API const char *tagopt_get(tagopt_handle *handle, const char *name) {
    return TagoptGuard(handle, "tagopt_get", static_cast<const char *>(nullptr), [&]() -> const char * {
        const tagopt_node *node = tagopt_find(handle, name);
        return node != nullptr ? node->value : nullptr;
    });
}

TAGOPT_API int tagopt_put(tagopt_handle *handle, const char *name, const char *value) {
    return TagoptGuard(handle, "tagopt_put", 1, [&] { return Put(handle, name, value); });
}

} // extern "C"
