#!/usr/bin/env python3
"""Independent implementation of the sealkit file, text and buffer formats.

Built from hashlib's SHA-256 and the AES block function of the
`cryptography` package (Debian: python3-cryptography), it encrypts the
same inputs as the library and compares the bytes; it also has the
library decrypt what it wrote. Usage: seal_reference.py path/to/libsealkit.so
Exit status 0 when every comparison matches.
"""
import ctypes
import hashlib
import os
import random
import sys
import tempfile

from cryptography.hazmat.primitives.ciphers import Cipher, algorithms, modes


def xor(a, b):
    return bytes(x ^ y for x, y in zip(a, b))


class Chain:
    """The password-derived AES cipher with its CBC chain and tail rule."""

    def __init__(self, password):
        self.digest = hashlib.sha256(password).digest()
        # 32 bits of key: the first four digest bytes, then zeros (AES-128).
        key = self.digest[:4] + bytes(12)
        self._enc = Cipher(algorithms.AES(key), modes.ECB()).encryptor()
        self._dec = Cipher(algorithms.AES(key), modes.ECB()).decryptor()
        self.iv = self._encrypt_block(bytes(16))
        self.cv = self.iv

    def _encrypt_block(self, block):
        return self._enc.update(block)

    def restart(self):
        self.cv = self.iv

    def _tail(self, data):
        self.cv = self._encrypt_block(self.cv)
        return xor(data, self.cv[: len(data)])

    def encrypt(self, data):
        out = bytearray()
        full = len(data) // 16 * 16
        for i in range(0, full, 16):
            self.cv = self._encrypt_block(xor(data[i:i + 16], self.cv))
            out += self.cv
        if full < len(data):
            out += self._tail(data[full:])
        return bytes(out)

    def decrypt(self, data):
        out = bytearray()
        full = len(data) // 16 * 16
        for i in range(0, full, 16):
            block = data[i:i + 16]
            out += xor(self._dec.update(block), self.cv)
            self.cv = block
        if full < len(data):
            out += self._tail(data[full:])
        return bytes(out)


def ref_encrypt_file(password, plain):
    c = Chain(password)
    header = c.encrypt(c.digest)
    c.restart()
    body = bytearray()
    # The library encrypts 4,096-byte reads; whole blocks keep one chain.
    for i in range(0, len(plain), 4096):
        body += c.encrypt(plain[i:i + 4096])
    return header + bytes(body)


def ref_encrypt_text(password, text):
    return Chain(password).encrypt(text).hex().upper().encode()


