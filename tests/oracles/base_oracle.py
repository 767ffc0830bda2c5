#!/usr/bin/env python3
"""Outside answers for the base-16, base-58 and base-64 codecs.

  base_oracle.py SEED COUNT
      COUNT lines of random cases, each "kind<TAB>base<TAB>hex<TAB>text":
      kind "ok": text is the encoding of the bytes given in hex, made by
      binascii/base64 (base 16 upper case, base 64 with padding, or with
      line breaks every 76 characters as base64.encodebytes writes them)
      or, for base 58, by a big-number conversion over the alphabet below;
      kind "bad": text holds a character outside the base's alphabet (the
      hex field is empty), and Python's strict decoder refuses it too.
"""
import base64
import binascii
import random
import sys

B58 = "123456789ABCDEFGHJKLMNPQRSTUVWXYZabcdefghijkmnopqrstuvwxyz"
# Characters that are in no alphabet and that no decoder passes over.
STRAYS = "!\"#$%&()*,-.:<>?@[]^_`{|}~\u00e9\u20ac"


def b58encode(data):
    n = int.from_bytes(data, "big")
    out = ""
    while n:
        n, r = divmod(n, 58)
        out = B58[r] + out
    zeros = len(data) - len(data.lstrip(b"\0"))
    return "1" * zeros + out


def random_bytes(rng):
    n = rng.choice([0, 1, 2, 3, 4, 5, rng.randint(6, 40), rng.randint(41, 200)])
    data = bytes(rng.randrange(256) for _ in range(n))
    if n and rng.random() < 0.2:  # leading zero bytes matter to base 58
        data = b"\0" * rng.randint(1, 3) + data
    return data


def strictly_invalid(base, text):
    try:
        if base == 16:
            base64.b16decode(text.encode("utf-8"), casefold=True)
        elif base == 64:
            base64.b64decode(text.encode("utf-8"), validate=True)
        else:
            return any(c in STRAYS for c in text)
    except (binascii.Error, ValueError):
        return True
    return False


def main():
    rng = random.Random(int(sys.argv[1]))
    for _ in range(int(sys.argv[2])):
        base = rng.choice([16, 58, 64])
        data = random_bytes(rng)
        if base == 16:
            text = base64.b16encode(data).decode()
        elif base == 58:
            text = b58encode(data)
        elif rng.random() < 0.3:
            text = base64.encodebytes(data).decode()
        else:
            text = base64.b64encode(data).decode()
        if rng.random() < 0.3:
            if not text.strip():
                text = "AB"
            at = rng.randrange(len(text.rstrip("=\n")) or 1)
            bad = text[:at] + rng.choice(STRAYS) + text[at + 1:]
            assert strictly_invalid(base, bad), (base, bad)
            line = "bad\t%d\t\t%s" % (base, bad)
        else:
            line = "ok\t%d\t%s\t%s" % (base, data.hex(), text)
        sys.stdout.write(line.replace("\n", "\\n") + "\n")


main()
