#!/usr/bin/env python3
"""Outside answers for the float text tests, from Python's own conversions.

  float_oracle.py digits SEED COUNT [HEXBITS...]
      One line per double: its bits in hex, the shortest digits and decimal
      point of repr(x), then n:digits:decpt for a few digit counts n, from
      format(x, '.{n-1}e'). Digits carry no sign, point or trailing zeros;
      x = 0.digits x 10^decpt. The doubles are HEXBITS, every power of two and
      its lower neighbour, 1eK for every K, then COUNT random ones.

  float_oracle.py halfway SEED COUNT
      One line per double: three texts, the exact halfway point between it and
      the next double up, then that point less and plus 10^-900 of itself.
"""
import math
import random
import struct
import sys
from decimal import Decimal, getcontext


def from_bits(b):
    return struct.unpack('<d', struct.pack('<Q', b))[0]


def to_bits(x):
    return struct.unpack('<Q', struct.pack('<d', x))[0]


def digits_decpt(text):
    text = text.lstrip('-')
    exp = 0
    if 'e' in text:
        text, e = text.split('e')
        exp = int(e)
    whole, _, frac = text.partition('.')
    all_digits = whole + frac
    stripped = all_digits.lstrip('0')
    decpt = len(whole) + exp - (len(all_digits) - len(stripped))
    return stripped.rstrip('0'), decpt


def random_double(rng):
    kind = rng.randrange(10)
    if kind < 4:  # any bit pattern
        while True:
            x = from_bits(rng.getrandbits(64))
            if math.isfinite(x) and x != 0:
                return x
    if kind < 6:  # short decimals
        return float('%de%d' % (rng.randrange(1, 10 ** rng.randint(1, 17)), rng.randint(-30, 30)))
    if kind == 6:  # integers around the 10^15 and 2^53 limits
        return float(rng.randrange(1, 10 ** rng.randint(1, 18)))
    if kind == 7:  # subnormals
        return from_bits(rng.randrange(1, 1 << 52))
    if kind == 8:  # neighbours of powers of ten
        x = float('1e%d' % rng.randint(-320, 308))
        for _ in range(rng.randint(1, 3)):
            x = math.nextafter(x, math.inf if rng.random() < 0.5 else 0.0)
        return x
    return rng.uniform(0, 1000)


def digits(seed, count, extra):
    rng = random.Random(seed)
    values = [from_bits(int(h, 16)) for h in extra]
    for k in range(-1074, 1024):
        values += [2.0 ** k, math.nextafter(2.0 ** k, 0.0)]
    values += [float('1e%d' % k) for k in range(-323, 309)]
    values += [random_double(rng) for _ in range(count)]
    out = []
    for i, x in enumerate(values):
        if x == 0 or not math.isfinite(x):
            continue
        if rng.random() < 0.5:
            x = -x
        d, p = digits_decpt(repr(x))
        fields = ['%016x' % to_bits(x), d, str(p)]
        counts = [rng.randint(1, 17) for _ in range(3)] + [rng.randint(18, 40)]
        if i % 16 == 0:
            counts.append(800)
        for n in counts:
            nd, np = digits_decpt(format(x, '.%de' % (n - 1)))
            fields.append('%d:%s:%d' % (n, nd, np))
        out.append(' '.join(fields))
    print('\n'.join(out))


def halfway(seed, count):
    getcontext().prec = 3000
    rng = random.Random(seed)
    out = []
    for _ in range(count):
        x = abs(random_double(rng))
        if rng.random() < 0.02:
            x = sys.float_info.max
        h = Decimal(x) + Decimal(math.ulp(x)) / 2
        tiny = Decimal(10) ** (h.adjusted() - 900)
        out.append('%s %s %s' % (h, h - tiny, h + tiny))
    print('\n'.join(out))


if __name__ == '__main__':
    mode, seed, count = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
    if mode == 'digits':
        digits(seed, count, sys.argv[4:])
    else:
        halfway(seed, count)
