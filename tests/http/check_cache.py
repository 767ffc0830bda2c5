#!/usr/bin/env python3
"""Runs http/cache.kel with kel.exe under Wine, APPDATA in a temporary
folder, against the loopback server: once with the server up, once with it
stopped, so that the second run can only be served by the cache. Checks what
the script printed, what the server counted and what lies on disk.

    check_cache.py KEL_EXE
Prints one line per failed check and ends with "N passed, N failed".
"""
import hashlib
import os
import subprocess
import sys
import tempfile

here = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(os.path.dirname(here), 'support'))
from http_server import LoopbackServer  # noqa: E402
from tally import tally, unquoted  # noqa: E402

def key_of(url):
    """The cache key by Python's MD5 and by md5sum, which must agree."""
    key = hashlib.md5(url.encode()).hexdigest().upper()
    summed = subprocess.run(['md5sum'], input=url.encode(), capture_output=True, check=True).stdout.split()[0]
    tally.check('md5sum of ' + url, summed.decode().upper(), key)
    return key


def windows_path(path):
    return 'Z:' + os.path.abspath(path).replace('/', '\\')


def run_kel(kel, appdata, port, phase):
    env = dict(os.environ, KEL_HTTP_PORT=str(port), KEL_CACHE_PHASE=phase, KEL_FATAL_TO_STDERR='1')
    # Wine gives a program started from Linux the APPDATA of its prefix's
    # profile; one started by cmd inherits what cmd set. The script by a
    # relative name: an absolute Linux path is no Windows path.
    line = f'set APPDATA={windows_path(appdata)}&& {windows_path(kel)} cache.kel'
    run = subprocess.run([os.path.join(os.path.dirname(os.path.dirname(here)), 'tools', 'kel-wine'), 'cmd', '/c', line],
                         capture_output=True, env=env, timeout=300, cwd=here)
    tally.check(phase + ' exit status', (run.returncode, run.stderr.decode('utf-8', 'replace')[-400:]), (0, ''))
    lines = {}
    for line in run.stdout.decode('utf-8', 'replace').replace('\r\n', '\n').splitlines():
        name, _, value = line.partition(' ')
        lines[name] = value
    return lines


def main():
    kel = sys.argv[1]
    hello = 'héllo\nwörld'.encode().hex().upper()
    raw = bytes.fromhex('41FF42C3A9')
    with tempfile.TemporaryDirectory() as appdata:
        cache = os.path.join(appdata, 'Kel', 'cache')
        server = LoopbackServer()
        up = run_kel(kel, appdata, server.port, 'up')
        server.close()
        down = run_kel(kel, appdata, server.port, 'down')

        tally.check('system/options/cache', up.get('cache'), '%/Z' + appdata + '/Kel/')
        text_url = unquoted(up.get('text-url', ''))
        key = key_of(text_url)
        tally.check('path-thru', up.get('text-file'), f'%/Z{cache}/{key[:2]}/{key}')
        tally.check('cache file of the text', os.path.isfile(os.path.join(cache, key[:2], key)), True)

        tally.check('read-thru', unquoted(up.get('text')), hello)
        tally.check('read-thru again', unquoted(up.get('text-again')), hello)
        tally.check('read-thru/update', unquoted(up.get('text-update')), hello)
        tally.check('requests for /text: one, then one more for /update', server.count('/text'), 2)

        tally.check('read-thru of a 404 answers its body', up.get('flaky-read'), '"not yet"')
        tally.check('a 404 is not kept', up.get('flaky-read-kept'), 'false')
        tally.check('after a 404 read-thru asks again', up.get('flaky-read-again'), '"ready"')
        tally.check('the 200 is kept', up.get('flaky-read-kept-again'), 'true')
        tally.check('load-thru of a 404', up.get('flaky-load'), 'none')
        tally.check('a 404 load is not kept', up.get('flaky-load-kept'), 'false')
        tally.check('after a 404 load-thru asks again', up.get('flaky-load-again'), 'ready')
        tally.check('requests for the flaky paths', (server.count('/flaky-read'), server.count('/flaky-load')), (2, 2))

        bytes_key = key_of(unquoted(up.get('bytes-url', '')))
        tally.check('text of bytes that are not UTF-8', unquoted(up.get('bytes-text')), 'A\ufffdBé'.encode().hex().upper())
        tally.check('read-thru/binary after a text read-thru', unquoted(up.get('bytes')), raw.hex().upper())
        with open(os.path.join(cache, bytes_key[:2], bytes_key), 'rb') as f:
            tally.check('the cache file holds the bytes as they came', f.read(), raw)
        tally.check('requests for /bytes', server.count('/bytes'), 1)

        tally.check('load-thru', up.get('load'), '[Kel [Title: "remote"] 6 * 7]')
        tally.check('do-thru', up.get('do'), '42')
        tally.check('requests for /script', server.count('/script'), 1)

        tally.check('server stopped: read-thru', unquoted(down.get('text')), hello)
        tally.check('server stopped: read-thru/binary', unquoted(down.get('bytes')), raw.hex().upper())
        tally.check('server stopped: do-thru', down.get('do'), '42')
        tally.check('server stopped: load-thru', down.get('load'), '[Kel [Title: "remote"] 6 * 7]')


if __name__ == '__main__':
    tally.run(main)
