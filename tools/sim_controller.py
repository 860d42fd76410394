#!/usr/bin/env python3
"""A simulated controller for tests and the demo: HTTPS on 127.0.0.1, one form API.

It answers POSTs of forms (any path, any method is logged) the way a controller
does: "login" exchanges a known user name and password for a fresh CID, and a
few read-only actions answer from a small invented estate. Tests can queue
scripted answers (any status, extra headers such as Retry-After, redirects,
raw bodies, no CID, garbage, a dropped connection, a reset mid-answer, no
answer at all) and read a log of every request with its form fields in wire
order. Its certificate is signed by a test CA (`ca_file`), so clients that
check certificates can be tested too.

Library use:
    with SimController(users={"admin": "secret"}) as sim:
        ... talk to https://<sim.address>/v1/api ...
        sim.requests[-1]["fields"]

Program use (prints the address on the first line, serves until killed or
until the lifetime ends):
    python3 tools/sim_controller.py --port 0 --lifetime 600 --print-address

`delay` (`--delay SECONDS`) holds every answer back by that long, as a distant
controller would; requests on different connections wait side by side.

The server always stops by itself: on leaving the context, and at the latest
when its lifetime runs out (a daemon timer), so a crashed test never leaves it
running.
"""

from __future__ import annotations

import argparse
import atexit
import copy
import http.server
import json
import os
import secrets
import shutil
import socket
import signal
import ssl
import struct
import subprocess
import sys
import tempfile
import threading
from urllib.parse import parse_qsl

# --- the invented estate -------------------------------------------------------

ACCOUNTS = [
    {"account_name": "ops-main", "account_id": "100200300400", "cloud_type": 1, "owner": "netops"},
    {"account_name": "lab-sandbox", "account_id": "500600700800", "cloud_type": 4, "owner": "lab"},
]

VPCS = [
    {"vpc_id": "vpc-0a1", "name": "east-core", "account_name": "ops-main", "region": "east-1",
     "cidr": "10.1.0.0/16", "subnets": ["10.1.0.0/24", "10.1.1.0/24"]},
    {"vpc_id": "vpc-0b2", "name": "west-edge", "account_name": "ops-main", "region": "west-2",
     "cidr": "10.2.0.0/16", "subnets": ["10.2.0.0/24"]},
    {"vpc_id": "vpc-0c3", "name": "lab-net", "account_name": "lab-sandbox", "region": "east-1",
     "cidr": "172.20.0.0/20", "subnets": []},
]

GATEWAYS = [
    {"gw_name": "gw-east-1", "vpc_id": "vpc-0a1", "account_name": "ops-main", "cloud_type": 1,
     "public_ip": "198.51.100.10", "private_ip": "10.1.0.10", "state": "up", "ha_enabled": True,
     "size": {"cpu": 2, "memory_gb": 4}, "tags": ["prod", "core"], "uptime_hours": 1234.5,
     "peer": None},
    {"gw_name": "gw-east-2", "vpc_id": "vpc-0a1", "account_name": "ops-main", "cloud_type": 1,
     "public_ip": "198.51.100.11", "private_ip": "10.1.1.10", "state": "up", "ha_enabled": True,
     "size": {"cpu": 2, "memory_gb": 4}, "tags": ["prod", "core"], "uptime_hours": 1234.25,
     "peer": "gw-east-1"},
    {"gw_name": "gw-west-1", "vpc_id": "vpc-0b2", "account_name": "ops-main", "cloud_type": 1,
     "public_ip": "203.0.113.20", "private_ip": "10.2.0.10", "state": "down", "ha_enabled": False,
     "size": {"cpu": 4, "memory_gb": 16}, "tags": ["prod", "edge"], "uptime_hours": 0.0,
     "peer": None},
    {"gw_name": "gw-lab-1", "vpc_id": "vpc-0c3", "account_name": "lab-sandbox", "cloud_type": 4,
     "public_ip": "192.0.2.30", "private_ip": "172.20.0.5", "state": "up", "ha_enabled": False,
     "size": {"cpu": 1, "memory_gb": 2}, "tags": [], "uptime_hours": 17.75, "peer": None},
]

