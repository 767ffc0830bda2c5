#!/usr/bin/env python3
"""Outside answers for sorting blocks, from Python's sorted().

  block_sort_oracle.py SEED COUNT
      One line per case: Kel source that sorts a block, a tab, and the
      molded block Python's sorted() gives for the same keys. Records are
      /skip cells long; the compared cell holds an integer or an ASCII string
      key, the others a record number, so a stable sort's order of equal keys
      shows. Unstable sorts get distinct keys: their answer is then unique.
      Without /case, strings compare by their lower-case form.
"""
import random
import sys


def mold(v):
    return '"%s"' % v if isinstance(v, str) else str(v)


def main():
    seed, count = int(sys.argv[1]), int(sys.argv[2])
    rng = random.Random(seed)
    for _ in range(count):
        stable = rng.random() < 0.6
        reverse = rng.random() < 0.3
        case = rng.random() < 0.4
        skip = rng.choice([1, 2, 3])
        offset = rng.randint(1, skip) if skip > 1 else 1
        n = rng.randint(0, 12)
        strings = rng.random() < 0.5
        if strings:
            pool = ["".join(rng.choice("abAB") for _ in range(rng.randint(1, 3))) for _ in range(40)]
            if not stable:  # distinct keys, also after folding when the sort folds
                seen, distinct = set(), []
                for k in pool:
                    f = k if case else k.lower()
                    if f not in seen:
                        seen.add(f)
                        distinct.append(k)
                pool = distinct
            keys = [rng.choice(pool) for _ in range(n)] if stable else rng.sample(pool, min(n, len(pool)))
        else:
            keys = [rng.randint(-5, 5) for _ in range(n)] if stable else rng.sample(range(-50, 50), n)
        records = []
        for i, k in enumerate(keys):
            rec = [i] * skip
            rec[offset - 1] = k
            records.append(rec)

        def key(rec):
            k = rec[offset - 1]
            return k.lower() if isinstance(k, str) and not case else k

        ordered = sorted(records, key=key, reverse=reverse)
        if reverse and stable:
            # sort/reverse swaps the operands: equal keys keep their order
            ordered = sorted(records, key=key)
            groups, out = {}, []
            for rec in ordered:
                groups.setdefault(key(rec), []).append(rec)
            for k in sorted(groups, reverse=True):
                out.extend(groups[k])
            ordered = out
        flat_in = [mold(v) for rec in records for v in rec]
        flat_out = [mold(v) for rec in ordered for v in rec]
        refinements = ""
        args = []
        if case:
            refinements += "/case"
        if skip > 1:
            refinements += "/skip"
            args.append(str(skip))
        if skip > 1 and offset > 1:
            refinements += "/compare"
            args.append(str(offset))
        if reverse:
            refinements += "/reverse"
        if stable:
            refinements += "/stable"
        source = "sort%s [%s] %s" % (refinements, " ".join(flat_in), " ".join(args))
        print("%s\t[%s]" % (source.strip(), " ".join(flat_out)))


if __name__ == "__main__":
    main()
