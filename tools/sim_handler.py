"""How the simulated controller answers on the wire: queued scripted answers and
their modes, the request handler and the threaded TLS server."""

import http.server
import json
import socket
import struct
import sys
from urllib.parse import parse_qsl


class Script:
    """One queued answer; `count` requests (matching `action`, if given) get it."""

    def __init__(self, status, body, content_type, action, count, mode, headers):
        self.status, self.body, self.content_type, self.headers = status, body, content_type, headers
        self.action, self.count, self.mode = action, count, mode


def as_bytes(body):
    if isinstance(body, bytes):
        return body
    if isinstance(body, str):
        return body.encode("utf-8")
    return json.dumps(body).encode("utf-8")


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "SimController/1.0"

    def __getattr__(self, name):
        # Every method is answered the same way: the log shows what came in.
        if name.startswith("do_"):
            return self._answer
        raise AttributeError(name)

    def setup(self):
        super().setup()
        self.connection_number = self.server.sim._next_connection()

    def log_message(self, format, *args):  # noqa: A002 - the base class's name
        if self.server.sim.verbose:
            sys.stderr.write("sim-controller: " + (format % args) + "\n")

    def _read_body(self):
        if self.headers.get("Transfer-Encoding", "").lower() == "chunked":
            chunks = []
            while True:
                size = int(self.rfile.readline().split(b";")[0].strip() or b"0", 16)
                if size == 0:
                    while self.rfile.readline() not in (b"\r\n", b"\n", b""):
                        pass
                    return b"".join(chunks)
                chunks.append(self.rfile.read(size))
                self.rfile.readline()
        length = int(self.headers.get("Content-Length") or 0)
        return self.rfile.read(length) if length else b""

    def _answer(self):
        sim = self.server.sim
        body = self._read_body()
        text = body.decode("utf-8", "replace")
        fields = parse_qsl(text, keep_blank_values=True)
        action = next((v for n, v in fields if n == "action"), None)
        # The raw target: the base class folds a leading "//" into "/".
        words = self.requestline.split()
        path = words[1] if len(words) >= 2 else self.path
        entry = {"path": path, "method": self.command, "version": self.request_version,
                 "headers": self.headers, "body": body,
                 "fields": fields, "action": action, "connection": self.connection_number,
                 "session_reused": getattr(self.connection, "session_reused", None)}
        status, payload, content_type, mode, headers = sim._respond(action, fields, entry)
        if sim.delay > 0:
            # Waits on the stop event, so stopping the server is not held up.
            sim._stopping.wait(sim.delay)
        if mode == "hang":
            sim._stopping.wait()
            self.close_connection = True
            return
        if mode == "hold":
            sim._released.wait()  # release() or stop()
            if sim._stopping.is_set():
                self.close_connection = True
                return
        if mode == "close":
            self.close_connection = True
            return
        if mode == "reset":
            # Half the answer, then a TCP reset: the request was received.
            self.close_connection = True
            self.send_response(status)
            self.send_header("Content-Type", content_type)
            self.send_header("Content-Length", str(max(len(payload), 2)))
            self.end_headers()
            self.wfile.write(payload[: len(payload) // 2])
            self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
            self.connection.close()
            return
        # A scripted Content-Length announces more (or less) than is sent;
        # the connection then ends after the payload.
        announced = headers.get("Content-Length")
        closing = (sim.close_after_answer or announced is not None
                   or headers.get("Connection", "").lower() == "close")
        self.send_response(status)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", announced or str(len(payload)))
        if not closing:
            # As common servers say it: the connection stays open for another request.
            self.send_header("Connection", "keep-alive")
        for name, value in headers.items():
            if name != "Content-Length":
                self.send_header(name, value)
        self.end_headers()
        self.wfile.write(payload)
        if mode == "stall":
            sim._stopping.wait()  # the rest never comes
        if closing:
            # Without a word when close_after_answer: a server that just hangs up.
            self.close_connection = True


class Server(http.server.ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True
    # socketserver's default backlog of 5 overflows when several clients
    # connect at once (--jobs): the kernel drops their handshakes and they
    # retry a second later, which a real controller would not make them do.
    request_queue_size = 128

    def __init__(self, address, sim, context):
        self.sim = sim
        self._context = context
        super().__init__(address, Handler)

    def get_request(self):
        sock, addr = self.socket.accept()
        # Headers and body go out in separate writes; without this the body
        # waits ~40 ms for the client's delayed acknowledgement every time.
        sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        # The handshake happens in the handler's thread, on its first read, so a
        # client that never speaks TLS cannot stall the accept loop.
        return self._context.wrap_socket(sock, server_side=True, do_handshake_on_connect=False), addr

    def handle_error(self, request, client_address):
        if self.sim.verbose:
            super().handle_error(request, client_address)
