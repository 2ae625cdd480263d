#!/usr/bin/env python3
"""usage: {program} --routes FILE [--port N] [--bind ADDRESS] [--tls CERT KEY] [--log FILE]

A loopback HTTP(S) server for RDAP tests and demos: it answers each path as a
routes file says.

Prints "listening on PORT" on standard output once it accepts connections,
then serves until it is ended (SIGTERM or SIGINT: exit status 0).

The routes file is a JSON object whose names are paths (without a query):

  { "/domain/example.com": {
        "status": 200,
        "headers": {"Content-Type": "application/rdap+json"},
        "body": "text"                   (or)
        "body_file": "answers/example.json"   (relative to the routes file) (or)
        "body_repeat": ["x", 10485760],  (the text that many times)
        "silent": true                   (read the request, never answer)
    } }

"${port}" in a body or a header value is replaced by the server's own port,
so that a bootstrap file can point at the server itself. A status defaults to
200 and a Content-Type to application/rdap+json. A path with no route is
answered 404 with a small RDAP error body. With --log, each request adds the
line "METHOD PATH ACCEPT" to FILE ("-" when it sent no Accept header).

Options:
  --routes FILE     the routes (required)
  --port N          the port to listen on; 0 (the default) picks a free one
  --bind ADDRESS    the address to listen on (default 127.0.0.1)
  --tls CERT KEY    serve HTTPS with this PEM certificate chain and key
  --log FILE        the request log
  -h, --help        this text
  --version         the program's name and version

Exit status: 0 when ended by a signal, 1 when it cannot start (a bad routes
file, a port in use, an unreadable certificate), 2 on bad usage.
"""

import http.server
import json
import os
import re
import select
import signal
import socket
import ssl
import sys
import threading

# hollin-rdapd in the build (configured from tests/rdapd/rdapd.py).
PROGRAM = os.path.basename(sys.argv[0])
# Filled in when the build configures its copy; otherwise read from the
# source tree the script sits in.
VERSION = "@PROJECT_VERSION@"
CHUNK = 65536


def version():
    if not VERSION.startswith("@"):
        return VERSION
    top = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
    try:
        with open(os.path.join(top, "CMakeLists.txt"), encoding="utf-8") as f:
            found = re.search(r"project\(hollin VERSION ([0-9.]+)", f.read())
        return found.group(1) if found else "unknown"
    except OSError:
        return "unknown"


class UsageError(Exception):
    pass


def parse_arguments(argv):
    options = {"routes": None, "port": 0, "bind": "127.0.0.1", "tls": None, "log": None}
    i = 0

    def value(count=1):
        nonlocal i
        if i + count >= len(argv):
            raise UsageError(f"{argv[i]} needs {count} value{'s' if count > 1 else ''}")
        values = argv[i + 1:i + 1 + count]
        i += count
        return values if count > 1 else values[0]

    while i < len(argv):
        arg = argv[i]
        if arg in ("-h", "--help"):
            return "help"
        if arg == "--version":
            return "version"
        if arg == "--routes":
            options["routes"] = value()
        elif arg == "--port":
            port = value()
            if not port.isdigit() or int(port) > 65535:
                raise UsageError(f"bad port: {port}")
            options["port"] = int(port)
        elif arg == "--bind":
            options["bind"] = value()
        elif arg == "--tls":
            options["tls"] = value(2)
        elif arg == "--log":
            options["log"] = value()
        else:
            raise UsageError(f"unknown option {arg}")
        i += 1
    if options["routes"] is None:
        raise UsageError("--routes FILE is required")
    return options


def load_routes(path):
    """The routes, checked, with each body_file read; raises ValueError."""
    with open(path, encoding="utf-8") as f:
        routes = json.load(f)
    if not isinstance(routes, dict):
        raise ValueError("the routes file must hold a JSON object")
    folder = os.path.dirname(os.path.abspath(path))
    for name, route in routes.items():
        if not isinstance(route, dict):
            raise ValueError(f"route {name}: not an object")
        if "body_file" in route:
            with open(os.path.join(folder, route["body_file"]), encoding="utf-8") as body:
                route["body"] = body.read()
        if "body_repeat" in route:
            text, count = route["body_repeat"]
            if not isinstance(text, str) or not isinstance(count, int) or count < 0:
                raise ValueError(f"route {name}: body_repeat is [TEXT, COUNT]")
        if not isinstance(route.get("status", 200), int):
            raise ValueError(f"route {name}: status is a number")
    return routes


