#!/usr/bin/env python3
"""Outside answers for load-json and to-json, from Python's json module.

  json_oracle.py SEED COUNT KEL [EMULATOR...]
      Generates COUNT documents (nested objects and arrays, strings with
      every escape and characters beyond U+FFFF, integers just inside and
      outside int32, keys that differ only in case), has Kel decode each and
      dump what it got, and write it back with to-json, to-json/ascii and
      to-json/pretty "  ". Checks:
        - the decoded values equal json.loads, where Kel reads integers
          beyond int32 as floats and keys as words when they fit word
          characters (strings else);
        - to-json/ascii is byte-equal to json.dumps(ensure_ascii=True,
          separators=(',', ':')) once the hex of \\u escapes is lower case
          and DEL is raw (Python escapes it); to-json to ensure_ascii=False;
          /pretty "  " to indent=2; for the documents without floats;
        - every output reads back through json.loads equal to the document.
      KEL is the program (kel, or kel.exe after an EMULATOR such as
      tools/kel-wine). Exit status 0 when all agree.
"""
import json
import os
import random
import re
import subprocess
import sys
import tempfile

INT32 = (-2 ** 31, 2 ** 31 - 1)
NOT_WORD = set('/\\^,[](){}"#%$@:;\n\u00a0 \t\r<>')
CHARS = ['a', 'Z', ' ', '"', '\\', '/', '\b', '\f', '\n', '\r', '\t', '\x01', '\x1f', '\x7f',
         'é', 'ÿ', 'Ā', '€', '日', '\ufffd', '\U0001F600', '\U00010348', '\U0010FFFF', "'", '#']
KEYS = ['a', 'A', 'name', 'Name', 'two words', '1st', 'x-y', 'a/b', '', 'é', 'k:', "it's", '\U0001F600']


def word_key(name):
    return (len(name) > 0 and name[0] not in NOT_WORD and not name[0].isdigit() and name[0] != "'"
            and all(c not in NOT_WORD for c in name))


def gen_string(rng):
    return ''.join(rng.choice(CHARS) for _ in range(rng.randint(0, 8)))


def gen_int(rng):
    edge = [0, 1, -1, INT32[0], INT32[1], INT32[0] - 1, INT32[1] + 1, 9999999999, 10 ** 12, -10 ** 12]
    return rng.choice(edge) if rng.random() < 0.5 else rng.randint(-10 ** 6, 10 ** 6)


def gen_value(rng, depth, floats):
    kinds = ['int', 'str', 'lit'] + (['float'] if floats else []) + (['obj', 'arr'] if depth < 4 else [])
    k = rng.choice(kinds)
    if k == 'int':
        return gen_int(rng)
    if k == 'float':
        return rng.choice([0.5, -2.25, 1e-3, 123.0, 1.5e300])
    if k == 'str':
        return gen_string(rng)
    if k == 'lit':
        return rng.choice([True, False, None])
    if k == 'arr':
        return [gen_value(rng, depth + 1, floats) for _ in range(rng.randint(0, 4))]
    keys = rng.sample(KEYS, rng.randint(0, 5))
    return {key: gen_value(rng, depth + 1, floats) for key in keys}


def expected(v):
    """The document as Kel decodes it, in the dump's shape."""
    if isinstance(v, bool) or v is None:
        return ('lit', v)
    if isinstance(v, int):
        return ('int', v) if INT32[0] <= v <= INT32[1] else ('float', float(v))
    if isinstance(v, float):
        return ('float', v)
    if isinstance(v, str):
        return ('str', v)
    if isinstance(v, list):
        return ('arr', [expected(x) for x in v])
    return ('obj', [(('w' if word_key(k) else 's'), k, expected(x)) for k, x in v.items()])


# The Kel side: a dump of each decoded value, one token a line, strings as
# hexadecimal UTF-8, then the three encodings, each as hexadecimal UTF-8.
KEL_SCRIPT = r'''Kel []
hex: func [s] [enbase/base to binary! s 16]
dump: func [v out] [
	case [
		map? :v [
			append out rejoin ["M " length? v lf]
			foreach k words-of v [
				append out rejoin ["K " either word? k ["w "] ["s "] hex form k lf]
				dump select/case v k out
			]
		]
		block? :v [append out rejoin ["A " length? v lf] foreach x v [dump :x out]]
		string? :v [append out rejoin ["S " hex v lf]]
		integer? :v [append out rejoin ["I " v lf]]
		float? :v [append out rejoin ["F " v lf]]
		logic? :v [append out rejoin ["L " v lf]]
		none? :v [append out rejoin ["N" lf]]
		true [append out rejoin ["? " mold :v lf]]
	]
]
out: make string! 100000
codec: select system/codecs 'json
foreach name transcode read %list.txt [
	; The codec reads the file itself.
	v: codec/decode name
	append out rejoin ["DOC " name lf]
	dump :v out
	append out rejoin ["C " hex to-json :v lf "X " hex to-json/ascii :v lf "P " hex to-json/pretty :v "  " lf]
]
write %out.txt out
'''


