#!/usr/bin/env python3
"""Outside answers for money! arithmetic and rounding, from Python's decimal.

  money_oracle.py SEED COUNT
      COUNT lines "op<TAB>a<TAB>b<TAB>answer": a and b are amounts with at
      most 17 integer digits and 5 decimals; the answer is the amount with
      five decimals, or type-limit or zero-divide. The ops are add subtract
      multiply divide remainder, and round-MODE (b the /to step) for the
      modes nearest even half-down down floor ceiling half-ceiling.

Money holds 22 digits, 17 before the point. Sums are exact; products and
quotients are cut after the fifth decimal, and one that cuts to zero is an
underflow. Two refusals come before any work, counting significant digits
from the first nonzero one to the fifth decimal: a product whose operands
have more than 28 together, and a quotient or remainder where the
dividend's count + 6 - the divisor's is above 22.
"""
import random
import sys
from decimal import (Decimal, getcontext, ROUND_CEILING, ROUND_DOWN, ROUND_FLOOR, ROUND_HALF_DOWN,
                     ROUND_HALF_EVEN, ROUND_HALF_UP)
from fractions import Fraction
import math

getcontext().prec = 50
CUT = Decimal('0.00001')
LIMIT = Decimal(10) ** 17
MODES = {'nearest': ROUND_HALF_UP, 'even': ROUND_HALF_EVEN, 'half-down': ROUND_HALF_DOWN,
         'down': ROUND_DOWN, 'floor': ROUND_FLOOR, 'ceiling': ROUND_CEILING, 'half-ceiling': None}


class Limit(Exception):
    pass


class ZeroDivide(Exception):
    pass


def significant(x):
    units = int(abs(x) * 100000)
    return len(str(units)) if units else 1


def checked(r):
    if abs(r) >= LIMIT:
        raise Limit()
    return r


def cut_nonzero(r):
    r = checked(r.quantize(CUT, rounding=ROUND_DOWN))
    if r == 0:
        raise Limit()
    return r


def arithmetic(op, a, b):
    if op == 'add':
        return checked(a + b)
    if op == 'subtract':
        return checked(a - b)
    if op == 'multiply':
        if a == 0 or b == 0:
            return Decimal(0)
        if significant(a) + significant(b) > 28:
            raise Limit()
        return cut_nonzero(a * b)
    if b == 0:
        raise ZeroDivide()
    if a == 0:
        return Decimal(0)
    if significant(a) + 6 - significant(b) > 22:
        raise Limit()
    if op == 'divide':
        return cut_nonzero(a / b)
    return a % b  # remainder: exact, the dividend's sign


def rounded(mode, n, step):
    s = abs(step)
    if n == 0 or s == 0:
        return n
    if mode == 'half-ceiling':
        k = Decimal(math.floor(Fraction(n) / Fraction(s) + Fraction(1, 2)))
    else:
        k = (n / s).quantize(Decimal(1), rounding=MODES[mode])
    return checked(k * s)


def amount(rng):
    """A random amount: its count of significant digits first, so that
    small, large and limit-sized amounts all come up."""
    if rng.random() < 0.05:
        return Decimal(0)
    count = rng.randint(1, 22)
    units = rng.randint(10 ** (count - 1), 10 ** count - 1)
    if rng.random() < 0.3:  # round amounts, for exact quotients and ties
        units -= units % 10 ** rng.randint(0, count - 1)
    x = Decimal(units) / 100000
    return -x if rng.random() < 0.5 else x


def step(rng):
    """A rounding step: mostly short ones, whose ties and multiples occur."""
    if rng.random() < 0.8:
        x = Decimal(rng.choice([1, 2, 5, 10, 25, 50, 100])) * Decimal(10) ** rng.randint(-5, 3)
        return -x if rng.random() < 0.2 else x
    return amount(rng)


def text(x):
    x = x.quantize(CUT)
    if x == 0:
        x = abs(x)
    return format(x, 'f')


def main():
    rng = random.Random(int(sys.argv[1]))
    count = int(sys.argv[2])
    ops = ['add', 'subtract', 'multiply', 'divide', 'remainder'] + ['round-' + m for m in MODES]
    for i in range(count):
        op = ops[i % len(ops)]
        a = amount(rng)
        if op.startswith('round-'):
            b = step(rng)
            if rng.random() < 0.3 and b != 0:  # a tie: an odd number of half steps
                a = (abs(b) / 2) * (2 * rng.randint(0, 10 ** rng.randint(0, 6)) + 1)
                a = a.quantize(CUT) if a == a.quantize(CUT) and abs(a) < LIMIT else amount(rng)
        else:
            b = amount(rng)
            if op in ('divide', 'remainder', 'multiply') and rng.random() < 0.3:
                b = Decimal(rng.randint(1, 1000)) / Decimal(10) ** rng.randint(0, 5)
        try:
            r = rounded(op[6:], a, b) if op.startswith('round-') else arithmetic(op, a, b)
            answer = text(r)
        except Limit:
            answer = 'type-limit'
        except ZeroDivide:
            answer = 'zero-divide'
        print(f'{op}\t{text(a)}\t{text(b)}\t{answer}')


main()
