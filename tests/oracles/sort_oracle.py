#!/usr/bin/env python3
"""Outside answers for sorting text, from Python's sorted().

  sort_oracle.py SEED COUNT
      One line per case: case reverse stable skip offset input expected.
      The flags are 0 or 1; skip is the record size in characters; offset is
      the character of the record compared (1-based, 0: the whole record).
      input and expected are code points in hex joined by "." ("-" when
      empty). Without case, characters compare by their lower-case form; the
      characters are chosen so that Python's lower() is the simple one-to-one
      mapping. Unstable sorts that fold case are answered only up to the order
      of equal keys: the test compares them folded.
"""
import random
import sys

ALPHABET = (
    [chr(c) for c in range(0x20, 0x7F)]
    + [chr(c) for c in range(0xC0, 0x100) if c not in (0xD7, 0xF7)]
    + ["\u0178", "\u0100", "\u0101", "\u0152", "\u0153"]
    + [chr(c) for c in range(0x391, 0x3AA) if c != 0x3A2]
    + [chr(c) for c in range(0x3B1, 0x3CA)]
    + [chr(c) for c in range(0x410, 0x450)]
    + [chr(c) for c in range(0x10400, 0x10450)]
)


def hexes(text):
    return ".".join("%X" % ord(c) for c in text) or "-"


def main():
    seed, count = int(sys.argv[1]), int(sys.argv[2])
    rng = random.Random(seed)
    for _ in range(count):
        case = rng.random() < 0.4
        reverse = rng.random() < 0.3
        stable = rng.random() < 0.6
        skip = rng.choice([1, 1, 1, 2, 3])
        offset = rng.randint(1, skip) if skip > 1 and rng.random() < 0.5 else 0
        # A few letters in both cases make many equal keys.
        pool = rng.choice([ALPHABET, list("aAbBcC"), list("xX\u00e9\u00c9\U00010400\U00010428")])
        n = rng.randint(0 if skip == 1 else 1, 40) * skip  # /skip needs at least one record
        text = "".join(rng.choice(pool) for _ in range(n))
        records = [text[i:i + skip] for i in range(0, n, skip)]

        def key(record):
            part = record[offset - 1] if offset else record
            return [ord(c) if case else ord(c.lower()) for c in part]

        expected = "".join(sorted(records, key=key, reverse=reverse))
        print(int(case), int(reverse), int(stable), skip, offset, hexes(text), hexes(expected))


main()
