#!/usr/bin/env python3
"""Outside answers for the series functions, from Python's str and list.

  series_oracle.py KIND SEED COUNT
      One line per case, tab-separated: a Kel expression and the Kel source
      of the value it must give. KIND is one of:

  replace  replace/case (first and /all) against str.replace(old, new, 1)
           and str.replace(old, new) on random ASCII text; replace without
           /case against a case-blind re.sub.
  split    split at a string, a char or a charset against str.split(sep)
           and re.split on a character class.
  extract  extract/index against the slice lst[pos-1::width].
  pad      pad and pad/left (with and without /with) against str.ljust and
           str.rjust; longer text is never cut.

Letters come from a small alphabet so that patterns are often found. Split
delimiters and charsets avoid letters whose case differs: split, like find,
does not tell upper case from lower.
"""
import random
import re
import sys


def kel_string(s):
    """s as a Kel string literal: the caret escapes ^ and "."""
    return '"' + "".join("^" + c if c in '^"' else c for c in s) + '"'


def kel_block(values):
    return "[" + " ".join(values) + "]"


def text(rng, alphabet, low, high):
    return "".join(rng.choice(alphabet) for _ in range(rng.randint(low, high)))


def replace_case(rng):
    # Printable ASCII, weighted towards a few letters so that matches happen.
    alphabet = "aAbB" * 6 + "".join(chr(c) for c in range(32, 127))
    s = text(rng, alphabet, 0, 14)
    old = text(rng, "aAbB^\"", 1, 3)
    new = text(rng, alphabet, 0, 4)
    if rng.random() < 0.5:
        return ("replace/case %s %s %s" % (kel_string(s), kel_string(old), kel_string(new)),
                kel_string(s.replace(old, new, 1)))
    return ("replace/all/case %s %s %s" % (kel_string(s), kel_string(old), kel_string(new)),
            kel_string(s.replace(old, new)))


def replace_blind(rng):
    s = text(rng, "aAbBc-", 0, 14)
    old = text(rng, "aAbB", 1, 3)
    new = text(rng, "xyZ", 0, 3)
    count = rng.choice([0, 1])
    got = re.sub(re.escape(old), lambda m: new, s, count=count, flags=re.IGNORECASE)
    return ("replace%s %s %s %s" % ("/all" if count == 0 else "", kel_string(s), kel_string(old), kel_string(new)),
            kel_string(got))


def replace(rng):
    return replace_case(rng) if rng.random() < 0.7 else replace_blind(rng)


def split(rng):
    s = text(rng, "ab,-1 ", 0, 12)
    choice = rng.random()
    if choice < 0.5:
        sep = text(rng, "ab,-1", 1, 3)
        return "split %s %s" % (kel_string(s), kel_string(sep)), kel_block(map(kel_string, s.split(sep)))
    if choice < 0.75:
        sep = rng.choice(",- 1")
        return "split %s #%s" % (kel_string(s), kel_string(sep)), kel_block(map(kel_string, s.split(sep)))
    members = "".join(sorted(set(text(rng, ",-1 ", 1, 3))))
    pieces = re.split("[" + re.escape(members) + "]", s)
    return "split %s charset %s" % (kel_string(s), kel_string(members)), kel_block(map(kel_string, pieces))


def extract(rng):
    values = [rng.randint(0, 99) for _ in range(rng.randint(0, 12))]
    width = rng.randint(-1, 4)
    pos = rng.randint(1, 14)
    got = values[pos - 1::max(width, 1)]
    return ("extract/index %s %d %d" % (kel_block(map(str, values)), width, pos),
            kel_block(map(str, got)))


def pad(rng):
    if rng.random() < 0.2:
        value = rng.randint(0, 9999)
        s, source = str(value), str(value)
    else:
        s = text(rng, "ab c", 0, 8)
        source = kel_string(s)
    n = rng.randint(-2, 10)
    left = rng.random() < 0.5
    fill = rng.choice([None, "*", "^"])
    expected = (s.rjust if left else s.ljust)(max(n, 0), fill or " ")
    words = "pad" + ("/left" if left else "") + ("/with" if fill else "")
    args = "%s %d" % (source, n) + (" #" + kel_string(fill) if fill else "")
    return words + " " + args, kel_string(expected)


def main():
    kind, seed, count = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
    make = {"replace": replace, "split": split, "extract": extract, "pad": pad}[kind]
    rng = random.Random(seed)
    for _ in range(count):
        print("%s\t%s" % make(rng))


if __name__ == "__main__":
    main()
