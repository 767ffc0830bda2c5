#!/usr/bin/env python3
"""Outside answers for point arithmetic: numpy.float32 of the double result.

  point_oracle.py SEED COUNT
      One line per case: the op code (0 add, 1 subtract, 2 multiply, 3
      divide, 4 remainder), the right operand's kind (f: a float!, p: a
      point2D!), then as hex bits of doubles: x and y of the left point (each
      a 32-bit float), the right operand's one or two values, and the x and y
      the result must hold: each coordinate computed in doubles, then rounded
      to a 32-bit float by numpy.
"""
import math
import random
import struct
import sys

import numpy


def bits(x):
    return '%016x' % struct.unpack('<Q', struct.pack('<d', x))[0]


def f32(x):
    return float(numpy.float32(x))


def operand(rng):
    kind = rng.randrange(4)
    if kind == 0:
        return rng.uniform(-10, 10)
    if kind == 1:
        return rng.uniform(-1e6, 1e6)
    if kind == 2:
        return math.ldexp(rng.uniform(0.5, 1), rng.randrange(-30, 30)) * rng.choice((-1, 1))
    return float(rng.randrange(-100, 100))


def compute(a, b, op):
    if op == 0:
        return a + b
    if op == 1:
        return a - b
    if op == 2:
        return a * b
    if op == 3:
        return a / b
    return math.fmod(a, b)


def main():
    rng = random.Random(int(sys.argv[1]))
    for _ in range(int(sys.argv[2])):
        op = rng.randrange(5)
        ax, ay = f32(operand(rng)), f32(operand(rng))
        if rng.randrange(2):
            b = [operand(rng) or 1.0]
            rx, ry = compute(ax, b[0], op), compute(ay, b[0], op)
            kind = 'f'
        else:
            b = [f32(operand(rng)) or 1.0, f32(operand(rng)) or 1.0]
            rx, ry = compute(ax, b[0], op), compute(ay, b[1], op)
            kind = 'p'
        print(op, kind, bits(ax), bits(ay), *map(bits, b), bits(f32(rx)), bits(f32(ry)))


main()
