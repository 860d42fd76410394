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
import secrets
import signal
import ssl
import sys
import threading

# Re-exported: tests, the demo and the bench import them from here.
from sim_certificates import other_ca_file, server_ca_file, server_certificate
from sim_estate import ACCOUNTS, ACTIONS, GATEWAY_DETAILS, GATEWAYS, VPCS, fail, field_values
from sim_handler import Script, Server, as_bytes
from sim_recorder import ByteRecorder

__all__ = ["ACCOUNTS", "ACTIONS", "GATEWAYS", "GATEWAY_DETAILS", "VPCS", "ByteRecorder", "SimController",
           "other_ca_file", "server_ca_file"]


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
        cert, key = server_certificate()
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(cert, key)
        self._server = Server((self._host, self._port), self, context)
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
            self._scripts.append(Script(status, as_bytes(body), content_type, action, count, mode,
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
        return 200, as_bytes(answer), "application/json", None, {}

    def _canned(self, action, fields):
        if action == "login":
            user = next((v for n, v in fields if n == "username"), None)
            password = next((v for n, v in fields if n == "password"), None)
            if self.refuse_logins or user not in self.users or self.users[user] != password:
                return fail("invalid username or password")
            cid = secrets.token_hex(16)
            self.cids.append(cid)
            return {"return": True, "CID": cid}
        cids = field_values(fields, "CID")
        if not cids or any(c not in self.cids for c in cids):
            return fail("CID is invalid or expired")
        handler = ACTIONS.get(action)
        if handler is None:
            return fail(f"unknown action: {action}")
        return handler(fields)


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
