/*
 * sealkit: password-based encryption of files, texts and memory buffers,
 * and wiping of files.
 *
 * SECURITY WARNING. The cipher is AES-128, but its key is formed from only
 * the first 4 bytes (32 bits) of the SHA-256 digest of the password,
 * followed by 12 zero bytes. Anyone can try all 2^32 keys in a short time,
 * whatever the password. The format is kept so that existing files and
 * texts stay readable; do NOT rely on it to protect anything of value.
 * Texts and buffers carry no password check and no integrity check.
 *
 * Every operation comes in three flavours:
 *   - Name     takes NUL-terminated texts and returns texts in the library's
 *              text result area (NUL-terminated, at its start);
 *   - NameVB   like Name, but a returned text starts 4 bytes into the text
 *              result area; the 4 bytes before it hold the text's length
 *              in bytes as a little-endian 32-bit number;
 *   - NameD    takes counted strings (sealkit_string) and returns a counted
 *              string that the caller owns and releases with
 *              SealReleaseString.
 * A null text or counted-string pointer counts as the empty text.
 *
 * State: the library keeps one cipher slot, one 32-byte key buffer and one
 * 8,192-byte text result area for the whole process. It serves one caller
 * at a time: calls must not overlap (no locking is done). A returned text
 * pointer stays valid until the next call that writes the text result area
 * (any string call of the Name or NameVB flavour, or a WipeFile call).
 *
 * Booleans are returned as unsigned char and are always 1.
 */
#ifndef SEALKIT_H
#define SEALKIT_H

#include <stddef.h>
#include <stdint.h>

#if defined(SEALKIT_BUILDING)
#define SEALKIT_API __attribute__((visibility("default")))
#else
#define SEALKIT_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Status codes of the file and wipe operations. */
#define SEALKIT_OK 0
#define SEALKIT_ERR_OPEN (-1)     /* input cannot be opened (or read)       */
#define SEALKIT_ERR_OUTPUT (-2)   /* output cannot be created (or written); */
                                  /* WipeFile: file cannot be deleted       */
#define SEALKIT_ERR_PASSWORD (-3) /* DecryptFile: wrong password            */
#define SEALKIT_ERR_EMPTY (-4)    /* empty password                         */

/* Size of the text result area, and the per-call limit of the Name and
 * NameVB buffer calls before they work in pieces. */
#define SEALKIT_TEXT_AREA_SIZE 8192
#define SEALKIT_BUFFER_PIECE 8192

/*
 * Counted string of the D flavour: `length` bytes at `bytes`; NUL bytes are
 * allowed inside. As an argument, the caller owns it; `bytes` may be null
 * when `length` is 0. As a result, the library allocates it: the bytes are
 * followed by one extra NUL byte (not counted in `length`) for convenience,
 * and the caller releases it with SealReleaseString exactly once.
 */
typedef struct sealkit_string {
    uint32_t length;
    char *bytes;
} sealkit_string;

/*
 * EncryptFile: encrypts the file `input` into the file `output` under
 * `password`. The output is the 32-byte password header followed by the
 * encrypted bytes (32 bytes longer than the input). Missing directories on
 * the path to `output` are created; an existing output file is replaced.
 * The input is held under an exclusive advisory lock (flock) while it is
 * read.
 * Results: 0 done; -1 input cannot be opened (missing, a directory, locked
 * by another holder) or a read error occurred; -2 output cannot be created
 * or written (a folder, a device, a file locked by another holder), or
 * names the same file as the input (also through another
 * path or a link); the input is then left untouched and an incomplete
 * output file is removed; -4 empty password (nothing is opened).
 * Ownership: all texts stay the caller's.
 */
SEALKIT_API int32_t EncryptFile(const char *password, const char *input, const char *output);
SEALKIT_API int32_t EncryptFileVB(const char *password, const char *input, const char *output);
SEALKIT_API int32_t EncryptFileD(const sealkit_string *password, const sealkit_string *input,
                                 const sealkit_string *output);

/*
 * DecryptFile: decrypts a file written by EncryptFile into `output`.
 * The 32-byte header is checked against `password` before any output is
 * created.
 * Results: 0 done; -1 input cannot be opened or read; -2 output cannot be
 * created or written, or names the input (input untouched, incomplete
 * output removed); -3 the header does not match the password, or the input
 * is shorter than 32 bytes (no output created); -4 empty password.
 * Ownership: all texts stay the caller's.
 */
SEALKIT_API int32_t DecryptFile(const char *password, const char *input, const char *output);
SEALKIT_API int32_t DecryptFileVB(const char *password, const char *input, const char *output);
SEALKIT_API int32_t DecryptFileD(const sealkit_string *password, const sealkit_string *input,
                                 const sealkit_string *output);

/*
 * EncryptString: encrypts the bytes of `text` under `password` (which may be
 * empty; it is not checked) and returns them as upper-case hexadecimal
 * digits, two per byte.
 * Limits: at most 4,095 text bytes (EncryptStringVB: 4,093; EncryptStringD:
 * 8,191). A longer text is refused: the result is the empty text (length
 * field 0 for VB, an empty counted string for D); nothing is written past
 * the text result area.
 * Results: EncryptString returns a pointer to the start of the text result
 * area; EncryptStringVB a pointer 4 bytes into it, preceded by the length;
 * both stay valid until the next call that writes the area. EncryptStringD
 * returns a new counted string owned by the caller (release with
 * SealReleaseString), or null if memory runs out. EncryptStringD encrypts
 * all `length` bytes of `text`, NUL bytes included (portable callers pass
 * no NUL bytes).
 */
