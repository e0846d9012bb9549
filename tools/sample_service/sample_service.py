#!/usr/bin/env python3
"""A small stand-in for the note service, on 127.0.0.1, for the demo and the tests.

It plays both of the service's servers on two ports:

web server
  /s/<note>                 a short link: 307 with a redirect page whose anchor
                            text begins with "Temporary", naming the next page
  /discovery/item/<note>    302 with a page whose anchor names the site-relative
                            note path /explore/<note>?xsec_source=app_share
  /explore/<note>           the note page: one "traceId":"<id>" per picture

picture server
  /<id>?<query>             the picture <id>

Without --note it serves one demo note of four generated pictures. Tests
describe their own notes and misbehaviour:

  --note NOTE=ID,ID,...     a note and its picture identifiers, in page order;
                            "NOTE=" gives a page without any identifier
  --pictures DIR            serve the files of DIR, by file name, as pictures
  --picture ID=FILE         serve FILE as the picture ID (any ID, even "")
  --fault ID=MODE           picture ID misbehaves; MODE is one of
                              404, 500       that status with an error page
                              cut            half the body, then the
                                             connection closes
                              drop           the connection closes unanswered
                              redirect:LOC   302 to LOC
                              stream:N       N bytes without Content-Length
                              announce:N     Content-Length N, then nothing
  --moved NOTE=LOCATION     the note page answers 302 to LOCATION, its body
                            still the note page
  --record DIR              every request head, byte for byte, goes to
                            DIR/<number>-<web|picture>.http, before the answer
  --until-end-of-input      serve until standard input ends (for a starter
                            that cannot send a signal: a program under wine)
  --tls                     both servers speak https with a throwaway
                            self-signed certificate (made with openssl)

Hostile mode: these make the service misbehave the way a broken or malicious
site might, for the tests that check nothing bad comes of it.

  --fault ID=MODE           further modes for a picture:
                              flood:N        Content-Length N, and N bytes
                              chunked:N      N bytes, chunked
                              stall          Content-Length of the whole
                                             body, half of it, then silence
                                             with the connection held open
                                             until the client gives up
                              empty          200 with an empty body
                              type:TYPE      200 with the picture (or a
                                             short text) as Content-Type TYPE
                              untyped        200 with the picture (or a
                                             short text), no Content-Type
  --echo-pictures           a picture without a file of its own is
                            "picture " followed by the request target
  --tls-pictures            only the picture server speaks https, with a
                            throwaway self-signed certificate
  --page PATH=FILE          the web server answers PATH (query ignored) with
                            200 and the bytes of FILE, verbatim
  --redirect-page PATH=TO   the web server answers PATH with 307 to TO and a
                            redirect page naming TO, both verbatim (TO may
                            hold CR, LF or any other byte)
  --web-fault PATH=MODE     the web server's answer for PATH misbehaves, with
                            any MODE of --fault

On start it prints, one per line, "web_origin <url>", "picture_origin <url>",
then "short_link <note> <url>" and "share_text <note> <text>" for every note,
then "ready". It runs until it is stopped (SIGTERM or Ctrl-C).

Every answer is HTTP/1.1 with "Connection: close".
"""

import argparse
import binascii
import os
import queue
import signal
import socket
import socketserver
import ssl
import struct
import subprocess
import sys
import tempfile
import threading
import zlib

HOST = "127.0.0.1"
MAX_HEAD_BYTES = 64 * 1024
# The longest a stalled answer holds its connection open.
STALL_SECONDS = 300

DEMO_NOTE = "64f0c0de000000001f03a1b2"
DEMO_TITLE = "周末去海边看日落"
DEMO_PICTURES = [
    "1040g2sg30ptk3a1q5e005n3a9hcgc2f1l5jm6ro",
    "1040g2sg30ptk3a1q5e0g5n3a9hcgc2f1pmbqv08",
    "1040g2sg30ptk3a1q5e105n3a9hcgc2f1tr7bgf0",
    "1040g2sg30ptk3a1q5e1g5n3a9hcgc2f20g3hs2o",
]


# --- pictures -------------------------------------------------------------

