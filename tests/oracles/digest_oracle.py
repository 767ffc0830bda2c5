#!/usr/bin/env python3
"""Outside answers for the checksum tests, from hashlib, hmac and zlib.

  digest_oracle.py SEED COUNT [--cpp]
      One line per case: method, data in hex, key in hex ("-" without a
      key), expected result (hex digest, or the signed 32-bit integer for
      crc32 and adler32), separated by tabs. Data lengths cluster around the
      block boundaries of the padding; keys around the HMAC block sizes.
      With --cpp the lines are written as a C++ raw string literal.
"""
import hashlib
import hmac
import random
import sys
import zlib

DIGESTS = ['md5', 'sha1', 'sha256', 'sha384', 'sha512']
BLOCK = {'md5': 64, 'sha1': 64, 'sha256': 64, 'sha384': 128, 'sha512': 128}
EDGE_LENGTHS = [0, 1, 3, 55, 56, 57, 63, 64, 65, 111, 112, 113, 127, 128, 129, 1000, 5000]


def signed(v):
    return v - (1 << 32) if v >= 1 << 31 else v


def main():
    seed, count = int(sys.argv[1]), int(sys.argv[2])
    rng = random.Random(seed)
    lines = []

    def data_of(n):
        return bytes(rng.getrandbits(8) for _ in range(n))

    for method in DIGESTS:
        for n in EDGE_LENGTHS:
            d = data_of(n)
            lines.append((method, d, None, hashlib.new(method, d).hexdigest()))
        b = BLOCK[method]
        for k in [0, 1, b - 1, b, b + 1, 2 * b + 7]:
            d, key = data_of(rng.randrange(200)), data_of(k)
            lines.append((method, d, key, hmac.new(key, d, method).hexdigest()))
    for n in EDGE_LENGTHS:
        d = data_of(n)
        lines.append(('crc32', d, None, signed(zlib.crc32(d))))
        lines.append(('adler32', d, None, signed(zlib.adler32(d))))
    for _ in range(count):
        method = rng.choice(DIGESTS + ['crc32', 'adler32'])
        d = data_of(rng.randrange(3000))
        if method == 'crc32':
            lines.append((method, d, None, signed(zlib.crc32(d))))
        elif method == 'adler32':
            lines.append((method, d, None, signed(zlib.adler32(d))))
        elif rng.random() < 0.5:
            key = data_of(rng.randrange(300))
            lines.append((method, d, key, hmac.new(key, d, method).hexdigest()))
        else:
            lines.append((method, d, None, hashlib.new(method, d).hexdigest()))

    text = ''.join('%s\t%s\t%s\t%s\n' % (m, d.hex(), '-' if k is None else k.hex(), str(r).upper())
                   for m, d, k, r in lines)
    if '--cpp' in sys.argv:
        sys.stdout.write('R"ORACLE(' + text + ')ORACLE"\n')
    else:
        sys.stdout.write(text)


main()