SEALKIT_API const char *EncryptString(const char *password, const char *text);
SEALKIT_API const char *EncryptStringVB(const char *password, const char *text);
SEALKIT_API sealkit_string *EncryptStringD(const sealkit_string *password, const sealkit_string *text);

/*
 * DecryptString: decrypts a text made by EncryptString. Each pair of
 * characters gives one byte (digits may be upper or lower case; any
 * character other than a hexadecimal digit counts as 0; an odd last
 * character is ignored). There is no password check: a wrong password gives
 * a wrong text.
 * Limits: at most 8,191 decrypted bytes (DecryptStringVB: 8,187;
 * DecryptStringD: 8,192, that is 16,384 digits). A longer text is refused
 * with the empty result, as for EncryptString.
 * Results: as for EncryptString. The returned text of DecryptString and
 * DecryptStringVB ends at the first NUL among the decrypted bytes, while the
 * VB length field gives the full decrypted length; DecryptStringD returns all
 * decrypted bytes (release with SealReleaseString; null if memory runs out).
 */
SEALKIT_API const char *DecryptString(const char *password, const char *hex);
SEALKIT_API const char *DecryptStringVB(const char *password, const char *hex);
SEALKIT_API sealkit_string *DecryptStringD(const sealkit_string *password, const sealkit_string *hex);

/*
 * OpenCrypt: derives the cipher from `password` (may be empty) into the
 * cipher slot for the buffer calls, replacing whatever was there.
 * Any file or string call made afterwards replaces that cipher too: call
 * OpenCrypt again before the next buffer call. Result: 1.
 */
SEALKIT_API unsigned char OpenCrypt(const char *password);
SEALKIT_API unsigned char OpenCryptVB(const char *password);
SEALKIT_API unsigned char OpenCryptD(const sealkit_string *password);

/*
 * EncryptBuffer / DecryptBuffer: encrypt or decrypt `count` bytes from `in`
 * to `out` with the open cipher (no header, no password check). `out` may
 * be the same memory as `in`. The chain continues from one buffer call to
 * the next: pieces of a stream decrypt correctly when decrypted in the same
 * pieces, or in any pieces when every piece but the last is a multiple of
 * 16 bytes.
 * The Name and VB flavours pass the data through an internal copy of 8,192
 * bytes; a larger `count` is processed in 8,192-byte pieces with the same
 * result as one call. The D flavour works directly on the caller's memory.
 * Nothing happens (and `out` is left untouched) when `count` is 0 or
 * negative, when a pointer is null, or when no cipher is open.
 * Result: 1.
 */
SEALKIT_API unsigned char EncryptBuffer(const void *in, void *out, int32_t count);
SEALKIT_API unsigned char EncryptBufferVB(const void *in, void *out, int32_t count);
SEALKIT_API unsigned char EncryptBufferD(const void *in, void *out, int32_t count);
SEALKIT_API unsigned char DecryptBuffer(const void *in, void *out, int32_t count);
SEALKIT_API unsigned char DecryptBufferVB(const void *in, void *out, int32_t count);
SEALKIT_API unsigned char DecryptBufferD(const void *in, void *out, int32_t count);

/*
 * CloseCrypt: erases and destroys the open cipher. Calling it with no
 * cipher open (a second time, say) does nothing. Result: 1.
 */
SEALKIT_API unsigned char CloseCrypt(void);
SEALKIT_API unsigned char CloseCryptVB(void);
SEALKIT_API unsigned char CloseCryptD(void);

/*
 * WipeFile: overwrites the file at `path` three times (bytes 0x0F, 0xF0,
 * 0x5A; each pass writes two 4,096-byte blocks more than the whole blocks of
 * the file, flushes to disk, then waits 500 ms before the next pass) and
 * deletes it. The file is held under an exclusive advisory lock (flock)
 * while it is overwritten. Sizes are handled as 64-bit numbers.
 * The path is copied into the text result area (when it fits).
 * Results: 0 overwritten and deleted; -1 cannot be opened for reading and
 * writing (missing, a folder or other non-regular file), or locked by
 * another holder; -2 cannot be deleted (the
 * overwritten file stays). Ownership: `path` stays the caller's.
 */
SEALKIT_API int32_t WipeFile(const char *path);
SEALKIT_API int32_t WipeFileVB(const char *path);
SEALKIT_API int32_t WipeFileD(const sealkit_string *path);

/*
 * SealReleaseString: releases a counted string returned by a D-flavour
 * call. A null pointer is ignored. Do not release strings you built
 * yourself, and do not release one twice.
 */
SEALKIT_API void SealReleaseString(sealkit_string *s);

/*
 * Component-server entry points. The library defines no components: they
 * register and serve nothing.
 * DllGetClassObject: sets *object to null (when given) and returns
 * CLASS_E_CLASSNOTAVAILABLE (0x80040111, as a negative int32).
 * DllCanUnloadNow: returns S_OK (0): the library may be unloaded.
 * DllRegisterServer, DllUnregisterServer: return S_OK (0), doing nothing.
 * `clsid` and `iid` point to 16-byte identifiers and are not read.
 */
SEALKIT_API int32_t DllGetClassObject(const void *clsid, const void *iid, void **object);
SEALKIT_API int32_t DllCanUnloadNow(void);
SEALKIT_API int32_t DllRegisterServer(void);
SEALKIT_API int32_t DllUnregisterServer(void);

#ifdef __cplusplus
}
#endif

#endif /* SEALKIT_H */
