#!/usr/bin/env python3
"""Outside answers for math, mod, modulo, trigonometry and date zones, from
Python's own arithmetic, math and datetime; and the shape of what clock and
stats/show print.

  math_oracle.py SEED COUNT KEL [EMULATOR...]
      Generates COUNT cases of each kind and has Kel answer them all in one
      run per time zone (TZ set to a zone without and one with summer time):
        - math on integer expressions of + - * ** and parens, against eval
          (no negative literal right before **, which Python reads as the
          negation of the power; every partial result fits 32 bits);
        - mod and modulo on integers of every sign, against a % b for
          b > 0 and a % -b for b < 0 (the remainder is never negative);
        - cos sin tan acos asin atan atan2 sqrt, within one unit in the
          last place of math's answers (C libraries may differ there);
        - to-UTC-date and to-local-date: the same instant, and the wall
          clock datetime.astimezone gives in UTC and in the zone now/zone
          names, which is the zone in force now;
        - one clock line per unit (a number of at most three digits, or a
          longer integer part; the unit; a tab; the code) and the memory
          report of stats/show, numbers masked, columns and sums checked.
      KEL is the program (kel, or kel.exe after an EMULATOR such as
      tools/kel-wine). Exit status 0 when all agree.
"""
import math
import os
import random
import re
import subprocess
import sys
import tempfile
import time
from datetime import datetime, timedelta, timezone

MONTHS = ["Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"]
ZONES = ["IST-5:30", "EST5EDT,M3.2.0,M11.1.0"]
INT32 = (-2**31, 2**31 - 1)

KEL_SCRIPT = r'''Kel []
cases: load %cases.txt
show: func [tag value] [print [tag mold :value]]
foreach e cases/math [show "M" math e]
foreach [a b] cases/mod [show "D" reduce [mod a b modulo a b]]
foreach [f x y] cases/trig [show "T" either f = 'atan2 [atan2 x y] [do reduce [f x]]]
foreach d cases/dates [show "Z" reduce [to-UTC-date d to-local-date d now/zone]]
clock [1 + 2]
clock/times [loop 50000 [1 + 2]] 2
stats/show
'''


class Reject(Exception):
    pass


def checked(v):
    if not INT32[0] <= v <= INT32[1]:
        raise Reject()
    return v


def gen_expr(rng, depth):
    """A tree: an int, or (op, left, right)."""
    if depth == 0 or rng.random() < 0.3:
        return rng.randint(-9, 30)
    op = rng.choice(['+', '-', '*', '*', '**'])
    left = gen_expr(rng, depth - 1)
    right = gen_expr(rng, depth - 1)
    if op == '**':
        # Small exponents, some of them powers themselves: chains of **.
        roll = rng.random()
        right = rng.randint(0, 3) if roll < 0.5 else ('**', rng.randint(0, 2), rng.randint(0, 3)) if roll < 0.7 else right
    return (op, left, right)


def value(t):
    if isinstance(t, int):
        return t
    op, l, r = t
    a, b = value(l), value(r)
    if op == '**':
        if not 0 <= b <= 6 or abs(a) > 2**16:
            raise Reject()
        return checked(a ** b)
    return checked(a + b if op == '+' else a - b if op == '-' else a * b)


PREC = {'+': 1, '-': 1, '*': 2, '**': 3}


def render(rng, t, parent=None, side=None):
    if isinstance(t, int):
        text = str(t)
        # A negative literal before ** would be the negation of the power to Python.
        return '(%s)' % text if t < 0 and parent == '**' and side == 'left' else text
    op, l, r = t
    text = '%s %s %s' % (render(rng, l, op, 'left'), op, render(rng, r, op, 'right'))
    if parent is not None:
        p = PREC[parent]
        need = PREC[op] < p or (PREC[op] == p and side == ('left' if parent == '**' else 'right'))
        if need or rng.random() < 0.15:
            text = '(%s)' % text
    return text


def math_cases(rng, count):
    cases = []
    while len(cases) < count:
        t = gen_expr(rng, rng.randint(1, 5))
        if isinstance(t, int):
            continue
        try:
            v = value(t)
        except Reject:
            continue
        text = render(rng, t)
        if re.search(r'-\d+ \*\*', text):
            continue
        assert eval(text) == v, text
        cases.append((text, v))
    return cases


def mod_cases(rng, count):
    edges = [INT32[0], INT32[1], 0, 1, -1, 7, -7]
    pairs = []
    for _ in range(count):
        a = rng.choice(edges) if rng.random() < 0.2 else rng.randint(-1000, 1000)
        b = rng.choice([1, 3, INT32[1]]) if rng.random() < 0.2 else rng.randint(1, 50)
        pairs.append((a, b if rng.random() < 0.5 else -b))
    return pairs