def parse_dump(lines, i):
    tag, _, rest = lines[i].partition(' ')
    if tag == 'M':
        items, i = [], i + 1
        for _ in range(int(rest)):
            _, kind, name = lines[i].split(' ', 2) if lines[i].count(' ') >= 2 else (lines[i].split(' ') + [''])[:3]
            value, i = parse_dump(lines, i + 1)
            items.append((kind, bytes.fromhex(name).decode('utf-8'), value))
        return ('obj', items), i
    if tag == 'A':
        items, i = [], i + 1
        for _ in range(int(rest)):
            value, i = parse_dump(lines, i)
            items.append(value)
        return ('arr', items), i
    if tag == 'S':
        return ('str', bytes.fromhex(rest).decode('utf-8')), i + 1
    if tag == 'I':
        return ('int', int(rest)), i + 1
    if tag == 'F':
        return ('float', float(rest)), i + 1
    if tag == 'L':
        return ('lit', rest == 'true'), i + 1
    if tag == 'N':
        return ('lit', None), i + 1
    return ('unknown', lines[i]), i + 1


def main():
    seed, count, kel = int(sys.argv[1]), int(sys.argv[2]), [os.path.abspath(a) if os.path.exists(a) else a for a in sys.argv[3:]]
    rng = random.Random(seed)
    docs = []
    for n in range(count):
        floats = n % 4 == 3
        v = gen_value(rng, 0, floats)
        if not isinstance(v, (list, dict)):
            v = [v]
        indent = rng.choice([None, 0, 2])
        docs.append((v, floats, json.dumps(v, ensure_ascii=rng.random() < 0.5, indent=indent)))
    failures = 0
    with tempfile.TemporaryDirectory() as tmp:
        names = []
        for n, (_, _, text) in enumerate(docs):
            names.append('d%d.json' % n)
            with open(os.path.join(tmp, names[-1]), 'w', encoding='utf-8') as f:
                f.write(text)
        with open(os.path.join(tmp, 'list.txt'), 'w') as f:
            f.write(' '.join('%' + n for n in names))
        with open(os.path.join(tmp, 'run.kel'), 'w') as f:
            f.write(KEL_SCRIPT)
        run = subprocess.run(kel + ['run.kel'], cwd=tmp, capture_output=True, timeout=600)
        if run.returncode != 0 or not os.path.exists(os.path.join(tmp, 'out.txt')):
            print('kel failed:', run.returncode, run.stderr.decode(errors='replace')[-2000:])
            return 1
        with open(os.path.join(tmp, 'out.txt'), encoding='utf-8') as f:
            lines = f.read().split('\n')
    i = 0
    for n, (v, floats, text) in enumerate(docs):
        assert lines[i] == 'DOC d%d.json' % n, lines[i]
        got, i = parse_dump(lines, i + 1)
        outs = {}
        for tag in 'CXP':
            t, _, h = lines[i].partition(' ')
            assert t == tag, lines[i]
            outs[tag] = bytes.fromhex(h).decode('utf-8')
            i += 1
        problems = []
        if got != expected(v):
            problems.append('decoded %r' % (got,))
        for tag, out in outs.items():
            try:
                back = json.loads(out)
            except ValueError as e:
                problems.append('%s output does not read back: %s' % (tag, e))
                continue
            if back != v:
                problems.append('%s output reads back as %r' % (tag, back))
        if not floats and not any(isinstance(x, int) and not INT32[0] <= x <= INT32[1]
                                  for x in walk(v)):
            # Python escapes DEL in ASCII output; Kel writes it raw.
            ascii = json.dumps(v, ensure_ascii=True, separators=(',', ':')).replace('\\u007f', '\x7f')
            if lower_hex(outs['X']) != ascii:
                problems.append('ascii %r' % outs['X'])
            if lower_hex(outs['C']) != json.dumps(v, ensure_ascii=False, separators=(',', ':')):
                problems.append('compact %r' % outs['C'])
            if lower_hex(outs['P']) != json.dumps(v, ensure_ascii=False, indent=2):
                problems.append('pretty %r' % outs['P'])
        if problems:
            failures += 1
            print('document %d: %s' % (n, text))
            for p in problems:
                print('  ' + p)
    print('%d documents, %d disagree' % (len(docs), failures))
    return 1 if failures else 0


def lower_hex(text):
    return re.sub(r'\\u[0-9A-F]{4}', lambda m: m.group(0).lower(), text)


def walk(v):
    yield v
    if isinstance(v, list):
        for x in v:
            yield from walk(x)
    elif isinstance(v, dict):
        for x in v.values():
            yield from walk(x)


sys.exit(main())
