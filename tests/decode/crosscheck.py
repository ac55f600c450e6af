#!/usr/bin/env python3
"""Compares Brevan's codecs with Python's base64, binascii/quopri and UTF-8
decoder on a few thousand seeded random valid inputs.

usage: crosscheck.py <path to decode_tool>
"""
import base64
import binascii
import quopri
import random
import struct
import subprocess
import sys


def run(tool, mode, inputs):
    data = b"".join(struct.pack("<I", len(x)) + x for x in inputs)
    out = subprocess.run([tool, mode], input=data, stdout=subprocess.PIPE, check=True).stdout
    results, at = [], 0
    while at < len(out):
        (n,) = struct.unpack_from("<I", out, at)
        results.append(out[at + 4:at + 4 + n])
        at += 4 + n
    if len(results) != len(inputs):
        raise SystemExit("%s: %d answers for %d inputs" % (mode, len(results), len(inputs)))
    return results


def blank(b):
    return all(c <= 32 for c in b)


def random_bytes(rng, n):
    return bytes(rng.getrandbits(8) for _ in range(n))


class Check:
    def __init__(self):
        self.failures = 0
        self.cases = 0

    def expect(self, what, given, got, want):
        self.cases += 1
        if got != want:
            self.failures += 1
            if self.failures <= 10:
                print("FAIL %s\n  input %r\n  got   %r\n  want  %r" % (what, given, got, want))


def main():
    tool = sys.argv[1]
    rng = random.Random(20451)
    check = Check()

    # Base64 encoding: Python's encoder, or nothing for blank input.
    data = [random_bytes(rng, rng.randrange(0, 120)) for _ in range(3000)]
    data += [b" " * rng.randrange(1, 5) for _ in range(20)]
    for d, got in zip(data, run(tool, "b64enc", data)):
        check.expect("b64enc", d, got, b"" if blank(d) else base64.b64encode(d))

    # Base64 decoding of what Python wrote: one line, MIME lines of 76 with LF,
    # and the same with CR LF.
    data = [random_bytes(rng, rng.randrange(1, 400)) for _ in range(3000)]
    texts, wants = [], []
    for i, d in enumerate(data):
        form = i % 3
        if form == 0:
            t = base64.b64encode(d)
        elif form == 1:
            t = base64.encodebytes(d)
        else:
            t = base64.encodebytes(d).replace(b"\n", b"\r\n")
        texts.append(t)
        wants.append(base64.b64decode(t.replace(b"\r", b"").replace(b"\n", b"")))
    for t, got, want in zip(texts, run(tool, "b64dec", texts), wants):
        check.expect("b64dec", t, got, want)

    # Quoted-printable: binary data written by Python (every CR and LF
    # escaped), soft breaks turned into CR LF as mail carries them, in upper
    # and in lower case hexadecimal.
    data = [random_bytes(rng, rng.randrange(1, 300)) for _ in range(2000)]
    data += [bytes(rng.choice(b"abc xyz\t=_.") for _ in range(rng.randrange(1, 200))) for _ in range(1000)]
    texts, wants = [], []
    for i, d in enumerate(data):
        t = binascii.b2a_qp(d, quotetabs=True, istext=False)
        t = t.replace(b"=\r\n", b"=\n").replace(b"=\n", b"=\r\n")
        if i % 2:
            t = bytes(t)
            # Lower-case every escape's digits.
            parts = t.split(b"=")
            t = parts[0] + b"".join(b"=" + p[:2].lower() + p[2:] for p in parts[1:])
        if blank(t):
            continue
        texts.append(t)
        wants.append(quopri.decodestring(t))
        if wants[-1] != d:
            raise SystemExit("python round trip failed for %r" % d)
    for t, got, want in zip(texts, run(tool, "qpdec", texts), wants):
        check.expect("qpdec", t, got, want)

    # UTF-8: valid BMP text (no surrogates) decodes as Python decodes it.
    def bmp_char():
        r = rng.random()
        if r < 0.3:
            return chr(rng.randrange(0, 0x80))
        if r < 0.5:
            return chr(rng.randrange(0x80, 0x800))
        while True:
            c = rng.randrange(0x800, 0x10000)
            if not 0xD800 <= c <= 0xDFFF:
                return chr(c)

    strings = ["".join(bmp_char() for _ in range(rng.randrange(1, 60))) for _ in range(3000)]
    data = [s.encode("utf-8") for s in strings]
    for s, d, got in zip(strings, data, run(tool, "utf8wide", data)):
        check.expect("utf8wide", d, got, s.encode("utf-16-le"))

    # Random bytes leaning on sequence bytes: whatever Python accepts as BMP
    # text, Brevan must accept the same way.
    data = []
    for _ in range(3000):
        data.append(bytes(rng.choice([rng.randrange(0x80), rng.randrange(0x80, 0xC0),
                                      rng.randrange(0xC2, 0xF0)]) for _ in range(rng.randrange(1, 12))))
    for d, got in zip(data, run(tool, "utf8wide", data)):
        try:
            s = d.decode("utf-8")
        except UnicodeDecodeError:
            continue
        if all(ord(c) <= 0xFFFF for c in s):
            check.expect("utf8wide-random", d, got, s.encode("utf-16-le"))

    print("%d cases, %d failures" % (check.cases, check.failures))
    return 1 if check.failures else 0


if __name__ == "__main__":
    sys.exit(main())