def trig_cases(rng, count):
    cases = []
    for _ in range(count):
        f = rng.choice(['cos', 'sin', 'tan', 'acos', 'asin', 'atan', 'atan2', 'sqrt'])
        if f in ('acos', 'asin'):
            x = rng.uniform(-1, 1)
        elif f == 'sqrt':
            x = rng.choice([rng.uniform(0, 1e6), float(rng.randint(0, 100))])
        else:
            # Up to a thousand radians: beyond, kel.exe's C library reduces
            # the angle less exactly than glibc (tens of units in the last
            # place from 1e4 on).
            x = rng.choice([rng.uniform(-10, 10), rng.uniform(-1000, 1000)])
        y = rng.choice([rng.uniform(-10, 10), rng.randint(-5, 5)]) if f == 'atan2' else 0.0
        if f == 'atan2' and rng.random() < 0.3:
            x = rng.randint(-5, 5)
        cases.append((f, x, y))
    return cases


def expected_trig(f, x, y):
    if f == 'atan2':
        return math.atan2(x, y)  # y first: the first argument is y
    return getattr(math, f)(x)


def kel_num(v):
    return repr(v) if isinstance(v, float) else str(v)


def zone_text(minutes):
    sign = '-' if minutes < 0 else '+'
    return '%s%02d:%02d' % (sign, abs(minutes) // 60, abs(minutes) % 60)


def date_cases(rng, count):
    out = []
    for _ in range(count):
        base = datetime(1971, 1, 1, tzinfo=timezone.utc) + timedelta(seconds=rng.randint(0, 2**31 - 10**8))
        minutes = rng.randint(-48, 56) * 15
        d = base.astimezone(timezone(timedelta(minutes=minutes)))
        out.append(d)
    return out


def kel_date_text(d):
    off = int(d.utcoffset().total_seconds()) // 60
    return '%d-%s-%04d/%d:%02d:%02d%s' % (d.day, MONTHS[d.month - 1], d.year, d.hour, d.minute, d.second,
                                          zone_text(off) if off else '')


DATE = re.compile(r'(\d+)-(\w{3})-(\d+)/(\d+):(\d\d):(\d\d)(?:([+-])(\d+):(\d\d))?$')


def parse_date(text):
    m = DATE.match(text)
    if not m:
        return None
    day, mon, year, h, mi, s, sign, zh, zm = m.groups()
    off = (int(zh) * 60 + int(zm)) * (-1 if sign == '-' else 1) if sign else 0
    return datetime(int(year), MONTHS.index(mon) + 1, int(day), int(h), int(mi), int(s),
                    tzinfo=timezone(timedelta(minutes=off)))


def parse_zone(text):
    m = re.fullmatch(r'(-?)(\d+):(\d\d):(\d\d)', text)
    minutes = int(m.group(2)) * 60 + int(m.group(3))
    return -minutes if m.group(1) else minutes


def check_clock(lines, problems):
    clock = [l for l in lines if '\t' in l]
    if len(clock) != 2:
        problems.append('expected two clock lines, got %r' % clock)
        return
    for line, code in zip(clock, ['[1 + 2]', '[loop 50000 [1 + 2]]']):
        m = re.fullmatch(r'(\d+)(?:\.(\d+))? (μs|ms)\t(.*)', line)
        if not m or m.group(4) != code:
            problems.append('clock line %r' % line)
            continue
        whole, frac = m.group(1), m.group(2)
        # Three digits at most, unless the integer part alone is longer (then it is whole).
        if (len(whole) + len(frac) > 3) if frac is not None else len(whole) < 3:
            problems.append('clock keeps the wrong digits: %r' % line)


def check_report(lines, problems):
    """The report of stats/show: fixed texts, right-aligned columns, sums."""
    try:
        i = lines.index('[ Nodes  ] -- Free ----- Used ----- Total --')
    except ValueError:
        problems.append('no memory report')
        return
    report = lines[i - 1:]
    pos = [0]

    def take(pattern):
        line = report[pos[0]] if pos[0] < len(report) else ''
        m = re.fullmatch(pattern, line)
        if not m:
            raise ValueError('line %d of the report: %r does not match %r' % (pos[0] + 1, line, pattern))
        pos[0] += 1
        return m

    def frame_lines(widths):
        rows = []
        while pos[0] < len(report) and re.match(r'  \d+:', report[pos[0]]):
            line = report[pos[0]]
            if len(line) != 6 + sum(widths):
                raise ValueError('frame line %r is not %d wide' % (line, 6 + sum(widths)))
            if not re.fullmatch(r'%d: *' % (len(rows) + 1), line[2:6]):
                raise ValueError('frame line %r is not numbered %d' % (line, len(rows) + 1))
            cols, at = [], 6
            for w in widths:
                cols.append(int(take_column(line[at:at + w])))
                at += w
            rows.append(cols)
            pos[0] += 1
        return rows

    def take_column(text):
        if not re.fullmatch(r' *\d+', text):
            raise ValueError('column %r is not a right-aligned number' % text)
        return text

    try:
        for name, unit in (('Nodes', 'nodes'), ('Series', 'bytes')):
            take('')
            take(re.escape('[ %-6s ] -- Free ----- Used ----- Total --' % name))
            rows = frame_lines([11, 11, 12])
            if not rows:
                take(' {15}- {10}- {11}-')
            for free, used, total in rows:
                if free + used != total:
                    raise ValueError('%s frame: free %d + used %d is not total %d' % (name, free, used, total))
            take('  --')
            used = int(take(r'  Used     : (\d+) %s' % unit).group(1))
            total = int(take(r'  Allocated: (\d+) %s' % unit).group(1))
            if used != sum(r[1] for r in rows) or total != sum(r[2] for r in rows):
                raise ValueError('%s sums %d %d' % (name, used, total))
        take('')
        take(re.escape('[ Big    ]'))
        bigs = frame_lines([11])
        take('  --')
        if int(take(r'  Allocated: (\d+) bytes').group(1)) != sum(r[0] for r in bigs):
            raise ValueError('big sum')
        take('--')
        take(r'Total allocated from OS \(virtual\):(?= {0,8}\d)[ \d]{9,}')
        take(r'Total allocated on heap \(malloc\):(?= {0,8}\d)[ \d]{9,}')
    except ValueError as e:
        problems.append(str(e))


def run_zone(kel, zone, cases):
    env = dict(os.environ, TZ=zone, KEL_FATAL_TO_STDERR='1')
    with tempfile.TemporaryDirectory() as tmp:
        with open(os.path.join(tmp, 'cases.txt'), 'w', encoding='utf-8') as f:
            f.write(cases)
        with open(os.path.join(tmp, 'run.kel'), 'w', encoding='utf-8') as f:
            f.write(KEL_SCRIPT)
        run = subprocess.run(kel + ['run.kel'], cwd=tmp, capture_output=True, timeout=600, env=env)
    if run.returncode != 0:
        print('kel failed under TZ=%s:' % zone, run.returncode, run.stderr.decode(errors='replace')[-2000:])
        return None
    return run.stdout.decode('utf-8').replace('\r\n', '\n').split('\n')


def main():
    seed, count = int(sys.argv[1]), int(sys.argv[2])
    kel = [os.path.abspath(a) if os.path.exists(a) else a for a in sys.argv[3:]]
    rng = random.Random(seed)
    maths = math_cases(rng, count)
    mods = mod_cases(rng, count)
    trigs = trig_cases(rng, count)
    dates = date_cases(rng, count)
    cases = 'math: [\n%s\n]\nmod: [%s]\ntrig: [\n%s\n]\ndates: [%s]\n' % (
        '\n'.join('[%s]' % text for text, _ in maths),
        ' '.join('%d %d' % p for p in mods),
        '\n'.join('%s %s %s' % (f, kel_num(x), kel_num(y)) for f, x, y in trigs),
        ' '.join(kel_date_text(d) for d in dates))

    failures = 0
    for zone in ZONES:
        lines = run_zone(kel, zone, cases)
        if lines is None:
            return 1
        os.environ['TZ'] = zone
        time.tzset()
        problems = []
        tagged = {tag: [l[2:] for l in lines if l.startswith(tag + ' ')] for tag in 'MDTZ'}
        for (text, want), got in zip(maths, tagged['M']):
            if got != str(want):
                problems.append('math [%s] gave %s, eval %d' % (text, got, want))
        for (a, b), got in zip(mods, tagged['D']):
            want = a % abs(b)
            if got != '[%d %d]' % (want, want):
                problems.append('mod/modulo %d %d gave %s, want %d' % (a, b, got, want))
        for (f, x, y), got in zip(trigs, tagged['T']):
            want = expected_trig(f, x, y)
            try:
                ok = abs(float(got) - want) <= math.ulp(want)
            except ValueError:
                ok = False
            if not ok:
                problems.append('%s %s %s gave %s, math %r' % (f, kel_num(x), kel_num(y), got, want))
        now_minutes = int(datetime.now().astimezone().utcoffset().total_seconds()) // 60
        for d, got in zip(dates, tagged['Z']):
            parts = got.strip('[]').split(' ')
            utc, local = parse_date(parts[0]), parse_date(parts[1])
            want_utc = d.astimezone(timezone.utc)
            want_local = d.astimezone(timezone(timedelta(minutes=now_minutes)))
            if parse_zone(parts[2]) != now_minutes:
                problems.append('now/zone %s, local offset %d minutes' % (parts[2], now_minutes))
            if (utc is None or kel_date_text(utc) != kel_date_text(want_utc) or local is None
                    or kel_date_text(local) != kel_date_text(want_local) or local != d or utc != d):
                problems.append('%s gave %s, want %s and %s' % (kel_date_text(d), got, kel_date_text(want_utc),
                                                                  kel_date_text(want_local)))
        for tag, want in (('M', maths), ('D', mods), ('T', trigs), ('Z', dates)):
            if len(tagged[tag]) != len(want):
                problems.append('%d answers of kind %s for %d cases' % (len(tagged[tag]), tag, len(want)))
        check_clock(lines, problems)
        check_report(lines, problems)
        for p in problems[:20]:
            print('TZ=%s: %s' % (zone, p))
        failures += len(problems)
    total = 4 * count * len(ZONES)
    print('%d cases, %d disagree' % (total, failures))
    return 1 if failures else 0


sys.exit(main())
