#!/usr/bin/env python3
"""A loopback HTTP server for the tests: it logs each request (method, path,
headers in the order they came, body) and serves fixed answers.

As a module:
    server = LoopbackServer()        # 127.0.0.1, a free port, its own thread
    server.port, server.log          # the log: a list of Request records
    server.close()

As a program: http_server.py PORT_FILE LOG_FILE
    serves until killed; writes its port to PORT_FILE, and one JSON line per
    request to LOG_FILE (body as hex).

Routes (any method):
    /text      "héllo\\nwörld" as UTF-8
    /binary    every byte value, 00 to FF
    /lines     "a\\r\\nb\\n\\nc"
    /info      two Set-Cookie headers and a header written "X:abc"
    /missing   404 with the body "not here"
    /data.kel  Kel source as text/plain
    /data.json a JSON object as application/json
    /red.png   a 1x1 red PNG as image/png
    /echo      the request body
    /flaky...  404 with "not yet" the first time a path is asked for, then
               200 with "ready"
    /bytes     "A", FF, "B" and "é": not valid UTF-8
    /script    a Kel script: a header, then "6 * 7"

server.count(path) is the number of requests for the path so far.
"""
import http.server
import json
import sys
import threading
from dataclasses import dataclass, field


@dataclass
class Request:
    method: str
    path: str
    headers: list = field(default_factory=list)
    body: bytes = b''


FIXED = {
    '/text': (200, [('Content-Type', 'text/plain; charset=utf-8')], 'héllo\nwörld'.encode()),
    '/binary': (200, [('Content-Type', 'application/octet-stream')], bytes(range(256))),
    '/lines': (200, [('Content-Type', 'text/plain')], b'a\r\nb\n\nc'),
    '/info': (200, [('Content-Type', 'text/plain'), ('Set-Cookie', 'a=1'), ('Set-Cookie', 'b=2')], b'info'),
    '/missing': (404, [('Content-Type', 'text/plain')], b'not here'),
    '/data.kel': (200, [('Content-Type', 'text/plain')], b'x: 1 "two"'),
    '/data.json': (200, [('Content-Type', 'application/json; charset=utf-8')], b'{"k": [1, 2]}'),
    '/red.png': (200, [('Content-Type', 'image/png')], bytes.fromhex(
        '89504E470D0A1A0A0000000D49484452000000010000000108060000001F15C489'
        '0000000D49444154789C63F8CFC0F01F00050001FF89993D1D0000000049454E44AE426082')),
    '/bytes': (200, [('Content-Type', 'application/octet-stream')], b'A\xffB\xc3\xa9'),
    '/script': (200, [('Content-Type', 'text/plain')], b'Kel [Title: "remote"]\n6 * 7'),
}


def make_handler(log, on_request=None):
    class Handler(http.server.BaseHTTPRequestHandler):
        protocol_version = 'HTTP/1.1'

        def log_message(self, *args):
            pass

        def answer(self):
            length = int(self.headers.get('Content-Length') or 0)
            body = self.rfile.read(length) if length else b''
            path = self.path.split('?')[0]
            entry = Request(self.command, path, list(self.headers.items()), body)
            log.append(entry)
            if on_request:
                on_request(entry)
            status, headers, payload = FIXED.get(path, (200, [('Content-Type', 'application/octet-stream')], body))
            if path.startswith('/flaky'):
                first = sum(1 for r in log if r.path == path) == 1
                status, payload = (404, b'not yet') if first else (200, b'ready')
            elif path not in FIXED and path != '/echo':
                status, payload = 404, b'unknown route'
            self.send_response(status)
            for name, value in headers:
                self.send_header(name, value)
            if path == '/info':
                self._headers_buffer.append(b'X:abc\r\n')  # no space after the colon
            self.send_header('Content-Length', str(len(payload)))
            self.end_headers()
            if self.command != 'HEAD':
                self.wfile.write(payload)

        do_GET = do_POST = do_PUT = do_DELETE = do_HEAD = do_PATCH = answer

    return Handler


class LoopbackServer:
    def __init__(self, on_request=None):
        self.log = []
        self.server = http.server.ThreadingHTTPServer(('127.0.0.1', 0), make_handler(self.log, on_request))
        self.port = self.server.server_address[1]
        self.thread = threading.Thread(target=self.server.serve_forever, daemon=True)
        self.thread.start()

    def count(self, path):
        return sum(1 for r in self.log if r.path == path)

    def close(self):
        self.server.shutdown()
        self.server.server_close()


def main():
    port_file, log_file = sys.argv[1], sys.argv[2]
    with open(log_file, 'a') as out:
        def write(entry):
            out.write(json.dumps({'method': entry.method, 'path': entry.path, 'headers': entry.headers,
                                  'body': entry.body.hex()}) + '\n')
            out.flush()
        server = LoopbackServer(write)
        with open(port_file, 'w') as f:
            f.write(str(server.port))
        server.thread.join()


if __name__ == '__main__':
    main()
