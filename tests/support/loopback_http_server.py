#!/usr/bin/env python3
"""Scripted HTTP, HTTPS and proxy server for tests, on 127.0.0.1 only.

Every listener binds 127.0.0.1 on an ephemeral port. Once all are listening
the server prints one JSON line on stdout, e.g.
    {"http": 40001, "https": 40002, "proxy": 40003}
and then serves until its standard input ends (or it is terminated), so
that it never outlives the process that started it.

Routes come from a JSON file (--routes), keyed by request target (path and
query, exactly as sent; "*" catches every other target):

    {
      "/page": {"status": "200 OK",
                "headers": ["Content-Type: text/html"],
                "body_text": "<p>hi</p>"},          # or "body" (base64)
                                                     # or "body_file" (a path)
      "/raw":  {"raw": "<base64 of the whole response>",
                "after": "close"}                    # close | reset | hang
    }

A structured route gets "Content-Length" and "Connection: close" added
unless its headers already name them. A "raw" route is sent byte for byte.
In either, the texts {http_port}, {https_port} and {proxy_port} are replaced
by the listeners' ports. After the response the connection is closed
("close", the default), aborted with a TCP reset ("reset"), or held open
without another byte until the client goes away ("hang").

Every request received is written, before anything is answered, to the
record directory (--record-dir) as <sequence>-<listener>.req holding the raw
bytes of the request head and body; <sequence> counts from 0001 across all
listeners.

--https serves the routes over TLS too, with a self-signed certificate for
the name notepics.test made with the openssl command in --work-dir.
--proxy starts a forwarding HTTP proxy: absolute-form requests are passed
on in origin form, CONNECT opens a tunnel; only 127.0.0.1 and localhost are
reachable through it. With --proxy-auth USER:PASSWORD every proxy request
must carry that Basic Proxy-Authorization, or gets 407. --proxy-port PORT
binds the proxy to that port instead of an ephemeral one.
"""

import argparse
import base64
import json
import os
import socket
import ssl
import struct
import subprocess
import sys
import threading

LOOPBACK = "127.0.0.1"
REACHABLE_HOSTS = {"127.0.0.1", "localhost"}
MAX_HEAD = 1 << 20


class Recorder:
    def __init__(self, directory):
        self.directory = directory
        self.lock = threading.Lock()
        self.sequence = 0

    def record(self, listener, raw):
        with self.lock:
            self.sequence += 1
            name = "%04d-%s.req" % (self.sequence, listener)
        temporary = os.path.join(self.directory, "." + name)
        with open(temporary, "wb") as out:
            out.write(raw)
        os.replace(temporary, os.path.join(self.directory, name))


def read_request(conn, buffered=b""):
    """Reads one request head and its Content-Length body.

    Returns (head, body, target, headers) or None when the peer closed or
    sent something that is no request head.
    """
    data = buffered
    while b"\r\n\r\n" not in data:
        if len(data) > MAX_HEAD:
            return None
        chunk = conn.recv(65536)
        if not chunk:
            return None
        data += chunk
    end = data.index(b"\r\n\r\n") + 4
    head, rest = data[:end], data[end:]
    lines = head[:-4].split(b"\r\n")
    parts = lines[0].split(b" ")
    if len(parts) < 3:
        return None
    headers = []
    for line in lines[1:]:
        name, _, value = line.partition(b":")
        headers.append((name.strip().lower(), value.strip()))
    length = 0
    for name, value in headers:
        if name == b"content-length":
            try:
                length = int(value)
            except ValueError:
                return None
    while len(rest) < length:
        chunk = conn.recv(65536)
        if not chunk:
            break
        rest += chunk
    return head, rest, parts, headers


def reset(conn):
    conn.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
    conn.close()


def hang(conn):
    try:
        while conn.recv(65536):
            pass
    except OSError:
        pass
    conn.close()


