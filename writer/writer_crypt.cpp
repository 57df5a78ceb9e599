// Per-object key and RC4 cipher of the standard security handler, used for
// strings and stream data while the output is encrypted.
#include "pdf_writer.h"

#include <nettle/md5.h>

#include <algorithm>
#include <utility>

void PDFWriter::SetObjectKey(int32_t objNum, int32_t objGen)
{
    if (keyBytes_ == 0 || fileKey_.size() < keyBytes_) {
        return;
    }
    unsigned char material[16 + 5];
    std::copy(fileKey_.begin(), fileKey_.begin() + keyBytes_, material);
    size_t n = keyBytes_;
    material[n++] = static_cast<unsigned char>(objNum & 0xff);
    material[n++] = static_cast<unsigned char>((objNum >> 8) & 0xff);
    material[n++] = static_cast<unsigned char>((objNum >> 16) & 0xff);
    material[n++] = static_cast<unsigned char>(objGen & 0xff);
    material[n++] = static_cast<unsigned char>((objGen >> 8) & 0xff);

    unsigned char digest[MD5_DIGEST_SIZE];
    md5_ctx md5;
    md5_init(&md5);
    md5_update(&md5, n, material);
    md5_digest(&md5, sizeof digest, digest);
    const size_t keyLen = std::min<size_t>(n, 16);

    for (int k = 0; k < 256; ++k) {
        cipher_.s[k] = static_cast<uint8_t>(k);
    }
    uint8_t j = 0;
    for (int k = 0; k < 256; ++k) {
        j = static_cast<uint8_t>(j + cipher_.s[k] + digest[k % keyLen]);
        std::swap(cipher_.s[k], cipher_.s[j]);
    }
    cipher_.i = 0;
    cipher_.j = 0;
}

void PDFWriter::EncryptBytes(unsigned char *buffer, size_t length)
{
    uint8_t i = cipher_.i;
    uint8_t j = cipher_.j;
    uint8_t *s = cipher_.s;
    for (size_t k = 0; k < length; ++k) {
        i = static_cast<uint8_t>(i + 1);
        j = static_cast<uint8_t>(j + s[i]);
        std::swap(s[i], s[j]);
        buffer[k] ^= s[static_cast<uint8_t>(s[i] + s[j])];
    }
    cipher_.i = i;
    cipher_.j = j;
}

void PDFWriter::SetFileKey(const unsigned char *key, size_t keyBytes)
{
    if (!key || (keyBytes != 5 && keyBytes != 16)) {
        return;
    }
    fileKey_.assign(16, 0);
    std::copy(key, key + keyBytes, fileKey_.begin());
    keyBytes_ = static_cast<uint8_t>(keyBytes);
    keyBits_ = static_cast<int32_t>(keyBytes * 8);
}
