/*
 * tagopt.h - typed, validated option values held in a handle.
 *
 * A caller describes its options ("tags") with an array of tagopt_def
 * records ended by a record whose name is NULL, turns the array into a
 * handle with tagopt_initialize, fills the handle from an argument vector
 * (tagopt_argv), a setup file (tagopt_merge) or single values (tagopt_put),
 * reads values back with tagopt_get and releases the handle with
 * tagopt_release.
 *
 * Every function returns an integer result or a pointer; nothing is thrown.
 * After a failure the handle's error_text holds a NUL-terminated message of
 * the failure (at most TAGOPT_ERROR_TEXT_SIZE - 1 bytes; longer messages are
 * cut). error_text is cleared only at the start of tagopt_argv.
 *
 * A handle belongs to one thread at a time.
 */
#ifndef OSSEL_TAGOPT_H
#define OSSEL_TAGOPT_H

#include <stdint.h>

#if defined(OSSEL_BUILDING_CORE)
#define TAGOPT_API __attribute__((visibility("default")))
#else
#define TAGOPT_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Tag types. */
#define TAGOPT_BOOLEAN 1
#define TAGOPT_INT 2
#define TAGOPT_DOUBLE 3
#define TAGOPT_STRING 4
#define TAGOPT_SINGLE 5
#define TAGOPT_MULTI 6
#define TAGOPT_ALIAS 7
#define TAGOPT_LIST 8
#define TAGOPT_UNTYPED 9
#define TAGOPT_POINTER 10

/* Handle flags (tagopt_initialize). */
#define TAGOPT_CLOSED 1        /* no new tags after initialization */
#define TAGOPT_KEEP_COMMENTS 2 /* keep comment lines of setup files */

/* Definition flags (tagopt_def.flags). */
#define TAGOPT_HIDDEN 4  /* left out of usage listings */
#define TAGOPT_NO_ARGV 8 /* refused in an argument vector */

/* Parser and usage flags (tagopt_argv, tagopt_usage). */
#define TAGOPT_BARE_BOOLEANS 8 /* booleans take no value argument */

#define TAGOPT_ERROR_TEXT_SIZE 1028

/* One tag definition. Every text may be NULL (absent). The library copies
 * what it keeps, so the table may be static and read-only. */
typedef struct tagopt_def {
    const char *name;    /* tag name, case-sensitive, without '-' */
    const char *value;   /* initial value; for a pointer tag a number */
    const char *alias;   /* command string of an alias tag */
    uint32_t flags;      /* TAGOPT_HIDDEN, TAGOPT_NO_ARGV */
    uint32_t type;       /* TAGOPT_BOOLEAN .. TAGOPT_POINTER */
    int32_t category;    /* kept, not interpreted */
    const char *summary; /* one-line description */
    const char *help;    /* longer help text */
    const char *choices; /* valid values: items and ranges, comma-separated */
    const char *extra;   /* kept, not interpreted */
} tagopt_def;

/* The ordered set of tags; opaque to callers. */
typedef struct tagopt_tree tagopt_tree;

/* The option handle. Callers may read error_text and the counts; every
 * other member belongs to the library. */
typedef struct tagopt_handle {
    tagopt_tree *nodes;     /* tags ordered byte-wise by name */
    uint32_t flags;         /* TAGOPT_CLOSED, TAGOPT_KEEP_COMMENTS */
    int32_t node_count;     /* number of tags */
    int32_t comment_count;  /* number of kept comment lines */
    char **comments;        /* kept comment lines */
    char error_text[TAGOPT_ERROR_TEXT_SIZE]; /* message of the last failure */
} tagopt_handle;

/* Builds a handle from defs (may be NULL: no tags). Of flags only
 * TAGOPT_CLOSED and TAGOPT_KEEP_COMMENTS count. Every definition but a
 * pointer tag's needs a value valid for its type; a name defined twice keeps
 * the later definition. Returns NULL on failure (a definition refused,
 * memory), after writing the reason to standard error. Release with
 * tagopt_release. */
TAGOPT_API tagopt_handle *tagopt_initialize(const tagopt_def *defs, unsigned flags);

/* Frees the handle and everything it owns. NULL is ignored. Values of
 * pointer tags belong to the caller and are not freed. */
TAGOPT_API void tagopt_release(tagopt_handle *handle);

/* Returns the current value of a tag (for a pointer tag the stored pointer),
 * or NULL when handle or name is NULL or no such tag exists. The text
 * belongs to the handle and stays valid until the tag's value next changes
 * or the handle is released. */
TAGOPT_API const char *tagopt_get(tagopt_handle *handle, const char *name);

/* Validates and stores value for a tag; for a pointer tag value is the
 * pointer itself, which stays the caller's. For every other type value must
 * not be NULL. An alias tag set to "true" applies its command string; an
 * alias whose text sets the alias itself again fails. A name that is not
 * defined becomes a string tag on an open handle. Returns 0 when stored or
 * unchanged, 1 on an error, 3 when the value is not valid for the tag; the
 * message is in error_text (not written for a NULL handle, nor for an
 * undefined name on a closed handle). */
TAGOPT_API int tagopt_put(tagopt_handle *handle, const char *name, const char *value);

/* Applies an argument vector: "-name [value]" pairs set tags, other
 * arguments are kept and moved to the front of argv after argv[0]; "-" alone
 * ends option reading. Booleans and aliases take the next argument only when
 * it is "true", "false" (any letter case), "1" or "0". flags:
 * TAGOPT_BARE_BOOLEANS. Clears error_text first. Returns 1 when argc is
 * below 2, otherwise the number of entries in use at the front of argv
 * (argv[0] and the kept arguments), or minus the index of the argument that
 * failed (message in error_text; empty for a TAGOPT_NO_ARGV tag); -1 for a
 * NULL handle or argv. Pointer tags cannot be set this way: naming one
 * fails with a message. */
TAGOPT_API int tagopt_argv(tagopt_handle *handle, int argc, char **argv, unsigned flags);

/* Reads a setup file of "name = value" (or "name: value") lines into the
 * handle; lines starting with '#' are comments. Every line is applied, also
 * after a failed one. A line longer than 2,046 characters is read in pieces
 * of at most that length, each counted as a line. Pointer tags cannot be set
 * from a file. Returns 0 when every line was accepted, 2 when the file
 * cannot be opened (or handle or path is NULL), otherwise the number (from
 * 1) of the first line that failed (message in error_text when the failure
 * has one). */
TAGOPT_API int tagopt_merge(tagopt_handle *handle, const char *path);

/* Returns a newly allocated help line "-name - text" for the tag name
 * (text: its help, else its summary, else "No help available"), or NULL
 * when there is no such tag (error_text untouched) or name is NULL (message
 * in error_text). The caller releases the text with free(). */
TAGOPT_API char *tagopt_help(tagopt_handle *handle, const char *name);

/* Returns a newly allocated listing of all tags not marked TAGOPT_HIDDEN,
 * in byte order of their names, with type labels, summaries and sets of
 * valid values (the empty text when there are none), or NULL on failure.
 * flags: TAGOPT_BARE_BOOLEANS (booleans shown without their label). The
 * caller releases it with free(). */
TAGOPT_API char *tagopt_usage(tagopt_handle *handle, unsigned flags);

#ifdef __cplusplus
}
#endif

#endif /* OSSEL_TAGOPT_H */