def png_bytes(width, height, pixel):
    """A truecolour PNG whose pixel (x, y) is pixel(x, y) -> (r, g, b)."""
    rows = bytearray()
    for y in range(height):
        rows.append(0)  # filter type: none
        for x in range(width):
            rows.extend(pixel(x, y))

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", binascii.crc32(body))

    header = struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) +
            chunk(b"IDAT", zlib.compress(bytes(rows), 9)) + chunk(b"IEND", b""))


def demo_picture(index):
    """A sunset-coloured gradient with a sun, a different one per index."""
    width, height = 240, 180
    sun_x, sun_y = 60 + 40 * index, 70 + 10 * index
    top = [(40, 60, 120), (90, 50, 130), (30, 90, 150), (120, 60, 90)][index % 4]
    bottom = (250, 170, 90)
    horizon = 120

    def pixel(x, y):
        if y >= horizon:  # the sea
            shade = (y - horizon) / (height - horizon)
            return (int(20 + 30 * shade), int(60 + 40 * shade), int(110 + 50 * shade))
        if (x - sun_x) ** 2 + (y - sun_y) ** 2 < 18 ** 2:
            return (255, 220, 120)
        t = y / horizon
        return tuple(int(a + (b - a) * t) for a, b in zip(top, bottom))

    return png_bytes(width, height, pixel)


def load_pictures(folder):
    pictures = {}
    for name in sorted(os.listdir(folder)):
        path = os.path.join(folder, name)
        if os.path.isfile(path):
            with open(path, "rb") as file:
                pictures[name] = file.read()
    return pictures


def content_type(body):
    if body.startswith(b"\x89PNG"):
        return "image/png"
    if body.startswith(b"\xff\xd8"):
        return "image/jpeg"
    if body.startswith(b"RIFF") and body[8:12] == b"WEBP":
        return "image/webp"
    return "application/octet-stream"


# --- pages ------------------------------------------------------------------

def note_page(note, title, identifiers):
    images = ",".join(
        '{"width":1200,"height":900,"traceId":"%s","fileId":"%s"}' % (i, i) for i in identifiers)
    return (
        "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\">"
        "<title>%s</title></head>\n<body><div id=\"app\"></div>\n"
        "<script>window.__INITIAL_STATE__={\"note\":{\"noteId\":\"%s\",\"title\":\"%s\","
        "\"imageList\":[%s]}}</script>\n</body></html>\n" % (title, note, title, images)
    ).encode("utf-8")


def anchor_page(href, text):
    return ('<a href="%s">%s</a>.\n' % (href, text)).encode("utf-8", "surrogateescape")


ERROR_PAGE = b"<html><body><h1>404 Not Found</h1></body></html>\n"

# Generated bodies: byte i is i % 251, produced a block at a time so that a
# body of any size costs little memory.
PATTERN_BLOCK = bytes(i % 251 for i in range(251 * 4096))


def pattern_blocks(length):
    """The generated body of `length` bytes, as blocks of about 1 MiB."""
    while length > 0:
        block = PATTERN_BLOCK[:length]
        length -= len(block)
        yield block
REASONS = {200: "OK", 302: "Found", 307: "Temporary Redirect", 404: "Not Found",
           405: "Method Not Allowed", 500: "Internal Server Error"}


# --- the service ------------------------------------------------------------

