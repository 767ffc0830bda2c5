#!/usr/bin/env python3
"""Outside answers for load-csv and to-csv, from Python's csv module.

  csv_oracle.py SEED COUNT KEL [EMULATOR...]
      Generates COUNT tables of aligned rows (fields with quotes, commas,
      spaces, line breaks and characters beyond ASCII), writes each as RFC
      4180 text (every field, some or none quoted; CR LF or LF row ends; a
      final row end or none), and has Kel load it with load-csv and write
      the table back with to-csv. Checks that load-csv gives the rows
      csv.reader gives, and that csv.reader reads the output of to-csv back
      into the same fields. Bare CR row ends, /trim and malformed text are
      left out: there load-csv differs on purpose.
      KEL is the program (kel, or kel.exe after an EMULATOR such as
      tools/kel-wine). Exit status 0 when all agree.
"""
import csv
import io
import os
import random
import subprocess
import sys
import tempfile

PIECES = ['a', 'B', '1', ' ', ',', '"', '""', '\n', '\r\n', '\r', "'", ';', 'é', '日', '\U0001F600', 'false', 'x y']

KEL_SCRIPT = r'''Kel []
hex: func [s] [enbase/base to binary! s 16]
out: make string! 100000
codec: select system/codecs 'csv
foreach name transcode read %list.txt [
	; The codec reads the file itself.
	rows: codec/decode name
	append out rejoin ["TABLE " name lf]
	either error? rows [append out rejoin ["E " hex rows/arg1 lf]] [
		foreach row rows [
			append out "R"
			foreach field row [append out rejoin [" " hex field]]
			append out lf
		]
		append out rejoin ["W " hex to-csv rows lf]
	]
]
write %out.txt out
'''


def gen_field(rng):
    return ''.join(rng.choice(PIECES) for _ in range(rng.randint(0, 4)))


def needs_quotes(field):
    return any(c in field for c in ',"\r\n') or field == ''


def write_table(rng, rows):
    end = rng.choice(['\r\n', '\n'])
    quoting = rng.choice(['all', 'some', 'needed'])
    lines = []
    for row in rows:
        cells = []
        for f in row:
            quote = (quoting == 'all' or needs_quotes(f) and f != '' or
                     quoting == 'some' and rng.random() < 0.5)
            # A row of one empty field must be quoted: an empty line is no row to csv.reader.
            if len(row) == 1 and f == '':
                quote = True
            cells.append('"%s"' % f.replace('"', '""') if quote else f)
        lines.append(','.join(cells))
    return end.join(lines) + (end if rng.random() < 0.5 else '')


def main():
    seed, count = int(sys.argv[1]), int(sys.argv[2])
    kel = [os.path.abspath(a) if os.path.exists(a) else a for a in sys.argv[3:]]
    rng = random.Random(seed)
    tables = []
    for _ in range(count):
        width = rng.randint(1, 5)
        rows = [[gen_field(rng) for _ in range(width)] for _ in range(rng.randint(1, 6))]
        tables.append((rows, write_table(rng, rows)))
    with tempfile.TemporaryDirectory() as tmp:
        names = []
        for n, (_, text) in enumerate(tables):
            names.append('t%d.csv' % n)
            with open(os.path.join(tmp, names[-1]), 'w', encoding='utf-8', newline='') as f:
                f.write(text)
        with open(os.path.join(tmp, 'list.txt'), 'w') as f:
            f.write(' '.join('%' + n for n in names))
        with open(os.path.join(tmp, 'run.kel'), 'w') as f:
            f.write(KEL_SCRIPT)
        run = subprocess.run(kel + ['run.kel'], cwd=tmp, capture_output=True, timeout=600)
        if run.returncode != 0 or not os.path.exists(os.path.join(tmp, 'out.txt')):
            print('kel failed:', run.returncode, run.stderr.decode(errors='replace')[-2000:])
            return 1
        with open(os.path.join(tmp, 'out.txt'), encoding='utf-8', newline='') as f:
            lines = f.read().split('\n')
    failures, i = 0, 0
    for n, (rows, text) in enumerate(tables):
        assert lines[i] == 't%d.csv' % n or lines[i] == 'TABLE t%d.csv' % n, lines[i]
        i += 1
        got, written, problems = [], None, []
        while i < len(lines) and lines[i][:2] in ('R', 'R ', 'E ', 'W '):
            tag, _, rest = lines[i].partition(' ')
            if tag == 'R':
                got.append([bytes.fromhex(h).decode('utf-8') for h in rest.split(' ')] if rest else [''])
            elif tag == 'E':
                problems.append('error %s' % bytes.fromhex(rest).decode('utf-8'))
            else:
                written = bytes.fromhex(rest).decode('utf-8')
            i += 1
        want = list(csv.reader(io.StringIO(text, newline='')))
        if want != rows:
            problems.append('the sample itself reads as %r' % want)
        if got != want:
            problems.append('load-csv gave %r, csv.reader %r' % (got, want))
        if written is not None:
            # A row of one empty field is written as an empty line, which
            # load-csv reads as that row and csv.reader as no field.
            back = [r or [''] for r in csv.reader(io.StringIO(written, newline=''))]
            if back != rows:
                problems.append('to-csv wrote %r, read back as %r' % (written, back))
        if problems:
            failures += 1
            print('table %d: %r' % (n, text))
            for p in problems:
                print('  ' + p)
    print('%d tables, %d disagree' % (len(tables), failures))
    return 1 if failures else 0


sys.exit(main())