def ref_read_hex(hexText):
    def value(ch):
        ch = chr(ch).upper()
        if "1" <= ch <= "9":
            return ord(ch) - ord("0")
        if "A" <= ch <= "F":
            return ord(ch) - ord("A") + 10
        return 0
    return bytes(16 * value(hexText[2 * i]) + value(hexText[2 * i + 1]) for i in range(len(hexText) // 2))


class SealString(ctypes.Structure):
    _fields_ = [("length", ctypes.c_uint32), ("bytes", ctypes.c_void_p)]


class Library:
    def __init__(self, path):
        lib = ctypes.CDLL(path)
        for name in ("EncryptFile", "DecryptFile", "EncryptFileD", "DecryptFileD"):
            fn = getattr(lib, name)
            fn.restype = ctypes.c_int32
        for name in ("EncryptFile", "DecryptFile"):
            getattr(lib, name).argtypes = [ctypes.c_char_p] * 3
        for name in ("EncryptString", "DecryptString", "EncryptStringVB", "DecryptStringVB"):
            fn = getattr(lib, name)
            fn.restype = ctypes.c_void_p
            fn.argtypes = [ctypes.c_char_p, ctypes.c_char_p]
        for name in ("EncryptStringD", "DecryptStringD"):
            fn = getattr(lib, name)
            fn.restype = ctypes.POINTER(SealString)
            fn.argtypes = [ctypes.POINTER(SealString), ctypes.POINTER(SealString)]
        lib.SealReleaseString.argtypes = [ctypes.POINTER(SealString)]
        lib.SealReleaseString.restype = None
        lib.OpenCrypt.argtypes = [ctypes.c_char_p]
        lib.OpenCrypt.restype = ctypes.c_ubyte
        for name in ("EncryptBuffer", "DecryptBuffer", "EncryptBufferD", "DecryptBufferD"):
            fn = getattr(lib, name)
            fn.argtypes = [ctypes.c_void_p, ctypes.c_void_p, ctypes.c_int32]
            fn.restype = ctypes.c_ubyte
        lib.CloseCrypt.restype = ctypes.c_ubyte
        self.lib = lib

    @staticmethod
    def counted(data):
        buf = ctypes.create_string_buffer(data, len(data) + 1)
        s = SealString(len(data), ctypes.cast(buf, ctypes.c_void_p))
        s._keep = buf
        return s

    def take_counted(self, result):
        if not result:
            return None
        data = ctypes.string_at(result.contents.bytes, result.contents.length)
        self.lib.SealReleaseString(result)
        return data

    def string_call(self, name, password, text):
        ptr = getattr(self.lib, name)(password, text)
        value = ctypes.string_at(ptr)
        if name.endswith("VB"):
            return value, int.from_bytes(ctypes.string_at(ptr - 4, 4), "little")
        return value, None

    def string_call_d(self, name, password, text):
        return self.take_counted(getattr(self.lib, name)(ctypes.byref(self.counted(password)),
                                                           ctypes.byref(self.counted(text))))

    def buffer_calls(self, name, password, data, splits):
        src = ctypes.create_string_buffer(data, len(data))
        dst = ctypes.create_string_buffer(len(data))
        self.lib.OpenCrypt(password)
        pos = 0
        for n in splits:
            getattr(self.lib, name)(ctypes.addressof(src) + pos, ctypes.addressof(dst) + pos, n)
            pos += n
        self.lib.CloseCrypt()
        return dst.raw


class Checker:
    def __init__(self):
        self.compared = 0
        self.failed = 0

    def same(self, what, got, want):
        self.compared += 1
        if got != want:
            self.failed += 1
            print("MISMATCH %s: got %.100r, want %.100r" % (what, got, want))


PASSWORDS = [b"secret", b"p\xc3\xa4sswort", b"x" * 100, b"a b\tc"]
FILE_SIZES = [0, 1, 5, 15, 16, 17, 31, 32, 33, 4095, 4096, 4097, 8192, 10000]
TEXT_SIZES = [0, 1, 3, 15, 16, 17, 100, 1000, 4093]


def check_files(lib, check, folder, rng):
    plain_path = os.path.join(folder, "plain").encode()
    enc_path = os.path.join(folder, "enc").encode()
    dec_path = os.path.join(folder, "dec").encode()
    ref_path = os.path.join(folder, "ref").encode()
    for password in PASSWORDS:
        for size in FILE_SIZES:
            data = bytes(rng.getrandbits(8) for _ in range(size))
            with open(plain_path, "wb") as f:
                f.write(data)
            want = ref_encrypt_file(password, data)
            rc = lib.lib.EncryptFile(password, plain_path, enc_path)
            check.same("EncryptFile status %r/%d" % (password, size), rc, 0)
            with open(enc_path, "rb") as f:
                check.same("EncryptFile bytes %r/%d" % (password, size), f.read(), want)
            rc = lib.lib.EncryptFileD(ctypes.byref(lib.counted(password)), ctypes.byref(lib.counted(plain_path)),
                                      ctypes.byref(lib.counted(enc_path)))
            with open(enc_path, "rb") as f:
                check.same("EncryptFileD bytes %r/%d" % (password, size), f.read(), want)

            # The library reads what the reference wrote.
            with open(ref_path, "wb") as f:
                f.write(want)
            rc = lib.lib.DecryptFile(password, ref_path, dec_path)
            check.same("DecryptFile status %r/%d" % (password, size), rc, 0)
            with open(dec_path, "rb") as f:
                check.same("DecryptFile bytes %r/%d" % (password, size), f.read(), data)
            os.unlink(dec_path)
            rc = lib.lib.DecryptFile(password + b"!", ref_path, dec_path)
            check.same("DecryptFile wrong password %r/%d" % (password, size), rc, -3)
            check.same("no output on a wrong password", os.path.exists(dec_path), False)


def check_texts(lib, check, rng):
    for password in PASSWORDS + [b""]:
        for size in TEXT_SIZES:
            text = bytes(rng.randrange(1, 256) for _ in range(size))  # no NUL bytes
            want = ref_encrypt_text(password, text)
            got, _ = lib.string_call("EncryptString", password, text)
            check.same("EncryptString %r/%d" % (password, size), got, want)
            got, length = lib.string_call("EncryptStringVB", password, text)
            check.same("EncryptStringVB %r/%d" % (password, size), (got, length), (want, len(want)))
            check.same("EncryptStringD %r/%d" % (password, size), lib.string_call_d("EncryptStringD", password, text),
                       want)

            for variant in (want, want.lower()):
                got, _ = lib.string_call("DecryptString", password, variant)
                check.same("DecryptString %r/%d" % (password, size), got, text)
            # Odd characters and non-digits, read the reference's way.
            noisy = bytes(rng.choice(b"0123456789ABCDEFabcdefXYZ-?") for _ in range(2 * size + 1))
            want_noisy = Chain(password).decrypt(ref_read_hex(noisy))
            check.same("DecryptStringD noisy %r/%d" % (password, size),
                       lib.string_call_d("DecryptStringD", password, noisy), want_noisy)
            got, length = lib.string_call("DecryptStringVB", password, noisy)
            check.same("DecryptStringVB noisy %r/%d" % (password, size), (got, length),
                       (want_noisy.split(b"\0")[0], len(want_noisy)))


def check_buffers(lib, check, rng):
    splits_list = [[40], [16, 24], [20, 20], [4096, 100], [5, 5, 5, 37], [9000], [8192, 8193, 3]]
    for password in PASSWORDS[:2]:
        for splits in splits_list:
            data = bytes(rng.getrandbits(8) for _ in range(sum(splits)))
            c = Chain(password)
            want = b"".join(c.encrypt(data[sum(splits[:i]):sum(splits[:i + 1])]) for i in range(len(splits)))
            for name in ("EncryptBuffer", "EncryptBufferD"):
                check.same("%s %r %r" % (name, password, splits), lib.buffer_calls(name, password, data, splits), want)
            c = Chain(password)
            back = b"".join(c.decrypt(want[sum(splits[:i]):sum(splits[:i + 1])]) for i in range(len(splits)))
            check.same("reference round trip %r" % splits, back, data)
            for name in ("DecryptBuffer", "DecryptBufferD"):
                check.same("%s %r %r" % (name, password, splits), lib.buffer_calls(name, password, want, splits), data)


def main():
    if len(sys.argv) != 2:
        print(__doc__)
        return 2
    lib = Library(sys.argv[1])
    check = Checker()
    rng = random.Random(20240611)
    with tempfile.TemporaryDirectory(prefix="sealkit_ref_") as folder:
        check_files(lib, check, folder, rng)
    check_texts(lib, check, rng)
    check_buffers(lib, check, rng)
    print("%d comparisons, %d mismatches" % (check.compared, check.failed))
    return 1 if check.failed or check.compared == 0 else 0


if __name__ == "__main__":
    sys.exit(main())
