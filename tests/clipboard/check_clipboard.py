#!/usr/bin/env python3
"""Runs clipboard/client.kel with kel.exe under Wine on an Xvfb display of
its own, shared with xclip: text written by Kel is read by xclip, text
placed by xclip is read by Kel, none empties, a file list comes back.

    check_clipboard.py KEL_EXE
Ends with "N passed, N failed".
"""
import os
import subprocess
import sys
import time

here = os.path.dirname(os.path.abspath(__file__))
root = os.path.dirname(os.path.dirname(here))
passed = failed = 0


def check(name, got, expected):
    global passed, failed
    if got == expected:
        passed += 1
    else:
        failed += 1
        print(f'FAIL {name}: got {got!r}, expected {expected!r}')


def start_display():
    read, write = os.pipe()
    xvfb = subprocess.Popen(['Xvfb', '-displayfd', str(write), '-screen', '0', '640x480x24', '-nolisten', 'tcp'],
                            pass_fds=[write], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(write)
    number = b''
    while not number.endswith(b'\n'):
        chunk = os.read(read, 16)
        if not chunk:
            break
        number += chunk
    os.close(read)
    return xvfb, ':' + number.decode().strip()


def xclip_out(env):
    r = subprocess.run(['xclip', '-o', '-selection', 'clipboard'], capture_output=True, env=env, timeout=10)
    return r.stdout.decode('utf-8', 'replace') if r.returncode == 0 else None


def main():
    kel = sys.argv[1]
    xvfb, display = start_display()
    env = dict(os.environ, DISPLAY=display, KEL_FATAL_TO_STDERR='1')
    xclip_in = None
    lines = {}
    try:
        kel_run = subprocess.Popen([os.path.join(root, 'tools', 'kel-wine'), kel, os.path.join(here, 'client.kel')],
                                   stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=env)
        for raw in kel_run.stdout:
            line = raw.decode('utf-8', 'replace').rstrip('\r\n')
            name, _, value = line.partition(' ')
            lines[name] = value
            if line != 'waiting':
                continue
            seen, deadline = None, time.time() + 20
            while time.time() < deadline:
                seen = xclip_out(env)
                if seen and 'héllo' in seen:
                    break
                time.sleep(0.2)
            check('xclip reads what Kel wrote', seen.replace('\r\n', '\n') if seen else seen, 'héllo\nwörld ✓')
            xclip_in = subprocess.Popen(['xclip', '-i', '-quiet', '-selection', 'clipboard'], stdin=subprocess.PIPE,
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=env)
            xclip_in.stdin.write('from X ✓\nline 2'.encode())
            xclip_in.stdin.close()
        err = kel_run.stderr.read().decode('utf-8', 'replace')
        check('exit status', (kel_run.wait(timeout=60), err[-400:]), (0, ''))
    finally:
        if xclip_in:
            xclip_in.kill()
            xclip_in.wait()
        xvfb.kill()
        xvfb.wait()
    check('write text', lines.get('write-text'), 'true')
    check('read own text', lines.get('read-own'), '"héllo^/wörld ✓"')
    check('read text from X', lines.get('read-x'), '"from X ✓^/line 2"')
    check('none empties', (lines.get('write-none'), lines.get('after-none')), ('true', 'none'))
    check('files', (lines.get('write-files'), lines.get('read-files')),
          ('true', '[%/c/windows/win.ini %"/c/a b/c.txt"]'))
    check('bad value', lines.get('write-bad'), 'none')


if __name__ == '__main__':
    try:
        main()
    except Exception as e:
        failed += 1
        print(f'FAIL {type(e).__name__}: {e}')
    print(f'{passed} passed, {failed} failed')
    sys.exit(1 if failed else 0)