GATEWAY_DETAILS = {
    "gw-east-1": {"software_version": "7.2.1", "interfaces": [
        {"name": "eth0", "ip": "10.1.0.10", "mtu": 1500}, {"name": "eth1", "ip": "10.1.0.11", "mtu": 9001}],
        "routes": [{"cidr": "0.0.0.0/0", "next_hop": "igw"}, {"cidr": "10.2.0.0/16", "next_hop": "gw-west-1"}]},
    "gw-east-2": {"software_version": "7.2.1", "interfaces": [
        {"name": "eth0", "ip": "10.1.1.10", "mtu": 1500}],
        "routes": [{"cidr": "0.0.0.0/0", "next_hop": "igw"}]},
    "gw-west-1": {"software_version": "7.1.9", "interfaces": [
        {"name": "eth0", "ip": "10.2.0.10", "mtu": 1500}],
        "routes": [{"cidr": "10.1.0.0/16", "next_hop": "gw-east-1"}]},
    "gw-lab-1": {"software_version": "7.3.0-beta", "interfaces": [],
                 "routes": []},
}


def _ok(results):
    return {"return": True, "results": results}


def _fail(reason):
    return {"return": False, "reason": reason}


def _values(fields, name):
    return [v for n, v in fields if n == name]


def _filter_by(rows, fields, name):
    wanted = _values(fields, name)
    return [r for r in rows if r[name] in wanted] if wanted else rows


def _list_accounts(fields):
    return _ok(copy.deepcopy(ACCOUNTS))


def _list_vpcs(fields):
    return _ok(copy.deepcopy(_filter_by(VPCS, fields, "account_name")))


def _show_vpc(fields):
    ids = _values(fields, "vpc_id")
    if not ids:
        return _fail("missing vpc_id")
    found = []
    for vpc_id in ids:
        vpc = next((v for v in VPCS if v["vpc_id"] == vpc_id), None)
        if vpc is None:
            return _fail(f"VPC {vpc_id} not found")
        found.append(dict(copy.deepcopy(vpc), gateways=[g["gw_name"] for g in GATEWAYS if g["vpc_id"] == vpc_id]))
    return _ok(found[0] if len(found) == 1 else found)


def _list_gateways(fields):
    rows = _filter_by(_filter_by(GATEWAYS, fields, "vpc_id"), fields, "account_name")
    return _ok(copy.deepcopy(rows))


def _list_gateway_names(fields):
    return _ok([g["gw_name"] for g in _filter_by(GATEWAYS, fields, "vpc_id")])


def _show_gateway(fields):
    names = _values(fields, "gw_name")
    if not names:
        return _fail("missing gw_name")
    found = []
    for name in names:
        gw = next((g for g in GATEWAYS if g["gw_name"] == name), None)
        if gw is None:
            return _fail(f"gateway {name} not found")
        found.append(dict(copy.deepcopy(gw), **copy.deepcopy(GATEWAY_DETAILS[name])))
    return _ok(found[0] if len(found) == 1 else found)


def _echo(fields):
    # The form as received, for checking what a client put on the wire.
    return _ok({"fields": [[n, v] for n, v in fields]})


ACTIONS = {
    "list_accounts": _list_accounts,
    "list_vpcs": _list_vpcs,
    "show_vpc": _show_vpc,
    "list_gateways": _list_gateways,
    "list_gateway_names": _list_gateway_names,
    "show_gateway": _show_gateway,
    "echo": _echo,
}

# --- certificates --------------------------------------------------------------

_cert_lock = threading.Lock()
_cert_dir = None
_cert_files = {}


