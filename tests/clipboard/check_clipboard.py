#!/usr/bin/env python3
"""Runs clipboard/client.kel with kel.exe under Wine on an Xvfb display of
its own, shared with xclip: text written by Kel is read by xclip, text
placed by xclip is read by Kel, none empties, a file list comes back, an
image makes the round trip, and images placed by xclip (a PNG, a 32-bit
DIB, a DIB declaring more rows than it holds) are read or refused, and
DIB blocks placed by a Windows test program are refused or read through the
bitmap Windows makes of them.

    check_clipboard.py KEL_EXE PLACE_DIB_EXE
Ends with "N passed, N failed".
"""
import os
import struct
import subprocess
import sys
import time
import zlib

here = os.path.dirname(os.path.abspath(__file__))
root = os.path.dirname(os.path.dirname(here))
sys.path.insert(0, os.path.join(root, 'tests', 'support'))
from tally import tally  # noqa: E402
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


def png_2x1():
    """Opaque red, then blue at alpha 0x80."""
    def chunk(kind, data):
        return struct.pack('>I', len(data)) + kind + data + struct.pack('>I', zlib.crc32(kind + data))
    rows = b'\0' + bytes([255, 0, 0, 255, 0, 0, 255, 0x80])
    return (b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', 2, 1, 8, 6, 0, 0, 0))
            + chunk(b'IDAT', zlib.compress(rows)) + chunk(b'IEND', b''))


def bmp_v5(width, height, pixels):
    """A BMP file of a 124-byte header, 32 bpp with the BGRA masks; height
    positive (bottom-up rows)."""
    head = struct.pack('<IiiHHIIiiII4I', 124, width, height, 1, 32, 3, len(pixels), 2835, 2835, 0, 0,
                       0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000)
    head += struct.pack('<I', 0x57696E20) + bytes(36) + struct.pack('<4I', 4, 0, 0, 0)
    return b'BM' + struct.pack('<IHHI', 14 + len(head) + len(pixels), 0, 0, 14 + len(head)) + head + pixels


# What xclip offers after each "images"/"next" line of the client.
image_offers = [
    ('image/png', png_2x1()),
    # bottom row first: the top row is green, the bottom row white at alpha 0x40
    ('image/bmp', bmp_v5(1, 2, bytes([255, 255, 255, 0x40, 0, 255, 0, 255]))),
    ('image/bmp', bmp_v5(1, 40000, bytes([0, 255, 0, 255]) * 2)),
]


def placed_dibs(kel, place, env):
    """What read.kel prints while place_dib holds each of its blocks."""
    seen = {}
    for mode in ('rows', 'header', 'masks'):
        placer = subprocess.Popen([os.path.join(root, 'tools', 'kel-wine'), os.path.abspath(place), mode],
                                  stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, env=env)
        try:
            if placer.stdout.readline().strip() == b'placed':
                run = subprocess.run([os.path.join(root, 'tools', 'kel-wine'), os.path.abspath(kel), 'read.kel'],
                                     capture_output=True, env=env, cwd=here, timeout=120)
                seen[mode] = (run.returncode, run.stdout.decode('utf-8', 'replace').strip())
        finally:
            placer.stdin.close()
            placer.wait(timeout=60)
    return seen


def main():
    kel = sys.argv[1]
    # Wine's clipboard lives in the desktop process of the prefix's server,
    # on the display that server started with: a display already shared by
    # the other Wine runs is used as it is; a new one only when none is set.
    xvfb, display = (None, os.environ['DISPLAY']) if os.environ.get('DISPLAY') else start_display()
    env = dict(os.environ, DISPLAY=display, KEL_FATAL_TO_STDERR='1')
    xclip_in = None
    lines = {}
    try:
        kel_run = subprocess.Popen([os.path.join(root, 'tools', 'kel-wine'), os.path.abspath(kel), 'client.kel'],
                                   stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=env, cwd=here)
        for raw in kel_run.stdout:
            line = raw.decode('utf-8', 'replace').rstrip('\r\n')
            name, _, value = line.partition(' ')
            lines.setdefault(name, []).append(value)
            if line in ('images', 'next') and image_offers:
                if xclip_in:
                    xclip_in.kill()
                    xclip_in.wait()
                target, data = image_offers.pop(0)
                xclip_in = subprocess.Popen(['xclip', '-i', '-quiet', '-selection', 'clipboard', '-t', target],
                                            stdin=subprocess.PIPE, stdout=subprocess.DEVNULL,
                                            stderr=subprocess.DEVNULL, env=env)
                xclip_in.stdin.write(data)
                xclip_in.stdin.close()
            if line != 'waiting':
                continue
            seen, deadline = None, time.time() + 20
            while time.time() < deadline:
                seen = xclip_out(env)
                if seen and 'héllo' in seen:
                    break
                time.sleep(0.2)
            tally.check('xclip reads what Kel wrote', seen.replace('\r\n', '\n') if seen else seen, 'héllo\nwörld ✓')
            xclip_in = subprocess.Popen(['xclip', '-i', '-quiet', '-selection', 'clipboard'], stdin=subprocess.PIPE,
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=env)
            xclip_in.stdin.write('from X ✓\nline 2'.encode())
            xclip_in.stdin.close()
        err = kel_run.stderr.read().decode('utf-8', 'replace')
        tally.check('exit status', (kel_run.wait(timeout=60), err[-400:]), (0, ''))
        if xclip_in:
            xclip_in.kill()
            xclip_in.wait()
            xclip_in = None
        placed = placed_dibs(kel, sys.argv[2], env)
    finally:
        if xclip_in:
            xclip_in.kill()
            xclip_in.wait()
        if xvfb:
            xvfb.kill()
            xvfb.wait()
    lines = {k: v[0] if len(v) == 1 else v for k, v in lines.items()}
    tally.check('write text', lines.get('write-text'), 'true')
    tally.check('read own text', lines.get('read-own'), '"héllo^/wörld ✓"')
    tally.check('read text from X', lines.get('read-x'), '"from X ✓^/line 2"')
    tally.check('none empties', (lines.get('write-none'), lines.get('after-none')), ('true', 'none'))
    tally.check('files', (lines.get('write-files'), lines.get('read-files')),
          ('true', '[%/c/windows/win.ini %"/c/a b/c.txt"]'))
    tally.check('bad value', lines.get('write-bad'), 'none')
    tally.check('image round trip', (lines.get('write-image'), lines.get('read-image')), ('true', '[true 2x2 true]'))
    tally.check('empty image empties', (lines.get('write-empty-image'), lines.get('after-empty-image')), ('true', 'none'))
    # Wine offers the BMP as a DIB whose pixels come through CF_BITMAP:
    # opaque. The DIB declaring 40000 rows must be read without a crash.
    got = lines.get('read-x-image') or [None] * 3
    tally.check('PNG from X', got[0], '[2x1 255.0.0.0 0.0.255.127]')
    tally.check('DIB from X, top row first', got[1], '[1x2 0.255.0.0 255.255.255.0]')
    tally.check('oversized DIB read', got[2] is not None, True)
    # Blocks whose declared size does not fit are refused; a DIB with other
    # masks is read through the bitmap Windows makes of it.
    tally.check('DIB declaring more rows than it holds', placed.get('rows'), (0, 'none'))
    tally.check('DIB header larger than its block', placed.get('header'), (0, 'none'))
    tally.check('DIB with other masks', placed.get('masks'), (0, '[image 1x1]'))


if __name__ == '__main__':
    # The X selection is served by xclip in the background, and Wine's copy
    # of it can lag behind: a failed round gets one more before it counts.
    tally.run(main, rounds=2)