def close(conn):
    try:
        if isinstance(conn, ssl.SSLSocket):
            conn.unwrap()
        else:
            conn.shutdown(socket.SHUT_WR)
            # Let the client read everything before the socket goes away, so
            # that no reset overtakes the response.
            conn.settimeout(5)
            while conn.recv(65536):
                pass
    except OSError:
        pass
    conn.close()


class Server:
    def __init__(self, routes, recorder):
        self.routes = routes
        self.recorder = recorder
        self.ports = {}
        self.responses = {}  # by route key, built on first use (files: each time)

    def substitute(self, data):
        for name, port in self.ports.items():
            data = data.replace(("{%s_port}" % name).encode(), str(port).encode())
        return data

    def response_for(self, target):
        key = target.decode("latin-1")
        if key not in self.routes:
            key = "*"
        response = self.responses.get(key)
        if response is None:
            route = self.routes.get(key)
            response = self.build_response(route)
            if route is None or "body_file" not in route:
                self.responses[key] = response
        return response

    def build_response(self, route):
        if route is None:
            return (b"HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n"
                    b"Connection: close\r\n\r\n"), "close"
        after = route.get("after", "close")
        if "raw" in route:
            return self.substitute(base64.b64decode(route["raw"])), after
        if "body_file" in route:
            with open(route["body_file"], "rb") as source:
                body = source.read()
        elif "body" in route:
            body = base64.b64decode(route["body"])
        else:
            body = route.get("body_text", "").encode()
        body = self.substitute(body)
        headers = [self.substitute(h.encode()) for h in route.get("headers", [])]
        names = {h.split(b":", 1)[0].strip().lower() for h in headers}
        if b"content-length" not in names:
            headers.append(b"Content-Length: %d" % len(body))
        if b"connection" not in names:
            headers.append(b"Connection: close")
        status = route.get("status", "200 OK").encode()
        head = b"HTTP/1.1 " + status + b"\r\n" + b"".join(h + b"\r\n" for h in headers)
        return head + b"\r\n" + body, after

    def serve_origin(self, conn, listener):
        with conn:
            request = read_request(conn)
            if request is None:
                return
            head, body, parts, _ = request
            self.recorder.record(listener, head + body)
            response, after = self.response_for(parts[1])
            try:
                conn.sendall(response)
            except OSError:
                return
            if after == "reset":
                reset(conn)
            elif after == "hang":
                hang(conn)
            else:
                close(conn)

    def serve_proxy(self, conn, credentials):
        with conn:
            request = read_request(conn)
            if request is None:
                return
            head, body, parts, headers = request
            self.recorder.record("proxy", head + body)
            given = dict(headers).get(b"proxy-authorization")
            if credentials is not None and given != b"Basic " + credentials:
                conn.sendall(b"HTTP/1.1 407 Proxy Authentication Required\r\n"
                             b"Proxy-Authenticate: Basic realm=\"loopback\"\r\n"
                             b"Content-Length: 0\r\nConnection: close\r\n\r\n")
                close(conn)
                return
            method, target = parts[0], parts[1].decode("latin-1")
            if method == b"CONNECT":
                host, _, port = target.rpartition(":")
                upstream = self.connect_upstream(host, port)
                if upstream is None:
                    conn.sendall(b"HTTP/1.1 403 Forbidden\r\nContent-Length: 0\r\n\r\n")
                    return
                conn.sendall(b"HTTP/1.1 200 Connection established\r\n\r\n")
                self.pipe(conn, upstream, body)
                return
            if not target.startswith("http://"):
                conn.sendall(b"HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\n\r\n")
                return
            authority, slash, path = target[len("http://"):].partition("/")
            host, _, port = authority.rpartition(":") if ":" in authority else (authority, "", "80")
            upstream = self.connect_upstream(host, port)
            if upstream is None:
                conn.sendall(b"HTTP/1.1 403 Forbidden\r\nContent-Length: 0\r\n\r\n")
                return
            lines = head[:-4].split(b"\r\n")
            first = b" ".join([parts[0], (slash + path).encode("latin-1") or b"/"] + parts[2:])
            kept = [line for line in lines[1:]
                    if line.split(b":", 1)[0].strip().lower()
                    not in (b"proxy-authorization", b"proxy-connection")]
            upstream.sendall(b"\r\n".join([first] + kept) + b"\r\n\r\n" + body)
            self.pipe(conn, upstream, b"")

    @staticmethod
    def connect_upstream(host, port):
        if host.strip("[]") not in REACHABLE_HOSTS:
            return None
        try:
            return socket.create_connection((LOOPBACK, int(port)), timeout=10)
        except (OSError, ValueError):
            return None

    @staticmethod
    def pipe(client, upstream, pending):
        def forward(source, sink):
            try:
                while True:
                    chunk = source.recv(65536)
                    if not chunk:
                        break
                    sink.sendall(chunk)
                sink.shutdown(socket.SHUT_WR)
            except OSError:
                pass

        with upstream:
            upstream.settimeout(None)
            if pending:
                upstream.sendall(pending)
            back = threading.Thread(target=forward, args=(upstream, client), daemon=True)
            back.start()
            forward(client, upstream)
            back.join()


