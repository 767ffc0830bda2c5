#!/usr/bin/env python3
"""Outside answers for the bitset tests, from Python sets.

  bitset_oracle.py SEED COUNT
      One line per case: a line of Kel source, a tab, and the members the
      source's result holds below 96 (in order, space separated), then " ~"
      when every number from 96 on is a member. A set is a Python set over
      0..95 and a flag for the numbers beyond; every operation is defined
      on that pair alone, so a complemented bitset counts as the complement
      of the numbers it leaves out.
"""
import random
import sys

BOUND = 96


def members_spec(nums):
    return ' '.join(str(n) for n in sorted(nums))


def make(rng):
    """A random bitset: its Kel constructor and its (set, flag) model."""
    nums = set(rng.sample(range(64), rng.randint(0, 10)))
    if rng.random() < 0.5:
        return '[not %s]' % members_spec(nums), (set(range(BOUND)) - nums, True)
    return '[%s]' % members_spec(nums), (nums, False)


def spec_block(rng):
    """A spec block of numbers, chars and ranges, and the numbers it names."""
    parts, named = [], set()
    for _ in range(rng.randint(1, 4)):
        kind = rng.random()
        if kind < 0.4:
            n = rng.randrange(90)
            parts.append(str(n))
            named.add(n)
        elif kind < 0.7:
            a = rng.randrange(85)
            b = rng.randrange(a, min(a + 12, BOUND))
            parts.append('%d - %d' % (a, b))
            named.update(range(a, b + 1))
        else:
            n = rng.randrange(48, 90)
            parts.append('#"%s"' % chr(n))
            named.add(n)
    return '[%s]' % ' '.join(parts), named


def case(rng):
    src, (s, f) = make(rng)
    lines = ['x: make bitset! %s' % src]
    for _ in range(rng.randint(1, 5)):
        op = rng.choice(['append', 'remove', 'clear', 'complement', 'and', 'or', 'xor', 'exclude', 'poke'])
        if op == 'append':
            blk, named = spec_block(rng)
            lines.append('append x %s' % blk)
            s |= named
        elif op == 'remove':
            blk, named = spec_block(rng)
            lines.append('remove/part x %s' % blk)
            s -= named
        elif op == 'clear':
            # Every stored byte takes the background value: a complemented
            # set keeps every number, a plain one keeps none.
            lines.append('clear x')
            s = set(range(BOUND)) if f else set()
        elif op == 'complement':
            lines.append('x: complement x')
            s, f = set(range(BOUND)) - s, not f
        elif op == 'poke':
            n, on = rng.randrange(BOUND), rng.random() < 0.5
            lines.append('poke x %d %s' % (n, 'true' if on else 'false'))
            s = s | {n} if on else s - {n}
        else:
            ysrc, (t, g) = make(rng)
            word = {'and': 'and~', 'or': 'or~', 'xor': 'xor~', 'exclude': 'exclude'}[op]
            lines.append('x: %s x make bitset! %s' % (word, ysrc))
            if op == 'and':
                s, f = s & t, f and g
            elif op == 'or':
                s, f = s | t, f or g
            elif op == 'xor':
                s, f = s ^ t, f != g
            else:
                s, f = s - t, f and not g
    lines.append('members x')
    expected = members_spec(s) + (' ~' if f else '')
    return ' '.join(lines), expected.strip()


def main():
    seed, count = int(sys.argv[1]), int(sys.argv[2])
    rng = random.Random(seed)
    for _ in range(count):
        source, expected = case(rng)
        print('%s\t%s' % (source, expected))


if __name__ == '__main__':
    main()
