// tagopt_help.cpp - help lines and usage listings made from the tag
// definitions of a handle.

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "tagopt_tree.h"

namespace {

// The label printed after a tag name in usage listings.
const char *TypeLabel(uint32_t type) {
    switch (type) {
    case TAGOPT_BOOLEAN: return " <0|1>";
    case TAGOPT_INT: return " <int>";
    case TAGOPT_DOUBLE: return " <float>";
    case TAGOPT_STRING: return " <string>";
    case TAGOPT_SINGLE: return " <single>";
    case TAGOPT_MULTI: return " <multi>";
    case TAGOPT_POINTER: return "<pointer>";
    default: return "";
    }
}

char *Help(tagopt_handle *handle, const char *name) {
    errno = 0;
    if (TreeOf(handle) == nullptr) return nullptr;
    if (name == nullptr) {
        tagopt_set_error(handle, "tagopt_help with key == NULL not yet implemented");
        return nullptr;
    }
    const tagopt_node *node = tagopt_find(handle, name);
    if (node == nullptr) return nullptr;
    const char *text = node->help != nullptr ? node->help : node->summary != nullptr ? node->summary : "No help available";
    const size_t size = std::strlen(name) + std::strlen(text) + 5; // "-", " - ", NUL
    char *line = static_cast<char *>(std::malloc(size));
    if (line == nullptr) {
        tagopt_set_error(handle, "error allocating space for string: '%s'", std::strerror(errno));
        return nullptr;
    }
    std::snprintf(line, size, "-%s - %s", name, text);
    return line;
}

// Appends head padded with blanks to width characters.
void AppendPadded(std::string &out, const std::string &head, size_t width) {
    out += head;
    if (head.size() < width) out.append(width - head.size(), ' ');
}

std::string UsageEntry(const tagopt_node *node, size_t width, unsigned flags) {
    std::string head = "-";
    head += node->name;
    if (!(node->type == TAGOPT_BOOLEAN && (flags & TAGOPT_BARE_BOOLEANS) != 0)) head += TypeLabel(node->type);
    const char *s = node->summary;
    const char *a = node->alias;
    const char *c = node->choices;
    std::string entry;
    if (width > 30) {
        entry = head + "\n";
        if (s != nullptr) {
            entry += s;
        } else if (node->type == TAGOPT_ALIAS && a != nullptr) {
            entry += "Equivalent to '";
            entry += a;
            entry += "'";
        }
        if (c != nullptr) {
            entry += " (";
            entry += c;
            entry += ")";
        }
        entry += "\n";
        return entry;
    }
    if (s == nullptr && a == nullptr && c == nullptr) return head + "\n";
    AppendPadded(entry, head, width);
    entry += ' ';
    if (s != nullptr) {
        entry += s;
        if (c != nullptr) entry += std::string(" (") + c + ")";
    } else if (a != nullptr) {
        entry += std::string("Equivalent to '") + a + "'";
        if (c != nullptr) entry += std::string(" (") + c + ")";
    } else {
        entry += std::string("can be (") + c + ")";
    }
    entry += "\n";
    return entry;
}

char *Usage(tagopt_handle *handle, unsigned flags) {
    if (TreeOf(handle) == nullptr) return nullptr;
    const char **names = tagopt_tags(handle);
    if (names == nullptr) return nullptr;
    std::unique_ptr<const char *, void (*)(const char **)> owned(names, [](const char **p) { std::free(p); });

    // Width of the name column: the longest name and type label, hidden tags
    // included, booleans always with their label.
    size_t width = 0;
    for (const char **n = names; *n != nullptr; ++n) {
        const tagopt_node *node = tagopt_find(handle, *n);
        const size_t w = std::strlen(*n) + std::strlen(TypeLabel(node->type));
        if (w > width) width = w;
    }
    width += 1;

    std::string text;
    for (const char **n = names; *n != nullptr; ++n) {
        const tagopt_node *node = tagopt_find(handle, *n);
        if ((node->flags & TAGOPT_HIDDEN) != 0) continue;
        text += UsageEntry(node, width, flags);
    }
    char *out = static_cast<char *>(std::malloc(text.size() + 1));
    if (out == nullptr) return nullptr;
    std::memcpy(out, text.c_str(), text.size() + 1);
    return out;
}

} // namespace

const char **tagopt_tags(tagopt_handle *handle) {
    return TagoptGuard(handle, "tagopt_tags", static_cast<const char **>(nullptr), [&]() -> const char ** {
        tagopt_tree *tree = TreeOf(handle);
        if (tree == nullptr) return nullptr;
        constexpr size_t kStep = 256;
        size_t capacity = kStep;
        const char **names = static_cast<const char **>(std::malloc(capacity * sizeof(char *)));
        if (names == nullptr) {
            tagopt_set_error(handle, "Error growing tags list in tagopt_tags (realloc)");
            return nullptr;
        }
        size_t count = 0;
        for (const auto &entry : tree->nodes) {
            if (count + 1 >= capacity) { // keep room for the closing null
                const char **grown =
                    static_cast<const char **>(std::realloc(names, (capacity + kStep) * sizeof(char *)));
                if (grown == nullptr) {
                    std::free(names);
                    tagopt_set_error(handle, "Error growing tags list in tagopt_tags (realloc)");
                    return nullptr;
                }
                names = grown;
                capacity += kStep;
            }
            names[count++] = entry.second->name;
        }
        names[count] = nullptr;
        return names;
    });
}

extern "C" {

TAGOPT_API char *tagopt_help(tagopt_handle *handle, const char *name) {
    return TagoptGuard(handle, "tagopt_help", static_cast<char *>(nullptr), [&] { return Help(handle, name); });
}

TAGOPT_API char *tagopt_usage(tagopt_handle *handle, unsigned flags) {
    return TagoptGuard(handle, "tagopt_usage", static_cast<char *>(nullptr), [&] { return Usage(handle, flags); });
}

} // extern "C"