def listen(port=0):
    sock = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    sock.bind((LOOPBACK, port))
    sock.listen(64)
    return sock


def accept_loop(sock, handle, wrap=None):
    while True:
        conn, _ = sock.accept()

        def run(c=conn):
            if wrap is not None:
                try:
                    c = wrap(c)
                except (OSError, ssl.SSLError):
                    c.close()
                    return
            try:
                handle(c)
            except OSError:
                pass

        threading.Thread(target=run, daemon=True).start()


def make_certificate(work_dir):
    key = os.path.join(work_dir, "server-key.pem")
    cert = os.path.join(work_dir, "server-cert.pem")
    if not (os.path.exists(key) and os.path.exists(cert)):
        subprocess.run(
            ["openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt",
             "ec_paramgen_curve:prime256v1", "-nodes", "-keyout", key, "-out", cert,
             "-days", "2", "-subj", "/CN=notepics.test"],
            check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return cert, key


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--routes", required=True)
    parser.add_argument("--record-dir", required=True)
    parser.add_argument("--work-dir")
    parser.add_argument("--https", action="store_true")
    parser.add_argument("--proxy", action="store_true")
    parser.add_argument("--proxy-auth")
    parser.add_argument("--proxy-port", type=int, default=0)
    args = parser.parse_args()

    with open(args.routes, encoding="utf-8") as source:
        routes = json.load(source)
    server = Server(routes, Recorder(args.record_dir))
    loops = []

    http = listen()
    server.ports["http"] = http.getsockname()[1]
    loops.append((http, lambda c: server.serve_origin(c, "http"), None))

    if args.https:
        cert, key = make_certificate(args.work_dir or args.record_dir)
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(cert, key)
        https = listen()
        server.ports["https"] = https.getsockname()[1]
        loops.append((https, lambda c: server.serve_origin(c, "https"),
                      lambda c: context.wrap_socket(c, server_side=True)))

    if args.proxy:
        credentials = None
        if args.proxy_auth is not None:
            credentials = base64.b64encode(args.proxy_auth.encode())
        proxy = listen(args.proxy_port)
        server.ports["proxy"] = proxy.getsockname()[1]
        loops.append((proxy, lambda c: server.serve_proxy(c, credentials), None))

    for sock, handle, wrap in loops:
        threading.Thread(target=accept_loop, args=(sock, handle, wrap), daemon=True).start()

    sys.stdout.write(json.dumps(server.ports) + "\n")
    sys.stdout.flush()
    # Serve until stdin ends: the starting process closes it, or dies.
    sys.stdin.buffer.read()
    os._exit(0)


if __name__ == "__main__":
    main()
