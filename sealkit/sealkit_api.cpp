// The exported file, text, buffer and wipe operations in their three
// flavours, over the library-wide cipher slot, key buffer and text result
// area.
#include "sealkit.h"

#include "seal_cipher.h"
#include "seal_platform.h"
#include "seal_wipe.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

using sealkit::SealRijndael;

namespace {

constexpr size_t kTextArea = SEALKIT_TEXT_AREA_SIZE;
constexpr size_t kFileChunk = 4096;
constexpr size_t kHeaderSize = 32;
constexpr unsigned kWipePauseMs = 500;

// Library-wide state: one caller at a time.
struct LibraryState {
    std::unique_ptr<SealRijndael> slot;  // the cipher slot
    uint8_t keyBuffer[32];               // digest of the last password
    char textArea[kTextArea];            // text results, wiped path
};
LibraryState g_state;

void DropCipher() {
    if (g_state.slot) {
        g_state.slot->CipherErase();
        g_state.slot.reset();
    }
}

// Erases the slot's cipher when a file or string operation ends, however it
// ends.
struct CipherScope {
    CipherScope() = default;
    CipherScope(const CipherScope&) = delete;
    CipherScope& operator=(const CipherScope&) = delete;
    ~CipherScope() { DropCipher(); }
};

SealRijndael& NewCipher(std::string_view password) {
    DropCipher();
    g_state.slot = sealkit::DeriveCipher(password, g_state.keyBuffer);
    return *g_state.slot;
}

// Every export runs its body here: nothing is thrown across the boundary.
template <class R, class F>
R Guard(R failure, F&& body) noexcept {
    try {
        return body();
    } catch (...) {
        return failure;
    }
}

std::string_view Text(const char* s) { return s ? std::string_view(s) : std::string_view(); }

std::string_view Counted(const sealkit_string* s) {
    if (s == nullptr || s->bytes == nullptr) return {};
    return std::string_view(s->bytes, s->length);
}

// A path from a counted string cannot hold a NUL byte.
bool PathFrom(std::string_view in, std::string& path) {
    if (in.find('\0') != std::string_view::npos) return false;
    path.assign(in);
    return true;
}

// ---- files ----------------------------------------------------------------

int32_t FileOperation(bool encrypt, std::string_view password, std::string_view inputPath,
                      std::string_view outputPath) {
    if (password.empty()) return SEALKIT_ERR_EMPTY;
    std::string input, output;
    if (!PathFrom(inputPath, input)) return SEALKIT_ERR_OPEN;

    sealkit::LockedFile in;
    if (!in.OpenExisting(input, false)) return SEALKIT_ERR_OPEN;

    CipherScope scope;
    SealRijndael& cipher = NewCipher(password);
    uint8_t header[kHeaderSize];
    cipher.EncryptChain(g_state.keyBuffer, g_state.keyBuffer, kHeaderSize);
    std::memcpy(header, g_state.keyBuffer, kHeaderSize);
    cipher.CipherRestart();

    if (!encrypt) {
        uint8_t found[kHeaderSize];
        long long n = in.ReadFull(found, kHeaderSize);
        if (n < 0) return SEALKIT_ERR_OPEN;
        if (static_cast<size_t>(n) < kHeaderSize || std::memcmp(found, header, kHeaderSize) != 0)
            return SEALKIT_ERR_PASSWORD;
    }

    if (!PathFrom(outputPath, output)) return SEALKIT_ERR_OUTPUT;
    sealkit::CreateParentDirectories(output);
    sealkit::LockedFile out;
    bool created = false;
    if (!out.CreateReplacing(output, in, created)) return SEALKIT_ERR_OUTPUT;

    // An output that could not be completed is removed rather than left
    // looking like a good result.
    auto fail = [&](int32_t code) {
        out.Close();
        sealkit::DeleteFile(output);
        return code;
    };

    if (encrypt && !out.WriteAll(header, kHeaderSize)) return fail(SEALKIT_ERR_OUTPUT);
    uint8_t chunk[kFileChunk];
    for (;;) {
        long long n = in.ReadFull(chunk, kFileChunk);
        if (n < 0) return fail(SEALKIT_ERR_OPEN);
        size_t got = static_cast<size_t>(n);
        if (encrypt)
            cipher.EncryptChain(chunk, chunk, got);
        else
            cipher.DecryptChain(chunk, chunk, got);
        if (!out.WriteAll(chunk, got)) return fail(SEALKIT_ERR_OUTPUT);
        if (got < kFileChunk) break;
    }
    std::memset(chunk, 0, sizeof chunk);
    in.Close();
    if (!out.Close()) return fail(SEALKIT_ERR_OUTPUT);
    return SEALKIT_OK;
}

// ---- texts ----------------------------------------------------------------

enum class Flavour { Terminated, LengthPrefixed };

std::string EncryptToHex(std::string_view password, std::string_view text) {
    CipherScope scope;
    SealRijndael& cipher = NewCipher(password);
    std::string bytes(text);
    cipher.EncryptChain(reinterpret_cast<const uint8_t*>(bytes.data()), reinterpret_cast<uint8_t*>(bytes.data()),
                        bytes.size());
    static const char digits[] = "0123456789ABCDEF";
    std::string hex;
    hex.reserve(bytes.size() * 2);
    for (unsigned char c : bytes) {
        hex.push_back(digits[c >> 4]);
        hex.push_back(digits[c & 15]);
    }
    return hex;
}

// '1'..'9' give 1..9, 'A'..'F' (either case) 10..15, anything else 0.
unsigned HexValue(char c) {
    if (c >= '1' && c <= '9') return static_cast<unsigned>(c - '0');
    if (c >= 'a' && c <= 'f') c = static_cast<char>(c - 'a' + 'A');
    if (c >= 'A' && c <= 'F') return static_cast<unsigned>(c - 'A' + 10);
    return 0;
}

std::string DecryptFromHex(std::string_view password, std::string_view hex) {
    std::string bytes(hex.size() / 2, '\0');
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>(16 * HexValue(hex[2 * i]) + HexValue(hex[2 * i + 1]));
    CipherScope scope;
    SealRijndael& cipher = NewCipher(password);
    cipher.DecryptChain(reinterpret_cast<const uint8_t*>(bytes.data()), reinterpret_cast<uint8_t*>(bytes.data()),
                        bytes.size());
    return bytes;
}

// Largest result (in bytes, before the terminator) the text result area
// holds in a flavour.
size_t AreaCapacity(Flavour f) { return kTextArea - 1 - (f == Flavour::LengthPrefixed ? 4 : 0); }

// Places a result in the text result area and returns the flavour's
// pointer. An empty view stores the empty text.
const char* PutResult(Flavour f, std::string_view bytes) {
    char* area = g_state.textArea;
    char* text = area;
    if (f == Flavour::LengthPrefixed) {
        uint32_t n = static_cast<uint32_t>(bytes.size());
        for (int i = 0; i < 4; ++i) area[i] = static_cast<char>((n >> (8 * i)) & 0xFF);
        text = area + 4;
    }
    if (!bytes.empty()) std::memcpy(text, bytes.data(), bytes.size());
    text[bytes.size()] = '\0';
    return text;
}

// The inputs may be an earlier result in the text result area: they are
// copied before the area is written.
const char* EncryptStringIn(Flavour f, const char* password, const char* text) noexcept {
    try {
        std::string_view t = Text(text);
        if (2 * t.size() > AreaCapacity(f)) return PutResult(f, {});
        return PutResult(f, EncryptToHex(Text(password), t));
    } catch (...) {
        return PutResult(f, {});
    }
}

const char* DecryptStringIn(Flavour f, const char* password, const char* hex) noexcept {
    try {
        std::string_view h = Text(hex);
        if (h.size() / 2 > AreaCapacity(f)) return PutResult(f, {});
        return PutResult(f, DecryptFromHex(Text(password), h));
    } catch (...) {
        return PutResult(f, {});
    }
}

constexpr size_t kCountedEncryptLimit = 8191;  // text bytes
constexpr size_t kCountedDecryptLimit = 8192;  // decrypted bytes

sealkit_string* NewCounted(std::string_view bytes) {
    void* block = std::malloc(sizeof(sealkit_string) + bytes.size() + 1);
    if (block == nullptr) return nullptr;
    sealkit_string* s = static_cast<sealkit_string*>(block);
    s->bytes = static_cast<char*>(block) + sizeof(sealkit_string);
    s->length = static_cast<uint32_t>(bytes.size());
    if (!bytes.empty()) std::memcpy(s->bytes, bytes.data(), bytes.size());
    s->bytes[bytes.size()] = '\0';
    return s;
}

// ---- buffers --------------------------------------------------------------

// The terminated-text and length-prefixed buffer calls work through an
// internal copy of at most 8,192 bytes; larger counts go piece by piece.
// The pieces are multiples of 16 bytes, so the chain gives the same bytes
// as one call.
unsigned char BufferThroughCopy(bool encrypt, const void* in, void* out, int32_t count) {
    return Guard<unsigned char>(1, [&]() -> unsigned char {
        if (count <= 0 || in == nullptr || out == nullptr || !g_state.slot) return 1;
        static_assert(SEALKIT_BUFFER_PIECE % 16 == 0, "pieces must keep the chain intact");
        uint8_t copy[SEALKIT_BUFFER_PIECE];
        const uint8_t* src = static_cast<const uint8_t*>(in);
        uint8_t* dst = static_cast<uint8_t*>(out);
        size_t left = static_cast<size_t>(count);
        while (left > 0) {
            size_t piece = left < sizeof copy ? left : sizeof copy;
            std::memcpy(copy, src, piece);
            if (encrypt)
                g_state.slot->EncryptChain(copy, copy, piece);
            else
                g_state.slot->DecryptChain(copy, copy, piece);
            std::memcpy(dst, copy, piece);
            src += piece;
            dst += piece;
            left -= piece;
        }
        std::memset(copy, 0, sizeof copy);
        return 1;
    });
}

unsigned char BufferDirect(bool encrypt, const void* in, void* out, int32_t count) {
    return Guard<unsigned char>(1, [&]() -> unsigned char {
        if (count <= 0 || in == nullptr || out == nullptr || !g_state.slot) return 1;
        const uint8_t* src = static_cast<const uint8_t*>(in);
        uint8_t* dst = static_cast<uint8_t*>(out);
        if (encrypt)
            g_state.slot->EncryptChain(src, dst, static_cast<size_t>(count));
        else
            g_state.slot->DecryptChain(src, dst, static_cast<size_t>(count));
        return 1;
    });
}

unsigned char OpenCipher(std::string_view password) {
    return Guard<unsigned char>(1, [&]() -> unsigned char {
        NewCipher(password);
        return 1;
    });
}

unsigned char CloseCipher() {
    return Guard<unsigned char>(1, []() -> unsigned char {
        DropCipher();
        return 1;
    });
}

// ---- wipe -----------------------------------------------------------------

int32_t Wipe(std::string_view pathText) {
    std::string path;
    if (!PathFrom(pathText, path)) return SEALKIT_ERR_OPEN;
    // The path is kept in the text result area when it fits.
    if (path.size() < kTextArea)
        std::memcpy(g_state.textArea, path.c_str(), path.size() + 1);
    else
        g_state.textArea[0] = '\0';
    return sealkit::WipePath(path, kWipePauseMs);
}

}  // namespace

