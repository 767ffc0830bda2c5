#!/usr/bin/env python3
"""Runs http/client.kel with kel.exe under Wine against the loopback server
and checks both sides: what the script printed (the response side, compared
with what curl -i reads from the same server) and what the server logged
(the request side: methods, default headers in order, bodies).

    check_http.py KEL_EXE
Prints one line per failed check and ends with "N passed, N failed".
"""
import os
import socket
import subprocess
import sys

here = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(os.path.dirname(here), 'support'))
from http_server import LoopbackServer  # noqa: E402
from tally import tally, unquoted  # noqa: E402

DEFAULTS = [('Content-Type', 'application/x-www-form-urlencoded'), ('Accept-Charset', 'UTF-8'),
            ('User-Agent', 'Mozilla/5.0 (Windows NT 6.1; Win64; x64)')]

def kel_mold(text):
    return '"' + text.replace('^', '^^').replace('"', '^"') + '"'


def refused_port():
    with socket.socket() as s:
        s.bind(('127.0.0.1', 0))
        return s.getsockname()[1]


def curl_headers(port, path):
    out = subprocess.run(['curl', '-si', f'http://127.0.0.1:{port}{path}'], capture_output=True, check=True).stdout
    head = out.split(b'\r\n\r\n', 1)[0].decode().split('\r\n')[1:]
    grouped = {}
    for line in head:
        name, value = line.split(':', 1)
        grouped.setdefault(name, []).append(value.lstrip(' \t'))
    return grouped


def main():
    kel = sys.argv[1]
    root = os.path.dirname(os.path.dirname(here))
    server = LoopbackServer()
    env = dict(os.environ, KEL_HTTP_PORT=str(server.port), KEL_HTTP_REFUSED=str(refused_port()),
               KEL_FATAL_TO_STDERR='1')
    # The script by a relative name: an absolute Linux path is no Windows path.
    run = subprocess.run([os.path.join(root, 'tools', 'kel-wine'), os.path.abspath(kel), 'client.kel'],
                         capture_output=True, env=env, timeout=300, cwd=here)
    out = run.stdout.decode('utf-8', 'replace').replace('\r\n', '\n')
    tally.check('exit status', (run.returncode, run.stderr.decode('utf-8', 'replace')[-400:]), (0, ''))
    lines = {}
    headers = {}
    for line in out.splitlines():
        name, _, value = line.partition(' ')
        if name == 'header':
            key, _, value = value.partition(' ')
            headers[key] = value
        else:
            lines[name] = value

    # The response side.
    tally.check('text', unquoted(lines.get('text')), 'héllo\nwörld'.encode().hex().upper())
    tally.check('binary', unquoted(lines.get('binary')), bytes(range(256)).hex().upper())
    tally.check('lines', lines.get('lines'), '["a" "b" "" "c"]')
    tally.check('info length', lines.get('info-length'), '3')
    tally.check('info status', lines.get('info-status'), '200')
    tally.check('info body', lines.get('info-body'), '"info"')
    reference = curl_headers(server.port, '/info')
    expected = {name: (kel_mold(v[0]) if len(v) == 1 else '[' + ' '.join(map(kel_mold, v)) + ']')
                for name, v in reference.items() if name != 'Date'}  # a second may pass between the two
    headers.pop('Date', None)
    tally.check('info headers as curl reads them', headers, expected)
    tally.check('X:abc kept whole', headers.get('X'), '"abc"')
    tally.check('Set-Cookie twice', headers.get('Set-Cookie'), '["a=1" "b=2"]')
    missing = lines.get('missing', '')
    tally.check('missing status and body', (missing.startswith('[404 '), missing.endswith(' "not here"]')), (True, True))
    tally.check('refused', lines.get('refused'), '[access no-connect]')
    tally.check('default post answer', lines.get('default-post'), '"a=1"')
    tally.check('put answer', lines.get('put'), '"x^M^/y"')
    tally.check('text body', unquoted(lines.get('text-body')), b'a\r\nb\r\n'.hex().upper())
    tally.check('binary body', unquoted(lines.get('binary-body')), bytes(range(256)).hex().upper())
    tally.check('block body', lines.get('block-body'), '"a 1 b"')
    tally.check('delete', lines.get('delete', '').startswith('[200 '), True)
    tally.check('load of Kel text', lines.get('load-kel'), '[x: 1 "two"]')
    tally.check('load of JSON by its type', lines.get('load-json'), '#[k: [1 2]]')
    tally.check('load of a PNG by its type', lines.get('load-png'), '[true 1x1 255.0.0.0]')
    tally.check('load of a 404', lines.get('load-missing'), 'none')

    # The request side, in the order the script sent them.
    log = server.log[:13]  # curl's request came after
    server.close()
    methods = [(r.method, r.path) for r in log]
    tally.check('requests', methods, [
        ('GET', '/text'), ('GET', '/binary'), ('GET', '/lines'), ('GET', '/info'), ('POST', '/echo'),
        ('GET', '/echo'), ('PUT', '/echo'), ('POST', '/echo'), ('GET', '/binary'), ('POST', '/echo'),
        ('POST', '/echo'), ('GET', '/missing'), ('DELETE', '/echo')])
    if len(log) < 13:
        return
    post = log[4]
    sent = [(k, v) for k, v in post.headers if k in dict(DEFAULTS)]
    tally.check('default headers in order', sent, DEFAULTS)
    tally.check('default post body', post.body, b'a=1')
    tally.check('get block: defaults, no body', ([k for k, _ in log[5].headers if k in dict(DEFAULTS)], log[5].body),
          ([k for k, _ in DEFAULTS], b''))
    put = dict(log[6].headers)
    tally.check('put headers: the block, no defaults',
          (put.get('Content-Type'), put.get('X-Kel'), 'Accept-Charset' in put, put.get('User-Agent') == DEFAULTS[2][1]),
          ('text/plain', '7', False, False))
    tally.check('put body', log[6].body, b'x\r\ny')
    tally.check('text body with CR LF', log[7].body, b'a\r\nb\r\n')
    tally.check('binary body byte-exact', log[9].body, bytes(range(256)))


if __name__ == '__main__':
    tally.run(main)
