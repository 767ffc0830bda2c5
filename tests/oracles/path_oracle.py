#!/usr/bin/env python3
"""Outside answers for cleaning and splitting paths.

  path_oracle.py SEED COUNT
      COUNT lines of random cases, each "kind<TAB>input<TAB>answer...":
      "clean" an absolute POSIX name and posixpath.normpath of it;
      "split" a name (no empty component, not ending in "/", ".." or
      ".") and the directory and target it splits into: posixpath.split's
      head with a "/" after it (or "./" when empty) and its tail;
      "url" a relative reference with no empty component and
      urllib.parse.urljoin of it on http://h/.
      A name that cleans to a directory keeps its "/" on the Kel side,
      where normpath and urljoin differ: the tests compare without it.
"""
import posixpath
import random
import sys
import urllib.parse

PARTS = ["a", "bb", "c.txt", ".", "..", "", "x.y"]


def name(rng, absolute, parts=PARTS):
    n = rng.randint(1, 6)
    text = "/".join(rng.choice(parts) for _ in range(n))
    if absolute:
        text = "/" + text.lstrip("/")
        if text.startswith("//"):
            text = text[1:]
    return text


def main():
    rng = random.Random(int(sys.argv[1]))
    for _ in range(int(sys.argv[2])):
        kind = rng.choice(["clean", "split", "url"])
        if kind == "clean":
            p = name(rng, True)
            print(f"clean\t{p}\t{posixpath.normpath(p)}")
        elif kind == "split":
            p = name(rng, rng.random() < 0.5, [x for x in PARTS if x])
            if p.endswith(".") or p == "/":
                p += "/z"
            head, tail = posixpath.split(p)
            head = "./" if not head else head if head.endswith("/") else head + "/"
            print(f"split\t{p}\t{head}\t{tail}")
        else:
            p = name(rng, False, [x for x in PARTS if x])
            print(f"url\t{p}\t{urllib.parse.urljoin('http://h/', p)}")


main()
