#!/usr/bin/env python3
"""The simulated controller (tools/sim_controller.py, same options) with
Nagle's algorithm switched off on every accepted connection.

The stock simulator writes an answer's headers and body in two sends; with
Nagle on, the body waits for the client's delayed acknowledgement (about
40 ms on Linux loopback), which swamps everything a whole run does. Real
servers send without that stall, so the whole-run benchmark uses this.
"""
import socket
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "tools"))
import sim_controller  # noqa: E402


class NoDelayServer(sim_controller._Server):
    def get_request(self):
        sock, address = super().get_request()
        sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        return sock, address


sim_controller._Server = NoDelayServer

if __name__ == "__main__":
    sim_controller._main()