class Service:
    def __init__(self, options):
        self.notes = {}  # note -> (title, identifiers)
        for entry in options.note:
            note, _, identifiers = entry.partition("=")
            self.notes[note] = ("Note " + note, identifiers.split(",") if identifiers else [])
        if options.pictures:
            self.pictures = load_pictures(options.pictures)
        else:
            self.pictures = {}
        for entry in options.picture:
            identifier, _, path = entry.partition("=")
            with open(path, "rb") as file:
                self.pictures[identifier] = file.read()
        if not options.note:
            self.notes[DEMO_NOTE] = (DEMO_TITLE, DEMO_PICTURES)
            if not self.pictures:
                self.pictures = {name: demo_picture(i) for i, name in enumerate(DEMO_PICTURES)}
        self.faults = dict(entry.split("=", 1) for entry in options.fault)
        self.moved = dict(entry.split("=", 1) for entry in options.moved)
        self.echo_pictures = options.echo_pictures
        self.pages = {}  # path -> body
        for entry in options.page:
            path, _, file_name = entry.partition("=")
            with open(file_name, "rb") as file:
                self.pages[path] = file.read()
        self.redirect_pages = dict(entry.split("=", 1) for entry in options.redirect_page)
        self.web_faults = dict(entry.split("=", 1) for entry in options.web_fault)
        self.record = options.record
        self.recorded = 0
        self.lock = threading.Lock()
        self.web_origin = ""
        self.picture_origin = ""

    def record_request(self, server, head):
        if not self.record:
            return
        with self.lock:
            self.recorded += 1
            name = os.path.join(self.record, "%04d-%s.http" % (self.recorded, server))
        with open(name + ".part", "wb") as file:
            file.write(head)
        os.replace(name + ".part", name)

    def web_answer(self, path):
        """(status, headers, body) for a path of the web server."""
        path, _, _ = path.partition("?")
        if path in self.pages:
            return 200, [], self.pages[path]
        if path in self.redirect_pages:
            target = self.redirect_pages[path]
            return 307, [("Location", target)], anchor_page(target, "Temporary Redirect")
        parts = path.split("/")
        if len(parts) == 3 and parts[1] == "s":
            note = parts[2]
            next_page = "%sdiscovery/item/%s?app_platform=android" % (self.web_origin, note)
            return 307, [("Location", next_page)], anchor_page(next_page, "Temporary Redirect")
        if len(parts) == 4 and parts[1:3] == ["discovery", "item"]:
            note_path = "/explore/%s?xsec_source=app_share" % parts[3]
            return 302, [("Location", note_path)], anchor_page(note_path, note_path)
        if len(parts) == 3 and parts[1] == "explore" and parts[2] in self.notes:
            note = parts[2]
            title, identifiers = self.notes[note]
            body = note_page(note, title, identifiers)
            headers = [("Content-Type", "text/html; charset=utf-8")]
            if note in self.moved:
                return 302, [("Location", self.moved[note])] + headers, body
            return 200, headers, body
        return 404, [("Content-Type", "text/html")], ERROR_PAGE

    def short_link(self, note):
        return "%ss/%s" % (self.web_origin, note)

    def share_text(self, note):
        title = self.notes[note][0]
        return "%s %s，复制本条信息，打开App查看精彩内容！" % (title, self.short_link(note))