NOT_FOUND = {"status": 404, "body": json.dumps(
    {"errorCode": 404, "title": "Not Found", "description": ["no route for this path"]})}


class Handler(http.server.BaseHTTPRequestHandler):
    server_version = "hollin-rdapd"
    # One request a connection: every response closes it.
    protocol_version = "HTTP/1.0"

    def setup(self):
        # The handshake happens here, on the connection's own thread, so that
        # a client that never completes it holds up nobody else.
        if self.server.tls is not None:
            self.request.settimeout(30)
            self.request = self.server.tls.wrap_socket(self.request, server_side=True)
            self.request.settimeout(None)
        super().setup()

    def version_string(self):
        return self.server_version

    def log_message(self, format, *args):  # noqa: A002 (the base class's name)
        pass

    def do_GET(self):
        path = self.path.split("?", 1)[0]
        self.server.log(f"GET {self.path} {self.headers.get('Accept', '-')}")
        route = self.server.routes.get(path, NOT_FOUND)
        if route.get("silent"):
            self.stay_silent()
            return
        port = str(self.server.server_address[1])
        headers = {"Content-Type": "application/rdap+json"}
        headers.update(route.get("headers", {}))
        self.send_response(route.get("status", 200))
        for name, value in headers.items():
            self.send_header(name, str(value).replace("${port}", port))
        if "body_repeat" in route:
            text, count = route["body_repeat"]
            piece = text.replace("${port}", port).encode("utf-8")
            self.send_header("Content-Length", str(len(piece) * count))
            self.end_headers()
            self.send_repeated(piece, count)
        else:
            body = route.get("body", "").replace("${port}", port).encode("utf-8")
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            self.wfile.write(body)

    def send_repeated(self, piece, count):
        # In chunks, so that ten megabytes need not be held at once.
        per_chunk = max(1, CHUNK // max(1, len(piece)))
        try:
            while count > 0:
                n = min(per_chunk, count)
                self.wfile.write(piece * n)
                count -= n
        except (BrokenPipeError, ConnectionResetError):
            pass  # the client took what it wanted and left

    def stay_silent(self):
        """Holds the connection open, saying nothing, until the client leaves
        or the server stops."""
        while not self.server.stopping.is_set():
            readable, _, _ = select.select([self.connection], [], [], 0.05)
            if readable:
                try:
                    if not self.connection.recv(4096):
                        return
                except OSError:
                    return
        self.close_connection = True


class Server(http.server.ThreadingHTTPServer):
    daemon_threads = True

    def __init__(self, address, routes, tls, log_file):
        family = socket.AF_INET6 if ":" in address[0] else socket.AF_INET
        self.address_family = family
        super().__init__(address, Handler)
        self.routes = routes
        self.tls = tls
        self.log_file = log_file
        self.log_lock = threading.Lock()
        self.stopping = threading.Event()

    def log(self, line):
        if self.log_file is None:
            return
        with self.log_lock:
            self.log_file.write(line + "\n")
            self.log_file.flush()

    def handle_error(self, request, client_address):
        # A client that refuses the certificate or goes away mid-answer is
        # what these tests do on purpose: not worth a traceback.
        pass


def main(argv):
    try:
        options = parse_arguments(argv)
    except UsageError as e:
        print(f"{PROGRAM}: {e} (see --help)", file=sys.stderr)
        return 2
    if options == "help":
        print(__doc__.strip().replace("{program}", PROGRAM))
        return 0
    if options == "version":
        print(f"{PROGRAM} {version()}")
        return 0
    try:
        routes = load_routes(options["routes"])
        tls = None
        if options["tls"] is not None:
            tls = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
            tls.load_cert_chain(*options["tls"])
        log_file = open(options["log"], "a", encoding="utf-8") if options["log"] else None
        server = Server((options["bind"], options["port"]), routes, tls, log_file)
    except (OSError, ValueError, TypeError) as e:
        print(f"{PROGRAM}: {e}", file=sys.stderr)
        return 1

    def stop(signum, frame):
        server.stopping.set()
        threading.Thread(target=server.shutdown, daemon=True).start()

    signal.signal(signal.SIGTERM, stop)
    signal.signal(signal.SIGINT, stop)
    print(f"listening on {server.server_address[1]}", flush=True)
    server.serve_forever(poll_interval=0.05)
    server.server_close()
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
