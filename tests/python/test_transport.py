"""The HTTPS transport against the simulated controller: what reaches the wire."""
import gzip
import json
import socket
import time

import pytest

from quillon import _core

LOGIN = [("action", "login"), ("username", "ad min&=+%é中"), ("password", "")]


def post_form(url, fields):
    return _core.post(url, _core.encode_form(fields))


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


@pytest.mark.parametrize("fields", [
    LOGIN,
    [("CID", "c1"), ("z", "1"), ("a", "2 + 2 = 4?"), ("m", "x/y;z#w")],
    [("CID", "c1"), ("gw_name", ["gw-1", None, "gw 2"])],  # repeated field, order kept
])
def test_fields_arrive_in_order_and_unchanged(sim, fields):
    post_form(sim.url, fields)
    (request,) = sim.requests
    expected = []
    for name, value in fields:
        for v in value if isinstance(value, list) else [value]:
            if v is not None:
                expected.append((name, v))
    assert request["fields"] == expected
    assert (request["method"], request["path"]) == ("POST", "/v1/api")
    assert request["headers"]["Content-Type"] == "application/x-www-form-urlencoded"
    assert request["headers"].get("Expect") is None


def test_answer_body_whatever_the_status(sim):
    answer = json.loads(post_form(sim.url, [("action", "login"), ("username", "admin"),
                                            ("password", "Secr3t pass&=+%")]))
    assert answer["CID"] in sim.cids
    sim.script(body=b"<html>\xff not json</html>", status=503, content_type="text/html")
    assert post_form(sim.url, LOGIN) == b"<html>\xff not json</html>"
    big = json.dumps({"results": ["x" * 1000] * 5000}).encode()
    sim.script(body=big)
    assert post_form(sim.url, LOGIN) == big
    sim.script(body=gzip.compress(b'{"CID": 1}'), headers={"Content-Encoding": "gzip"})
    assert post_form(sim.url, LOGIN) == b'{"CID": 1}'
    sim.script(body=b"")
    assert post_form(sim.url, LOGIN) == b""


def test_every_request_opens_its_own_connection(sim):
    for _ in range(3):
        post_form(sim.url, LOGIN)
    assert len({r["connection"] for r in sim.requests}) == 3


@pytest.mark.parametrize("suffix,path", [("", "/v1/api"), ("/", "//v1/api"), ("/x y", "/x%20y/v1/api")])
def test_address_is_used_verbatim(sim, suffix, path):
    post_form(_core.controller_api_url(sim.address + suffix), LOGIN)
    assert sim.requests[0]["path"] == path


@pytest.mark.parametrize("address", [
    "127.0.0.1:{free}",  # nobody listens there
    " {sim}",            # surrounding spaces are not removed
    "{sim} ",
    "",                  # no host at all
])
def test_unusable_addresses_are_transport_errors(sim, address):
    address = address.format(sim=sim.address, free=free_port())
    url = _core.controller_api_url(address)
    with pytest.raises(ConnectionError) as caught:
        post_form(url, [("password", "Secr3t")])
    assert url in str(caught.value) and "Secr3t" not in str(caught.value)
    assert sim.requests == []


def test_dropped_connection_is_a_transport_error(sim):
    sim.script(mode="close")
    with pytest.raises(ConnectionError):
        post_form(sim.url, LOGIN)


def test_interrupt_stops_a_request_that_never_ends(sim):
    sim.script(mode="hang")
    start = time.monotonic()
    with pytest.raises(KeyboardInterrupt):
        _core.post(sim.url, _core.encode_form(LOGIN), interrupt_after=0.3)
    assert time.monotonic() - start < 1.5
    assert len(sim.requests) == 1  # the request was sent, then abandoned