// ---- exports --------------------------------------------------------------

extern "C" {

int32_t EncryptFile(const char* password, const char* input, const char* output) {
    return Guard(SEALKIT_ERR_OUTPUT, [&] { return FileOperation(true, Text(password), Text(input), Text(output)); });
}
int32_t EncryptFileVB(const char* password, const char* input, const char* output) {
    return EncryptFile(password, input, output);
}
int32_t EncryptFileD(const sealkit_string* password, const sealkit_string* input, const sealkit_string* output) {
    return Guard(SEALKIT_ERR_OUTPUT,
                 [&] { return FileOperation(true, Counted(password), Counted(input), Counted(output)); });
}

int32_t DecryptFile(const char* password, const char* input, const char* output) {
    return Guard(SEALKIT_ERR_OUTPUT, [&] { return FileOperation(false, Text(password), Text(input), Text(output)); });
}
int32_t DecryptFileVB(const char* password, const char* input, const char* output) {
    return DecryptFile(password, input, output);
}
int32_t DecryptFileD(const sealkit_string* password, const sealkit_string* input, const sealkit_string* output) {
    return Guard(SEALKIT_ERR_OUTPUT,
                 [&] { return FileOperation(false, Counted(password), Counted(input), Counted(output)); });
}

const char* EncryptString(const char* password, const char* text) {
    return EncryptStringIn(Flavour::Terminated, password, text);
}
const char* EncryptStringVB(const char* password, const char* text) {
    return EncryptStringIn(Flavour::LengthPrefixed, password, text);
}
sealkit_string* EncryptStringD(const sealkit_string* password, const sealkit_string* text) {
    return Guard<sealkit_string*>(nullptr, [&] {
        std::string_view t = Counted(text);
        if (t.size() > kCountedEncryptLimit) return NewCounted({});
        return NewCounted(EncryptToHex(Counted(password), t));
    });
}

const char* DecryptString(const char* password, const char* hex) {
    return DecryptStringIn(Flavour::Terminated, password, hex);
}
const char* DecryptStringVB(const char* password, const char* hex) {
    return DecryptStringIn(Flavour::LengthPrefixed, password, hex);
}
sealkit_string* DecryptStringD(const sealkit_string* password, const sealkit_string* hex) {
    return Guard<sealkit_string*>(nullptr, [&] {
        std::string_view h = Counted(hex);
        if (h.size() / 2 > kCountedDecryptLimit) return NewCounted({});
        return NewCounted(DecryptFromHex(Counted(password), h));
    });
}

unsigned char OpenCrypt(const char* password) { return OpenCipher(Text(password)); }
unsigned char OpenCryptVB(const char* password) { return OpenCipher(Text(password)); }
unsigned char OpenCryptD(const sealkit_string* password) { return OpenCipher(Counted(password)); }

unsigned char EncryptBuffer(const void* in, void* out, int32_t count) { return BufferThroughCopy(true, in, out, count); }
unsigned char EncryptBufferVB(const void* in, void* out, int32_t count) {
    return BufferThroughCopy(true, in, out, count);
}
unsigned char EncryptBufferD(const void* in, void* out, int32_t count) { return BufferDirect(true, in, out, count); }
unsigned char DecryptBuffer(const void* in, void* out, int32_t count) {
    return BufferThroughCopy(false, in, out, count);
}
unsigned char DecryptBufferVB(const void* in, void* out, int32_t count) {
    return BufferThroughCopy(false, in, out, count);
}
unsigned char DecryptBufferD(const void* in, void* out, int32_t count) { return BufferDirect(false, in, out, count); }

unsigned char CloseCrypt(void) { return CloseCipher(); }
unsigned char CloseCryptVB(void) { return CloseCipher(); }
unsigned char CloseCryptD(void) { return CloseCipher(); }

int32_t WipeFile(const char* path) {
    return Guard(SEALKIT_ERR_OPEN, [&] { return Wipe(Text(path)); });
}
int32_t WipeFileVB(const char* path) { return WipeFile(path); }
int32_t WipeFileD(const sealkit_string* path) {
    return Guard(SEALKIT_ERR_OPEN, [&] { return Wipe(Counted(path)); });
}

void SealReleaseString(sealkit_string* s) { std::free(s); }

// No components are defined: nothing to hand out, register or keep loaded.
int32_t DllGetClassObject(const void* /*clsid*/, const void* /*iid*/, void** object) {
    if (object != nullptr) *object = nullptr;
    return static_cast<int32_t>(0x80040111u);  // CLASS_E_CLASSNOTAVAILABLE
}
int32_t DllCanUnloadNow(void) { return 0; }      // S_OK
int32_t DllRegisterServer(void) { return 0; }    // S_OK
int32_t DllUnregisterServer(void) { return 0; }  // S_OK

}  // extern "C"
