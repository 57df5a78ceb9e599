/*
 * Compiles the public header as C99 and calls every exported function
 * through it, linked against the shared library. Exit status 0 when every
 * check holds.
 */
#define _POSIX_C_SOURCE 200809L

#include "sealkit.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "c_check.h"

static sealkit_string counted(const char *text) {
    sealkit_string s;
    s.length = (uint32_t)strlen(text);
    s.bytes = (char *)text;
    return s;
}

static int write_file(const char *path, const char *text) {
    FILE *f = fopen(path, "wb");
    if (f == NULL) return 0;
    fputs(text, f);
    return fclose(f) == 0;
}

int main(void) {
    char dir[] = "/tmp/sealkit_c_api_XXXXXX";
    char plain[256], enc[256], dec[256];
    char hex[64];
    unsigned char data[40], buf[40], back[40];
    sealkit_string pw, in, out, text, *r, *d;
    void *object = &object;
    size_t i;

    if (mkdtemp(dir) == NULL) return 1;
    snprintf(plain, sizeof plain, "%s/plain", dir);
    snprintf(enc, sizeof enc, "%s/enc", dir);
    snprintf(dec, sizeof dec, "%s/dec", dir);
    CHECK(write_file(plain, "some plain text"));

    CHECK(EncryptFile("pw", plain, enc) == SEALKIT_OK);
    CHECK(DecryptFile("pw", enc, dec) == SEALKIT_OK);
    CHECK(EncryptFileVB("pw", plain, enc) == SEALKIT_OK);
    CHECK(DecryptFileVB("no", enc, dec) == SEALKIT_ERR_PASSWORD);
    pw = counted("pw");
    in = counted(plain);
    out = counted(enc);
    CHECK(EncryptFileD(&pw, &in, &out) == SEALKIT_OK);
    in = counted(enc);
    out = counted(dec);
    CHECK(DecryptFileD(&pw, &in, &out) == SEALKIT_OK);
    CHECK(EncryptFile("", plain, enc) == SEALKIT_ERR_EMPTY);

    strcpy(hex, EncryptString("pw", "abc"));
    CHECK(strlen(hex) == 6);
    CHECK(strcmp(DecryptString("pw", hex), "abc") == 0);
    CHECK(strcmp(EncryptStringVB("pw", "abc"), hex) == 0);
    CHECK(strcmp(DecryptStringVB("pw", hex), "abc") == 0);
    text = counted("abc");
    r = EncryptStringD(&pw, &text);
    CHECK(r != NULL && r->length == 6 && memcmp(r->bytes, hex, 6) == 0);
    d = r ? DecryptStringD(&pw, r) : NULL;
    CHECK(d != NULL && d->length == 3 && memcmp(d->bytes, "abc", 3) == 0);
    SealReleaseString(r);
    SealReleaseString(d);
    SealReleaseString(NULL);

    for (i = 0; i < sizeof data; ++i) data[i] = (unsigned char)i;
    CHECK(OpenCrypt("pw") == 1);
    CHECK(EncryptBuffer(data, buf, 20) == 1);
    CHECK(EncryptBufferVB(data + 20, buf + 20, 20) == 1);
    CHECK(CloseCrypt() == 1);
    CHECK(OpenCryptVB("pw") == 1);
    CHECK(DecryptBuffer(buf, back, 20) == 1);
    CHECK(DecryptBufferVB(buf + 20, back + 20, 20) == 1);
    CHECK(CloseCryptVB() == 1);
    CHECK(memcmp(back, data, sizeof data) == 0);
    CHECK(OpenCryptD(&pw) == 1);
    CHECK(EncryptBufferD(data, back, 20) == 1);
    CHECK(EncryptBufferD(data + 20, back + 20, 20) == 1);
    CHECK(CloseCryptD() == 1);
    CHECK(memcmp(back, buf, sizeof buf) == 0);
    CHECK(OpenCryptD(&pw) == 1);
    CHECK(DecryptBufferD(back, back, 40) == 1);
    CHECK(CloseCryptD() == 1);
    CHECK(CloseCryptD() == 1);
    CHECK(memcmp(back, data, 16) == 0);

    CHECK(DllGetClassObject(NULL, NULL, &object) == (int32_t)0x80040111u);
    CHECK(object == NULL);
    CHECK(DllCanUnloadNow() == 0);
    CHECK(DllRegisterServer() == 0);
    CHECK(DllUnregisterServer() == 0);

    CHECK(WipeFileVB(enc) == SEALKIT_OK);
    in = counted(dec);
    CHECK(WipeFileD(&in) == SEALKIT_OK);
    CHECK(WipeFile(plain) == SEALKIT_OK);
    CHECK(WipeFile(plain) == SEALKIT_ERR_OPEN);
    CHECK(rmdir(dir) == 0);
    if (failures) fprintf(stderr, "%d check(s) failed\n", failures);
    return failures ? 1 : 0;
}
