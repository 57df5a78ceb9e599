/*
 * Loads libsealkit.so by name at run time (the test sets LD_LIBRARY_PATH),
 * looks up every export and encrypts and decrypts a file, a text and a
 * buffer through it. Exit status 0 when everything matches.
 */
#define _POSIX_C_SOURCE 200809L

#include "sealkit.h"

#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

typedef int32_t (*FileFn)(const char *, const char *, const char *);
typedef const char *(*StringFn)(const char *, const char *);
typedef unsigned char (*OpenFn)(const char *);
typedef unsigned char (*BufferFn)(const void *, void *, int32_t);
typedef unsigned char (*CloseFn)(void);
typedef int32_t (*WipeFn)(const char *);

#include "c_check.h"

/* dlsym returns an object pointer; copy it into a function pointer
 * without a cast that ISO C leaves undefined. */
static void lookup(void *lib, const char *name, void *fn, size_t size) {
    void *sym = dlsym(lib, name);
    if (sym == NULL) {
        fprintf(stderr, "missing symbol %s\n", name);
        ++failures;
    }
    memcpy(fn, &sym, size);
}

static const char *const all_exports[] = {
    "EncryptFile", "EncryptFileVB", "EncryptFileD", "DecryptFile", "DecryptFileVB", "DecryptFileD",
    "EncryptString", "EncryptStringVB", "EncryptStringD", "DecryptString", "DecryptStringVB",
    "DecryptStringD", "OpenCrypt", "OpenCryptVB", "OpenCryptD", "EncryptBuffer", "EncryptBufferVB",
    "EncryptBufferD", "DecryptBuffer", "DecryptBufferVB", "DecryptBufferD", "CloseCrypt",
    "CloseCryptVB", "CloseCryptD", "WipeFile", "WipeFileVB", "WipeFileD", "SealReleaseString",
    "DllGetClassObject", "DllCanUnloadNow", "DllRegisterServer", "DllUnregisterServer"};

static long file_size(const char *path) {
    FILE *f = fopen(path, "rb");
    long n;
    if (f == NULL) return -1;
    fseek(f, 0, SEEK_END);
    n = ftell(f);
    fclose(f);
    return n;
}

int main(void) {
    FileFn encrypt_file, decrypt_file;
    StringFn encrypt_string, decrypt_string;
    OpenFn open_crypt;
    BufferFn encrypt_buffer, decrypt_buffer;
    CloseFn close_crypt;
    WipeFn wipe_file;
    char dir[] = "/tmp/sealkit_dlopen_XXXXXX";
    char plain[256], enc[256], dec[256];
    unsigned char data[5000], buf[5000], back[5000];
    const char *text = "Text through the loaded library";
    char hex[128];
    size_t i;
    FILE *f;
    void *lib = dlopen("libsealkit.so", RTLD_NOW | RTLD_LOCAL);
    if (lib == NULL) {
        fprintf(stderr, "dlopen: %s\n", dlerror());
        return 1;
    }
    for (i = 0; i < sizeof all_exports / sizeof all_exports[0]; ++i) CHECK(dlsym(lib, all_exports[i]) != NULL);
    lookup(lib, "EncryptFile", &encrypt_file, sizeof encrypt_file);
    lookup(lib, "DecryptFile", &decrypt_file, sizeof decrypt_file);
    lookup(lib, "EncryptString", &encrypt_string, sizeof encrypt_string);
    lookup(lib, "DecryptString", &decrypt_string, sizeof decrypt_string);
    lookup(lib, "OpenCrypt", &open_crypt, sizeof open_crypt);
    lookup(lib, "EncryptBuffer", &encrypt_buffer, sizeof encrypt_buffer);
    lookup(lib, "DecryptBuffer", &decrypt_buffer, sizeof decrypt_buffer);
    lookup(lib, "CloseCrypt", &close_crypt, sizeof close_crypt);
    lookup(lib, "WipeFile", &wipe_file, sizeof wipe_file);
    if (failures) return 1;

    for (i = 0; i < sizeof data; ++i) data[i] = (unsigned char)(i * 31 + 7);

    /* A file. */
    if (mkdtemp(dir) == NULL) return 1;
    snprintf(plain, sizeof plain, "%s/plain", dir);
    snprintf(enc, sizeof enc, "%s/enc", dir);
    snprintf(dec, sizeof dec, "%s/dec", dir);
    f = fopen(plain, "wb");
    if (f == NULL) return 1;
    fwrite(data, 1, 1000, f);
    fclose(f);
    CHECK(encrypt_file("pw", plain, enc) == SEALKIT_OK);
    CHECK(file_size(enc) == 1032);
    CHECK(decrypt_file("bad", enc, dec) == SEALKIT_ERR_PASSWORD);
    CHECK(decrypt_file("pw", enc, dec) == SEALKIT_OK);
    f = fopen(dec, "rb");
    CHECK(f != NULL);
    if (f != NULL) {
        CHECK(fread(back, 1, sizeof back, f) == 1000);
        CHECK(memcmp(back, data, 1000) == 0);
        fclose(f);
    }

    /* A text. */
    strcpy(hex, encrypt_string("pw", text));
    CHECK(strlen(hex) == 2 * strlen(text));
    CHECK(strcmp(decrypt_string("pw", hex), text) == 0);

    /* A buffer, in two pieces, decrypted in one call. */
    CHECK(open_crypt("pw") == 1);
    CHECK(encrypt_buffer(data, buf, 4096) == 1);
    CHECK(encrypt_buffer(data + 4096, buf + 4096, 904) == 1);
    CHECK(close_crypt() == 1);
    CHECK(memcmp(buf, data, sizeof data) != 0);
    open_crypt("pw");
    decrypt_buffer(buf, back, (int32_t)sizeof back);
    close_crypt();
    CHECK(memcmp(back, data, sizeof data) == 0);

    unlink(enc);
    unlink(dec);
    CHECK(wipe_file(plain) == SEALKIT_OK);
    CHECK(file_size(plain) == -1);
    rmdir(dir);
    dlclose(lib);
    if (failures) fprintf(stderr, "%d check(s) failed\n", failures);
    return failures ? 1 : 0;
}
