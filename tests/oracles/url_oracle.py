#!/usr/bin/env python3
"""Outside answers for percent-encoding, from urllib.parse.

  url_oracle.py SEED COUNT
      One line per case: the text as hexadecimal UTF-8, a tab, its quoting
      with the wide set (quote with safe="!#$&'()*+,/:=?@"), a tab, its
      quoting with the narrow set (quote with safe=""). The texts mix ASCII
      of every kind with two-, three- and four-byte characters.
"""
import random
import sys
from urllib.parse import quote

WIDE = "!#$&'()*+,/:=?@"
POOL = [chr(c) for c in range(1, 128)] + ['é', 'ÿ', 'Ā', '€', '日', '\U0001F600', '\U00010348']


def main():
    rng = random.Random(int(sys.argv[1]))
    for _ in range(int(sys.argv[2])):
        text = ''.join(rng.choice(POOL) for _ in range(rng.randint(0, 12)))
        print('%s\t%s\t%s' % (text.encode('utf-8').hex(), quote(text, safe=WIDE), quote(text, safe='')))


main()