class Handler(socketserver.StreamRequestHandler):
    """One request per connection: read the head, answer, close."""

    def handle(self):
        head = bytearray()
        while len(head) < MAX_HEAD_BYTES:
            line = self.rfile.readline(MAX_HEAD_BYTES)
            if not line:
                return
            head += line
            if line in (b"\r\n", b"\n"):
                break
        service = self.server.service
        service.record_request(self.server.name, bytes(head))
        words = head.split(b"\r\n", 1)[0].split(b" ")
        if len(words) != 3 or words[0] != b"GET":
            self.answer(405, [], b"")
            return
        path = words[1].decode("latin-1")
        if self.server.name == "web":
            status, headers, body = service.web_answer(path)
            fault = service.web_faults.get(path.partition("?")[0], "")
            if fault:
                self.misbehave(fault, body)
            else:
                self.answer(status, headers, body)
        else:
            self.picture(service, path)

    def picture(self, service, path):
        identifier = path[1:].partition("?")[0]
        fault = service.faults.get(identifier, "")
        body = service.pictures.get(identifier)
        if body is None and service.echo_pictures:
            body = b"picture " + path.encode("latin-1")
        if fault in ("404", "500") or (body is None and not fault):
            self.answer(int(fault or 404), [("Content-Type", "text/html")], ERROR_PAGE)
        elif fault:
            self.misbehave(fault, body)
        else:
            self.answer(200, [("Content-Type", content_type(body))], body)

    def misbehave(self, fault, body):
        """Answers with `body` (None: none of its own) as the MODE `fault` says."""
        if fault in ("404", "500"):
            self.answer(int(fault), [("Content-Type", "text/html")], ERROR_PAGE)
        elif fault == "drop":
            return
        elif fault == "cut":
            body = body or bytes(4096)
            self.answer(200, [("Content-Type", content_type(body))], body,
                        send=body[:len(body) // 2])
        elif fault == "stall":
            body = body or bytes(4096)
            self.answer(200, [("Content-Type", content_type(body))], body,
                        send=body[:len(body) // 2])
            self.wait_for_client_to_leave()
        elif fault.startswith("redirect:"):
            self.answer(302, [("Location", fault[len("redirect:"):])], b"")
        elif fault == "empty":
            self.answer(200, [("Content-Type", "image/webp")], b"")
        elif fault.startswith("type:"):
            self.answer(200, [("Content-Type", fault[len("type:"):])], body or b"{\"error\":1}")
        elif fault == "untyped":
            self.answer(200, [], body or b"no type")
        elif fault.startswith("stream:"):
            self.answer_in_blocks(int(fault[len("stream:"):]), [])
        elif fault.startswith("flood:"):
            length = int(fault[len("flood:"):])
            self.answer_in_blocks(length, [("Content-Length", str(length))])
        elif fault.startswith("chunked:"):
            self.answer_in_blocks(int(fault[len("chunked:"):]),
                                  [("Transfer-Encoding", "chunked")], chunked=True)
        elif fault.startswith("announce:"):
            self.answer(200, [("Content-Length", fault[len("announce:"):])], b"", length=False)
        else:
            self.answer(500, [("Content-Type", "text/html")], ERROR_PAGE)

    def answer_in_blocks(self, length, headers, chunked=False):
        """200 with the generated body of `length` bytes, sent a block at a time."""
        headers = [("Content-Type", "application/octet-stream")] + headers
        if not self.answer(200, headers, b"", length=False):
            return
        try:
            for block in pattern_blocks(length):
                if chunked:
                    block = b"%x\r\n%s\r\n" % (len(block), block)
                self.wfile.write(block)
            if chunked:
                self.wfile.write(b"0\r\n\r\n")
            self.wfile.flush()
        except OSError:
            pass  # the client went away, as it should for a body too large

    def wait_for_client_to_leave(self):
        """Holds the connection open, silent, until the client closes it."""
        self.connection.settimeout(STALL_SECONDS)
        try:
            while self.connection.recv(4096):
                pass
        except OSError:
            pass

    def answer(self, status, headers, body, send=None, length=True):
        """Sends the answer; False when the client went away."""
        lines = ["HTTP/1.1 %d %s" % (status, REASONS.get(status, "Unknown"))]
        lines += ["%s: %s" % pair for pair in headers]
        if length:
            lines.append("Content-Length: %d" % len(body))
        lines.append("Connection: close")
        head = "\r\n".join(lines).encode("utf-8", "surrogateescape") + b"\r\n\r\n"
        try:
            self.wfile.write(head + (body if send is None else send))
            self.wfile.flush()
        except OSError:
            return False  # the client went away
        return True


class Server(socketserver.TCPServer):
    """Serves each connection on a thread of its own, reusing the threads of
    connections that are done: starting a thread costs more than most
    answers."""

    allow_reuse_address = True
    request_queue_size = 64

    def __init__(self, port, name, service, tls):
        super().__init__((HOST, port), Handler)
        self.name = name
        self.service = service
        self.tls = tls
        self.connections = queue.SimpleQueue()
        self.idle_workers = 0
        self.idle_lock = threading.Lock()

    def process_request(self, request, client_address):
        with self.idle_lock:
            start_worker = self.idle_workers == 0
            if not start_worker:
                self.idle_workers -= 1
        if start_worker:
            threading.Thread(target=self.work, daemon=True).start()
        self.connections.put((request, client_address))

    def work(self):
        while True:
            request, client_address = self.connections.get()
            try:
                self.finish_request(request, client_address)
            except Exception:  # pylint: disable=broad-except
                self.handle_error(request, client_address)
            finally:
                self.shutdown_request(request)
            with self.idle_lock:
                self.idle_workers += 1

    def get_request(self):
        connection, address = super().get_request()
        if self.tls:
            try:
                connection = self.tls.wrap_socket(connection, server_side=True)
            except (ssl.SSLError, OSError):
                connection.close()
                raise OSError("TLS handshake failed")
        return connection, address

    def handle_error(self, request, client_address):
        pass  # a client that misbehaves is no news


def throwaway_tls_context(folder):
    certificate = os.path.join(folder, "certificate.pem")
    key = os.path.join(folder, "key.pem")
    subprocess.run(
        ["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
         "-subj", "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1",
         "-keyout", key, "-out", certificate],
        check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(certificate, key)
    return context


def main():
    parser = argparse.ArgumentParser(
        description=__doc__.split("\n\n")[0],
        epilog="Without --note it serves one demo note of four generated pictures. On start it "
        "prints the two origins, the short link and share text of every note, then 'ready'; it "
        "runs until stopped (SIGTERM or Ctrl-C).")
    parser.add_argument("--web-port", type=int, default=0, metavar="PORT",
                        help="port of the web server (short links, redirect pages, note pages); "
                        "0, the default, takes any free port")
    parser.add_argument("--picture-port", type=int, default=0, metavar="PORT",
                        help="port of the picture server; 0, the default, takes any free port")
    parser.add_argument("--note", action="append", default=[], metavar="NOTE=ID,ID,...",
                        help="serve a note with these picture identifiers, in page order; "
                        "'NOTE=' gives a page without any identifier (repeatable)")
    parser.add_argument("--pictures", metavar="DIR",
                        help="serve the files of DIR, by file name, as pictures")
    parser.add_argument("--picture", action="append", default=[], metavar="ID=FILE",
                        help="serve FILE as the picture ID, any ID, even '' (repeatable)")
    parser.add_argument("--fault", action="append", default=[], metavar="ID=MODE",
                        help="picture ID misbehaves: MODE is 404, 500, cut, drop, redirect:LOC, "
                        "stream:N, announce:N, empty, type:TYPE or untyped, and in hostile mode also "
                        "flood:N, chunked:N "
                        "or stall (repeatable; see the module's documentation)")
    parser.add_argument("--moved", action="append", default=[], metavar="NOTE=LOCATION",
                        help="the note page answers 302 to LOCATION, its body still the note "
                        "page (repeatable)")
    parser.add_argument("--record", metavar="DIR",
                        help="write every request head, byte for byte, to "
                        "DIR/<number>-<web|picture>.http before answering")
    parser.add_argument("--until-end-of-input", action="store_true",
                        help="serve until standard input ends, for a starter that cannot send a "
                        "signal (a Windows program under wine)")
    parser.add_argument("--tls", action="store_true",
                        help="both servers speak https with a throwaway self-signed certificate "
                        "(made with openssl)")
    hostile = parser.add_argument_group(
        "hostile mode", "misbehave the way a broken or malicious site might")
    hostile.add_argument("--echo-pictures", action="store_true",
                         help="a picture without a file of its own is 'picture ' followed by "
                         "the request target")
    hostile.add_argument("--tls-pictures", action="store_true",
                         help="only the picture server speaks https, with a throwaway "
                         "self-signed certificate")
    hostile.add_argument("--page", action="append", default=[], metavar="PATH=FILE",
                         help="the web server answers PATH (query ignored) with 200 and the "
                         "bytes of FILE, verbatim (repeatable)")
    hostile.add_argument("--redirect-page", action="append", default=[], metavar="PATH=TO",
                         help="the web server answers PATH with 307 to TO and a redirect page "
                         "naming TO, both verbatim (repeatable)")
    hostile.add_argument("--web-fault", action="append", default=[], metavar="PATH=MODE",
                         help="the web server's answer for PATH misbehaves, with any MODE of "
                         "--fault (repeatable)")
    options = parser.parse_args()

    service = Service(options)
    tls = None
    if options.tls or options.tls_pictures:
        with tempfile.TemporaryDirectory() as folder:
            tls = throwaway_tls_context(folder)
    web_tls = tls if options.tls else None
    web = Server(options.web_port, "web", service, web_tls)
    picture = Server(options.picture_port, "picture", service, tls)
    service.web_origin = "%s://%s:%d/" % ("https" if web_tls else "http", HOST,
                                          web.server_address[1])
    service.picture_origin = "%s://%s:%d/" % ("https" if tls else "http", HOST,
                                              picture.server_address[1])
    for server in (web, picture):
        threading.Thread(target=server.serve_forever, daemon=True).start()

    out = open(sys.stdout.fileno(), "w", encoding="utf-8", closefd=False)
    out.write("web_origin %s\npicture_origin %s\n" % (service.web_origin, service.picture_origin))
    for note in service.notes:
        out.write("short_link %s %s\n" % (note, service.short_link(note)))
        out.write("share_text %s %s\n" % (note, service.share_text(note)))
    out.write("ready\n")
    out.flush()

    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
    try:
        if options.until_end_of_input:
            sys.stdin.buffer.read()
        else:
            threading.Event().wait()
    except KeyboardInterrupt:
        pass


if __name__ == "__main__":
    main()