def _openssl(*args):
    subprocess.run(["openssl", *args], check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def _directory():
    global _cert_dir
    if _cert_dir is None:
        _cert_dir = tempfile.mkdtemp(prefix="sim-controller-")
        atexit.register(shutil.rmtree, _cert_dir, True)
    return _cert_dir


_EC = ["-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes"]


def _make_ca(name):
    """A CA certificate and its key (PEM files), made once per process."""
    with _cert_lock:
        if name not in _cert_files:
            d = _directory()
            cert, key = os.path.join(d, f"{name}.pem"), os.path.join(d, f"{name}-key.pem")
            _openssl("req", "-x509", *_EC, "-keyout", key, "-out", cert, "-days", "2",
                     "-subj", f"/CN=Simulated {name}", "-addext", "basicConstraints=critical,CA:TRUE",
                     "-addext", "keyUsage=critical,keyCertSign,cRLSign")
            _cert_files[name] = (cert, key)
        return _cert_files[name]


def _certificate(name="server", key_type=_EC):
    """A server certificate for 127.0.0.1 and its key, signed by test-ca."""
    ca_cert, ca_key = _make_ca("test-ca")
    with _cert_lock:
        if name not in _cert_files:
            d = _directory()
            cert, key, csr = (os.path.join(d, f"{name}{n}") for n in ("-cert.pem", "-key.pem", "-cert.csr"))
            extensions = os.path.join(d, f"{name}.ext")
            with open(extensions, "w") as f:
                f.write("subjectAltName=IP:127.0.0.1\nbasicConstraints=CA:FALSE\n"
                        "extendedKeyUsage=serverAuth\n")
            _openssl("req", "-new", *key_type, "-keyout", key, "-out", csr, "-subj", "/CN=127.0.0.1")
            _openssl("x509", "-req", "-in", csr, "-CA", ca_cert, "-CAkey", ca_key, "-CAcreateserial",
                     "-out", cert, "-days", "2", "-extfile", extensions)
            _cert_files[name] = (cert, key)
        return _cert_files[name]


def _rsa_certificate():
    """An RSA certificate: what a server needs to offer RSA key exchange."""
    return _certificate("rsa-server", ["-newkey", "rsa:2048", "-nodes"])


def server_ca_file():
    """The CA that signed the server's certificate (PEM): trusting it checks out."""
    return _make_ca("test-ca")[0]


def other_ca_file():
    """A CA that signed nothing the server presents (PEM)."""
    return _make_ca("other-ca")[0]


# --- scripted answers ----------------------------------------------------------

class _Script:
    """One queued answer; `count` requests (matching `action`, if given) get it."""

    def __init__(self, status, body, content_type, action, count, mode, headers):
        self.status, self.body, self.content_type, self.headers = status, body, content_type, headers
        self.action, self.count, self.mode = action, count, mode


def _as_bytes(body):
    if isinstance(body, bytes):
        return body
    if isinstance(body, str):
        return body.encode("utf-8")
    return json.dumps(body).encode("utf-8")


# --- the server ------------------------------------------------------------------

class _Handler(http.server.BaseHTTPRequestHandler):
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


class _Server(http.server.ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True
    # socketserver's default backlog of 5 overflows when several clients
    # connect at once (--jobs): the kernel drops their handshakes and they
    # retry a second later, which a real controller would not make them do.
    request_queue_size = 128

    def __init__(self, address, sim, context):
        self.sim = sim
        self._context = context
        super().__init__(address, _Handler)

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


class SimController:
    def __init__(self, users=None, host="127.0.0.1", port=0, lifetime=300.0, verbose=False, delay=0.0):
        self.users = dict(users if users is not None else {"admin": "admin"})
        self.verbose = verbose
        self.delay = delay          # seconds every answer waits before it is sent
        self.requests = []          # one dict per request, in arrival order
        self.logins = 0             # login requests answered (successful or not)
        self.cids = []              # every CID issued, in order
        self.refuse_logins = False  # when true, every login is answered as a bad password
        self.close_after_answer = False  # close each connection after one answer, without saying so
        self._lock = threading.Lock()
        self._arrived = threading.Condition(self._lock)  # notified on every request logged
        self._scripts = []
        self._connections = 0
        self._stopping = threading.Event()
        self._released = threading.Event()
        self._closed = threading.Event()
        self._host, self._port, self._lifetime = host, port, lifetime
        self._server = None
        self._timer = None
        self._thread = None
        self.address = self.url = self.port = None  # known once started
        self.ca_file = server_ca_file()  # trusting it accepts this server's certificate

    # lifecycle
    def start(self):
        cert, key = _certificate()
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(cert, key)
        self._server = _Server((self._host, self._port), self, context)
        self._thread = threading.Thread(target=self._server.serve_forever, kwargs={"poll_interval": 0.05},
                                        name="sim-controller", daemon=True)
        host, port = self._server.server_address[:2]
        self.address = f"{host}:{port}"
        self.port = port
        self.url = f"https://{self.address}/v1/api"
        self._thread.start()
        self._timer = threading.Timer(self._lifetime, self.stop)
        self._timer.daemon = True
        self._timer.start()
        return self

    def stop(self):
        with self._lock:
            server, self._server = self._server, None
        self._stopping.set()
        self._released.set()
        if self._timer is not None and self._timer is not threading.current_thread():
            self._timer.cancel()
        if server is not None:
            server.shutdown()
            server.server_close()
            self._closed.set()

    def wait(self):
        """Blocks until the server has stopped (lifetime over or stop()) and its socket is closed."""
        self._closed.wait()

    def wait_for(self, condition, timeout=30):
        """Blocks until `condition()` holds, checked as each request is logged; False if it
        still does not after `timeout` seconds."""
        with self._arrived:
            return self._arrived.wait_for(condition, timeout)

    def wait_for_request(self, action, count=1, timeout=30):
        """Blocks until `count` requests for `action` have arrived; False if they have not within `timeout`."""
        return self.wait_for(lambda: self.actions().count(action) >= count, timeout)

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.stop()

    # scripting
    def script(self, body=b"", status=200, content_type="application/json", action=None, count=1, mode=None,
               headers=None):
        """Queues an answer for the next `count` requests (of `action`, when given).

        `body`: bytes and text are sent as they are, anything else as JSON.
        `mode`: None answers; "close" drops the connection without an answer;
        "reset" sends the headers and half the body, then resets the connection;
        "hang" never answers (until the server stops); "hold" answers once release()
        is called (and closes the connection if the server stops first); "stall"
        sends the answer and then holds the connection without a further byte.
        `headers`: extra ones; a Content-Length among them is announced instead of
        the body's length, and the connection closes after the body.
        """
        with self._lock:
            self._scripts.append(_Script(status, _as_bytes(body), content_type, action, count, mode,
                                         dict(headers or {})))

    def redirect(self, status, location="/v1/moved", count=1, action=None):
        """The next `count` requests are sent on to `location` with `status`."""
        self.script(body=b"", status=status, content_type="text/plain", action=action, count=count,
                    headers={"Location": location})

    def release(self):
        """Lets every request held by mode "hold" have its answer, now and later."""
        self._released.set()

    def clear_script(self):
        with self._lock:
            self._scripts.clear()

    # log views
    def fields(self, index=-1):
        return self.requests[index]["fields"]

    def actions(self):
        return [r["action"] for r in self.requests]

    # internals
    @property
    def connections(self):
        """Connections accepted so far, whether or not a request came on them."""
        with self._lock:
            return self._connections

    def _next_connection(self):
        with self._lock:
            self._connections += 1
            return self._connections

    def _respond(self, action, fields, entry):
        with self._lock:
            self.requests.append(entry)
            self._arrived.notify_all()
            if action == "login":
                self.logins += 1
            for i, s in enumerate(self._scripts):
                if s.action is None or s.action == action:
                    s.count -= 1
                    if s.count <= 0:
                        del self._scripts[i]
                    return s.status, s.body, s.content_type, s.mode, s.headers
            answer = self._canned(action, fields)
        return 200, _as_bytes(answer), "application/json", None, {}

    def _canned(self, action, fields):
        if action == "login":
            user = next((v for n, v in fields if n == "username"), None)
            password = next((v for n, v in fields if n == "password"), None)
            if self.refuse_logins or user not in self.users or self.users[user] != password:
                return _fail("invalid username or password")
            cid = secrets.token_hex(16)
            self.cids.append(cid)
            return {"return": True, "CID": cid}
        cids = _values(fields, "CID")
        if not cids or any(c not in self.cids for c in cids):
            return _fail("CID is invalid or expired")
        handler = ACTIONS.get(action)
        if handler is None:
            return _fail(f"unknown action: {action}")
        return handler(fields)


class ByteRecorder:
    """A second listener that keeps every byte a client sends it, to show what
    reached a place the client should not have sent anything to.

    `tls`: None listens in plain text; "modern" speaks TLS as the controller
    does; "tls1" offers only TLS 1.0 with AES128-SHA; "rsa" only RSA key
    exchange without forward secrecy (TLS 1.2). `received` holds what came
    after the handshake, `connections` counts the connections made. Each
    request is answered with a login answer, so a client that did send keeps
    going rather than waiting.
    """

    ANSWER = b'{"return": true, "CID": "recorded-cid", "results": []}'

    def __init__(self, tls=None):
        self.received = b""
        self.connections = 0
        self._lock = threading.Lock()
        self._context = None if tls is None else self._tls_context(tls)
        self._listener = socket.socket()
        self._listener.bind(("127.0.0.1", 0))
        self._listener.listen(16)
        self.port = self._listener.getsockname()[1]
        self.address = "127.0.0.1:%d" % self.port
        threading.Thread(target=self._accept, name="byte-recorder", daemon=True).start()

    @staticmethod
    def _tls_context(tls):
        import warnings
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        if tls == "modern":
            context.load_cert_chain(*_certificate())
            return context
        context.load_cert_chain(*_rsa_certificate())
        with warnings.catch_warnings():  # TLS 1.0 is deprecated: that is the point
            warnings.simplefilter("ignore", DeprecationWarning)
            if tls == "tls1":
                context.minimum_version = context.maximum_version = ssl.TLSVersion.TLSv1
                context.set_ciphers("AES128-SHA:@SECLEVEL=0")
            elif tls == "rsa":
                context.maximum_version = ssl.TLSVersion.TLSv1_2
                context.set_ciphers("AES128-GCM-SHA256:AES256-GCM-SHA384:AES128-SHA:@SECLEVEL=0")
            else:
                raise ValueError(tls)
        return context

    def _accept(self):
        while True:
            try:
                connection, _ = self._listener.accept()
            except OSError:
                return  # closed
            with self._lock:
                self.connections += 1
            threading.Thread(target=self._serve, args=(connection,), daemon=True).start()

    def _serve(self, connection):
        connection.settimeout(30)
        try:
            if self._context is not None:
                connection = self._context.wrap_socket(connection, server_side=True)
            data = b""
            while True:
                chunk = connection.recv(65536)
                if not chunk:
                    return
                with self._lock:
                    self.received += chunk
                data += chunk
                head, blank, rest = data.partition(b"\r\n\r\n")
                if not blank:
                    continue
                length = next((int(line.split(b":", 1)[1]) for line in head.split(b"\r\n")
                               if line.lower().startswith(b"content-length:")), 0)
                if len(rest) >= length:
                    connection.sendall(b"HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: %d\r\n"
                                       b"Connection: close\r\n\r\n" % len(self.ANSWER) + self.ANSWER)
                    return
        except (OSError, ssl.SSLError, ValueError):
            return  # a refused handshake or a client that went away
        finally:
            connection.close()

    def close(self):
        try:
            self._listener.shutdown(socket.SHUT_RDWR)  # wakes the accepting thread
        except OSError:
            pass
        self._listener.close()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()


def _main(argv=None):
    parser = argparse.ArgumentParser(description="Simulated controller (HTTPS, self-signed).")
    parser.add_argument("--host", default="127.0.0.1")
    parser.add_argument("--port", type=int, default=0, help="0 picks a free port")
    parser.add_argument("--lifetime", type=float, default=600.0, help="seconds until it stops by itself")
    parser.add_argument("--print-address", action="store_true", help="print host:port on the first line")
    parser.add_argument("--user", action="append", default=[], metavar="NAME:PASSWORD",
                        help="a known user (repeatable); default admin:admin")
    parser.add_argument("--verbose", action="store_true", help="log each request on standard error")
    parser.add_argument("--delay", type=float, default=0.0, metavar="SECONDS",
                        help="hold every answer back this long (a distant controller); default 0")
    args = parser.parse_args(argv)
    if args.delay < 0:
        parser.error("--delay must not be negative")
    users = dict(u.split(":", 1) for u in args.user) if args.user else None
    sim = SimController(users=users, host=args.host, port=args.port, lifetime=args.lifetime,
                        verbose=args.verbose, delay=args.delay).start()
    if args.print_address:
        print(sim.address, flush=True)
    # Being terminated is the normal end: clean up the certificate directory.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
    try:
        sim.wait()
    except KeyboardInterrupt:
        pass
    finally:
        sim.stop()


if __name__ == "__main__":
    _main()
