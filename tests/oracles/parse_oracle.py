#!/usr/bin/env python3
"""Outside answers for parse rules, from Python's re.

  parse_oracle.py SEED COUNT
      One line per case, tab-separated: the rule block's Kel text, the input
      text, and 1 when parse matches the whole input, else 0.

Rules are built from literals, sequences, alternatives, any, some, opt and
counts. A parse rule never gives back what it matched, so each maps to the
regular expression that does not backtrack either: an alternative block to
an atomic group, a repetition to a possessive quantifier. The input letters
are lower case, so parse folding case changes nothing.
"""
import random
import re
import sys

LITERALS = ["a", "b", "ab", "ba", "aa"]


def rule(rng, depth):
    """One rule element: (kel text, regex, sampler). A sampler gives a text
    the element may well match, so that about half the inputs match."""
    choice = rng.random()
    if depth > 2 or choice < 0.35:
        text = rng.choice(LITERALS)
        return '"%s"' % text, re.escape(text), lambda r: text
    if choice < 0.55:
        kel, rx, sample = rule(rng, depth + 1)
        word, quant, low, high = rng.choice([("any", "*+", 0, 3), ("some", "++", 1, 3), ("opt", "?+", 0, 1)])
        return ("%s %s" % (word, kel), "(?:%s)%s" % (rx, quant),
                lambda r: "".join(sample(r) for _ in range(r.randint(low, high))))
    if choice < 0.65:
        kel, rx, sample = rule(rng, depth + 1)
        low = rng.randint(0, 2)
        high = low + rng.randint(0, 2)
        return ("%d %d %s" % (low, high, kel), "(?:%s){%d,%d}+" % (rx, low, high),
                lambda r: "".join(sample(r) for _ in range(r.randint(low, high))))
    # a block: a sequence, or alternatives of sequences
    alternatives = []
    for _ in range(rng.randint(1, 3)):
        alternatives.append([rule(rng, depth + 1) for _ in range(rng.randint(1, 3))])
    kel = "[" + " | ".join(" ".join(e[0] for e in seq) for seq in alternatives) + "]"
    rx = "(?>" + "|".join("".join(e[1] for e in seq) for seq in alternatives) + ")"
    return kel, rx, lambda r: "".join(e[2](r) for e in r.choice(alternatives))


def main():
    seed, count = int(sys.argv[1]), int(sys.argv[2])
    rng = random.Random(seed)
    for _ in range(count):
        elements = [rule(rng, 0) for _ in range(rng.randint(1, 3))]
        kel = "[" + " ".join(e[0] for e in elements) + "]"
        rx = re.compile("".join(e[1] for e in elements))
        if rng.random() < 0.6:
            text = "".join(e[2](rng) for e in elements)
        else:
            text = "".join(rng.choice("ab") for _ in range(rng.randint(0, 8)))
        print("%s\t%s\t%d" % (kel, text, 1 if rx.fullmatch(text) else 0))


main()
