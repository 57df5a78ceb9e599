/*
 * ossel.h - the PDF size optimizer.
 *
 * ossel_get_opts returns the optimizer's option table; turn it into an
 * option handle with tagopt_initialize, set values, then call ossel_process
 * or ossel_process_encrypted. Runs (and ossel_check_encrypted) use
 * process-wide state and must not overlap within one process.
 */
#ifndef OSSEL_OSSEL_H
#define OSSEL_OSSEL_H

#include <stdbool.h>
#include <stdint.h>

#include "tagopt.h"

#if defined(OSSEL_BUILDING_CORE)
#define OSSEL_API __attribute__((visibility("default")))
#else
#define OSSEL_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Compression codes: the numbers of the TIFF Compression tag, used for the
 * filter an input image has and for the filter to write. */
#define OSSEL_COMPRESSION_NONE 1
#define OSSEL_COMPRESSION_CCITTRLE 2 /* written as RunLength */
#define OSSEL_COMPRESSION_CCITTFAX3 3
#define OSSEL_COMPRESSION_CCITTFAX4 4
#define OSSEL_COMPRESSION_LZW 5
#define OSSEL_COMPRESSION_JPEG 7
#define OSSEL_COMPRESSION_DEFLATE 32946
#define OSSEL_COMPRESSION_JBIG2 34715
#define OSSEL_COMPRESSION_JPEG2000 34716

/* Result codes of ossel_process and ossel_process_encrypted. */
#define OSSEL_OK 0
#define OSSEL_ERR_ARGUMENTS 1   /* null argument or invalid setting */
#define OSSEL_ERR_STOPPED 2     /* a callback asked to stop */
#define OSSEL_ERR_DEVICE 3      /* the survey device is unusable */
#define OSSEL_ERR_WRITE 4       /* writing failed or was stopped */
#define OSSEL_ERR_PERMISSION 5  /* changes need the owner password */
#define OSSEL_ERR_OPEN 6        /* the input cannot be opened as a PDF */

/* Callbacks through which a run reports. Every member may be NULL; the
 * record itself may be absent. userData is passed back as the first
 * argument. A nonzero answer asks the run to stop where documented: from
 * status always, from progress always, from begin/end during the survey. */
typedef struct StatusCallbackRecord {
    void *userData;
    int32_t (*begin)(void *userData);
    int32_t (*end)(void *userData);
    int32_t (*progress)(void *userData, double fraction);
    int32_t (*error)(void *userData, const char *text);
    int32_t (*message)(void *userData, const char *text);
    int32_t (*status)(void *userData, const char *text);
} StatusCallbackRecord;

/* Settings of one image class (mono, gray, color). */
typedef struct ImageClassSettings {
    bool downsample;
    const char *resampleFilter; /* "box", "triangle" or "point" (static) */
    bool encode;
    int32_t compression;        /* OSSEL_COMPRESSION_* */
    double resolution;          /* target dots per inch */
    double downsampleThreshold; /* image/target ratio that triggers it */
    int32_t jpegQuality;
    int32_t jpxQuality;
    int32_t flateLevel;
} ImageClassSettings;

/* Per-object survey results; defined inside the library. */
struct ImageRecord;

/* The typed settings of one run, read from an option handle. */
typedef struct OptimizerSettings {
    int32_t imageRecordCount;
    struct ImageRecord *imageRecords;
    ImageClassSettings mono;
    ImageClassSettings gray;
    ImageClassSettings color;
    bool colorPredictor;
    bool colorTransform;
    bool recompressStreams;
    int32_t recompressStreamsFlateLevel;
    bool removeDuplicateObjects;
    bool removePieceInfo;
    bool removeMetadata;
    bool removeThumbnails;
    bool removeBase14Fonts;
    bool removeAllFonts;
    bool preventGrowth;
    bool encrypt;
    const char *ownerPass; /* NULL when empty; belongs to the option handle */
    const char *openPass;  /* NULL when empty; belongs to the option handle */
    int32_t keyLength;     /* 40 or 128 */
    uint32_t permissions;  /* bits of the standard security handler's P */
    StatusCallbackRecord *callbacks; /* owned by the caller, may be NULL */
} OptimizerSettings;

/* Returns the static option table (57 rows, ended by a NULL name). */
OSSEL_API const tagopt_def *ossel_get_opts(void);

/* Sets the documented defaults of s and returns s; NULL for NULL. */
OSSEL_API OptimizerSettings *ossel_set_defaults(OptimizerSettings *s);

/* Returns the interface version, 111. */
OSSEL_API int ossel_get_version(void);

/* Returns 1 when fileName is NULL, 5 when the document opens but may not be
 * changed with the given passwords, 0 otherwise (also when the file cannot
 * be opened). Passwords may be NULL. */
OSSEL_API int ossel_check_encrypted(const char *fileName, const char *userPassword,
                                    const char *ownerPassword);

/* Optimizes inFile into outFile with the settings held in options.
 * Passwords may be NULL. Returns an OSSEL_* result code; messages go to the
 * callbacks stored under the option "StatusCallbacks". On failure no output
 * file is left and an existing file at outFile is untouched. */
OSSEL_API int ossel_process_encrypted(const char *inFile, const char *outFile,
                                      const char *userPassword, const char *ownerPassword,
                                      tagopt_handle *options);

/* ossel_process_encrypted with both passwords NULL. */
OSSEL_API int ossel_process(const char *inFile, const char *outFile, tagopt_handle *options);

#ifdef __cplusplus
}
#endif

#endif /* OSSEL_OSSEL_H */
