// tagopt_internal.h - functions of the option library shared inside osselcore.
//
// Not exported: these have C++ linkage and hidden visibility. None of them
// throws; failures are reported through the result and, where stated, the
// handle's error_text.
#pragma once

#include <cstdint>

#include "tagopt.h"

// What the handle keeps per tag. A node held by a handle owns its texts
// (allocated with malloc) and frees them with itself, except the value of a
// pointer tag, which is the caller's pointer. A node passed to
// tagopt_putnode is only read; the handle stores copies.
struct tagopt_node {
    char *name = nullptr;
    char *value = nullptr; // text; for TAGOPT_POINTER the caller's pointer itself
    char *alias = nullptr;
    uint32_t flags = 0;
    uint32_t type = 0;
    int32_t category = 0;
    char *summary = nullptr;
    char *help = nullptr;
    char *choices = nullptr;
    char *extra = nullptr;
};

// Typed getters. A missing tag, a null value or a pointer tag reads as 0.
// 1 when the value is exactly "1" or "true", else 0.
int tagopt_get_bool(tagopt_handle *handle, const char *name);
// The value by the integer rule (base 10, or base 16 after "0x"); 0 when
// anything but white space follows the number.
int tagopt_get_int(tagopt_handle *handle, const char *name);
// The value as a decimal floating-point number; 0.0 when anything but white
// space follows the number.
double tagopt_get_double(tagopt_handle *handle, const char *name);

// Appends item to the list tag name (commas in item written as "\,"); creates
// a list tag when name is not a list tag and the handle is open. 0 stored,
// 1 error, 3 item not valid for the tag.
int tagopt_additem(tagopt_handle *handle, const char *name, const char *item);

// Applies a command string "-name value -name value ...". flags:
// TAGOPT_BARE_BOOLEANS. 0 on success, otherwise the position reached (count
// of characters read, the '-' of names not counted); message in error_text.
// Pointer tags cannot be set this way.
int tagopt_rdcmd(tagopt_handle *handle, const char *text, unsigned flags);

// Adds or replaces the tag described by node (texts copied). allow_new: a
// tag of a new name may be created. 0 stored, 1 error, 3 value not valid.
int tagopt_putnode(tagopt_handle *handle, const tagopt_node *node, bool allow_new);

// 1 when value is valid for node (type check, then the set of valid values),
// 0 otherwise with the message in error_text.
int tagopt_check(tagopt_handle *handle, const tagopt_node *node, const char *value);

// The node of the tag name, or null. Valid until the tag is replaced by
// tagopt_putnode or the handle is released.
tagopt_node *tagopt_find(tagopt_handle *handle, const char *name);

// Applies one setup-file line. 0 accepted, nonzero failed.
int tagopt_parse(const char *line, tagopt_handle *handle);

// The tag names in byte order ending with a null entry, or null (message in
// error_text). The array is malloc'd; the names belong to the handle.
const char **tagopt_tags(tagopt_handle *handle);

// Replaces error_text with a formatted message, cut to fit its size.
void tagopt_set_error(tagopt_handle *handle, const char *format, ...)
    __attribute__((format(printf, 2, 3)));
