#!/usr/bin/env python3
"""Cross-checks MatchWildcard against an independent model.

The model reads the wildcard rule as a sequence of literal pieces, each of
which must start at least one byte after the previous piece ended (the first
may start anywhere). It places the pieces greedily with bytes.find, and it
finds the "*" separators by walking the pattern character by character. It
runs the C++ tool on a few thousand seeded random cases and compares.

usage: wildcard_model.py <wildcard_tool> [cases] [seed]
"""
import random
import subprocess
import sys


def fold(data):
    return bytes(b + 32 if 65 <= b <= 90 else b for b in data)


def pieces(pattern, lead):
    """Literal pieces between the "*" that start a character."""
    out, current, i = [], bytearray(), 0
    while i < len(pattern):
        b = pattern[i]
        if b in lead and i + 1 < len(pattern):
            current += pattern[i:i + 2]  # a double-byte character: its trail is never "*"
            i += 2
        elif b == 0x2A:
            out.append(bytes(current))
            current = bytearray()
            i += 1
        else:
            current.append(b)
            i += 1
    out.append(bytes(current))
    return [p for p in out if p]


def model(pattern, text, lead):
    parts = pieces(fold(pattern), lead)
    if not parts:
        return 0
    text = fold(text)
    earliest = 0  # where the next piece may start
    first = None
    for part in parts:
        at = text.find(part, earliest)
        if at < 0:
            return 0
        if first is None:
            first = at + 1
        earliest = at + len(part) + 1
    return first


ALPHABET = [b"a", b"A", b"b", b"B", b"*", b"*", b" ", b"x", b"\xa4", b"\xa4A", b"\xa4a",
            b"\xa5*", b"\x81", b"\xfe", b"\x00", b"Z", b"z", b"|"]


def random_bytes(rng, longest):
    return b"".join(rng.choice(ALPHABET) for _ in range(rng.randint(0, longest)))


def main():
    tool = sys.argv[1]
    count = int(sys.argv[2]) if len(sys.argv) > 2 else 5000
    rng = random.Random(int(sys.argv[3]) if len(sys.argv) > 3 else 20261208)
    cases = []
    for _ in range(count):
        pattern = random_bytes(rng, 6)
        text = random_bytes(rng, 14)
        if rng.random() < 0.5 and text:
            # A pattern cut from the text, with "*" put in or over some of its
            # bytes, hits (or just misses) far more often than a random one.
            a = rng.randrange(len(text))
            b = rng.randint(a, len(text))
            cut = bytearray(text[a:b])
            for _ in range(rng.randint(1, 3)):
                at = rng.randint(0, len(cut))
                if rng.random() < 0.5 and at < len(cut):
                    cut[at] = 0x2A
                else:
                    cut[at:at] = b"*"
            pattern = bytes(cut)
        cases.append((pattern, text))
    stdin = "".join(p.hex() + " " + t.hex() + "\n" for p, t in cases)
    run = subprocess.run([tool], input=stdin, capture_output=True, text=True, check=True)
    lines = run.stdout.splitlines()
    if not lines or not lines[0].startswith("lead "):
        print("tool did not report its lead bytes", file=sys.stderr)
        return 1
    lead = set(bytes.fromhex(lines[0][5:]))
    answers = lines[1:]
    if len(answers) != len(cases):
        print(f"{len(answers)} answers for {len(cases)} cases", file=sys.stderr)
        return 1
    failures = 0
    for (pattern, text), answer in zip(cases, answers):
        expected = model(pattern, text, lead)
        if int(answer) != expected:
            failures += 1
            if failures <= 10:
                print(f"pattern {pattern!r} text {text!r}: tool {answer}, model {expected}")
    hits = sum(1 for a in answers if a != "0")
    print(f"{len(cases)} cases, {hits} hits, {failures} differences")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
