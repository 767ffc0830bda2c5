#!/usr/bin/env python3
"""Outside answers for tuple arithmetic: Python ints clamped to 0..255.

  tuple_oracle.py SEED COUNT
      Prints a Kel check table of COUNT cases: a random tuple (3 to 6 bytes)
      and an integer or another tuple, through + - * / % and or xor. Bytes
      past a tuple's length count as 0, the result has the longer length,
      division truncates toward zero, and every result byte is clamped. Cases
      that would divide by zero are drawn again.
"""
import random
import sys

OPS = ['+', '-', '*', '/', '%', 'and', 'or', 'xor']


def apply(op, a, b):
    if op == '+':
        return a + b
    if op == '-':
        return a - b
    if op == '*':
        return a * b
    if op in ('/', '%'):
        q = abs(a) // abs(b)
        if op == '/':
            return q if (a < 0) == (b < 0) else -q
        return a - b * (q if (a < 0) == (b < 0) else -q)
    if op == 'and':
        return a & b
    if op == 'or':
        return a | b
    return a ^ b


def clamp(v):
    return max(0, min(255, v))


def byte(rng):
    return rng.choice([0, 1, 2, 127, 128, 254, 255, rng.randrange(256)])


def case(rng):
    while True:
        op = rng.choice(OPS)
        left = [byte(rng) for _ in range(rng.randrange(3, 7))]
        if rng.randrange(2):
            right = rng.choice([0, 1, 2, 3, 100, 255, 256, -1, -7, 70000, -70000, 2147483647])
            rbytes = [right] * len(left)
            n = len(left)
            rtext = str(right) if right >= 0 else '(%d)' % right
        else:
            rb = [byte(rng) for _ in range(rng.randrange(3, 7))]
            n = max(len(left), len(rb))
            rbytes = rb + [0] * (n - len(rb))
            rtext = '.'.join(map(str, rb))
        lbytes = left + [0] * (n - len(left))
        if op in ('/', '%') and 0 in rbytes:
            continue
        result = [clamp(apply(op, a, b)) for a, b in zip(lbytes, rbytes)]
        return '\t[%s %s %s]' % ('.'.join(map(str, left)), op, rtext), '.'.join(map(str, result))


def main():
    rng = random.Random(int(sys.argv[1]))
    print("; Made by tests/oracles/tuple_oracle.py %s %s" % (sys.argv[1], sys.argv[2]))
    print("check 'tuple-saturation [")
    for _ in range(int(sys.argv[2])):
        code, expected = case(rng)
        print('%-44s= %s' % (code, expected))
    print(']')


main()
